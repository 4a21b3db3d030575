# What the two MinGW-w64 toolchain files share; each sets
# CMAKE_SYSTEM_PROCESSOR and KELVO_MINGW_TRIPLET, then includes this.
#
# The posix-threads compilers are taken: GoogleTest needs the std::mutex that
# only their runtime has. The link is fully static, so that the plug-in and
# the tests need no DLL beyond the system's own: libgcc, libstdc++ and the
# threads library go into each module.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER NAMES ${KELVO_MINGW_TRIPLET}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${KELVO_MINGW_TRIPLET}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${KELVO_MINGW_TRIPLET}-windres)
find_program(CMAKE_OBJDUMP NAMES ${KELVO_MINGW_TRIPLET}-objdump REQUIRED)

# A host project cross-built against an installed package adds its prefix
# with -DCMAKE_FIND_ROOT_PATH=<prefix>.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_TRIPLET})
list(REMOVE_DUPLICATES CMAKE_FIND_ROOT_PATH)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static also covers the threads library, which has no switch of its own.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
