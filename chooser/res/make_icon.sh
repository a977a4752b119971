#!/usr/bin/env bash
# Draws the confirm button's go icon with ImageMagick: 16 x 16, 32 bits per
# pixel with alpha, a white arrow pointing right on a green square with soft
# corners. Writes res/go.ico and the byte list that the program embeds
# (res/go_icon.inc). Output is committed; rerun after changing the picture.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

convert -size 16x16 xc:none -fill '#1f9d3a' -draw 'roundrectangle 0,0 15,15 3,3' \
  -fill white -stroke none -draw 'polygon 3,6 8,6 8,3 13,8 8,13 8,10 3,10' \
  -alpha set -define icon:auto-resize=16 "$here/go.ico"

# One icon directory entry, one 16 x 16 image at 32 bits: 1,150 bytes.
size=$(stat -c %s "$here/go.ico")
if [ "$size" -ne 1150 ]; then
  echo "make_icon: go.ico has $size bytes, expected 1150" >&2
  exit 1
fi

{
  echo "// Made by res/make_icon.sh from res/go.ico; do not edit."
  od -An -v -tx1 "$here/go.ico" | sed -e 's/^ *//' -e 's/\([0-9a-f][0-9a-f]\)/0x\1,/g'
} > "$here/go_icon.inc"
