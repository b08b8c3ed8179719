#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test:
# a Release pass, the same tests under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a minute of fuzzing. Ends with one summary
# line of what ran; exits non-zero on any failure and whenever a pass ran
# nothing.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/scripts/deps.sh"
. "$root/scripts/skips.sh"
ensure_deps build gtest test clang

jobs=$(nproc)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# run_pass NAME BUILD_DIR [CMAKE_ARGS...]: configures with the tests forced
# on (whatever an earlier command left in the folder's cache), builds, runs
# ctest, and sets pass_result to "N passed" (with skips counted apart) and
# pass_skips to the names and reasons of the skipped tests. ctest fails when
# it finds no test at all.
run_pass() {
    local name=$1 build=$2
    shift 2
    cmake -S "$root" -B "$build" -DBUILD_TESTING=ON "$@"
    cmake --build "$build" -j"$jobs"
    (cd "$build" && ctest --output-on-failure --no-tests=error -j"$jobs") | tee "$log"
    local total skipped
    total=$(sed -n 's/.*tests passed, [0-9]* tests\? failed out of \([0-9]*\).*/\1/p' "$log" | tail -n1)
    skipped=$(grep -c '(Skipped)$' "$log" || true)
    if [ -z "$total" ] || [ "$total" -eq 0 ] || [ "$total" -eq "$skipped" ]; then
        echo "tests: the $name pass ran no test" >&2
        exit 1
    fi
    pass_result="$((total - skipped)) passed"
    [ "$skipped" -eq 0 ] || pass_result+=" ($skipped skipped)"
    pass_skips=$(skip_reasons "$build" "$log")
}

run_pass release "$root/build" -DCMAKE_BUILD_TYPE=Release
release=$pass_result
release_skips=$pass_skips

# Any sanitizer report aborts the process under test, so the test fails.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1:print_stacktrace=1
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp
run_pass sanitizer "$root/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTAVROSK_SANITIZE=ON
sanitizers=$pass_result
sanitizer_skips=$pass_skips
unset ASAN_OPTIONS UBSAN_OPTIONS LSAN_OPTIONS

# A minute of coverage-guided fuzzing, half on the BMP loader and the raster
# and warp code, half on the image file codecs.
fuzz_seconds=60
"$root/scripts/fuzz.sh" "$fuzz_seconds"

[ -z "$release_skips" ] || printf 'skipped in the release pass:\n%s\n' "$release_skips"
[ -z "$sanitizer_skips" ] || printf 'skipped in the sanitizer pass:\n%s\n' "$sanitizer_skips"
echo "tests: release $release, sanitizers $sanitizers, fuzzing $fuzz_seconds s, no fault"
