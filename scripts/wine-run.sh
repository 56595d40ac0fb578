#!/bin/sh
# Runs one Windows program in the test run's Wine prefix: wine-run.sh DIR PROGRAM [ARGS...]
set -eu
dir=$1
shift
# A test may prefer native DLLs of its own through WINEDLLOVERRIDES; the Mono and Gecko
# installers stay off either way.
export WINEPREFIX="$dir/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
if [ -z "${DISPLAY:-}" ] && [ -f "$dir/display" ]; then
    DISPLAY=$(cat "$dir/display")
    export DISPLAY
fi
# Wine starts background processes (services, the desktop) that inherit the standard
# handles and outlive the program; through a file they cannot hold the runner's pipe open.
output=$(mktemp)
trap 'rm -f "$output"' EXIT
# A test reads what Wine printed for the programs it started (wintest::WineOutput).
export DRIVEWARD_WINE_OUTPUT="$output"
status=0
wine "$@" >"$output" 2>&1 </dev/null || status=$?
cat "$output"
exit $status
