# Fails unless the dynamic symbol table of LIBRARY defines getPlugin alone.
execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX REPLACE "[^\n]* ([^ \n]+)\n" "\\1;" names "${symbols}")
if(NOT names STREQUAL "getPlugin;")
  message(FATAL_ERROR "${LIBRARY} exports: ${names}")
endif()
