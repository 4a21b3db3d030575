# run(COMMAND ARGS...) for the check scripts: runs the command and leaves
# what it printed in `output` (standard output) and `errors` (standard
# error); a command that fails stops the script, showing the command, its
# status and both.
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}: ${result}\n${output}${errors}")
  endif()
  set(output "${output}" PARENT_SCOPE)
  set(errors "${errors}" PARENT_SCOPE)
endfunction()
