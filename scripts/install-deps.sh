#!/bin/sh
# Installs what building and testing Driveward needs on Debian 12, and only what is
# missing. Run as root.
set -eu
packages="cmake ninja-build g++ git googletest libgtest-dev libgmock-dev libbenchmark-dev
clang libclang-rt-14-dev clang-format
g++-mingw-w64-x86-64-posix mingw-w64-tools
wine wine64 fonts-wine xvfb xauth x11-utils imagemagick fonts-dejavu-core wixl msitools"

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    if [ "$(id -u)" -ne 0 ]; then
        echo "Run as root to install the missing packages." >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    echo "Updating the package lists"
    apt-get update -qq
    # Its progress shown, so that a long installation is seen to go on.
    # shellcheck disable=SC2086
    apt-get install -y -q --no-install-recommends $missing
fi
