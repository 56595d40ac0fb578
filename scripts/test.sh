#!/bin/sh
# Installs what is missing, builds both presets and runs every test.
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-deps.sh

cmake --preset native
cmake --build --preset native
ctest --preset native

cmake --preset windows
cmake --build --preset windows
ctest --preset windows

cmake --preset tools
cmake --build --preset tools
ctest --preset tools
