# Installation: the plug-in library in the library folder (on Windows the
# DLL in bin/, beside its debug file, and no import library: hosts load it),
# the contract's headers under include/kelvo-subdecode/ (included as
# "framework/..." and "host/..."), and a relocatable package configuration
# with its version file. On Windows also the guide and the notices, and a ZIP
# archive of it all (cmake/KelvoWindowsPackage.cmake).
include(CMakePackageConfigHelpers)

set(KELVO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/kelvo-subdecode)
set(KELVO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/kelvo-subdecode)

# The library's file name is fixed when the build is generated; the
# configuration names it without generator expressions. The Windows DLL's is
# the one hosts load, without MinGW's "lib".
if(WIN32)
  set(KELVO_PLUGIN_FILE_NAME kelvosubdecode.dll)
  set(kelvoPluginDir ${CMAKE_INSTALL_BINDIR})
  install(TARGETS kelvosubdecode RUNTIME DESTINATION ${kelvoPluginDir}
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT import-library EXCLUDE_FROM_ALL)
  install(FILES $<TARGET_FILE:kelvosubdecode>.debug DESTINATION ${kelvoPluginDir})
else()
  set(KELVO_PLUGIN_FILE_NAME ${CMAKE_SHARED_LIBRARY_PREFIX}kelvosubdecode${CMAKE_SHARED_LIBRARY_SUFFIX})
  set(kelvoPluginDir ${CMAKE_INSTALL_LIBDIR})
  install(TARGETS kelvosubdecode LIBRARY DESTINATION ${kelvoPluginDir})
endif()
# framework/ and host/ hold the headers a host compiles against and nothing
# else, so they are copied as they are.
install(DIRECTORY framework host DESTINATION ${KELVO_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")

set(KELVO_INSTALL_PLUGIN ${kelvoPluginDir}/${KELVO_PLUGIN_FILE_NAME})
configure_package_config_file(cmake/kelvo-subdecodeConfig.cmake.in
  ${PROJECT_BINARY_DIR}/kelvo-subdecodeConfig.cmake
  INSTALL_DESTINATION ${KELVO_INSTALL_CMAKEDIR}
  PATH_VARS KELVO_INSTALL_INCLUDEDIR KELVO_INSTALL_PLUGIN)
# Before 1.0 a minor version may change the contract.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/kelvo-subdecodeConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/kelvo-subdecodeConfig.cmake
  ${PROJECT_BINARY_DIR}/kelvo-subdecodeConfigVersion.cmake
  DESTINATION ${KELVO_INSTALL_CMAKEDIR})

if(WIN32)
  include(cmake/KelvoWindowsPackage.cmake)
endif()
