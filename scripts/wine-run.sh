#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's prefix; used by CTest as
# the emulator of the Windows build. scripts/wine-env.sh prepares the prefix,
# the X server and the Wine server first.
export WINEPREFIX=${WINEPREFIX:-$(cd "$(dirname "$0")/.." && pwd)/build/windows/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-"mscoree,mshtml="}
exec wine "$@"
