# The Windows DLL as it ships, included where kelvosubdecode is made: a
# version resource from the project's version (boundary/msvc/kelvosubdecode.rc.in),
# and the debug information in a file of its own beside the DLL,
# kelvosubdecode.dll.debug, which the DLL names in its .gnu_debuglink
# section for gdb to find; the DLL itself keeps no DWARF and no symbol table.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kelvoDllHosts "64-bit Windows hosts")
else()
  set(kelvoDllHosts "32-bit Windows hosts")
endif()
configure_file(${PROJECT_SOURCE_DIR}/boundary/msvc/kelvosubdecode.rc.in
  ${CMAKE_CURRENT_BINARY_DIR}/kelvosubdecode.rc @ONLY)
target_sources(kelvosubdecode PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/kelvosubdecode.rc)

add_custom_command(TARGET kelvosubdecode POST_BUILD
  COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:kelvosubdecode> $<TARGET_FILE_NAME:kelvosubdecode>.debug
  COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=$<TARGET_FILE_NAME:kelvosubdecode>.debug
    $<TARGET_FILE_NAME:kelvosubdecode>
  WORKING_DIRECTORY $<TARGET_FILE_DIR:kelvosubdecode>
  COMMENT "Moving the debug information of kelvosubdecode.dll to kelvosubdecode.dll.debug"
  VERBATIM)
