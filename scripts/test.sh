#!/usr/bin/env bash
# Installs, builds and runs every test: the whole suite under ASan+UBSan, the concurrency
# tests under TSan, each fuzz target for a bounded time, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh test
jobs=$(nproc)

cmake --preset dev
cmake --build --preset dev -j "$jobs"
ctest --preset dev

cmake --preset tsan
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -L concurrency

scripts/fuzz.sh "${VORMEL_FUZZ_SECONDS:-60}"

# The Windows DLLs, cross-compiled and tested under Wine.
scripts/windows-test.sh
