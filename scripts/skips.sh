# Sourced by test.sh: skip_reasons BUILD_DIR CTEST_OUTPUT prints one line
# "  NAME: REASON" for every test that ctest's output lists as skipped. The
# reason is the test's own, from its output in BUILD_DIR's LastTest.log: a
# shell test's "SKIP: ..." line (exit code 77, SKIP_RETURN_CODE), or the
# message GoogleTest prints on the line after "...: Skipped" (GTEST_SKIP,
# which gtest_discover_tests turns into a skip by SKIP_REGULAR_EXPRESSION).
skip_reasons() {
    local log=$1/Testing/Temporary/LastTest.log name
    sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$2" | while IFS= read -r name; do
        awk -v name="$name" '
            /^[0-9]+\/[0-9]+ Test: / { current = substr($0, index($0, " Test: ") + 7); after = 0; next }
            current != name || found { next }
            after { if ($0 !~ /^\[  SKIPPED \]/) reason = $0; found = 1; next }
            /: Skipped$/ { after = 1; next }
            /^SKIP: / { reason = substr($0, 7); found = 1 }
            END { print "  " name ": " (reason != "" ? reason : "(it gave no reason)") }' "$log"
    done
}
