#!/bin/sh
# Turns the demo's screenshots into its pictures: checks that each of the six pictures of
# the five steps was saved and that none is blank (one colour), draws each step's story
# (NN-name.txt) beside its screenshot, widens the small ones so that they can be read, and
# puts the six, each with its caption (captions.txt), into storyboard.png. Exit code 1 when a picture is missing
# or blank.
#   story-pictures.sh SCREENSHOTS
set -eu
shots=$1
font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
[ -f "$font" ] || font=DejaVu-Sans
status=0

for name in 01-tray-icon 02-stick-plugged-in 03-log-off-refused 04-eject-refused 04-stick-ejected \
    05-log-off-granted; do
    bmp="$shots/$name.bmp"
    png="$shots/$name.png"
    if [ ! -f "$bmp" ]; then
        echo "Picture missing: $name" >&2
        status=1
        continue
    fi
    colours=$(convert "$bmp" -format %k info:)
    if [ "$colours" -le 1 ]; then
        echo "Picture blank (one colour): $name" >&2
        status=1
    fi
    width=$(convert "$bmp" -format %w info:)
    # The notification area is a strip of a few pixels: twice the size, pixels kept sharp.
    scale=100%
    [ "$width" -lt 480 ] && scale=200%
    story=""
    [ -f "$shots/$name.txt" ] && story=$(sed 's/%/%%/g' "$shots/$name.txt")
    if [ -n "$story" ]; then
        convert \( "$bmp" -filter point -resize "$scale" \) \
            \( -background '#fffbe6' -fill black -font "$font" -pointsize 15 -size 520x \
            -bordercolor '#fffbe6' caption:"$story" -border 12 \) \
            -background white -gravity north +append +repage -depth 8 "$png"
    else
        convert "$bmp" -filter point -resize "$scale" -depth 8 "$png"
    fi
    rm -f "$bmp"
done

# The storyboard: the six pictures, each under its caption, two to a row.
if [ $status -eq 0 ] && [ -f "$shots/captions.txt" ]; then
    set --
    while IFS='|' read -r name caption; do
        [ -f "$shots/$name.png" ] || continue
        convert \( -background white -fill '#1a1a60' -font "$font" -pointsize 22 \
            -size 1100x caption:"$(printf '%s' "$caption" | sed 's/%/%%/g')" \) \
            \( "$shots/$name.png" -resize '1100x520>' \) \
            -background white -gravity center -append -bordercolor white -border 16 \
            "$shots/tile-$name.png"
        set -- "$@" "$shots/tile-$name.png"
    done <"$shots/captions.txt"
    # 256 colours are plenty for windows and text, and keep the file small.
    montage "$@" -tile 2x -geometry +8+8 -background '#d8d8d8' -depth 8 -colors 256 \
        "$shots/storyboard.png"
    rm -f "$@"
fi
exit $status
