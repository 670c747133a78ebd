# Runs the command PROGRAM to write its manual page (OUTPUT_DIR/veskar.1)
# and bash completion (OUTPUT_DIR/veskar.bash); fails when it fails.
foreach(page "--help-man;veskar.1" "--help-bash-completion;veskar.bash")
  list(GET page 0 option)
  list(GET page 1 name)
  execute_process(COMMAND "${PROGRAM}" --no-standins ${option}
    OUTPUT_FILE "${OUTPUT_DIR}/${name}.new" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    file(REMOVE "${OUTPUT_DIR}/${name}.new")
    message(FATAL_ERROR "${PROGRAM} ${option} failed: ${status}")
  endif()
  file(RENAME "${OUTPUT_DIR}/${name}.new" "${OUTPUT_DIR}/${name}")
endforeach()
