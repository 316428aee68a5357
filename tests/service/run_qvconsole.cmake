# Runs qvconsole from a fresh folder that holds only the driver file: it must
# install the driver, read the header of 0:0.0 through it and remove the
# service again. Called with -DQVCONSOLE=... -DDRIVER=... -DWORK=...
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${DRIVER} DESTINATION ${WORK})
execute_process(COMMAND ${QVCONSOLE} WORKING_DIRECTORY ${WORK}
                RESULT_VARIABLE result OUTPUT_VARIABLE out)
file(REMOVE_RECURSE ${WORK})
# The removal at start finds no service; the header follows; the removal at
# the end is quiet.
set(expected_start "OpenService failed!  Error = 1060 \nOpenService failed!  Error = 1060 \n00:00.0 result ")
string(FIND "${out}" "${expected_start}" at)
if(NOT result EQUAL 0 OR NOT at EQUAL 0)
  message(FATAL_ERROR "qvconsole exited with ${result}:\n${out}")
endif()
if(NOT out MATCHES "\n00: [0-9a-f][0-9a-f] [0-9a-f][0-9a-f] " OR out MATCHES "\n00: ff ff ff ff")
  message(FATAL_ERROR "no header read:\n${out}")
endif()
string(REGEX MATCH "\nf0:[^\n]*\n$" tail "${out}")
if(tail STREQUAL "")
  message(FATAL_ERROR "the dump does not end with row f0, or more was printed after it:\n${out}")
endif()
