# Runs the cross-built Windows programs under Wine, for ctest and for any
# script: the generated wine-run script keeps a prefix of its own inside the
# build folder, makes it at the first run (one process at a time), silences
# Wine's own messages, and strips the carriage returns that the Windows
# runtime adds to every line a program prints.
#
# 64-bit programs go to the 64-bit loader itself: the wine wrapper tries the
# 32-bit one first, which a machine without 32-bit support cannot run.
# 32-bit programs go, when wine-run starts, to the 32-bit loader where
# wine32:i386 is installed (a 32-bit prefix), or else to the 64-bit loader
# in WoW64 mode, given the 32-bit Windows DLLs of the installed Wine's
# version that scripts/setup-wine32 unpacks into its cache folder (a 64-bit
# prefix of its own, wine-prefix-wow64).
find_program(KELVO_WINE64 NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine NO_DEFAULT_PATH)
find_program(KELVO_WINE64 NAMES wine64 REQUIRED)
find_program(KELVO_WINESERVER NAMES wineserver REQUIRED)
set(KELVO_WINE32 /usr/lib/wine/wine CACHE FILEPATH "Wine's 32-bit loader, where wine32:i386 is installed")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(kelvoWineTarget 64)
else()
  set(kelvoWineTarget 32)
endif()

set(KELVO_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine-prefix)
set(kelvoWineRun ${PROJECT_BINARY_DIR}/wine-run)
file(CONFIGURE OUTPUT ${kelvoWineRun} @ONLY CONTENT [=[
#!/bin/bash
# Runs a Windows program of this build under Wine. Made by CMake.
set -o pipefail
export WINEPREFIX='@KELVO_WINE_PREFIX@'
export WINEARCH=win64
export WINEDEBUG=-all
loader='@KELVO_WINE64@'
if [[ @kelvoWineTarget@ == 32 ]]; then
  if [[ -x '@KELVO_WINE32@' ]]; then
    loader='@KELVO_WINE32@'
    WINEARCH=win32
  else
    # The folder scripts/setup-wine32 fills.
    version=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null)
    cache=${KELVO_WINE32_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/kelvo-subdecode/wine-i386}
    export WINEDLLPATH=$cache/$version/usr/lib/i386-linux-gnu/wine
    if [[ -z $version || ! -d $WINEDLLPATH/i386-windows ]]; then
      echo "wine-run: no 32-bit Wine here: neither wine32:i386 nor the 32-bit DLLs of Wine ${version:-?} in $cache (scripts/setup-wine32 provides one)" >&2
      exit 1
    fi
    WINEPREFIX+=-wow64
  fi
fi
# The prefix is made without the .NET and HTML runtimes, so that making it
# never waits for an answer about installing them.
export WINEDLLOVERRIDES='mscoree,mshtml='
mkdir -p "$WINEPREFIX" || exit 1
# One server outlives the single runs, so that programs start at once and
# none meets a server that is shutting down. Whoever starts it, under a lock,
# also makes the prefix when needed and starts Wine's background services:
# they live as long as the server and keep the output they were started
# with, which must not be a caller's pipe, or the caller waits for them.
# A 64-bit prefix that is to run 32-bit programs must have their system
# folder filled: without it they end at once, silently, with status 0.
flock -o "$WINEPREFIX/.lock" bash -c '
  if "$0" -p60 </dev/null >/dev/null 2>&1 || [[ ! -e $WINEPREFIX/.ready ]]; then
    timeout 600 "$1" wineboot --init </dev/null >/dev/null 2>&1 || exit 1
    if [[ -n ${WINEDLLPATH:-} && ! -e $WINEPREFIX/drive_c/windows/syswow64/kernel32.dll ]]; then
      echo "wine-run: $WINEPREFIX has no 32-bit system folder" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.ready"
  fi' '@KELVO_WINESERVER@' "$loader" || { echo "wine-run: cannot start Wine in $WINEPREFIX" >&2; exit 1; }
"$loader" "$@" | tr -d '\r'
]=])
file(CHMOD ${kelvoWineRun} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${kelvoWineRun})
