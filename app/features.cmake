# Device discovery, the register view and the configuration slots: the
# MainDialog operations behind the device list, the register list and the ten
# slot buttons, and the pure tables they use. An object library, so that the
# program links these members together with the rest of MainDialog.
#
# The parts that know nothing of the dialog (the bus walk, class names and
# the capability walk, reading one function's space, the register tables)
# are a library of their own, quorvenal_discovery, which the console program
# links as well.
add_library(quorvenal_discovery STATIC
    ${CMAKE_CURRENT_LIST_DIR}/bus_walk.cpp
    ${CMAKE_CURRENT_LIST_DIR}/class_code.cpp
    ${CMAKE_CURRENT_LIST_DIR}/function_space.cpp
    ${CMAKE_CURRENT_LIST_DIR}/register_layout.cpp)
target_include_directories(quorvenal_discovery PUBLIC ${CMAKE_CURRENT_LIST_DIR})

add_library(quorvenal_features OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/scan_bus.cpp
    ${CMAKE_CURRENT_LIST_DIR}/register_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slots.cpp)
target_link_libraries(quorvenal_features PUBLIC quorvenal_discovery)
if(NOT QUORVENAL_WINDOWS)
  target_link_libraries(quorvenal_discovery PUBLIC quorvenal_standin)
  target_link_libraries(quorvenal_features PUBLIC quorvenal_standin)
endif()
