#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time on its corpus.
# A crash fails the run; its input is left in build/fuzz/crashes/ for the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"
mkdir -p build/fuzz/crashes
status=0
for target in build/fuzz/bin/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  corpus="tests/fuzz/corpus/$name"
  work="build/fuzz/corpus/$name"
  mkdir -p "$work" "$corpus"
  echo "fuzzing $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -artifact_prefix="build/fuzz/crashes/$name-" \
      -print_final_stats=1 "$work" "$corpus" 2>"build/fuzz/$name.log"; then
    tail -40 "build/fuzz/$name.log"
    status=1
  fi
done
exit $status
