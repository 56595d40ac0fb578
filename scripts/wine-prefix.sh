#!/bin/sh
# Makes the Wine prefix in $WINEPREFIX ready for Driveward: created when it is missing, and
# given the Marlett font. Used by every prefix the project makes (the demo's, the tray
# run's, the tests').
#
# Why Marlett is copied: Wine draws the title-bar buttons (close, minimise, maximise) as
# Marlett glyphs. Debian's fonts-wine puts marlett.ttf into /usr/share/wine/fonts, but
# Wine 8 as Debian builds it never looks there (WINEDEBUG=+font lists only the prefix's
# C:\windows\Fonts and fontconfig's folders, and strace shows no access to that folder),
# and fontconfig does not know the folder either. Without the font the buttons read
# "0 1 r". A font in the prefix's own C:\windows\Fonts is always loaded.
#   wine-prefix.sh
set -eu
: "${WINEPREFIX:?set WINEPREFIX}"
marlett=/usr/share/wine/fonts/marlett.ttf

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # The prefix is ready only once wineboot and its background work are done.
    # A server of an earlier prefix on the same path may still be going away: try twice.
    if ! wineboot -i </dev/null >/dev/null 2>&1; then
        wineserver -k >/dev/null 2>&1 || true
        sleep 1
        wineboot -i </dev/null >/dev/null 2>&1
    fi
    wineserver -w
fi
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ ! -f "$fonts/marlett.ttf" ]; then
    if [ -f "$marlett" ]; then
        mkdir -p "$fonts"
        cp "$marlett" "$fonts/marlett.ttf"
    else
        echo "No $marlett (package fonts-wine): title-bar buttons will read \"0 1 r\"." >&2
    fi
fi
