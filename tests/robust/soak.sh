#!/usr/bin/env bash
# Soak run in Xvfb: CYCLES times (env TAVROSK_SOAK_CYCLES, default 30) draw a
# pair on the sample image, wait for the warped frame, press RESET and wait
# for the source. Resident memory after the last cycle may exceed that after
# the fifth by at most 5 MiB; EXIT then ends the program with status 0.
# Usage: soak.sh BUILD_DIR DISPLAY
set -uo pipefail
build=$1 display=$2
cycles=${TAVROSK_SOAK_CYCLES:-30}
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_x
[ "$cycles" -ge 5 ] || xh_fail "TAVROSK_SOAK_CYCLES must be at least 5"
printf '100 100 200 150\n120 130 230 160\n' >"$XH_TMP/pair.txt"
"$build/tavrosk-warp" "$build/sample.bmp" "$XH_TMP/pair.txt" "$XH_TMP/warp.bmp" || xh_fail "tavrosk-warp"
read -r w h < <(identify -format '%w %h' "$build/sample.bmp")
view="$(( w < 700 ? w : 700 ))x$(( h < 600 ? h : 600 ))+0+0"
convert "$build/sample.bmp" -crop "$view" +repage "$XH_TMP/source.png"
convert "$XH_TMP/warp.bmp" -crop "$view" +repage "$XH_TMP/warp.png"
xh_same "$XH_TMP/source.png" "$XH_TMP/warp.png" >/dev/null && xh_fail "the pair does not change the image"

xh_start_xvfb "$display"
xh_start_app "$build" sample.bmp$'\n'
wid=$(xh_wait_window 20) || { echo "$wid"; exit 1; }
xh_wait_frame "$XH_TMP/source.png" 0 0 "$XH_TMP/shot.png" 20
rss() { awk '/^VmRSS:/ { print $2 }' "/proc/$XH_APP_PID/status"; }
drag() {
    xdotool mousemove --window "$wid" "$1" "$2" mousedown 1 mousemove --window "$wid" "$3" "$4" mouseup 1
}
for i in $(seq "$cycles"); do
    drag 100 100 200 150
    drag 120 130 230 160
    xh_wait_frame "$XH_TMP/warp.png" 0 0 "$XH_TMP/shot.png" 20
    xdotool mousemove --window "$wid" 750 100 click 1
    xh_wait_frame "$XH_TMP/source.png" 0 0 "$XH_TMP/shot.png" 20
    [ "$i" = 5 ] && fifth=$(rss)
done
last=$(rss)
echo "VmRSS after cycle 5: $fifth KiB, after cycle $cycles: $last KiB, growth $((last - fifth)) KiB"
# Under AddressSanitizer freed blocks sit in quarantine, so RSS is no measure
# there; LeakSanitizer checks at exit instead.
[ -n "${TAVROSK_SOAK_NO_RSS:-}" ] || [ $((last - fifth)) -le 5120 ] || xh_fail "resident memory grew by $((last - fifth)) KiB"
xdotool mousemove --window "$wid" 750 200 click 1
xh_wait_exit 20
status=$?
[ "$status" = 0 ] || xh_fail "exit status $status after EXIT"
grep -q '^error' "$XH_TMP/stdout" && xh_fail "the program printed an error"
echo "PASS: $cycles cycles"
