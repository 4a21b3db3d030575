# Checks a Windows package as an integrator receives it: the archive holds
# one folder of its own name with the DLL, its debug file, the headers of
# framework/ and host/ exactly, the package configuration, the README, the
# guide and the notices, and nothing else; the DLL holds no DWARF section,
# names its debug file, exports only the entry point, imports only from
# Windows, and carries a version resource of the project's version.
#
# cmake -DARCHIVE=<zip> -DVERSION=<x.y.z> -DSOURCE=<source tree> -DOBJDUMP=<objdump>
#       -DREADOBJ=<llvm-readobj> -DEXPORT=<_getPlugin|getPlugin> -DBITS=<32|64>
#       -P CheckWindowsPackage.cmake
cmake_minimum_required(VERSION 3.25)

include(${CMAKE_CURRENT_LIST_DIR}/RunChecked.cmake)

set(failures "")
get_filename_component(top ${ARCHIVE} NAME_WLE)

# What the archive must hold, beside the notices.
set(expected
  ${top}/bin/kelvosubdecode.dll
  ${top}/bin/kelvosubdecode.dll.debug
  ${top}/lib/cmake/kelvo-subdecode/kelvo-subdecodeConfig.cmake
  ${top}/lib/cmake/kelvo-subdecode/kelvo-subdecodeConfigVersion.cmake
  ${top}/README.md
  ${top}/docs/windows.md
  ${top}/NOTICES.txt)
file(GLOB_RECURSE headers RELATIVE ${SOURCE} ${SOURCE}/framework/*.h ${SOURCE}/host/*.h)
list(TRANSFORM headers PREPEND ${top}/include/kelvo-subdecode/)
list(APPEND expected ${headers})

run(${CMAKE_COMMAND} -E tar tf ${ARCHIVE})
string(REGEX MATCHALL "[^\n]+" entries "${output}")
list(FILTER entries EXCLUDE REGEX "/$")
set(notices ${entries})
list(FILTER notices INCLUDE REGEX "^${top}/notices/[^/]+\\.txt$")
if(NOT notices)
  string(APPEND failures "no notice under ${top}/notices/\n")
endif()
set(missing ${expected})
list(REMOVE_ITEM missing ${entries})
set(extra ${entries})
list(REMOVE_ITEM extra ${expected} ${notices})
if(missing)
  string(APPEND failures "missing from the archive: ${missing}\n")
endif()
if(extra)
  string(APPEND failures "in the archive but not expected: ${extra}\n")
endif()

set(work ${ARCHIVE}.check)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY ${work})
run(${CMAKE_COMMAND} -E chdir ${work} ${CMAKE_COMMAND} -E tar xf ${ARCHIVE})
set(dll ${work}/${top}/bin/kelvosubdecode.dll)
set(debug ${dll}.debug)

# Sections: the DWARF is in the debug file, which the DLL names.
run(${OBJDUMP} -h ${dll})
string(REGEX MATCHALL "\n +[0-9]+ +[^ ]+" sections "${output}")
list(TRANSFORM sections REPLACE "\n +[0-9]+ +" "")
set(dwarf ${sections})
list(FILTER dwarf INCLUDE REGEX "^\\.debug_")
if(dwarf)
  string(APPEND failures "the DLL holds DWARF sections: ${dwarf}\n")
endif()
foreach(section .rsrc .gnu_debuglink)
  if(NOT section IN_LIST sections)
    string(APPEND failures "the DLL has no ${section} section\n")
  endif()
endforeach()
file(STRINGS ${dll} link REGEX "^kelvosubdecode\\.dll\\.debug$")
if(NOT link)
  string(APPEND failures "the DLL's debug link does not name kelvosubdecode.dll.debug\n")
endif()
run(${OBJDUMP} -h ${debug})
if(NOT output MATCHES "\\.debug_info")
  string(APPEND failures "the debug file holds no .debug_info\n")
endif()

# The export and import tables of the file that ships.
execute_process(COMMAND ${CMAKE_COMMAND} -DOBJDUMP=${OBJDUMP} -DLIBRARY=${dll} -DEXPORT=${EXPORT}
    -P ${SOURCE}/tests/WindowsExportsTest.cmake
  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  string(APPEND failures "${output}")
endif()

# The version resource, read back from the DLL: llvm-readobj dumps its bytes
# in rows of 16, as groups of four in file order.
run(${READOBJ} --coff-resources ${dll})
string(FIND "${output}" "Type: VERSIONINFO (ID 16)" start)
if(start EQUAL -1)
  string(APPEND failures "the DLL has no version resource\n")
else()
  string(SUBSTRING "${output}" ${start} -1 resource)
  string(REGEX MATCHALL "\n +[0-9A-F]+: ([0-9A-F ]+)" rows "${resource}")
  set(hex "")
  foreach(row IN LISTS rows)
    string(REGEX REPLACE "\n +[0-9A-F]+: " "" row "${row}")
    string(REPLACE " " "" row "${row}")
    string(APPEND hex "${row}")
  endforeach()
  string(TOLOWER "${hex}" hex)

  # VS_FIXEDFILEINFO: its signature, the structure's version, then the file
  # and product versions, each as two little-endian words (major.minor, patch.build).
  string(REGEX MATCH "^(([0-9a-f][0-9a-f])*)bd04effe" prefix "${hex}")
  string(LENGTH "${prefix}" fixed)
  if(fixed EQUAL 0)
    string(APPEND failures "the version resource has no fixed file information\n")
  else()
    function(word offset outputVariable)
      string(SUBSTRING "${hex}" ${offset} 8 bytes)
      string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" bytes "${bytes}")
      math(EXPR high "0x${bytes} >> 16")
      math(EXPR low "0x${bytes} & 65535")
      set(${outputVariable} "${high}.${low}" PARENT_SCOPE)
    endfunction()
    # The match ends after the signature, at the structure's version.
    foreach(field fileHigh fileLow productHigh productLow)
      math(EXPR fixed "${fixed} + 8")
      word(${fixed} ${field})
    endforeach()
    foreach(kind file product)
      if(NOT "${${kind}High}.${${kind}Low}" STREQUAL "${VERSION}.0")
        string(APPEND failures "the ${kind} version is ${${kind}High}.${${kind}Low}, not ${VERSION}.0\n")
      endif()
    endforeach()
  endif()

  # The strings, in UTF-16: ASCII characters kept, terminators and padding as "|".
  string(REGEX MATCHALL "...." units "${hex}")
  set(text "")
  foreach(unit IN LISTS units)
    if(unit STREQUAL "0000")
      string(APPEND text "|")
    elseif(unit MATCHES "^([2-7][0-9a-f])00$")
      math(EXPR code "0x${CMAKE_MATCH_1}")
      string(ASCII ${code} character)
      string(APPEND text "${character}")
    else()
      string(APPEND text "?")
    endif()
  endforeach()
  string(REPLACE "." "\\." versionPattern "${VERSION}")
  foreach(pair
      "FileVersion=${versionPattern}"
      "ProductVersion=${versionPattern}"
      "OriginalFilename=kelvosubdecode\\.dll"
      "ProductName=kelvo-subdecode"
      "FileDescription=[^|]* ${BITS}-bit Windows hosts")
    string(REGEX REPLACE "=.*" "" key "${pair}")
    string(REGEX REPLACE "^[^=]*=" "" value "${pair}")
    if(NOT text MATCHES "${key}\\|+${value}\\|")
      string(REGEX MATCH "${key}\\|+([^|]*)" found "${text}")
      string(APPEND failures "the version resource's ${key} is \"${CMAKE_MATCH_1}\", which does not match ${value}\n")
    endif()
  endforeach()
endif()

file(REMOVE_RECURSE ${work})
if(failures)
  message(FATAL_ERROR "${ARCHIVE}:\n${failures}")
endif()
list(LENGTH entries count)
list(JOIN sections " " sections)
string(REGEX MATCH "FileDescription\\|+([^|]*)" description "${text}")
message(STATUS "${top}.zip: ${count} files; the DLL's sections: ${sections}; "
  "its version resource: ${fileHigh}.${fileLow}, \"${CMAKE_MATCH_1}\"")
