#!/bin/sh
# Measures this tree against older commits, side by side in one run under Wine:
#   sh scripts/benchmark.sh [OLD_LOG_COMMIT [OLD_LIST_COMMIT]]
# One commit given serves both. Defaults:
#   OLD_LOG_COMMIT  6538d64, the commit before the log folder checks (9e8583e, "Write logs
#                   only into folders that are no link and that others cannot change")
#   OLD_LIST_COMMIT a755ca1, the commit before the bounded query worker (5428b21, "Query
#                   drives on a worker, the GUI thread waiting with a bound")
# It prints two comparisons, each as medians and the ratio new/old:
#   - the cost of one log line: tests/windows/bench/LogLineBench_win.cpp, built against
#     each tree's own log (TLog::Add into a local folder), LOG_ROUNDS processes per tree
#     of LOG_LINES lines each;
#   - the device list's start (`Driveward.exe 2` of the simulated-devices variant, 24
#     drives, DEBUG off, until its window shows), LIST_ROUNDS starts per tree.
# Old and new take turns (old, new, old, new...) so that the load of a shared machine
# falls on both alike. Environment: LOG_ROUNDS (default 15), LOG_LINES (100),
# LIST_ROUNDS (21).
#
# Each older commit is unpacked (git archive) into build/bench/<commit>/ and built there
# with the windows preset, only the targets needed; the folder is kept so that the next
# run builds nothing again. The current tree is built in build/windows. The Wine prefix
# (build/bench/wine) is made for the run and removed after it. Nothing here is a test:
# no timing is asserted anywhere.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
bench=$root/build/bench
old_log=${1:-6538d64}
old_list=${2:-${1:-a755ca1}}
log_rounds=${LOG_ROUNDS:-15}
log_lines=${LOG_LINES:-100}
list_rounds=${LIST_ROUNDS:-21}
bench_name=benchmark
. scripts/bench-common.sh

say() { printf '%s\n' "$*"; }

# Unpacks a commit once into build/bench/<commit>/src; prints that folder.
unpack() { # COMMIT
    sha=$(commit_of "$1")
    src=$bench/$sha/src
    if unpack_commit "$sha" "$src"; then
        # The log bench of this tree, built against the older tree's own libraries.
        cat >>"$src/CMakeLists.txt" <<'EOF'

# Added by scripts/benchmark.sh: the log line benchmark of the newer tree.
if(WIN32 AND NOT TARGET log_line_bench)
    add_executable(log_line_bench bench/LogLineBench_win.cpp)
    target_link_libraries(log_line_bench PRIVATE driveward_win32)
endif()
EOF
    fi
    mkdir -p "$src/bench"
    cmp -s tests/windows/bench/LogLineBench_win.cpp "$src/bench/LogLineBench_win.cpp" ||
        cp tests/windows/bench/LogLineBench_win.cpp "$src/bench/LogLineBench_win.cpp"
    printf '%s\n' "$src"
}

say "Building the current tree (build/windows)..."
build_tree "$root" "$bench/build-current.log" DrivewardSimulated log_line_bench window_startup_bench
new_bin=$root/build/windows/bin
log_src=$(unpack "$old_log")
list_src=$(unpack "$old_list")
say "Building $old_log for the log ($log_src)..."
build_tree "$log_src" "$bench/build-old-log.log" log_line_bench
say "Building $old_list for the device list ($list_src)..."
build_tree "$list_src" "$bench/build-old-list.log" DrivewardSimulated

# Each program in a folder of its own, with the same INI and 24 drives: the system disk
# and 23 sticks.
for side in old new; do
    dir=$bench/list-$side
    rm -rf "$dir"
    mkdir -p "$dir"
    printf '[GENERAL]\nDEBUG=0\n' >"$dir/Driveward.ini"
    {
        echo "C:        fixed       476940    120000   SYSTEM"
        for letter in D E F G H I J K L M N O P Q R S T U V W X Y Z; do
            echo "$letter:        stick       980       12.5     STICK$letter"
        done
    } >"$dir/Driveward.devices"
done
cp "$list_src/build/windows/bin/simulated/Driveward.exe" "$bench/list-old/"
cp "$new_bin/simulated/Driveward.exe" "$bench/list-new/"
old_log_bench=$(find "$log_src/build/windows" -name log_line_bench.exe | head -n 1)
[ -n "$old_log_bench" ] || fail "no log_line_bench.exe in $log_src/build/windows"
cp "$old_log_bench" "$bench/log-bench-old.exe"
cp "$new_bin/tests/log_line_bench.exe" "$bench/log-bench-new.exe"
cp "$new_bin/tests/window_startup_bench.exe" "$bench/"

wine_prefix_up "$bench/wine"

say "Log line: $log_rounds processes of $log_lines lines per tree, old and new in turn..."
drive_c=$WINEPREFIX/drive_c
rm -rf "$drive_c/DrivewardBench"
: >"$bench/log-old.txt"
: >"$bench/log-new.txt"
round=0
while [ $round -lt "$log_rounds" ]; do
    for side in old new; do
        out=$(wine "$bench/log-bench-$side.exe" "$log_lines" "C:\\DrivewardBench\\$side") ||
            fail "the $side log bench failed: $out"
        printf '%s\n' "$out" | awk '/^per line/ { print $3 }' >>"$bench/log-$side.txt"
    done
    round=$((round + 1))
done
log_old=$(median <"$bench/log-old.txt")
log_new=$(median <"$bench/log-new.txt")

say "Device list start: $list_rounds starts per tree, old and new in turn..."
list_out=$(wine "$bench/window_startup_bench.exe" "$list_rounds" \
    "$(winepath -w "$bench/list-old/Driveward.exe")" 2 TFormUSBDevices \
    "$(winepath -w "$bench/list-new/Driveward.exe")") || fail "the list bench failed: $list_out"
printf '%s\n' "$list_out" >"$bench/list.txt"
list_old=$(printf '%s\n' "$list_out" | awk '/median/ { print $4; exit }')
list_new=$(printf '%s\n' "$list_out" | awk '/median/ { n++; if (n == 2) print $4 }')
for file in "$bench"/list-*/Driveward\ client/*.txt; do
    if grep -q "does not answer\|not queried" "$file" 2>/dev/null; then
        say "warning: a drive missed its bound in $file: the machine was too busy to compare"
    fi
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b / a }'; }
say ""
say "Results ($(date -u '+%Y-%m-%d %H:%M UTC'), medians, new/old):"
printf '  log line        old %s %.4f ms  new %.4f ms  ratio %s  (%s processes x %s lines each)\n' \
    "$old_log" "$log_old" "$log_new" "$(ratio "$log_old" "$log_new")" "$log_rounds" "$log_lines"
printf '  device list     old %s %s ms  new %s ms  ratio %s  (%s starts each, 24 drives, DEBUG off)\n' \
    "$old_list" "$list_old" "$list_new" "$(ratio "$list_old" "$list_new")" "$list_rounds"
