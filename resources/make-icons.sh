#!/bin/sh
# Draws the device list's two tree pictures (a computer, a USB drive) and the tray icon's
# status picture (the program's icon in grey) at 16, 24 and 32 pixels (96, 144 and 192
# DPI), and packs each into an icon file. Run once with ImageMagick when the pictures
# change; the icon files are committed.
set -eu
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32; do
    s="scale $(echo "$size / 48" | bc -l) $(echo "$size / 48" | bc -l)"
    convert -size "${size}x${size}" xc:none -stroke '#303030' -strokewidth 2 \
        -draw "$s fill '#5a5a5a' roundrectangle 3,6 45,34 3,3" \
        -draw "$s fill '#3a78c8' rectangle 7,10 41,30" \
        -draw "$s fill '#5a5a5a' rectangle 20,34 28,40" \
        -draw "$s fill '#5a5a5a' roundrectangle 10,40 38,44 2,2" \
        "$work/computer-$size.png"
    convert -size "${size}x${size}" xc:none -stroke '#202840' -strokewidth 2 \
        -draw "$s fill '#c0c4cc' rectangle 32,17 46,31" \
        -draw "$s fill '#202840' rectangle 37,21 40,23" \
        -draw "$s fill '#202840' rectangle 37,26 40,28" \
        -draw "$s fill '#2b4f9e' roundrectangle 2,12 33,36 4,4" \
        -draw "$s fill '#54d454' stroke none circle 9,24 11,24" \
        "$work/drive-$size.png"
done
convert "$work"/computer-16.png "$work"/computer-24.png "$work"/computer-32.png Computer.ico
convert "$work"/drive-16.png "$work"/drive-24.png "$work"/drive-32.png Drive.ico
for size in 16 24 32; do
    convert "Driveward.ico[1]" -resize "${size}x${size}" -colorspace Gray -channel A \
        -evaluate multiply 0.8 +channel "$work/status-$size.png"
done
convert "$work"/status-16.png "$work"/status-24.png "$work"/status-32.png Status.ico
