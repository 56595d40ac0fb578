#!/bin/sh
# Turns the screenshots a Wine test saved as BMP files into PNG files beside them.
#   screenshots-to-png.sh DIR
set -eu
dir=$1
[ -d "$dir" ] || exit 0
count=0
for bmp in "$dir"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png"
    rm -f "$bmp"
    count=$((count + 1))
done
echo "$count screenshot(s) in $dir"
