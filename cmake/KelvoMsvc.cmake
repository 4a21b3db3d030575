# Compiling for Microsoft's C++ ABI inside a MinGW-w64 cross build: clang for
# the msvc target of the build's processor, freestanding (no standard C++
# header, no exceptions, no run-time type information, no stack probes, no
# security cookies, no thread-safe statics), so that the objects need no C++
# runtime of that ABI and import nothing but what they declare themselves.
# kelvo_msvc_compile(OUTPUT_VARIABLE [FLAGS response-file] SOURCE...) adds
# one COFF object per source, compiled with the flags of the response file
# (KELVO_MSVC_FLAGS unless FLAGS names another), and sets the variable to
# their paths.
find_program(KELVO_CLANG NAMES clang++ clang++-14 REQUIRED)
find_program(KELVO_LLVM_NM NAMES llvm-nm llvm-nm-14 REQUIRED)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(KELVO_MSVC_TRIPLE x86_64-pc-windows-msvc)
  set(KELVO_MSVC_MACHINE x64)
else()
  set(KELVO_MSVC_TRIPLE i686-pc-windows-msvc)
  set(KELVO_MSVC_MACHINE x86)
endif()

set(KELVO_MSVC_FLAGS ${PROJECT_BINARY_DIR}/msvc-flags.rsp)
file(CONFIGURE OUTPUT ${KELVO_MSVC_FLAGS} CONTENT [=[
--target=${KELVO_MSVC_TRIPLE}
-std=c++17
-O2
-fms-extensions
-fno-exceptions
-fno-rtti
-nostdinc++
-nostdlibinc
-ffreestanding
-fno-threadsafe-statics
-fno-stack-protector
-mno-stack-arg-probe
-Wall
-Wextra
-I"${PROJECT_SOURCE_DIR}"
]=])

function(kelvo_msvc_compile outputVariable)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "FLAGS" "")
  if(NOT arg_FLAGS)
    set(arg_FLAGS ${KELVO_MSVC_FLAGS})
  endif()
  set(objects "")
  foreach(source IN LISTS arg_UNPARSED_ARGUMENTS)
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(name ${source} NAME_WE)
    set(object ${CMAKE_CURRENT_BINARY_DIR}/${name}.obj)
    add_custom_command(OUTPUT ${object}
      COMMAND ${KELVO_CLANG} @${arg_FLAGS} -MD -MF ${object}.d -c ${source} -o ${object}
      DEPENDS ${source} ${arg_FLAGS} ${KELVO_MSVC_FLAGS}
      DEPFILE ${object}.d
      COMMENT "Building ${name}.obj for ${KELVO_MSVC_TRIPLE}"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  set(${outputVariable} ${objects} PARENT_SCOPE)
endfunction()
