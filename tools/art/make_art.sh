#!/usr/bin/env bash
# Draws the project's own artwork with ImageMagick, so that nobody else's
# pictures are used. Output is committed; rerun after changing a picture.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)

# Program icon (resource 1 of both programs): a green disc with a white check.
convert -size 32x32 xc:none -fill '#2e8b3e' -draw 'circle 15.5,15.5 15.5,1' \
  -stroke white -strokewidth 3 -fill none -draw 'polyline 8,16 14,22 24,10' \
  -define icon:auto-resize=32,16 "$root/common/res/app.ico"
