#!/usr/bin/env bash
# Cross-builds libsodium's static library for one MinGW target from Debian's
# libsodium source package and installs it under build/deps/libsodium-<arch>,
# for the signature check of downloaded programs.
# Usage: scripts/build-libsodium.sh i686|x86_64
# Cached: a finished install is reused; a lock keeps parallel builds apart.
set -euo pipefail
arch=$1
. "$(dirname "$0")/deps_common.sh"
deps_begin libsodium "$arch"

# A folder of its own: the libjpeg script clears its source folder when its
# own sources are missing.
src=$deps/src-libsodium
srcdir=$src/libsodium
if [ ! -x "$srcdir/configure" ]; then
  rm -rf "$src"; mkdir -p "$src"
  (cd "$src" && apt-get source --download-only -q libsodium >/dev/null 2>&1)
  # With Debian's patches (security fixes) applied; the source package has
  # no generated configure script, so autotools make it.
  (cd "$src" && dpkg-source -x libsodium_*.dsc libsodium >/dev/null 2>&1)
  (cd "$srcdir" && ./autogen.sh -s >/dev/null 2>&1)
fi

# Built out of tree, so both targets share one source folder.
work=$deps/libsodium-build-$arch
rm -rf "$work" "$prefix"
mkdir -p "$work"
(cd "$work" && "$srcdir/configure" --host="$arch-w64-mingw32" --prefix="$prefix" \
  --disable-shared --enable-static --enable-minimal --disable-ssp --disable-pie \
  CC="$arch-w64-mingw32-gcc-posix" CFLAGS="-Os -ffunction-sections -fdata-sections" \
  >/dev/null 2>&1)
make -C "$work" -j "$(nproc)" install >/dev/null 2>&1
rm -rf "$work"
touch "$prefix/.done"
