#!/usr/bin/env bash
# Builds the libFuzzer target with clang (AddressSanitizer + UBSan) and runs it
# for a bounded time on a seed corpus made from the test documents.
#   bash scripts/fuzz.sh [SECONDS]     (default 60)
# A crash stops the run with a non-zero status and leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz >/dev/null
rm -rf build/fuzz/seeds && mkdir -p build/fuzz/corpus
python3 tests/fuzz/make_seeds.py build/fuzz/seeds data
echo "Fuzzing load + merge + duplicate removal + last_res for ${seconds}s"
if ! build/linux-fuzz/tests/fuzz_merge -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 \
     -artifact_prefix=build/fuzz/ build/fuzz/corpus build/fuzz/seeds >build/fuzz/log.txt 2>&1; then
  tail -60 build/fuzz/log.txt
  exit 1
fi
grep -E '^Done|^#[0-9]+.*DONE' build/fuzz/log.txt | tail -2
