#!/bin/sh
# Measures the MSI of this tree against an older commit's, side by side in one run under
# Wine:
#   sh scripts/benchmark-msi.sh [OLD_COMMIT]
# Default OLD_COMMIT: 01c1bf2, the commit before upgrades kept the service running and the
# build number moved into the MSI's ProductVersion.
# It prints each MSI's size and the medians of two silent operations, each timed around
# msiexec /qn: a first installation on a machine without Driveward, and an upgrade of the
# build before (old: its 0.0.1.0 test MSI, then 0.1.0.1; new: build 1, then build 2).
# Old and new take turns, so that the load of a shared machine falls on both alike.
# Environment: MSI_ROUNDS (default 5). Nothing here is a test: no timing is asserted.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
bench=$root/build/bench
old=${1:-01c1bf2}
rounds=${MSI_ROUNDS:-5}
if command -v ccache >/dev/null 2>&1; then
    export CMAKE_CXX_COMPILER_LAUNCHER=ccache CMAKE_C_COMPILER_LAUNCHER=ccache
fi
mkdir -p "$bench"

fail() {
    printf 'benchmark-msi: %s\n' "$*" >&2
    exit 1
}

sha=$(git rev-parse --verify --quiet "$old^{commit}") || fail "no commit $old"
src=$bench/msi-$sha/src
if [ ! -f "$src/CMakeLists.txt" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    git archive "$sha" | tar -x -C "$src"
fi
echo "Building the current tree's MSIs (build/windows)..."
(cmake --preset windows && cmake --build --preset windows --target driveward_build1_msi \
    driveward_build2_msi) >"$bench/msi-build-current.log" 2>&1 ||
    fail "the current build failed (see $bench/msi-build-current.log)"
echo "Building $old's MSIs ($src)..."
(cd "$src" && cmake --preset windows -DDRIVEWARD_BUILD_NUMBER=1 &&
    cmake --build --preset windows --target DrivewardMsi driveward_old_msi) \
    >"$bench/msi-build-old.log" 2>&1 || fail "the old build failed (see $bench/msi-build-old.log)"

dir=$bench/msi
rm -rf "$dir"
mkdir -p "$dir"
cp "$src/build/windows/bin/Driveward.msi" "$dir/old-after.msi"
old_before=$(find "$src/build/windows" -name '*.msi' ! -name Driveward.msi | head -n 1)
[ -n "$old_before" ] || fail "no older test MSI in $src/build/windows"
cp "$old_before" "$dir/old-before.msi"
cp build/windows/bin/tests/DrivewardBuild1.msi "$dir/new-before.msi"
cp build/windows/bin/tests/DrivewardBuild2.msi "$dir/new-after.msi"

echo "Creating the Wine prefix (build/bench/msi-wine)..."
sh scripts/wine-env.sh setup "$bench/msi-wine" >"$bench/msi-wine.log" 2>&1 ||
    fail "no Wine prefix (see $bench/msi-wine.log)"
trap 'sh scripts/wine-env.sh cleanup "$bench/msi-wine" >/dev/null 2>&1 || true' EXIT
trap 'exit 1' INT TERM
export WINEPREFIX=$bench/msi-wine/prefix WINEDEBUG=-all
[ -f "$bench/msi-wine/display" ] && DISPLAY=$(cat "$bench/msi-wine/display") && export DISPLAY

now_ms() { date +%s%3N; }
# Runs msiexec silently on one of the MSIs; prints the milliseconds it took.
msiexec_ms() { # ACTION MSI
    start=$(now_ms)
    wine msiexec "$1" "$(winepath -w "$dir/$2")" /qn >/dev/null 2>&1 ||
        fail "msiexec $1 $2 failed"
    echo $(($(now_ms) - start))
}
median() {
    sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2];
        else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo "$rounds rounds, old and new in turn: install, remove; install the build before, upgrade, remove..."
for side in old new; do : >"$dir/$side-install.txt" && : >"$dir/$side-upgrade.txt"; done
round=0
while [ "$round" -lt "$rounds" ]; do
    for side in old new; do
        msiexec_ms /i "$side-after.msi" >>"$dir/$side-install.txt"
        msiexec_ms /x "$side-after.msi" >/dev/null
        msiexec_ms /i "$side-before.msi" >/dev/null
        msiexec_ms /i "$side-after.msi" >>"$dir/$side-upgrade.txt"
        msiexec_ms /x "$side-after.msi" >/dev/null
    done
    round=$((round + 1))
done

size() { wc -c <"$dir/$1" | awk '{ printf "%d KiB", $1 / 1024 }'; }
echo ""
echo "Results ($(date -u '+%Y-%m-%d %H:%M UTC'), medians of $rounds, ms):"
printf '  MSI size   old %s %s   new %s\n' "$old" "$(size old-after.msi)" "$(size new-after.msi)"
printf '  install    old %s   new %s\n' "$(median <"$dir/old-install.txt")" \
    "$(median <"$dir/new-install.txt")"
printf '  upgrade    old %s   new %s\n' "$(median <"$dir/old-upgrade.txt")" \
    "$(median <"$dir/new-upgrade.txt")"
