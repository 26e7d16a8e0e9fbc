#!/usr/bin/env bash
# Runs the recipes of docs/discharge_image.md for looking at the images on the sample run's
# July (made by tools/run_sample.sh): PNG files with netpbm's pnmtopng and
# with ImageMagick, and an animated GIF of the month with ImageMagick; then
# checks what they made. CI runs it, so that the recipes stay right.
set -euo pipefail
cd "$(dirname "$0")/../build/sample/output"
rm -rf png july.gif
mkdir png

# The recipes, as docs/discharge_image.md gives them.
for f in image/201907_*_discharge.ppm; do pnmtopng "$f" > "png/$(basename "$f" .ppm).png"; done
convert "image/201907_  12_discharge.ppm" day12.png
LC_ALL=C convert -delay 25 -loop 0 image/201907_*_discharge.ppm july.gif

# What they made: 31 PNG files, one more from ImageMagick, and a GIF of 31
# frames in the order of the days.
[ "$(find png -name '*.png' | wc -l)" -eq 31 ]
[ "$(identify -format '%wx%h\n' day12.png)" = 600x500 ]
[ "$(identify july.gif | wc -l)" -eq 31 ]
cmp <(convert "july.gif[11]" ppm:- | md5sum) <(convert day12.png ppm:- | md5sum)
echo "The recipes made 31 PNG files, day12.png and the 31 frames of july.gif."
