#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test.
# Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_packages build-essential cmake pkg-config libsdl1.2-dev libhwy-dev libpng-dev libjpeg62-turbo-dev googletest libgtest-dev \
    xvfb xdotool imagemagick x11-apps x11-utils clang libclang-rt-14-dev

jobs=$(nproc)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$root/build" -j"$jobs"
(cd "$root/build" && ctest --output-on-failure -j"$jobs")

# The same tests again under AddressSanitizer and UndefinedBehaviorSanitizer:
# any report aborts the process under test, so the test fails.
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVROSK_SANITIZE=ON
cmake --build "$root/build-asan" -j"$jobs"
(cd "$root/build-asan" &&
    ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:print_stacktrace=1 \
    UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1 \
    ctest --output-on-failure -j"$jobs")

# A minute of coverage-guided fuzzing, half on the BMP loader and raster/warp
# code, half on the image file codecs.
"$root/scripts/fuzz.sh" 60
