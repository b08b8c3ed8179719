#!/usr/bin/env bash
# scripts/skips.sh on a small CTest project whose tests skip the two ways
# this project's tests do: a shell test that prints "SKIP: ..." and exits 77,
# and GoogleTest output with GTEST_SKIP's message (with and without one).
# Every skipped test, and only those, must be named with its own reason.
# Usage: skip_reasons_test.sh SOURCE_DIR CMAKE CTEST
set -euo pipefail
source_dir=$1 cmake=$2 ctest=$3
. "$source_dir/scripts/skips.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/tavrosk-skips.XXXXXX")
trap 'rm -rf "$work"' EXIT

cat >"$work/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(skips NONE)
enable_testing()
add_test(NAME shell_skip COMMAND sh -c "echo working; echo 'SKIP: no BMP suite at /x (set TAVROSK_BMPSUITE_DIR)'; exit 77")
add_test(NAME passes COMMAND sh -c "echo 'SKIP: this line is not a skip'; exit 0")
add_test(NAME gtest_skip COMMAND printf "%s\n" "[ RUN      ] A.b" "a_test.cpp:12: Skipped"
         "root writes in any folder" "[  SKIPPED ] A.b (0 ms)")
add_test(NAME gtest_silent_skip COMMAND printf "%s\n" "[ RUN      ] A.c" "a_test.cpp:20: Skipped" "" "[  SKIPPED ] A.c (0 ms)")
set_tests_properties(shell_skip PROPERTIES SKIP_RETURN_CODE 77)
set_tests_properties(gtest_skip gtest_silent_skip PROPERTIES SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]")
CMAKE
"$cmake" -S "$work" -B "$work/build" >/dev/null
(cd "$work/build" && "$ctest" -j2 >"$work/ctest.out" 2>&1) || true
got=$(skip_reasons "$work/build" "$work/ctest.out")
want='  shell_skip: no BMP suite at /x (set TAVROSK_BMPSUITE_DIR)
  gtest_skip: root writes in any folder
  gtest_silent_skip: (it gave no reason)'
if [ "$got" != "$want" ]; then
    echo "FAIL: skip_reasons printed"
    echo "$got"
    echo "--- expected"
    echo "$want"
    echo "--- ctest said"
    cat "$work/ctest.out"
    exit 1
fi
echo "ok   skipped tests named with their reasons"
