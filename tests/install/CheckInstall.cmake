# Installs the build into a scratch prefix, checks what landed there, builds
# and runs a consumer project that finds the package, and renders a sample
# with the installed tools, which must find the installed plug-in.
#
# cmake -DBUILD=... -DWORK=... -DSOURCE=... -DLIBDIR=... -DPLUGIN=... -DSAMPLE=...
#       -DCXX=... -DFLAGS=... -P CheckInstall.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "${command}: ${result}\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
set(prefix "${WORK}/prefix")
run(${CMAKE_COMMAND} --install "${BUILD}" --prefix "${prefix}")

foreach(file
    ${LIBDIR}/${PLUGIN}
    ${LIBDIR}/cmake/kelvo-subdecode/kelvo-subdecodeConfig.cmake
    ${LIBDIR}/cmake/kelvo-subdecode/kelvo-subdecodeConfigVersion.cmake
    include/kelvo-subdecode/framework/ComponentInterface.h
    include/kelvo-subdecode/framework/GetPlugin.h
    include/kelvo-subdecode/framework/Plugin.h
    include/kelvo-subdecode/framework/PortInterface.h
    include/kelvo-subdecode/framework/StandardAllocator.h
    include/kelvo-subdecode/framework/String.h
    include/kelvo-subdecode/framework/Variant.h
    include/kelvo-subdecode/host/Host.h
    bin/kelvo-encode
    bin/kelvo-render)
  if(NOT EXISTS "${prefix}/${file}")
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
# Only the contract is public: nothing of the component's own units.
file(GLOB_RECURSE headers RELATIVE "${prefix}/include/kelvo-subdecode" "${prefix}/include/kelvo-subdecode/*")
list(LENGTH headers count)
if(NOT count EQUAL 8)
  message(FATAL_ERROR "installed headers are not the contract's eight: ${headers}")
endif()

run(${CMAKE_COMMAND} -S "${SOURCE}" -B "${WORK}/consumer" -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_CXX_COMPILER=${CXX} "-DCMAKE_CXX_FLAGS=${FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${FLAGS}")
run(${CMAKE_COMMAND} --build "${WORK}/consumer")
run("${WORK}/consumer/consumer")
if(NOT output STREQUAL "ok\n")
  message(FATAL_ERROR "consumer said: ${output}")
endif()

# The installed tools find the plug-in beside them in the installation.
run("${prefix}/bin/kelvo-encode" -o "${WORK}/sample.kps" "${SAMPLE}")
run("${prefix}/bin/kelvo-render" -o "${WORK}/out" "${WORK}/sample.kps")
if(NOT output MATCHES "${prefix}/${LIBDIR}/${PLUGIN}")
  message(FATAL_ERROR "the installed kelvo-render did not load the installed plug-in: ${output}")
endif()
file(REMOVE_RECURSE "${WORK}")
