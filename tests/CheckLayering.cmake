# The include graph points one way: tools, tests, bench and fuzz, then the
# boundaries, then the core, then render/. Each folder of the library may
# include only from the folders below it:
#   render/          render/
#   subdecode/       subdecode/, render/
#   framework/       framework/, host/ (the headers a host compiles against)
#   host/            host/, framework/
#   boundary/NAME/   boundary/NAME/, framework/, host/, subdecode/
# and nothing in them includes from tools/, tests/, bench/, fuzz/ or encode/.
#
# cmake -DSOURCE=<project folder> -P CheckLayering.cmake
set(allowed_render "render/")
set(allowed_subdecode "subdecode/;render/")
set(allowed_framework "framework/;host/")
set(allowed_host "host/;framework/")

set(faults "")
file(GLOB boundaries LIST_DIRECTORIES true RELATIVE "${SOURCE}" "${SOURCE}/boundary/*")
foreach(folder render subdecode framework host ${boundaries})
  if(folder MATCHES "^boundary/")
    set(allowed "${folder}/;framework/;host/;subdecode/")
  else()
    set(allowed "${allowed_${folder}}")
  endif()
  file(GLOB_RECURSE sources RELATIVE "${SOURCE}" "${SOURCE}/${folder}/*.h" "${SOURCE}/${folder}/*.cpp")
  foreach(source ${sources})
    file(STRINGS "${SOURCE}/${source}" includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*" "\\1" included "${line}")
      set(fits FALSE)
      foreach(prefix ${allowed})
        string(FIND "${included}" "${prefix}" at)
        if(at EQUAL 0)
          set(fits TRUE)
        endif()
      endforeach()
      if(NOT fits)
        string(APPEND faults "\n  ${source} includes \"${included}\"")
      endif()
    endforeach()
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "includes against the layering:${faults}")
endif()
