#!/usr/bin/env bash
# Builds the BMP fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and fuzzes for SECONDS (default 60), starting
# from tests/fuzz/corpus. New interesting inputs stay in the build's own
# working corpus; every crash, leak or time-out input is copied into
# tests/fuzz/crashes/ as a regression case and the script fails.
# Usage: scripts/fuzz.sh [SECONDS]   (FUZZ_BUILD=DIR picks the build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_packages clang libclang-rt-14-dev cmake pkg-config libsdl1.2-dev libgtest-dev

seconds=${1:-60}
build=${FUZZ_BUILD:-$root/build-fuzz}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DTAVROSK_SANITIZE=ON -DTAVROSK_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target fuzz_bmp

work="$build/fuzz-corpus"
artifacts="$build/fuzz-artifacts"
mkdir -p "$work" "$artifacts"
rm -f "$artifacts"/*
# Every sanitizer report is fatal; a huge allocation fails as it would
# outside the sanitizer instead of ending the run.
export ASAN_OPTIONS=abort_on_error=1:halt_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
"$build/tests/fuzz/fuzz_bmp" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "$root/tests/fuzz/corpus" || status=$?

found=0
for f in "$artifacts"/*; do
    [ -e "$f" ] || continue
    cp "$f" "$root/tests/fuzz/crashes/"
    echo "fuzz: kept $(basename "$f") in tests/fuzz/crashes/" >&2
    found=1
done
if [ $status -ne 0 ] || [ $found -ne 0 ]; then
    echo "fuzz: FAILED (status $status)" >&2
    exit 1
fi
echo "fuzz: no fault in $seconds s"
