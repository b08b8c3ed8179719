#!/usr/bin/env bash
# Every file of the shared BMP suite, good, bad and questionable, through the
# program (dummy video driver, stopped by SIGTERM once its window would be up)
# and through tavrosk-warp with a small pair file. The program must end with
# status 0 and the tool with 0 or 1, never by a signal or a sanitizer report.
# Usage: bmpsuite.sh BUILD_DIR SUITE_DIR
set -uo pipefail
build=$1 suite=$2
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_suite "$suite"
mapfile -t files < <(find "$suite" -name '*.bmp' -type f | sort)
[ ${#files[@]} -gt 0 ] || xh_skip "no .bmp file under $suite"

export SDL_VIDEODRIVER=dummy
printf '10 10 20 20\n12 14 22 24\n' >"$XH_TMP/pair.txt"
failures=0
fault() {
    echo "FAIL: $1: $2"
    sed 's/^/  | /' "$XH_TMP/stderr" | head -n 20
    failures=$((failures + 1))
}
# A sanitizer that keeps going after a report would still leave it on stderr.
reported() {
    grep -qE 'Sanitizer|runtime error:' "$XH_TMP/stderr"
}
for f in "${files[@]}"; do
    name=${f#"$suite"/}
    : >"$XH_TMP/stdout"
    xh_start_app "$build" "$f"$'\n'
    for _ in $(seq 400); do
        grep -q 'Press Esc to quit' "$XH_TMP/stdout" && break
        xh_running || break
        sleep 0.05
    done
    kill -TERM "$XH_APP_PID" 2>/dev/null
    xh_wait_exit 20
    status=$?
    grep -q 'Press Esc to quit' "$XH_TMP/stdout" || fault "$name" "tavrosk never got to its window"
    [ "$status" = 0 ] || fault "$name" "tavrosk exit status $status"
    reported && fault "$name" "sanitizer report from tavrosk"

    rm -f "$XH_TMP/out.bmp"
    timeout 60 "$build/tavrosk-warp" "$f" "$XH_TMP/pair.txt" "$XH_TMP/out.bmp" \
        >/dev/null 2>"$XH_TMP/stderr"
    status=$?
    case $status in
    0) [ -s "$XH_TMP/out.bmp" ] || fault "$name" "tavrosk-warp succeeded without a result" ;;
    1) grep -q . "$XH_TMP/stderr" || fault "$name" "tavrosk-warp failed silently" ;;
    *) fault "$name" "tavrosk-warp exit status $status" ;;
    esac
    reported && fault "$name" "sanitizer report from tavrosk-warp"
done
[ $failures = 0 ] || xh_fail "$failures faults over ${#files[@]} files"
echo "PASS: ${#files[@]} files"
