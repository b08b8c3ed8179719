#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test.
# Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_packages build-essential cmake pkg-config libsdl1.2-dev libhwy-dev googletest libgtest-dev \
    xvfb xdotool imagemagick x11-apps x11-utils

jobs=$(nproc)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")
