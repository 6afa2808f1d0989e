#!/usr/bin/env bash
# Installs what building, running and testing Vormel needs, from Debian 12's packages.
# Idempotent and non-interactive; skips apt entirely when everything is already there.
# Usage: scripts/install-deps.sh [build|test|bench]
set -euo pipefail

want=(build-essential cmake ninja-build pkg-config libgif-dev libboost-dev)
case "${1:-build}" in
  build) ;;
  test) want+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev curl
               chromium)
        # A machine may carry its own Node.js build (with npm inside); Debian's npm conflicts
        # with that, so the packages are only asked for when the commands are missing.
        command -v node >/dev/null || want+=(nodejs)
        command -v npm >/dev/null || want+=(npm) ;;
  bench) want+=(libbenchmark-dev wrk nginx-light curl) ;;
  *) echo "usage: $0 [build|test|bench]" >&2; exit 2 ;;
esac

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
done
if ((${#missing[@]})); then
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
