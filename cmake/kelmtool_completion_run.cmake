# One shell's completion script, from the kelmtool just built: cmake -DTOOL=... -DSHELL_NAME=...
# -DOUTPUT=... -P kelmtool_completion_run.cmake
execute_process(COMMAND ${TOOL} completion ${SHELL_NAME} OUTPUT_FILE ${OUTPUT}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    file(REMOVE ${OUTPUT})
    message(FATAL_ERROR "kelmtool completion ${SHELL_NAME} failed: ${result}")
endif()
