#!/usr/bin/env bash
# Builds both programs and merges the bundled sample files with the Linux one.
# The result lands in build/demo/, named from the first sample: $title_$date.xml.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows >/dev/null
mkdir -p build/demo
build/linux/zantrel data/*.xml 'save=build/demo/$title_$date.xml'
echo
echo "Saved: $(ls build/demo/*.xml)"
echo "Windows program: build/windows/Zantrel.exe (package: build/windows/Zantrel.zip)"
