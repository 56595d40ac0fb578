#!/bin/sh
# Creates (setup) or removes (cleanup) the throw-away Wine prefix of one test run, and a
# private Xvfb display when the caller has none.
#   wine-env.sh setup|cleanup DIR
set -eu
action=$1
dir=$2
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

stop_everything() {
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" >/dev/null 2>&1 || true
        rm -f "$dir/xvfb.pid" "$dir/display"
    fi
}

case "$action" in
setup)
    stop_everything
    rm -rf "$WINEPREFIX"
    mkdir -p "$dir"
    if [ -z "${DISPLAY:-}" ]; then
        n=90
        while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
        echo $! >"$dir/xvfb.pid"
        echo ":$n" >"$dir/display"
        tries=0
        while [ ! -e "/tmp/.X11-unix/X$n" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
        export DISPLAY=":$n"
    fi
    sh "$(dirname "$0")/wine-prefix.sh"
    # Without a window manager on Xvfb, Wine draws the windows' frames and captions itself
    # only for unmanaged windows: the screenshots then show them as a user sees them.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wineserver -w
    # One persistent server for the whole run; it must not hold the runner's output open.
    wineserver -p </dev/null >/dev/null 2>&1
    # Start the prefix's background processes now, with nothing of ours inherited.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    echo "Wine prefix ready in $WINEPREFIX (display ${DISPLAY})"
    ;;
cleanup)
    stop_everything
    rm -rf "$WINEPREFIX"
    echo "Wine prefix removed"
    ;;
*)
    echo "usage: $0 setup|cleanup DIR" >&2
    exit 2
    ;;
esac
