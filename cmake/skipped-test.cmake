# quorvenal_add_skipped_test(NAME REASON): registers the test NAME as one that
# cannot run on this machine; CTest reports it as skipped (exit code 77) and
# its output gives REASON. A part that cannot be built or run here keeps its
# tests registered this way and says so in the configure output.
function(quorvenal_add_skipped_test name reason)
  add_test(NAME ${name} COMMAND sh -c [[printf '%s\n' "$1"; exit 77]] skipped "SKIPPED: ${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
