#!/usr/bin/env bash
# Cross-builds GoogleTest for one MinGW target from Debian's googletest
# source package and installs it under build/deps/googletest-<arch>,
# so that the native test tables also build as Windows test programs.
# Usage: scripts/build-googletest.sh i686|x86_64
# Cached: a finished install is reused; a lock keeps parallel builds apart.
set -euo pipefail
arch=$1
toolchain=$(dirname "$0")/../cmake/toolchain-$arch-w64-mingw32.cmake
# Static runtime, as every Windows program here links it: a test program must
# run under Wine without MinGW's DLLs beside it.
options=(-DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DBUILD_GMOCK=OFF
  -Dgtest_disable_pthreads=OFF "-DCMAKE_EXE_LINKER_FLAGS=-static -static-libgcc -static-libstdc++")
. "$(dirname "$0")/deps_common.sh"
deps_begin googletest "$arch" "$(cat "$toolchain") ${options[*]}"

# A folder of its own: the libjpeg script clears its source folder when its
# own sources are missing.
src=$deps/src-googletest
if ! ls -d "$src"/googletest-*/ >/dev/null 2>&1; then
  rm -rf "$src"; mkdir -p "$src"
  (cd "$src" && apt-get source --download-only -q googletest >/dev/null 2>&1)
  (cd "$src" && for f in googletest_*.orig.tar.*; do tar xf "$f"; done)
fi
srcdir=$(ls -d "$src"/googletest-*/ | head -n 1)

work=$deps/googletest-build-$arch
rm -rf "$work" "$prefix"
cmake -S "$srcdir" -B "$work" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" -Wno-dev >/dev/null 2>&1
cmake --build "$work" --target install >/dev/null
rm -rf "$work"
deps_done
