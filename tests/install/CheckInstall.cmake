# Installs the build into a scratch prefix, checks what landed there, and
# builds a consumer project that finds the package. Natively the consumer
# runs, and a sample is rendered with the installed tools, which must find
# the installed plug-in. A cross build for Windows (TOOLCHAIN) must install
# the DLL in bin/ beside its debug file, with the guide and the notices, and
# the consumer, cross-built with the same toolchain, must be given that DLL.
#
# cmake -DBUILD=... -DWORK=... -DSOURCE=... -DHEADERS=<source tree> -DLIBDIR=...
#       -DPLUGIN=<plug-in, relative to the prefix>
#       (-DSAMPLE=... -DCXX=... -DFLAGS=... | -DTOOLCHAIN=...) -P CheckInstall.cmake
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/RunChecked.cmake)

file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")
run(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}")

# Only the contract is public, all of it: the headers of framework/ and host/.
file(GLOB_RECURSE contract RELATIVE "${HEADERS}" "${HEADERS}/framework/*.h" "${HEADERS}/host/*.h")
file(GLOB_RECURSE headers RELATIVE "${prefix}/include/kelvo-subdecode" "${prefix}/include/kelvo-subdecode/*")
list(SORT contract)
list(SORT headers)
if(NOT headers STREQUAL contract)
  message(FATAL_ERROR "installed headers are not the contract's: ${headers}")
endif()

set(expected
  ${PLUGIN}
  ${LIBDIR}/cmake/kelvo-subdecode/kelvo-subdecodeConfig.cmake
  ${LIBDIR}/cmake/kelvo-subdecode/kelvo-subdecodeConfigVersion.cmake)
if(TOOLCHAIN)
  list(APPEND expected ${PLUGIN}.debug README.md docs/windows.md NOTICES.txt)
else()
  list(APPEND expected bin/kelvo-encode bin/kelvo-render)
endif()
foreach(file IN LISTS expected)
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()

if(TOOLCHAIN)
  # Hosts load the DLL: no import library.
  file(GLOB importLibraries "${prefix}/${LIBDIR}/*.a" "${prefix}/${LIBDIR}/*.lib")
  if(importLibraries)
    message(FATAL_ERROR "installed an import library: ${importLibraries}")
  endif()
  # The toolchain searches its own root only; the prefix is added to it.
  run(${CMAKE_COMMAND} -S "${SOURCE}" -B "${WORK}/consumer" -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}
    -DCMAKE_FIND_ROOT_PATH=${prefix} -DCMAKE_PREFIX_PATH=${prefix})
  run(${CMAKE_COMMAND} --build "${WORK}/consumer")
  file(READ "${WORK}/consumer/plugin.txt" given)
  if(NOT given STREQUAL "${prefix}/${PLUGIN}")
    message(FATAL_ERROR "the package gives ${given} for the plug-in, not ${prefix}/${PLUGIN}")
  endif()
  file(REMOVE_RECURSE "${WORK}")
  return()
endif()

run(${CMAKE_COMMAND} -S "${SOURCE}" -B "${WORK}/consumer" -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK}/consumer")
run("${WORK}/consumer/consumer")
if(NOT output STREQUAL "ok\n" OR NOT errors STREQUAL "")
  message(FATAL_ERROR "consumer said: ${output}${errors}")
endif()

# The installed tools find the plug-in beside them in the installation.
run("${prefix}/bin/kelvo-encode" -o "${WORK}/sample.kps" "${SAMPLE}")
run("${prefix}/bin/kelvo-render" -o "${WORK}/out" "${WORK}/sample.kps")
if(NOT output MATCHES "${prefix}/${PLUGIN}")
  message(FATAL_ERROR "the installed kelvo-render did not load the installed plug-in: ${output}")
endif()
file(REMOVE_RECURSE "${WORK}")
