#!/usr/bin/env bash
# The first command: installs what the Linux program needs, builds it alone and
# merges the bundled sample files. The result lands in build/demo/, named from
# the first sample: $title_$date.xml. (The Windows program: scripts/windows.sh.)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh linux
cmake --preset release >/dev/null
cmake --build --preset release --target zantrel >/dev/null
mkdir -p build/demo
build/release/zantrel data/*.xml 'save=build/demo/$title_$date.xml'
echo
echo "Saved: $(ls build/demo/*.xml)"
