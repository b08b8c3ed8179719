#!/usr/bin/env bash
# Builds Tavrosk in Release, without the tests, in build-run/ (apart from
# scripts/test.sh's build/, so that neither undoes the other's configuration)
# and starts it on IMAGE.bmp (default: the bundled sample).
# Usage: scripts/run.sh [IMAGE.bmp]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_deps build

image=${1:-sample.bmp}
# The program runs from the build directory (menu.bmp is opened there), so a
# caller's relative path is made absolute first.
if [ $# -ge 1 ]; then
    image=$(realpath -- "$1")
fi

build=$root/build-run
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target tavrosk
cd "$build"
echo "$image" | ./tavrosk
