#!/bin/sh
# SPDX-License-Identifier: MIT
# Rebuilds the sample frames (needs ImageMagick 6 and Pillow). The picture is
# a red F on blue, 16 x 12, with a yellow top-left and a green bottom-right
# pixel, so that a flip, a mirror or a red/blue swap shows.
#   frame01.tga  uncompressed color, Pillow
#   frame02.tga  uncompressed gray, Pillow
#   frame03.tga  RLE color, ImageMagick: no footer, ends in a 4-byte run packet
#   frame04.tga  RLE color, Pillow: with footer
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
python3 - "$tmp/f.png" <<'PY'
import sys
from PIL import Image
img = Image.new("RGB", (16, 12), (0, 0, 200))
red = (230, 20, 20)
for y in range(2, 10):
    for x in (3, 4):
        img.putpixel((x, y), red)
for x in range(3, 11):
    img.putpixel((x, 2), red)
    img.putpixel((x, 3), red)
for x in range(3, 9):
    img.putpixel((x, 6), red)
img.putpixel((0, 0), (250, 250, 0))
img.putpixel((15, 11), (0, 220, 0))
img.save(sys.argv[1])
img.save("frame01.tga")
img.convert("L").save("frame02.tga")
img.save("frame04.tga", compression="tga_rle")
PY
# ImageMagick 6 stores rows top first but marks the file bottom-left: -flip
# puts them the right way up.
convert "$tmp/f.png" -flip -type TrueColor -compress RLE frame03.tga
