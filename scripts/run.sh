#!/bin/sh
# Installs what is missing, builds Driveward for Windows and starts its tray monitor under
# Wine: on the caller's display, or on a private Xvfb when there is none.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
sh scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target Driveward

bin="$root/build/windows/bin"
state="$root/build/windows/run"
mkdir -p "$state"
export WINEPREFIX="$state/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

if [ -z "${DISPLAY:-}" ]; then
    n=70
    while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
    nohup Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    echo $! >"$state/xvfb.pid"
    tries=0
    while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
    export DISPLAY=":$n"
    echo "No DISPLAY: started a private Xvfb on $DISPLAY"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    wineboot -i </dev/null >/dev/null 2>&1
    wineserver -w
fi

nohup wine "$bin/Driveward.exe" </dev/null >"$state/wine-output.txt" 2>&1 &
echo "Driveward's tray monitor is starting under Wine (process $!)"

log_dir="$bin/Driveward client"
log_file="$log_dir/$(date +%Y%m%d).txt"
tries=0
while ! grep -q "Mode = csNormal\|already running" "$log_file" 2>/dev/null && [ $tries -lt 300 ]; do
    sleep 0.1
    tries=$((tries + 1))
done
echo
echo "Log: $log_file"
[ -f "$log_file" ] && tail -n 5 "$log_file"
echo
echo "Settings: $bin/Driveward.ini (section GENERAL, keys DEBUG and LogPath)"
echo "Stop it:  WINEPREFIX=\"$WINEPREFIX\" DISPLAY=$DISPLAY wineboot --end-session   # ends the session: orderly exit"
echo "          WINEPREFIX=\"$WINEPREFIX\" wineserver -k"
[ -f "$state/xvfb.pid" ] && echo "          kill \$(cat \"$state/xvfb.pid\")   # the private Xvfb"
