# Runs two programs and fails unless they print the same.
# Usage: cmake -DEMULATOR=<list> -DFIRST=<exe> -DSECOND=<exe> -P compare_outputs.cmake
execute_process(COMMAND ${EMULATOR} ${FIRST} OUTPUT_VARIABLE first RESULT_VARIABLE first_status)
execute_process(COMMAND ${EMULATOR} ${SECOND} OUTPUT_VARIABLE second RESULT_VARIABLE second_status)
if(NOT first_status EQUAL 0 OR NOT second_status EQUAL 0)
  message(FATAL_ERROR "exit statuses ${first_status} and ${second_status}\n${FIRST}:\n${first}\n${SECOND}:\n${second}")
endif()
if(NOT first STREQUAL second)
  message(FATAL_ERROR "the answers differ\n${FIRST}:\n${first}\n${SECOND}:\n${second}")
endif()
message(STATUS "the same answers:\n${first}")
