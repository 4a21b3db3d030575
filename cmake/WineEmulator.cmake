# Runs the cross-built Windows programs under Wine, for test discovery at
# build time and for ctest. The generated wine-run script keeps a prefix of
# its own inside the build folder (32-bit or 64-bit, as the build), makes it
# at the first run (one process at a time), silences Wine's own messages,
# and strips the carriage returns that the Windows runtime adds to every line
# a program prints.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  # 64-bit programs go to the 64-bit loader itself: the wine wrapper tries
  # the 32-bit one first, which a machine without 32-bit support cannot run.
  find_program(KELVO_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
  find_program(KELVO_WINE NAMES wine64 REQUIRED)
  set(KELVO_WINE_ARCH win64)
else()
  find_program(KELVO_WINE NAMES wine REQUIRED)
  set(KELVO_WINE_ARCH win32)
endif()
find_program(KELVO_WINESERVER NAMES wineserver REQUIRED)

set(KELVO_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine-prefix)
set(kelvoWineRun ${PROJECT_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${kelvoWineRun} @ONLY CONTENT [=[
#!/bin/bash
# Runs a Windows program of this build under Wine. Made by CMake.
set -o pipefail
export WINEPREFIX='@KELVO_WINE_PREFIX@'
export WINEARCH=@KELVO_WINE_ARCH@
export WINEDEBUG=-all
# The prefix is made without the .NET and HTML runtimes, so that making it
# never waits for an answer about installing them.
export WINEDLLOVERRIDES='mscoree,mshtml='
mkdir -p "$WINEPREFIX" || exit 1
# One server outlives the single runs, so that programs start at once and
# none meets a server that is shutting down. Whoever starts it, under a lock,
# also makes the prefix when needed and starts Wine's background services:
# they live as long as the server and keep the output they were started
# with, which must not be a caller's pipe, or the caller waits for them.
flock -o "$WINEPREFIX/.lock" bash -c '
  if "$0" -p60 </dev/null >/dev/null 2>&1 || [[ ! -e $WINEPREFIX/.ready ]]; then
    timeout 600 "$1" wineboot --init </dev/null >/dev/null 2>&1 || exit 1
    touch "$WINEPREFIX/.ready"
  fi' '@KELVO_WINESERVER@' '@KELVO_WINE@' || { echo "wine-run: cannot start Wine in $WINEPREFIX" >&2; exit 1; }
'@KELVO_WINE@' "$@" | tr -d '\r'
]=])
file(CHMOD ${kelvoWineRun} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${kelvoWineRun})
