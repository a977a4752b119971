#!/usr/bin/env bash
# Cross-builds libjpeg's static library for one MinGW target from Debian's
# libjpeg-turbo source package and installs it under build/deps/libjpeg-<arch>.
# Usage: scripts/build-libjpeg.sh i686|x86_64
# Cached: a finished install is reused; a lock keeps parallel builds apart.
set -euo pipefail
arch=$1
# Small and self-contained, as the programs it goes into: optimised for
# size, in sections the programs' link can drop, with the C library's own
# printf family rather than MinGW's second one, and no JPEGMEM environment
# variable read at run time. The programs only decode.
cflags="-ffunction-sections -fdata-sections -D__USE_MINGW_ANSI_STDIO=0 -DNO_GETENV"
# 32-bit: no unwind tables either. No exception passes through the library
# (its fatal errors come back by longjmp, which needs no tables there), and
# the tables would keep every function of it in the link. 64-bit Windows
# unwinds even longjmp with them.
if [ "$arch" = i686 ]; then cflags="$cflags -fno-asynchronous-unwind-tables"; fi
options=(
  -DCMAKE_BUILD_TYPE=MinSizeRel -DFORCE_INLINE=OFF "-DCMAKE_C_FLAGS=$cflags"
  -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=OFF -DWITH_ARITH_ENC=OFF
  -DCMAKE_POSITION_INDEPENDENT_CODE=OFF)
# Decoder features that the programs never ask for, taken out of the
# library's own configuration (jmorecfg.h): output scaled by the inverse DCT
# (the programs decode at full size), the fast and floating-point inverse
# DCTs (they use the default, the accurate integer one), merged upsampling
# (used only without fancy upsampling, which is on by default) and colour
# quantisation (they ask for 24-bit output). At full size, with the default
# settings, the decoder's output is the same without them.
unsupported=(IDCT_SCALING DCT_IFAST DCT_FLOAT UPSAMPLE_MERGING QUANT_1PASS QUANT_2PASS)
toolchain=$(dirname "$0")/../cmake/toolchain-$arch-w64-mingw32.cmake
. "$(dirname "$0")/deps_common.sh"
deps_begin libjpeg "$arch" "$(cat "$toolchain") ${options[*]} ${unsupported[*]}"

src=$deps/src
if ! ls -d "$src"/libjpeg-turbo-*/ >/dev/null 2>&1; then
  rm -rf "$src"; mkdir -p "$src"
  (cd "$src" && apt-get source --download-only -q libjpeg-turbo >/dev/null 2>&1)
  (cd "$src" && for f in libjpeg-turbo_*.orig.tar.*; do tar xf "$f"; done)
fi
srcdir=$(ls -d "$src"/libjpeg-turbo-*/ | head -n 1)

work=$deps/libjpeg-build-$arch
rm -rf "$work" "$prefix"
mkdir -p "$work"
cp -a "$srcdir" "$work/src"
for feature in "${unsupported[@]}"; do
  sed -i "s/^#define ${feature}_SUPPORTED\b/#undef ${feature}_SUPPORTED/" "$work/src/jmorecfg.h"
  grep -q "^#undef ${feature}_SUPPORTED\b" "$work/src/jmorecfg.h"
done
cmake -S "$work/src" -B "$work/build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-$arch-w64-mingw32.cmake" \
  -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" -Wno-dev >/dev/null 2>&1
cmake --build "$work/build" --target install >/dev/null
rm -rf "$work"
deps_done
