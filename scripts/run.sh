#!/usr/bin/env bash
# Builds Tavrosk in Release and starts it on IMAGE.bmp (default: the bundled
# sample). Usage: scripts/run.sh [IMAGE.bmp]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_packages build-essential cmake pkg-config libsdl1.2-dev libhwy-dev libpng-dev zlib1g-dev libjpeg62-turbo-dev

image=${1:-sample.bmp}
# The program runs from the build directory (menu.bmp is opened there), so a
# caller's relative path is made absolute first.
if [ $# -ge 1 ]; then
    image=$(realpath -- "$1")
fi

cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target tavrosk
cd "$root/build"
echo "$image" | ./tavrosk
