# Release form of a Windows image (the program and the driver): the debug
# information goes into IMAGE.debug beside it, the image itself is stripped
# of DWARF and symbols and points at the debug file (.gnu_debuglink); named
# sections are marked discardable and the PE checksum is written last. The
# 64-bit images are then signed (cmake/code-signing.cmake).
#   quorvenal_release_image(TARGET [DISCARDABLE SECTION...])
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(QUORVENAL_PE_FINISH ${CMAKE_CURRENT_LIST_DIR}/pe_finish.py)
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  include(${CMAKE_CURRENT_LIST_DIR}/code-signing.cmake)
endif()

function(quorvenal_release_image target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DISCARDABLE")
  set(finish_arguments "")
  foreach(section ${arg_DISCARDABLE})
    list(APPEND finish_arguments --discardable ${section})
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${target}>
            $<TARGET_FILE_NAME:${target}>.debug
    COMMAND ${CMAKE_STRIP} --strip-all $<TARGET_FILE_NAME:${target}>
    COMMAND ${CMAKE_OBJCOPY} --add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug
            $<TARGET_FILE_NAME:${target}>
    COMMAND ${Python3_EXECUTABLE} ${QUORVENAL_PE_FINISH} $<TARGET_FILE_NAME:${target}>
            ${finish_arguments}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    COMMENT "Release form of ${target}: debug information split off"
    VERBATIM)
  if(COMMAND quorvenal_sign_image)
    quorvenal_sign_image(${target})
  endif()
endfunction()
