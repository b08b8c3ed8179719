#!/usr/bin/env bash
# SIGTERM and SIGINT end the program with status 0 however they fall against
# the main loop, which spends most of its time inside SDL_PollEvent. Each of
# CYCLES runs (default 100) starts the program with no images under the dummy
# video driver, so that the loop does little else, and signals it once it
# runs; a run that has not ended 10 s later counts as hung.
# Usage: sigterm_test.sh BUILD_DIR [CYCLES]
set -u
build=$(cd "$1" && pwd)
cycles=${2:-100}
. "$(dirname "$0")/../support/xharness.sh"
xh_init
export SDL_VIDEODRIVER=dummy
empty=$XH_TMP/empty
mkdir -p "$empty"
printf 'no-such-image.bmp\n' >"$XH_TMP/in"
for i in $(seq "$cycles"); do
    signal=TERM
    [ $((i % 5)) = 0 ] && signal=INT
    xh_start_app "$build" -f "$XH_TMP/in" "$empty"
    xh_wait_output "Press Esc to quit" 20
    kill -"$signal" "$XH_APP_PID"
    xh_wait_exit 10
    status=$?
    [ "$status" = 124 ] && xh_fail "run $i hung after SIG$signal"
    [ "$status" = 0 ] || xh_fail "run $i: exit status $status after SIG$signal"
done
echo "PASS: $cycles runs"
