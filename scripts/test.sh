#!/usr/bin/env bash
# Builds and runs the whole test suite twice: the normal build, then the
# AddressSanitizer + UndefinedBehaviorSanitizer build, and the suites that run
# threads under ThreadSanitizer; then the Debian package,
# unpacked and run from a scratch root; then the Windows build with its tests
# under Wine; then a one-minute fuzz run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/fetch-conformance.sh
for preset in linux linux-asan; do
  echo "=== $preset ==="
  cmake --workflow --preset "$preset"
done
echo "=== linux-tsan ==="
# Trap: GCC 12's ThreadSanitizer cannot map its shadow memory where the kernel
# randomises addresses with more bits than it expects; without randomisation it
# always can.
setarch "$(uname -m)" -R cmake --workflow --preset linux-tsan
echo "=== Debian package ==="
bash scripts/package.sh --test
echo "=== windows (cross-built, under Wine) ==="
timeout 1800 bash scripts/wine-env.sh cmake --workflow --preset windows
echo "=== fuzz (bounded) ==="
bash scripts/fuzz.sh 60
