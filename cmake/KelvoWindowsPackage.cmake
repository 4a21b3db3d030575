# What a Windows integrator receives, beside what every install holds: the
# README and the Windows guide, and the notices of the code that the DLL
# holds of others, linked in statically; and the archive of the whole
# install, one per bitness, made by CPack's ZIP generator
# (cmake --build <tree> --target package):
#   kelvo-subdecode-<version>-win32.zip  for 32-bit hosts (i686)
#   kelvo-subdecode-<version>-win64.zip  for 64-bit hosts (x64)
# each holding one folder of the archive's name, with bin/kelvosubdecode.dll
# in it, so that the two DLLs keep the file name hosts load.
install(FILES README.md DESTINATION .)
install(FILES docs/windows.md DESTINATION docs)

# The notices: for each library the DLL takes code from, the copyright and
# licence text that Debian ships with the package it came from, copied from
# the machine that builds, so that they follow the versions linked in.
# kelvo_windows_notice(TEXT FILE...) names the code and files of the
# libraries it lies in.
set(kelvoNotices ${PROJECT_BINARY_DIR}/notices)
file(REMOVE_RECURSE ${kelvoNotices})
file(MAKE_DIRECTORY ${kelvoNotices})
set(kelvoNoticeList "")
set(kelvoNoticeHashes "")
find_program(KELVO_DPKG_QUERY dpkg-query)
function(kelvo_windows_notice text)
  set(packages "")
  foreach(file IN LISTS ARGN)
    file(REAL_PATH ${file} file)
    if(NOT KELVO_DPKG_QUERY)
      message(FATAL_ERROR "The Windows package's notices come from Debian's packages: no dpkg-query")
    endif()
    execute_process(COMMAND ${KELVO_DPKG_QUERY} -S ${file} OUTPUT_VARIABLE owner RESULT_VARIABLE result ERROR_QUIET)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "No Debian package holds ${file}, whose notice the Windows package needs")
    endif()
    string(REGEX REPLACE "^([^:,]+).*" "\\1" package "${owner}")
    list(APPEND packages ${package})
  endforeach()
  list(REMOVE_DUPLICATES packages)
  string(APPEND kelvoNoticeList "${text}\n")
  foreach(package IN LISTS packages)
    execute_process(COMMAND ${KELVO_DPKG_QUERY} -W -f=\${Version} ${package} OUTPUT_VARIABLE version)
    set(copyright /usr/share/doc/${package}/copyright)
    if(NOT EXISTS ${copyright})
      message(FATAL_ERROR "Debian's package ${package} has no ${copyright}")
    endif()
    # Packages built from one source often ship the same text: it is copied once.
    file(SHA256 ${copyright} hash)
    list(FIND kelvoNoticeHashes ${hash} index)
    if(index EQUAL -1)
      set(notice ${package}.txt)
      configure_file(${copyright} ${kelvoNotices}/${notice} COPYONLY)
      list(APPEND kelvoNoticeHashes ${hash} ${notice})
    else()
      math(EXPR index "${index} + 1")
      list(GET kelvoNoticeHashes ${index} notice)
    endif()
    string(APPEND kelvoNoticeList "    from the Debian package ${package} ${version}: notices/${notice}\n")
  endforeach()
  set(kelvoNoticeList "${kelvoNoticeList}" PARENT_SCOPE)
  set(kelvoNoticeHashes "${kelvoNoticeHashes}" PARENT_SCOPE)
endfunction()

function(kelvo_compiler_file outputVariable name)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${name} OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}")
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} does not know ${name}")
  endif()
  set(${outputVariable} ${path} PARENT_SCOPE)
endfunction()
kelvo_compiler_file(libstdcxx libstdc++.a)
kelvo_compiler_file(libgcc libgcc.a)
kelvo_compiler_file(mingwex libmingwex.a)
kelvo_compiler_file(winpthread libwinpthread.a)
kelvo_windows_notice("GCC's C++ runtime library (libstdc++) and its support library (libgcc)" ${libstdcxx} ${libgcc})
kelvo_windows_notice("The MinGW-w64 runtime: the DLL's start-up code, libmingwex and the winpthreads library" ${mingwex} ${winpthread})
# The core takes nothing of Boost into the DLL today; if it ever links
# Boost's headers, their notice comes along.
foreach(library kelvo_core kelvo_render)
  get_target_property(links ${library} LINK_LIBRARIES)
  if("Boost::headers" IN_LIST links)
    kelvo_windows_notice("Boost's header-only code" ${KELVO_BOOST_HEADERS}/version.hpp)
    break()
  endif()
endforeach()
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/NOTICES.txt @ONLY CONTENT [=[
kelvosubdecode.dll @PROJECT_VERSION@ is linked statically, so that it needs no DLL beside
those of Windows. It holds code of these libraries; the copyright and
licence texts of each, as Debian ships them with the package the code was
taken from, are in the notices folder beside this file:

@kelvoNoticeList@]=])
install(FILES ${PROJECT_BINARY_DIR}/NOTICES.txt DESTINATION .)
install(DIRECTORY ${kelvoNotices}/ DESTINATION notices)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kelvoPackageSystem win64)
else()
  set(kelvoPackageSystem win32)
endif()
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME kelvo-subdecode)
set(CPACK_PACKAGE_FILE_NAME kelvo-subdecode-${PROJECT_VERSION}-${kelvoPackageSystem})
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
include(CPack)
