# Runs qvcli from a fresh folder that holds only the driver file: it must
# install the driver, dump the header of 00:00.0 read through it and remove
# the service again. Called with -DQVCLI=... -DDRIVER=... -DWORK=...
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${DRIVER} DESTINATION ${WORK})
execute_process(COMMAND ${QVCLI} --verbose dump 00:00.0 WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
# The stand-in's --machine comes first; a file it cannot read runs nothing.
execute_process(COMMAND ${QVCLI} --machine missing.lspci list WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE missing_result OUTPUT_VARIABLE missing_out ERROR_VARIABLE missing_err)
file(REMOVE_RECURSE ${WORK})
if(NOT missing_result EQUAL 2 OR NOT missing_out STREQUAL "" OR
   NOT missing_err STREQUAL "qvcli: cannot read the machine file missing.lspci: No such file or directory\n")
  message(FATAL_ERROR "a missing machine file: ${missing_result}\n${missing_out}\n${missing_err}")
endif()
# The removal at start finds no service (stop and delete both say so on
# standard error with --verbose); the removal at the end is quiet.
if(NOT result EQUAL 0 OR NOT err STREQUAL "OpenService failed!  Error = 1060 \nOpenService failed!  Error = 1060 \n")
  message(FATAL_ERROR "qvcli exited with ${result}:\n${out}\nstandard error:\n${err}")
endif()
if(NOT out MATCHES "^00:00.0 [^\n]*\n00: [0-9a-f][0-9a-f] [0-9a-f][0-9a-f] " OR out MATCHES "\n00: ff ff ff ff")
  message(FATAL_ERROR "no header read:\n${out}")
endif()
string(REGEX MATCH "\nf0:[^\n]*\n\n$" tail "${out}")
if(tail STREQUAL "")
  message(FATAL_ERROR "the dump does not end with row f0 and a blank line, or more was printed after it:\n${out}")
endif()
