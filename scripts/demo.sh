#!/bin/sh
# Plays Driveward's story under Wine: the tray icon, a stick plugged in, a log-off refused
# with the device list, the stick ejected, the log-off granted. It uses the test-only
# simulated-devices Driveward.exe (Wine has no USB) and the real companion service, in a
# Wine prefix of its own. On your DISPLAY when there is one, else on a private Xvfb.
# Each run keeps its pictures (one per step and a storyboard of the five) and its logs in
# DIR/runs/<run>; it leaves no Wine or Xvfb process behind. It builds nothing:
# scripts/run.sh builds first, then calls it.
#   demo.sh [--dir DIR]     DIR: build/windows/demo by default; the tests use their own
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
bin="$root/build/windows/bin"
demo="$root/build/windows/demo"
if [ "${1:-}" = "--dir" ]; then
    demo=$2
fi
mkdir -p "$demo"
export WINEPREFIX="$demo/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# One run at a time in the demo's prefix; an earlier one still going is left alone.
if [ -f "$demo/running.pid" ] && kill -0 "$(cat "$demo/running.pid")" 2>/dev/null; then
    echo "An earlier run of the demo is still going (process $(cat "$demo/running.pid"))."
    echo "Wait for it to end, or stop it with:  kill $(cat "$demo/running.pid")"
    exit 3
fi
echo $$ >"$demo/running.pid"

xvfb_pid=""
finish() {
    WINEPREFIX="$demo/prefix" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$demo/prefix" wineserver -w >/dev/null 2>&1 || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
    rm -f "$demo/running.pid"
}
trap finish EXIT
trap 'exit 130' INT TERM

if [ -z "${DISPLAY:-}" ]; then
    n=80
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    xvfb_pid=$!
    tries=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    export DISPLAY=":$n"
    private_display=yes
else
    private_display=no
fi

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the demo's Wine prefix (once, about 15 s): $WINEPREFIX"
fi
sh scripts/wine-prefix.sh
# Without a window manager (a private Xvfb) Wine draws the windows' frames itself.
if [ "$private_display" = yes ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
else
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
fi
# The desktop process that reg started read the setting before reg wrote it; it must end,
# so that the notification area is made by one that reads it (else its frame is not drawn).
wineserver -w

run="$demo/runs/$(date +%Y%m%d-%H%M%S)-$$"
app="$run/app"
shots="$run/screenshots"
mkdir -p "$app" "$shots"
cp "$bin/simulated/Driveward.exe" "$bin/DrivewardService.exe" "$app/"
windows_app="Z:$(printf '%s' "$app" | tr '/' '\\')"
for ini in Driveward.ini DrivewardService.ini; do
    printf '[GENERAL]\r\nDEBUG=1\r\nLogPath=%s\\logs\r\n' "$windows_app" >"$app/$ini"
done

echo "Driveward's story under Wine (display $DISPLAY), run $run"
status=0
wine "$bin/tests/demo_story.exe" "$app" "$shots" </dev/null 2>/dev/null || status=$?
if [ $status -ne 3 ]; then
    echo
    echo "Drawing the pictures and the storyboard"
    sh scripts/story-pictures.sh "$shots" || { [ $status -ne 0 ] || status=1; }
fi

echo
echo "Pictures:    $shots"
[ -f "$shots/storyboard.png" ] && echo "Storyboard:  $shots/storyboard.png"
for log in "$app/logs/Driveward client" "$app/logs/Driveward service"; do
    file="$log/$(date +%Y%m%d).txt"
    [ -f "$file" ] && printf '%-12s %s\n' "$(basename "$log" | sed 's/Driveward //'):" "$file"
done
echo "Again:       sh scripts/run.sh"
echo "The real tray monitor alone (no simulated sticks):  sh scripts/run.sh tray"
exit $status
