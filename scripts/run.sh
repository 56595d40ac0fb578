#!/bin/sh
# Installs what is missing and builds Driveward, then
#   run.sh        plays Driveward's story under Wine with simulated sticks (scripts/demo.sh);
#   run.sh tray   starts the real tray monitor alone and leaves it running, on your DISPLAY
#                 or on a private Xvfb.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
if [ "${1:-}" != "tray" ]; then
    exec sh scripts/demo.sh "$@"
fi

sh scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Driveward DrivewardService >/dev/null

bin="$root/build/windows/bin"
state="$root/build/windows/run"
mkdir -p "$state"
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -z "${DISPLAY:-}" ]; then
    # The private Xvfb of an earlier run is used again rather than left beside a new one.
    if [ -f "$state/xvfb.pid" ] && [ -f "$state/display" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
        DISPLAY=$(cat "$state/display")
    else
        n=70
        while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
        nohup Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        echo $! >"$state/xvfb.pid"
        echo ":$n" >"$state/display"
        tries=0
        while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
        DISPLAY=":$n"
        echo "No DISPLAY: started a private Xvfb on $DISPLAY"
    fi
    export DISPLAY
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi

log_file="$bin/Driveward client/$(date +%Y%m%d).txt"
# Only this run's lines count: the log may hold earlier runs' lines.
start_line=$(( $( (cat "$log_file" 2>/dev/null || true) | wc -l) + 1))
nohup wine "$bin/Driveward.exe" </dev/null >"$state/wine-output.txt" 2>&1 &
pid=$!

tries=0
outcome=""
while [ -z "$outcome" ] && [ $tries -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
    if tail -n "+$start_line" "$log_file" 2>/dev/null | grep -q "Mode = csNormal"; then
        outcome=started
    elif ! kill -0 "$pid" 2>/dev/null; then
        outcome=ended
    elif tail -n "+$start_line" "$log_file" 2>/dev/null | grep -q "TokenPrivilege\|Versie" &&
        [ $tries -gt 50 ]; then
        outcome=refused # the start lines, then no mode: the "already running" box is up
    fi
done
echo
case "$outcome" in
started) echo "Driveward's tray monitor runs under Wine (display $DISPLAY)." ;;
refused | ended)
    echo "Driveward's tray monitor is already running in this Wine prefix; this second one is refused."
    kill "$pid" >/dev/null 2>&1 || true
    ;;
*) echo "Driveward's tray monitor did not report its start within 30 s." ;;
esac
echo "Log: $log_file"
tail -n "+$start_line" "$log_file" 2>/dev/null | grep -v "^\s*[A-Z][A-Za-z-]* = \|^\s*$" | tail -n 8 || true
echo
echo "Settings: $bin/Driveward.ini (section GENERAL, keys DEBUG and LogPath)"
echo "End its session (an orderly exit):  WINEPREFIX=\"$WINEPREFIX\" WINEDEBUG=-all DISPLAY=$DISPLAY wineboot --end-session"
echo "Stop everything in the prefix:      WINEPREFIX=\"$WINEPREFIX\" wineserver -k"
[ -f "$state/xvfb.pid" ] && echo "Stop the private Xvfb:              kill \$(cat \"$state/xvfb.pid\")"
exit 0
