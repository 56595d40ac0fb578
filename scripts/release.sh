#!/bin/sh
# Builds what ships, from scratch: the stripped Driveward.exe and DrivewardService.exe and
# Driveward.msi, in build/release; prints each one's size and SHA-256.
#   DRIVEWARD_BUILD_NUMBER=N sh scripts/release.sh
# N is the release's build number (1 to 65535), the third field of the MSI's product version:
# it must grow from one release to the next, or the older MSI is taken for the newer one.
# With DRIVEWARD_SIGN set to a command, it signs each program (and the MSI's custom-action
# program) before they go into the MSI, then the MSI itself: "$DRIVEWARD_SIGN FILE" must
# sign FILE in place.
set -eu
case "${DRIVEWARD_BUILD_NUMBER:-}" in
'' | *[!0-9]* | 0*)
    echo "release.sh: set DRIVEWARD_BUILD_NUMBER to the release's build number (1 to 65535)" >&2
    exit 2
    ;;
esac
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh
out=build/release
rm -rf "$out" # from scratch: nothing stale, nothing signed twice
cmake -S . -B "$out" -G Ninja --toolchain cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DDRIVEWARD_GOOGLETEST_SOURCE=/nonexistent -DDRIVEWARD_BUILD_NUMBER="$DRIVEWARD_BUILD_NUMBER" >/dev/null
programs="$out/bin/Driveward.exe $out/bin/DrivewardService.exe $out/installer/DrivewardInstallAction.exe"
cmake --build "$out" --target Driveward DrivewardService DrivewardInstallAction
if [ -n "${DRIVEWARD_SIGN:-}" ]; then
    for file in $programs; do
        # shellcheck disable=SC2086
        $DRIVEWARD_SIGN "$file"
    done
fi
# The signed programs are newer than the MSI: it is built again from them.
cmake --build "$out" --target DrivewardMsi
if [ -n "${DRIVEWARD_SIGN:-}" ]; then
    # shellcheck disable=SC2086
    $DRIVEWARD_SIGN "$out/bin/Driveward.msi"
fi
echo
for file in "$out/bin/Driveward.exe" "$out/bin/DrivewardService.exe" "$out/bin/Driveward.msi"; do
    printf '%-40s %8s bytes  sha256 %s\n' "$file" "$(wc -c <"$file")" "$(sha256sum "$file" | cut -d' ' -f1)"
done
