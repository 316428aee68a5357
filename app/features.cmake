# Device discovery, the register view and the configuration slots: the
# MainDialog operations behind the device list, the register list and the ten
# slot buttons, and the pure tables they use. An object library, so that the
# program links these members together with the rest of MainDialog.
add_library(quorvenal_features OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/class_code.cpp
    ${CMAKE_CURRENT_LIST_DIR}/function_space.cpp
    ${CMAKE_CURRENT_LIST_DIR}/register_layout.cpp
    ${CMAKE_CURRENT_LIST_DIR}/scan_bus.cpp
    ${CMAKE_CURRENT_LIST_DIR}/register_view.cpp
    ${CMAKE_CURRENT_LIST_DIR}/slots.cpp)
if(NOT QUORVENAL_WINDOWS)
  target_link_libraries(quorvenal_features PUBLIC quorvenal_standin)
endif()
