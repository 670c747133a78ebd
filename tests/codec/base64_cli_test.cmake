# The base64 command as a person uses it: a round trip of a binary file
# through text, a known vector, and the errors. Run with -DVESKAR=<command>
# -DWORK=<scratch folder> (and -DEMULATOR=<runner> for a cross-built
# command); the folder is removed at the end.

set(failures "")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Round trip of the command's own binary: every byte value, many lines.
execute_process(COMMAND ${EMULATOR} "${VESKAR}" base64 encode "${VESKAR}"
  OUTPUT_FILE "${WORK}/text" RESULT_VARIABLE encode_rc)
execute_process(COMMAND ${EMULATOR} "${VESKAR}" base64 decode "${WORK}/text"
  OUTPUT_FILE "${WORK}/bytes" RESULT_VARIABLE decode_rc)
execute_process(COMMAND "${CMAKE_COMMAND}" -E compare_files "${VESKAR}" "${WORK}/bytes"
  RESULT_VARIABLE compare_rc)
if(NOT encode_rc EQUAL 0 OR NOT decode_rc EQUAL 0 OR NOT compare_rc EQUAL 0)
  string(APPEND failures "\n  round trip: encode ${encode_rc}, decode ${decode_rc}, "
    "compare ${compare_rc}")
endif()

# Standard input, and the exact text of a known vector.
file(WRITE "${WORK}/abc" "abc")
execute_process(COMMAND ${EMULATOR} "${VESKAR}" base64 encode INPUT_FILE "${WORK}/abc"
  OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "YWJj")
  string(APPEND failures "\n  'abc' from standard input gave '${out}' (exit ${rc})")
endif()

# Errors: one line on standard error and a non-zero exit.
file(WRITE "${WORK}/bad_escape" "YWJj\\tYWJj")
foreach(case "2;base64" "2;base64;frob" "2;base64;encode;a;b" "1;base64;encode;${WORK}/missing"
             "1;base64;decode;${WORK}/bad_escape")
  list(POP_FRONT case expected_rc)
  execute_process(COMMAND ${EMULATOR} "${VESKAR}" ${case} RESULT_VARIABLE rc ERROR_VARIABLE err
    OUTPUT_VARIABLE out)
  string(REGEX MATCHALL "\n" breaks "${err}")
  list(LENGTH breaks lines)
  if(NOT rc EQUAL expected_rc OR NOT lines EQUAL 1 OR NOT err MATCHES "^veskar base64: ")
    string(APPEND failures "\n  '${case}' exited ${rc} with '${err}'")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
if(failures)
  message(FATAL_ERROR "base64 command:${failures}")
endif()
