#!/bin/sh
# Measures the MSI of this tree against an older commit's, side by side in one run under
# Wine:
#   sh scripts/benchmark-msi.sh [OLD_COMMIT]
# Default OLD_COMMIT: 01c1bf2, the commit before upgrades kept the service running and the
# build number moved into the MSI's ProductVersion.
# It prints each MSI's size and the medians of two silent operations, each timed around
# msiexec /qn: a first installation on a machine without Driveward, and an upgrade of the
# build before (old: its 0.0.1.0 test MSI, then its own; new: build 1, then build 2).
# Old and new take turns, so that the load of a shared machine falls on both alike.
# Environment: MSI_ROUNDS (default 5). Nothing here is a test: no timing is asserted.
set -eu
cd "$(dirname "$0")/.."
root=$PWD
bench=$root/build/bench
old=${1:-01c1bf2}
rounds=${MSI_ROUNDS:-5}
bench_name=benchmark-msi
. scripts/bench-common.sh

sha=$(commit_of "$old")
src=$bench/msi-$sha/src
unpack_commit "$sha" "$src" || true
echo "Building the current tree's MSIs (build/windows)..."
build_tree "$root" "$bench/msi-build-current.log" driveward_build1_msi driveward_build2_msi
echo "Building $old's MSIs ($src)..."
build_tree "$src" "$bench/msi-build-old.log" DrivewardMsi driveward_old_msi

dir=$bench/msi
rm -rf "$dir"
mkdir -p "$dir"
cp "$src/build/windows/bin/Driveward.msi" "$dir/old-after.msi"
old_before=$(find "$src/build/windows" -name '*.msi' ! -name Driveward.msi | head -n 1)
[ -n "$old_before" ] || fail "no older test MSI in $src/build/windows"
cp "$old_before" "$dir/old-before.msi"
cp build/windows/bin/tests/DrivewardBuild1.msi "$dir/new-before.msi"
cp build/windows/bin/tests/DrivewardBuild2.msi "$dir/new-after.msi"

wine_prefix_up "$bench/msi-wine"

now_ms() { date +%s%3N; }
# Runs msiexec silently on one of the MSIs; prints the milliseconds it took.
msiexec_ms() { # ACTION MSI
    start=$(now_ms)
    wine msiexec "$1" "$(winepath -w "$dir/$2")" /qn >/dev/null 2>&1 ||
        fail "msiexec $1 $2 failed"
    echo $(($(now_ms) - start))
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
