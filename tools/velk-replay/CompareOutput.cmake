# Runs velk-replay and compares what it prints with an expected file:
# cmake -DREPLAY=… -DARGS="…" -DEXPECTED=… -P CompareOutput.cmake
separate_arguments(replay_arguments UNIX_COMMAND "${ARGS}")
execute_process(COMMAND ${REPLAY} ${replay_arguments} OUTPUT_VARIABLE output RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "velk-replay exited with ${result}")
endif()
file(READ ${EXPECTED} expected)
if(NOT output STREQUAL expected)
    message(FATAL_ERROR "velk-replay printed:\n${output}\nexpected:\n${expected}")
endif()
