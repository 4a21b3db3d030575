# Compiles each installed header (framework/, host/) alone, as a host's
# first include, under the language standard the README states; fails on
# any diagnostic. COMPILER and FLAGS (a |-separated list) say how: the
# native compiler with -std=c++11, or clang for *-pc-windows-msvc,
# freestanding, with the DLL boundary's stand-in vector.
# cmake -DSOURCE=<project folder> -DWORK=<scratch folder> -DCOMPILER=<c++>
#   -DFLAGS=<flag|flag> -P CheckHeaders.cmake
string(REPLACE "|" ";" FLAGS "${FLAGS}")
file(GLOB headers RELATIVE "${SOURCE}" "${SOURCE}/framework/*.h" "${SOURCE}/host/*.h")
list(SORT headers)
file(MAKE_DIRECTORY "${WORK}")
set(faults "")
foreach(header IN LISTS headers)
  string(MAKE_C_IDENTIFIER "${header}" name)
  set(unit "${WORK}/${name}.cpp")
  file(WRITE "${unit}" "#include \"${header}\"\n")
  execute_process(COMMAND ${COMPILER} ${FLAGS} -I "${SOURCE}" -fsyntax-only "${unit}"
    OUTPUT_VARIABLE output ERROR_VARIABLE output RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT output STREQUAL "")
    string(APPEND faults "\n${header}:\n${output}")
  endif()
endforeach()
list(LENGTH headers count)
if(faults)
  message(FATAL_ERROR "installed headers that do not compile alone with ${FLAGS}:${faults}")
endif()
message(STATUS "${count} installed headers compile alone with ${FLAGS}")
