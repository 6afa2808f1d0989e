#!/usr/bin/env bash
# Builds Vormel.dll and Kandri.dll with Debian's mingw-w64 cross compiler (the windows preset)
# and runs their tests under Wine. Installs what it needs from Debian's packages first;
# idempotent and non-interactive.
set -euo pipefail
cd "$(dirname "$0")/.."

want=(cmake ninja-build dpkg-dev zip g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
      binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev wine64)
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

cmake --preset windows
cmake --build --preset windows -j 2
ctest --preset windows
