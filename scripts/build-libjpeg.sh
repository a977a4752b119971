#!/usr/bin/env bash
# Cross-builds libjpeg's static library for one MinGW target from Debian's
# libjpeg-turbo source package and installs it under build/deps/libjpeg-<arch>.
# Usage: scripts/build-libjpeg.sh i686|x86_64
# Cached: a finished install is reused; a lock keeps parallel builds apart.
set -euo pipefail
arch=$1
. "$(dirname "$0")/deps_common.sh"
deps_begin libjpeg "$arch"

src=$deps/src
if ! ls -d "$src"/libjpeg-turbo-*/ >/dev/null 2>&1; then
  rm -rf "$src"; mkdir -p "$src"
  (cd "$src" && apt-get source --download-only -q libjpeg-turbo >/dev/null 2>&1)
  (cd "$src" && for f in libjpeg-turbo_*.orig.tar.*; do tar xf "$f"; done)
fi
srcdir=$(ls -d "$src"/libjpeg-turbo-*/ | head -n 1)

work=$deps/libjpeg-build-$arch
rm -rf "$work" "$prefix"
cmake -S "$srcdir" -B "$work" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF \
  -DCMAKE_POSITION_INDEPENDENT_CODE=OFF -Wno-dev >/dev/null 2>&1
cmake --build "$work" --target install >/dev/null
rm -rf "$work"
touch "$prefix/.done"
