#!/bin/sh
# Plays Driveward's story under Wine: the tray icon, a stick plugged in, a log-off refused
# with the device list, the stick ejected, the log-off granted. It uses the test-only
# simulated-devices Driveward.exe (Wine has no USB) and the real companion service, in a
# Wine prefix of its own. On your DISPLAY when there is one, else on a private Xvfb.
# Each run keeps its screenshots and log in build/windows/demo/runs/<run>; it leaves no
# Wine or Xvfb process behind.
#   demo.sh [--no-build]
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
if [ "${1:-}" != "--no-build" ]; then
    sh scripts/install-deps.sh
    cmake --preset windows >/dev/null
    cmake --build --preset windows --target DrivewardSimulated DrivewardService demo_story >/dev/null
fi
bin="$root/build/windows/bin"
demo="$root/build/windows/demo"
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
    echo "Creating the demo's Wine prefix (once): $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi
# Without a window manager (a private Xvfb) Wine draws the windows' frames itself.
if [ "$private_display" = yes ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
else
    wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1 || true
fi

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
for bmp in "$shots"/*.bmp; do
    [ -f "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done

echo
echo "Screenshots: $shots"
echo "Client log:  $app/logs/Driveward client/$(date +%Y%m%d).txt"
echo "Service log: $app/logs/Driveward service/$(date +%Y%m%d).txt"
echo "Again:       sh scripts/run.sh"
echo "The real tray monitor alone (no simulated sticks):  sh scripts/run.sh tray"
exit $status
