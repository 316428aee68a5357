# Service control, the device channel and the driver request: the program's
# side of the driver, as a library of its own so that its tests can use it.
# Also qvconsole, the small console program that installs the driver from the
# current folder, reads one header through it and removes it again.
include_guard(GLOBAL)

add_library(quorvenal_service OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/service_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_channel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_request.cpp)
target_include_directories(quorvenal_service PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_executable(qvconsole ${CMAKE_CURRENT_LIST_DIR}/../tools/qvconsole.cpp)
target_link_libraries(qvconsole PRIVATE quorvenal_service)

if(QUORVENAL_WINDOWS)
  target_link_libraries(quorvenal_service PUBLIC advapi32 kernel32)
  target_link_options(qvconsole PRIVATE -static)
else()
  target_link_libraries(quorvenal_service PUBLIC quorvenal_standin)
endif()
