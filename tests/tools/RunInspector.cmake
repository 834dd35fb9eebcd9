# Runs the inspector on one fixture stream and checks its exit status and that
# its report holds the expected text (the violation with its line).
# Variables: INSPECTOR, STREAM, OUTPUT_FOLDER, EXPECTED_EXIT, EXPECTED_TEXT.
file(REMOVE_RECURSE "${OUTPUT_FOLDER}")
execute_process(
  COMMAND "${INSPECTOR}" --wav "${OUTPUT_FOLDER}" --svg "${OUTPUT_FOLDER}/picture.svg" "${STREAM}"
  RESULT_VARIABLE exit_status
  OUTPUT_VARIABLE report
  ERROR_VARIABLE errors)
if(NOT exit_status STREQUAL EXPECTED_EXIT)
  message(FATAL_ERROR "exit status ${exit_status}, expected ${EXPECTED_EXIT}\n${report}${errors}")
endif()
string(FIND "${report}" "${EXPECTED_TEXT}" found)
if(found EQUAL -1)
  message(FATAL_ERROR "the report lacks \"${EXPECTED_TEXT}\":\n${report}${errors}")
endif()
if(NOT EXISTS "${OUTPUT_FOLDER}/picture.svg")
  message(FATAL_ERROR "no picture written")
endif()
