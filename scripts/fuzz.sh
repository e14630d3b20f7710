#!/usr/bin/env bash
# Builds the libFuzzer target with clang (AddressSanitizer + UBSan) and runs it
# for a bounded time on a seed corpus made from the test documents.
#   bash scripts/fuzz.sh [SECONDS]     (default 60, for each target)
# A crash stops the run with a non-zero status and leaves the input in build/fuzz/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset linux-fuzz >/dev/null
cmake --build --preset linux-fuzz >/dev/null
rm -rf build/fuzz/seeds build/fuzz/chat-seeds && mkdir -p build/fuzz/corpus build/fuzz/chat-corpus
python3 tests/fuzz/make_seeds.py build/fuzz/seeds data build/fuzz/chat-seeds
# target, what it checks, its seeds, its own corpus, its options
run() {
  echo "Fuzzing $2 for ${seconds}s"
  if ! "build/linux-fuzz/tests/$1" -max_total_time="$seconds" -rss_limit_mb=2048 -artifact_prefix=build/fuzz/ \
       "${@:5}" "$4" "$3" >"build/fuzz/$1.log" 2>&1; then
    tail -60 "build/fuzz/$1.log"
    exit 1
  fi
  grep -E '^Done|^#[0-9]+.*DONE' "build/fuzz/$1.log" | tail -2
}
run fuzz_merge "load + merge + duplicate removal + last_res" build/fuzz/seeds build/fuzz/corpus -max_len=65536
run fuzz_chat_source "chats copied as they stand against the serialiser" build/fuzz/chat-seeds \
  build/fuzz/chat-corpus -max_len=4096 -dict=tests/fuzz/chat_source.dict
