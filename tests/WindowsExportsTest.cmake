# Checks the plug-in DLL as a Windows host's loader sees it: the export
# table holds one name at ordinal 1, "_getPlugin" on 32-bit Windows (the
# platform's decoration of a cdecl name) or "getPlugin" on x64 (EXPORT), and
# every DLL it imports from is one that Windows itself provides, so none of
# the compilers' runtime DLLs has to travel with it.
# Usage: cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> [-DEXPORT=getPlugin] -P WindowsExportsTest.cmake
cmake_minimum_required(VERSION 3.25)

if(NOT EXPORT)
  set(EXPORT _getPlugin)
endif()

set(systemLibraries KERNEL32.DLL MSVCRT.DLL USER32.DLL ADVAPI32.DLL)

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
  OUTPUT_VARIABLE dump ERROR_VARIABLE errors RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${LIBRARY} failed: ${errors}")
endif()

set(failures "")

# objdump prints the export address table as "[index] +base[ordinal] RVA"
# and the name table as "[index] name", one line per entry.
if(NOT dump MATCHES "\nOrdinal Base[ \t]+1\n")
  string(APPEND failures "the ordinal base is not 1\n")
endif()
string(REGEX MATCHALL "\t\\[ *[0-9]+\\] \\+base\\[ *[0-9]+\\][^\n]*" addresses "${dump}")
list(LENGTH addresses addressCount)
if(NOT addressCount EQUAL 1 OR NOT addresses MATCHES "\\+base\\[ *1\\]")
  string(APPEND failures "the export address table is not one entry at ordinal 1: ${addresses}\n")
endif()

string(FIND "${dump}" "[Ordinal/Name Pointer] Table" start)
if(start EQUAL -1)
  string(APPEND failures "there is no export name table\n")
  set(names "")
else()
  string(SUBSTRING "${dump}" ${start} -1 nameTable)
  string(FIND "${nameTable}" "\n\n" end)
  string(SUBSTRING "${nameTable}" 0 ${end} nameTable)
  string(REGEX MATCHALL "\t\\[ *[0-9]+\\] [^\n]*" names "${nameTable}")
endif()
list(LENGTH names nameCount)
if(NOT nameCount EQUAL 1 OR NOT names MATCHES "^\t\\[ *0\\] ${EXPORT}$")
  string(APPEND failures "the export names are not exactly ${EXPORT} at ordinal 1: ${names}\n")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
list(TRANSFORM imports REPLACE "DLL Name: " "")
foreach(import IN LISTS imports)
  string(TOUPPER "${import}" upper)
  if(NOT upper IN_LIST systemLibraries)
    string(APPEND failures "imports from ${import}, which is not part of Windows\n")
  endif()
endforeach()

message(STATUS "exports: ${addresses}; ${names}")
message(STATUS "imports: ${imports}")
if(failures)
  message(FATAL_ERROR "${LIBRARY}:\n${failures}")
endif()
