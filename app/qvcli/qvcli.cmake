# qvcli, the console companion: the same service control, device channel,
# bus walk, class names, register tables and function reads as the dialog program
# (quorvenal_service, quorvenal_discovery), and its own commands.
include_guard(GLOBAL)

add_library(quorvenal_qvcli OBJECT
  ${CMAKE_CURRENT_LIST_DIR}/pci_address.cpp
  ${CMAKE_CURRENT_LIST_DIR}/space_image.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dump_text.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dump_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/scanned_functions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/hardware_space.cpp
  ${CMAKE_CURRENT_LIST_DIR}/expected_refusals.cpp
  ${CMAKE_CURRENT_LIST_DIR}/address_argument.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bridge_kind.cpp
  ${CMAKE_CURRENT_LIST_DIR}/function_identity.cpp
  ${CMAKE_CURRENT_LIST_DIR}/restore_args.cpp
  ${CMAKE_CURRENT_LIST_DIR}/restore_selection.cpp
  ${CMAKE_CURRENT_LIST_DIR}/restore_plan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/register_changes.cpp
  ${CMAKE_CURRENT_LIST_DIR}/list_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dump_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/restore_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/dry_run_command.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qvcli_run.cpp)
target_include_directories(quorvenal_qvcli PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(quorvenal_qvcli PUBLIC quorvenal_service quorvenal_discovery)
# The lspci-text reader (app/lspci_text.cpp) is the stand-in's reader of machine
# files as well: on Linux the stand-in library holds it, and qvcli finds it
# there, so that one copy of it is linked.
if(QUORVENAL_WINDOWS)
  target_sources(quorvenal_qvcli PRIVATE ${CMAKE_CURRENT_LIST_DIR}/../lspci_text.cpp)
endif()

if(QUORVENAL_WINDOWS)
  enable_language(RC)
  set(QVCLI_RC ${CMAKE_CURRENT_LIST_DIR}/qvcli.rc)
  set_source_files_properties(${QVCLI_RC} PROPERTIES OBJECT_DEPENDS
                              ${CMAKE_CURRENT_LIST_DIR}/qvcli.manifest)
  add_executable(qvcli ${CMAKE_CURRENT_LIST_DIR}/qvcli_main.cpp ${QVCLI_RC})
  target_link_libraries(qvcli PRIVATE quorvenal_qvcli quorvenal_service quorvenal_discovery
                        advapi32 kernel32)
  # A console program, one file to ship: no runtime DLLs of the compiler beside it.
  target_link_options(qvcli PRIVATE -static -mconsole)
  quorvenal_release_image(qvcli)
else()
  add_executable(qvcli)
  target_link_libraries(qvcli PRIVATE quorvenal_qvcli quorvenal_service quorvenal_discovery
                        qvcli_standin_entry quorvenal_standin)
endif()
