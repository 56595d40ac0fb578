#!/bin/sh
# Installs what is missing and builds Driveward, then
#   run.sh        plays Driveward's story under Wine with simulated sticks (scripts/demo.sh);
#   run.sh tray   starts the real tray monitor with its companion service installed in the
#                 tray's own Wine prefix, and leaves it running, on your DISPLAY or on a
#                 private Xvfb.
# It says what it does as it goes: the build lists its steps, and a slow step says every
# 20 s that it is still going.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
mode=${1:-story}
started=$(date +%s)

say() { printf '[%3d s] %s\n' "$(($(date +%s) - started))" "$*"; }

# Runs the command; while it runs, a line every 20 s says that it still does.
keep_talking() {
    what=$1
    shift
    (
        n=0
        while sleep 1; do
            n=$((n + 1))
            if [ $((n % 20)) -eq 0 ]; then say "... still $what"; fi
        done
    ) &
    talker=$!
    rc=0
    "$@" || rc=$?
    kill "$talker" 2>/dev/null || true
    wait "$talker" 2>/dev/null || true
    return $rc
}

# A demo still going is said before anything is built: the build would be for nothing.
demo="$root/build/windows/demo"
if [ "$mode" != tray ] && [ -f "$demo/running.pid" ] && kill -0 "$(cat "$demo/running.pid")" 2>/dev/null; then
    echo "An earlier run of the demo is still going (process $(cat "$demo/running.pid"))."
    echo "Wait for it to end, or stop it with:  kill $(cat "$demo/running.pid")"
    exit 3
fi

if [ "$mode" = tray ]; then
    targets="Driveward DrivewardService"
    say "Driveward: install what is missing, build, then start the tray monitor and its companion service under Wine."
else
    targets="DrivewardSimulated DrivewardService demo_story"
    say "Driveward: install what is missing, build, then play its story under Wine (five steps, a picture of each)."
fi
if [ ! -f build/windows/build.ninja ]; then
    say "First run: the build (about 75 steps, each listed below) takes about a minute on 2 cores,"
    say "and the Wine prefix about 15 s more (missing packages, when there are any, come on top)."
    say "Later runs take about 20 s."
fi

say "Checking the packages (scripts/install-deps.sh)"
keep_talking "installing packages" sh scripts/install-deps.sh
say "Configuring the MinGW-w64 cross build (build/windows)"
keep_talking "configuring" cmake --preset windows >/dev/null
say "Building $targets"
keep_talking "building" cmake --build --preset windows --target $targets
say "Built."

if [ "$mode" != tray ]; then
    exec sh scripts/demo.sh
fi

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
        say "No DISPLAY: started a private Xvfb on $DISPLAY"
    fi
    export DISPLAY
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the tray's Wine prefix (once, about 15 s): $WINEPREFIX"
fi
sh scripts/wine-prefix.sh

# The companion service, installed into this prefix once, as the MSI installs it: demand
# start, its path quoted. The tray monitor starts it and stops it.
service=DrivewardService
if ! wine sc query "$service" </dev/null >/dev/null 2>&1; then
    say "Installing the companion service $service into the prefix"
    wine sc create "$service" binPath= "\"$(winepath -w "$bin/DrivewardService.exe")\"" </dev/null >/dev/null 2>&1
fi

log_file="$bin/Driveward client/$(date +%Y%m%d).txt"
service_log="$bin/Driveward service/$(date +%Y%m%d).txt"
# Only this run's lines count: the logs may hold earlier runs' lines.
start_line=$(($( (cat "$log_file" 2>/dev/null || true) | wc -l) + 1))
service_start=$(($( (cat "$service_log" 2>/dev/null || true) | wc -l) + 1))
say "Starting the tray monitor: $bin/Driveward.exe"
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
service_state=""
if [ "$outcome" = started ]; then
    # The start-up goes on after the mode line: the service check starts the service.
    tries=0
    while [ $tries -lt 30 ]; do
        service_state=$(wine sc query "$service" </dev/null 2>/dev/null | sed -n 's/.*STATE *: *[0-9]* *\([A-Z_]*\).*/\1/p')
        [ "$service_state" = RUNNING ] && break
        tail -n "+$start_line" "$log_file" 2>/dev/null | grep -q "Error:" && break
        sleep 1
        tries=$((tries + 1))
    done
    sleep 1 # the lines that follow the start
fi
echo
case "$outcome" in
started) echo "Driveward's tray monitor runs under Wine (display $DISPLAY); its companion service: ${service_state:-unknown}." ;;
refused | ended)
    echo "Driveward's tray monitor is already running in this Wine prefix; this second one is refused."
    kill "$pid" >/dev/null 2>&1 || true
    ;;
*) echo "Driveward's tray monitor did not report its start within 30 s." ;;
esac
# This run's lines, without the device reports' detail lines.
if [ -f "$log_file" ]; then
    echo "Log: $log_file"
    tail -n "+$start_line" "$log_file" | grep -v "^\s*[A-Z][A-Za-z-]* = \|^\s*$\|- ---" | sed 's/^/   /' || true
fi
if [ -f "$service_log" ]; then
    echo "Service log: $service_log"
    tail -n "+$service_start" "$service_log" | sed 's/^/   /' || true
fi
echo
if [ -f "$bin/Driveward.ini" ]; then
    echo "Settings: $bin/Driveward.ini (section GENERAL, keys DEBUG and LogPath)"
else
    echo "Settings: the defaults (no Driveward.ini beside Driveward.exe; README, \"Settings\")"
fi
echo "End its session (an orderly exit):  WINEPREFIX=\"$WINEPREFIX\" WINEDEBUG=-all DISPLAY=$DISPLAY wineboot --end-session"
echo "Stop everything in the prefix:      WINEPREFIX=\"$WINEPREFIX\" wineserver -k"
if [ -f "$state/xvfb.pid" ]; then echo "Stop the private Xvfb:              kill \$(cat \"$state/xvfb.pid\")"; fi
exit 0
