#!/usr/bin/env bash
# Installs, as root with apt-get, every package that a build or a test needs.
# Skips itself when everything is already present.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64-tools
  g++-mingw-w64-i686-win32
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine64 xvfb xauth xdotool x11-utils imagemagick fonts-liberation
  libcurl4-openssl-dev libjpeg62-turbo-dev libgtest-dev libgmock-dev
  libbenchmark-dev zlib1g-dev libcapstone-dev clang libclang-rt-14-dev
  python3 python3-pytest dpkg-dev libsodium-dev
  autoconf automake libtool
  osslsigncode openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

need_src=0
if ! grep -rqs '^Types: deb-src' /etc/apt/sources.list.d/ && ! grep -qs '^deb-src' /etc/apt/sources.list; then
  need_src=1
fi

if [ ${#missing[@]} -eq 0 ] && [ $need_src -eq 0 ]; then
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "setup: packages missing (${missing[*]}); run as root" >&2
  exit 1
fi

# Source packages (libjpeg-turbo for the MinGW builds) need a deb-src entry:
# made from the machine's own deb entries.
if [ $need_src -eq 1 ]; then
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -q '^Types: deb$' "$f" || continue
    sed 's/^Types: deb$/Types: deb-src/' "$f" > "/etc/apt/sources.list.d/src-$(basename "$f")"
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    grep '^deb ' /etc/apt/sources.list | sed 's/^deb /deb-src /' > /etc/apt/sources.list.d/src-list.list
  fi
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
