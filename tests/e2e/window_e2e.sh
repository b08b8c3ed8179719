#!/usr/bin/env bash
# End-to-end run of the program in a private Xvfb: segments are drawn with
# xdotool drags and clicks, and after every step the window's image area is
# screenshotted until it equals the expected frame (a timeout fails the test).
# Warped frames come from tavrosk-warp on the same segments; entry-mode frames
# (source plus inverted segments) from frame_ref.
# Usage: window_e2e.sh BUILD_DIR FRAME_REF DISPLAY sample|palette
set -uo pipefail
build=$1 frame_ref=$2 display=$3 kind=$4
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_x
[ -x "$build/tavrosk-warp" ] || xh_fail "$build/tavrosk-warp is not built"

case $kind in
sample)
    src=$build/sample.bmp
    input=sample.bmp ;;
palette)
    src=$XH_TMP/palette.bmp
    input=$src
    convert "$build/sample.bmp" -colors 200 -type Palette -compress None "BMP3:$src" || xh_fail "convert failed"
    read -r _ _ bits < <("$frame_ref" depth "$src")
    [ "$bits" = 8 ] || xh_fail "SDL loads $src with $bits bits per pixel, not 8" ;;
*)
    xh_fail "unknown kind $kind" ;;
esac

# The image area of the window: columns 0..699 and rows 0..599 of the image.
read -r img_w img_h _ < <("$frame_ref" depth "$src")
view_w=$(( img_w < 700 ? img_w : 700 )) view_h=$(( img_h < 600 ? img_h : 600 ))

# png NAME BMP: the image area of BMP as $XH_TMP/NAME.png.
png() {
    convert "$2" -crop "${view_w}x${view_h}+0+0" +repage "$XH_TMP/$1.png" || xh_fail "convert $2"
}
# segments NAME "x1 y1 x2 y2"...: a segment file in table order.
segments() {
    local name=$1
    shift
    printf '%s\n' "$@" >"$XH_TMP/$name.txt"
}
# warped NAME: what tavrosk-warp makes of the source by segment file NAME.
warped() {
    "$build/tavrosk-warp" "$src" "$XH_TMP/$1.txt" "$XH_TMP/$1-warp.bmp" || xh_fail "tavrosk-warp $1"
    png "$1-warp" "$XH_TMP/$1-warp.bmp"
}
# overlay NAME: the entry-mode frame, the source with segment file NAME inverted.
overlay() {
    "$frame_ref" overlay "$src" "$XH_TMP/$1.txt" "$XH_TMP/$1-overlay.bmp" || xh_fail "frame_ref $1"
    png "$1-overlay" "$XH_TMP/$1-overlay.bmp"
}
# differ A B: the test must be able to tell frames A and B apart.
differ() {
    [ "$(compare -metric AE "$XH_TMP/$1.png" "$XH_TMP/$2.png" null: 2>&1)" != 0 ] \
        || xh_fail "frames $1 and $2 are identical"
}
# shows NAME: waits until the window's image area equals frame NAME.
shows() {
    echo "waiting for $1"
    xh_wait_frame "$XH_TMP/$1.png" 0 0 "$XH_TMP/shot.png" 20
}
drag() {
    xdotool mousemove --window "$wid" "$1" "$2" mousedown 1 mousemove --window "$wid" "$3" "$4" mouseup 1
}
click() {
    xdotool mousemove --window "$wid" "$1" "$2" click 1
}

A="100 100 200 150" B="120 300 250 280" C="400 50 500 200" D="420 80 560 180"
E="300 300 400 350" F="350 200 350 200"
png source "$src"
segments a "$A"
segments ab "$A" "$B"
segments abc "$A" "$B" "$C"
segments abcd "$A" "$B" "$C" "$D"
segments e "$E"
segments ef "$E" "$F"
for name in a ab abc e; do overlay "$name"; done
for name in ab abcd ef; do warped "$name"; done
differ a-overlay source
differ ab-warp source
differ ab-warp ab-overlay
differ abcd-warp ab-warp
differ abcd-warp abc-overlay
differ e-overlay source
# A zero-length segment leaves its pair out: one such pair copies the source.
xh_same "$XH_TMP/ef-warp.png" "$XH_TMP/source.png" || xh_fail "tavrosk-warp does not copy the source"

xh_start_xvfb "$display"
xh_start_app "$build" "$input"$'\n'
wid=$(xh_wait_window 20) || exit 1
convert "$build/menu.bmp" "$XH_TMP/menu.png"
xh_wait_frame "$XH_TMP/menu.png" $(( 800 - $(identify -format %w "$XH_TMP/menu.png") )) 0 "$XH_TMP/shot.png" 20
shows source

# One pair: the first segment shows inverted, the second runs the warp.
drag $A
shows a-overlay
drag $B
shows ab-warp

# PRIDAT brings back the source with both segments; the second pair warps
# the source by both pairs.
click 750 30
shows ab-overlay
drag $C
shows abc-overlay
drag $D
shows abcd-warp

# RESET: the source with no segment.
click 750 100
shows source

# A click without a drag as the second segment.
drag $E
shows e-overlay
click ${F% * *}
shows ef-warp

# EXIT ends the program with status 0.
click 750 200
xh_wait_exit 20
status=$?
[ "$status" = 0 ] || { cat "$XH_TMP/stdout"; xh_fail "exit status $status after EXIT"; }
grep -q '^error' "$XH_TMP/stdout" && xh_fail "the program printed an error: $(cat "$XH_TMP/stdout")"
echo "PASS: $kind"
