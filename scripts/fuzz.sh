#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and fuzzes for SECONDS in all (default 60):
#   bmp    SDL's BMP loader, the load check, raster operations and both warp
#          kernels, from tests/fuzz/corpus;
#   image  the image file codecs (BMP with RLE, PNG, JPEG; every encoder)
#          and what they read and write beside the pixels (Exif, ICC, PNG
#          colour chunks),
#          from tests/fuzz/corpus_image;
#   pairs  the pairs-file reader, from tests/fuzz/corpus_pairs;
#   edit   the editor's pairs, history, view and pairs file driven by the
#          input, and its overlays drawn off screen, from tests/fuzz/corpus_edit;
#   all    every target, SECONDS split evenly (the default).
# New interesting inputs stay in the build's own working corpora; every
# crash, leak or time-out input is copied into tests/fuzz/crashes/ as a
# regression case (named TARGET-... for every target but bmp) and the script
# fails.
# Usage: scripts/fuzz.sh [SECONDS] [bmp|image|pairs|edit|all]   (FUZZ_BUILD=DIR picks the build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_deps build gtest clang

seconds=${1:-60}
which=${2:-all}
case $which in
    bmp | image | pairs | edit) targets=("$which") ;;
    all) targets=(bmp image pairs edit) ;;
    *) echo "usage: scripts/fuzz.sh [SECONDS] [bmp|image|pairs|edit|all]" >&2; exit 2 ;;
esac
share=$((seconds / ${#targets[@]}))
[ "$share" -ge 1 ] || share=1

build=${FUZZ_BUILD:-$root/build-fuzz}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DBUILD_TESTING=ON -DTAVROSK_SANITIZE=ON -DTAVROSK_FUZZ=ON >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}"

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
rm -f "$artifacts"/*
# Every sanitizer report is fatal; a huge allocation fails as it would
# outside the sanitizer instead of ending the run.
export ASAN_OPTIONS=abort_on_error=1:halt_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
for target in "${targets[@]}"; do
    if [ "$target" = bmp ]; then
        work="$build/fuzz-corpus" seeds="$root/tests/fuzz/corpus" prefix="$artifacts/"
    else
        work="$build/fuzz-corpus-$target" seeds="$root/tests/fuzz/corpus_$target" prefix="$artifacts/$target-"
    fi
    mkdir -p "$work"
    echo "fuzz: $target for $share s"
    # A hang is what the time-out is for. A tiny RLE, PNG or JPEG file can
    # describe 2^27 pixels, and checking those under the sanitizers and the
    # fuzzer's instrumentation takes a few seconds on a loaded machine.
    "$build/tests/fuzz/fuzz_$target" -max_total_time="$share" -timeout=30 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 -artifact_prefix="$prefix" \
        "$work" "$seeds" || status=$?
done

found=0
for f in "$artifacts"/*; do
    [ -e "$f" ] || continue
    # An input slower than 10 s but within the time-out is named, not kept:
    # a few bytes may describe a large image, which takes its time.
    case $(basename "$f") in *slow-unit-*)
        echo "fuzz: slow but within the time-out: $f" >&2
        continue ;;
    esac
    cp "$f" "$root/tests/fuzz/crashes/"
    echo "fuzz: kept $(basename "$f") in tests/fuzz/crashes/" >&2
    found=1
done
if [ $status -ne 0 ] || [ $found -ne 0 ]; then
    echo "fuzz: FAILED (status $status)" >&2
    exit 1
fi
echo "fuzz: no fault in $seconds s (${targets[*]})"
