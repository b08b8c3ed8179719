#!/usr/bin/env bash
# Measures how much of raster/, warp/, sdl/ and the BMP load check the fuzz
# corpus reaches: builds the corpus driver with clang's source-based
# coverage, runs tests/fuzz/corpus and tests/fuzz/crashes through it, and
# prints llvm-cov's per-file report for them (lines, functions, regions,
# branches).
# Usage: scripts/coverage.sh [CORPUS_DIR...]   (COVERAGE_BUILD=DIR picks the build folder)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
ensure_deps build gtest clang coverage

build=${COVERAGE_BUILD:-$root/build-coverage}
# Highway compiles the lane code once per instruction set, and llvm-cov maps
# only the first copy of a re-included file; one static copy keeps the report
# about the lane code that really ran.
flags="-fprofile-instr-generate -fcoverage-mapping -DHWY_COMPILE_ONLY_STATIC=1"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DBUILD_TESTING=ON \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_bmp_regress

corpora=("$@")
[ ${#corpora[@]} -gt 0 ] || corpora=("$root/tests/fuzz/corpus" "$root/tests/fuzz/crashes")
rm -f "$build"/coverage-*.profraw
LLVM_PROFILE_FILE="$build/coverage-%p.profraw" "$build/tests/fuzz/fuzz_bmp_regress" "${corpora[@]}"
llvm-profdata-14 merge -sparse "$build"/coverage-*.profraw -o "$build/coverage.profdata"
llvm-cov-14 report "$build/tests/fuzz/fuzz_bmp_regress" -instr-profile="$build/coverage.profdata" \
    "$root/raster" "$root/warp" "$root/sdl" "$root/io/surface_check.cpp"
