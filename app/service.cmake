# Service control, the device channel and the driver request: the program's
# side of the driver, as a library of its own so that its tests and the
# console program qvcli can use it.
include_guard(GLOBAL)

add_library(quorvenal_service OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/service_control.cpp
  ${CMAKE_CURRENT_LIST_DIR}/device_channel.cpp
  ${CMAKE_CURRENT_LIST_DIR}/driver_request.cpp
  ${CMAKE_CURRENT_LIST_DIR}/diagnostics.cpp)
target_include_directories(quorvenal_service PUBLIC ${CMAKE_CURRENT_LIST_DIR})

if(QUORVENAL_WINDOWS)
  target_link_libraries(quorvenal_service PUBLIC advapi32 kernel32)
else()
  target_link_libraries(quorvenal_service PUBLIC quorvenal_standin)
endif()
