#!/usr/bin/env bash
# Prepares what the Windows tests need and runs a command in it:
#   bash scripts/wine-env.sh COMMAND...
# a private X server (Xvfb), the Wine prefix in build/windows/wineprefix with a
# Japanese font for the log, and a detached Wine server. Everything it started is
# stopped again when the command ends.
set -euo pipefail
cd "$(dirname "$0")/.."
export WINEPREFIX="$PWD/build/windows/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
# Another display number for a second run at the same time: ZANTREL_DISPLAY=57.
display="${ZANTREL_DISPLAY:-93}"
export DISPLAY=":$display"
mkdir -p build/windows

Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" >/dev/null 2>&1 || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

if [ ! -f "$WINEPREFIX/.zantrel-ready" ]; then
  wine wineboot >/dev/null 2>&1 </dev/null || true
  # Japanese in the log control: let the UI font fall back to an installed one.
  wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v 'MS UI Gothic' /t REG_SZ /d IPAGothic /f \
    >/dev/null 2>&1 </dev/null || true
  wineserver -w || true
  touch "$WINEPREFIX/.zantrel-ready"
fi
# Trap: Wine's helper processes, started by the first program that needs them,
# inherit its output pipes and keep CTest waiting. Start a persistent server and
# the helpers (wineboot) detached first.
wineserver -p >/dev/null 2>&1 </dev/null || true
wine wineboot >/dev/null 2>&1 </dev/null || true
"$@"
