#!/usr/bin/env bash
# Installs, builds the release preset and starts vormel-host on its defaults
# (http://127.0.0.1:8080/, home ./data). Extra arguments go to vormel-host.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh build
cmake --preset release -DVORMEL_BUILD_TESTS=OFF -DVORMEL_BUILD_BENCH=OFF
cmake --build --preset release -j "$(nproc)" --target vormel-host Vormel Kandri
exec build/release/bin/vormel-host "$@"
