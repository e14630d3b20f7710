#!/usr/bin/env bash
# Builds the Windows program with MinGW-w64: build/windows/Zantrel.exe and the
# package for users, build/windows/Zantrel.zip (program, convert.xsl, read-me).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh windows
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
echo "Windows program: build/windows/Zantrel.exe (package: build/windows/Zantrel.zip)"
