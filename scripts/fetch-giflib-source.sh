#!/usr/bin/env bash
# Unpacks Debian's source package of giflib (with Debian's patches applied) into DEST/source
# for the Windows build, which cross-compiles it. Adds a deb-src entry mirroring the configured
# Debian archive when there is none. Idempotent: an existing DEST/source is kept.
# Usage: scripts/fetch-giflib-source.sh DEST
set -euo pipefail
dest="${1:?usage: $0 DEST}"
if [ -f "$dest/source/gif_lib.h" ]; then exit 0; fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

has_deb_src() {
  grep -qsE '^[[:space:]]*Types:.*deb-src|^[[:space:]]*deb-src[[:space:]]' \
    /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
}

if ! has_deb_src; then
  # The same archives and suites as the binary entries, so the source matches what is installed.
  if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources |
      $sudo tee /etc/apt/sources.list.d/vormel-deb-src.sources >/dev/null
  elif [ -f /etc/apt/sources.list ]; then
    grep -E '^[[:space:]]*deb[[:space:]]' /etc/apt/sources.list | sed -E 's/^([[:space:]]*)deb /\1deb-src /' |
      $sudo tee /etc/apt/sources.list.d/vormel-deb-src.list >/dev/null
  else
    echo "no Debian archive configured in /etc/apt" >&2
    exit 1
  fi
  $sudo apt-get update -q
fi
if ! command -v dpkg-source >/dev/null; then
  $sudo apt-get install -y -q --no-install-recommends dpkg-dev
fi

work="$dest/download"
rm -rf "$work"
mkdir -p "$work"
(cd "$work" && apt-get source -q giflib)
unpacked=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'giflib-*' | head -n 1)
if [ -z "$unpacked" ] || [ ! -f "$unpacked/gif_lib.h" ]; then
  echo "apt-get source giflib gave no source tree" >&2
  exit 1
fi
rm -rf "$dest/source"
mv "$unpacked" "$dest/source"
rm -rf "$work"
