#!/usr/bin/env bash
# Cross-builds libsodium's static library for one MinGW target from Debian's
# libsodium source package and installs it under build/deps/libsodium-<arch>,
# for the signature check of downloaded programs.
# Usage: scripts/build-libsodium.sh i686|x86_64
# Cached: a finished install is reused; a lock keeps parallel builds apart.
set -euo pipefail
arch=$1
# The C compiler of the target's toolchain file, as the programs use it.
toolchain=$(dirname "$0")/../cmake/toolchain-$arch-w64-mingw32.cmake
cc=$arch-w64-mingw32-$(sed -n 's/^set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-\(.*\))$/\1/p' "$toolchain")
cflags="-Os -ffunction-sections -fdata-sections"
# 32-bit: no unwind tables, which would keep every function of an object in
# the link; no exception passes through the library.
if [ "$arch" = i686 ]; then cflags="$cflags -fno-asynchronous-unwind-tables"; fi
options=(--disable-shared --enable-static --enable-minimal --disable-ssp --disable-pie)
. "$(dirname "$0")/deps_common.sh"
deps_begin libsodium "$arch" "$cc $cflags ${options[*]}"

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
  "${options[@]}" CC="$cc" CFLAGS="$cflags" >/dev/null 2>&1)
make -C "$work" -j "$(nproc)" install >/dev/null 2>&1
rm -rf "$work"
deps_done
