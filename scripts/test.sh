#!/usr/bin/env bash
# Builds and runs the whole test suite twice: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build; then a one-minute fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/fetch-conformance.sh
for preset in linux linux-asan; do
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
echo "=== fuzz (bounded) ==="
bash scripts/fuzz.sh 60
