#!/usr/bin/env bash
# The window in a private X server: the first frame shows a known image at
# (0, 0) and menu.bmp at x = 700, pixel for pixel; Esc ends the program with
# status 0, and so does the window's close request.
# Usage: window_start_quit_test.sh BUILD_DIR DISPLAY_NUMBER [SEND_CLOSE_PROGRAM]
set -u
build=$(cd "$1" && pwd)
send_close=${3:-}
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_x
xh_start_xvfb "$2"

# An odd width, so that rows of the 24-bit file are padded; no two
# neighbouring pixels alike, so any shift shows.
image=$XH_TMP/known.bmp
convert -seed 5 -size 37x23 plasma: -type TrueColor BMP3:"$image"
[ "$(identify -format '%wx%h' "$image")" = 37x23 ] || xh_fail "could not make the test image"

# run_until STOP: starts the program on the image, checks its first frame, then
# ends it with STOP (a command given the window id) and expects status 0.
run_until() {
    local stop=$1 window status
    xh_start_app "$build" "$image
"
    window=$(xh_wait_window 20) || { echo "$window"; exit 1; }
    xh_wait_frame "$build/menu.bmp" 700 0 "$XH_TMP/shot.png" 20
    xh_crop "$XH_TMP/shot.png" 0 0 37 23 "$XH_TMP/shown.png"
    xh_same "$XH_TMP/shown.png" "$image" || xh_fail "the image is not shown at (0, 0)"
    grep -q 'error loading BMP' "$XH_TMP/stdout" && xh_fail "a load failed: $(cat "$XH_TMP/stdout")"
    $stop "$window"
    xh_wait_exit 20
    status=$?
    [ "$status" -eq 0 ] || xh_fail "status $status after $stop"
    echo "ok   first frame, then $stop: status 0"
}

press_escape() {
    xdotool windowfocus --sync "$1" key Escape
}
run_until press_escape

if [ -n "$send_close" ] && [ -x "$send_close" ]; then
    run_until "$send_close"
else
    echo "close request not tried: no send_close helper (Xlib development files missing at build time)"
fi
echo "all window checks passed"
