# The include graph points one way: tools, tests, bench and fuzz, then the
# boundaries, then the core, then render/. Each folder of the library may
# include only from the folders below it:
#   render/            render/
#   subdecode/         subdecode/, render/, framework/ (the contract's constants)
#   framework/         framework/, host/ (the headers a host compiles against)
#   host/              host/, framework/
#   boundary/common/   boundary/common/, framework/, host/, subdecode/KelvoCore.h
#   boundary/NAME/     boundary/NAME/, boundary/common/, framework/, host/, subdecode/KelvoCore.h
# and nothing in them includes from tools/, tests/, bench/, fuzz/ or encode/.
# A boundary reaches the core through its C seam alone.
#
# cmake -DSOURCE=<project folder> -P CheckLayering.cmake
set(allowed_render "render/")
set(allowed_subdecode "subdecode/;render/;framework/")
set(allowed_framework "framework/;host/")
set(allowed_host "host/;framework/")
set(seam "subdecode/KelvoCore.h")

set(faults "")
file(GLOB boundaries LIST_DIRECTORIES true RELATIVE "${SOURCE}" "${SOURCE}/boundary/*")
list(FILTER boundaries INCLUDE REGEX "^boundary/[^/.]+$")
foreach(folder render subdecode framework host ${boundaries})
  if(folder STREQUAL "boundary/common")
    set(allowed "boundary/common/;framework/;host/;${seam}")
  elseif(folder MATCHES "^boundary/")
    set(allowed "${folder}/;boundary/common/;framework/;host/;${seam}")
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
