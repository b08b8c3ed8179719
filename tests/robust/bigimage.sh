#!/usr/bin/env bash
# Big images. A 16383-pixel-wide 8-bit BMP loads under an address-space limit
# that leaves no room for its result: tavrosk-warp exits 1 with a
# message, the program prints "error", shows no result and keeps answering.
# An image larger than the window warps whole and shows clipped.
# Not for sanitizer builds: their shadow memory does not fit under ulimit -v.
# Usage: bigimage.sh BUILD_DIR DISPLAY
set -uo pipefail
build=$1 display=$2
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_x
tool=$build/tavrosk-warp
printf '100 100 200 150\n120 130 230 160\n' >"$XH_TMP/pair.txt"

# 8 bits per pixel, grey palette, bottom-up: 16 MB of pixels, 48 MB as R, G, B
# bytes and 64 MB as the window's 32-bit result.
python3 - "$XH_TMP/wide.bmp" <<'PY' || xh_fail "cannot write the wide BMP"
import struct, sys
w, h = 16383, 1000
row = (w + 3) & ~3
pal = b''.join(bytes([i, i, i, 0]) for i in range(256))
data = bytes((x * 7) & 255 for x in range(row)) * h
off = 14 + 40 + len(pal)
head = b'BM' + struct.pack('<IHHI', off + len(data), 0, 0, off)
head += struct.pack('<IiiHHIIiiII', 40, w, h, 1, 8, 0, len(data), 2835, 2835, 256, 0)
open(sys.argv[1], 'wb').write(head + pal + data)
PY
# KiB: room for the tool with its libraries (libheif's codecs take some 20 MB of
# address space) and the image read (SDL's 8-bit surface, 16 MB, and
# the 48 MB of R, G, B read from it), not the 48 MB result besides.
limit=140000
out=$(ulimit -v $limit; "$tool" --threads 1 "$XH_TMP/wide.bmp" "$XH_TMP/pair.txt" "$XH_TMP/wide-out.bmp" 2>&1)
status=$?
[ "$status" = 1 ] || xh_fail "tavrosk-warp on the wide image under ulimit -v $limit: status $status: $out"
grep -q 'cannot create the 16383 x 1000 result' <<<"$out" || xh_fail "unclear message: $out"
[ -e "$XH_TMP/wide-out.bmp" ] && xh_fail "a result was written after the failure"

# An image larger than the window: the tool's result keeps the full size.
convert "$build/sample.bmp" -resize '1000x700!' -type TrueColor "BMP3:$XH_TMP/large.bmp" \
    || xh_fail "convert failed"
"$tool" "$XH_TMP/large.bmp" "$XH_TMP/pair.txt" "$XH_TMP/large-out.bmp" || xh_fail "tavrosk-warp on 1000 x 700"
[ "$(identify -format %wx%h "$XH_TMP/large-out.bmp")" = 1000x700 ] || xh_fail "result is not 1000 x 700"

xh_start_xvfb "$display"
drag() {
    xdotool mousemove --window "$wid" "$1" "$2" mousedown 1 mousemove --window "$wid" "$3" "$4" mouseup 1
}
convert "$build/menu.bmp" "$XH_TMP/menu.png"
menu_x=$(( 800 - $(identify -format %w "$XH_TMP/menu.png") ))

# The wide image in the window: the warp cannot get its result surface. The
# X and SDL libraries take more address space than the tool needs.
app_limit=${APP_LIMIT:-100000}
(ulimit -v $app_limit; xh_start_app "$build" "$XH_TMP/wide.bmp"$'\n'; wait "$XH_APP_PID") &
sub=$!
# The subshell's child is the program; find it for the window helpers.
for _ in $(seq 100); do
    XH_APP_PID=$(pgrep -P "$sub" -n) && [ -n "$XH_APP_PID" ] && break
    sleep 0.05
done
[ -n "$XH_APP_PID" ] || xh_fail "the program did not start"
wid=$(xh_wait_window 20) || { echo "$wid"; exit 1; }
xh_wait_output 'Press Esc to quit'
xh_wait_frame "$XH_TMP/menu.png" "$menu_x" 0 "$XH_TMP/shot.png" 20
drag 100 100 200 150
drag 120 130 230 160
for _ in $(seq 200); do
    grep -q '^error' <(tail -n1 "$XH_TMP/stdout") && break
    sleep 0.05
done
grep -qx 'error' <(tail -n1 "$XH_TMP/stdout") || xh_fail "no 'error' line after the warp: $(tail -n2 "$XH_TMP/stdout")"
xh_running || xh_fail "the program ended after the failed warp"
# It still answers: the menu is drawn and Esc ends it with status 0.
xh_wait_frame "$XH_TMP/menu.png" "$menu_x" 0 "$XH_TMP/shot.png" 20
xdotool key --window "$wid" Escape
for _ in $(seq 400); do xh_running || break; sleep 0.05; done
xh_running && xh_fail "Esc did not end the program"
wait "$sub"
status=$?
XH_APP_PID=
[ "$status" = 0 ] || xh_fail "exit status $status after Esc"

# The 1000 x 700 image: the window shows the top-left 700 x 600 of the result.
convert "$XH_TMP/large-out.bmp" -crop 700x600+0+0 +repage "$XH_TMP/large-view.png"
xh_start_app "$build" "$XH_TMP/large.bmp"$'\n'
wid=$(xh_wait_window 20) || { echo "$wid"; exit 1; }
xh_wait_frame "$XH_TMP/menu.png" "$menu_x" 0 "$XH_TMP/shot.png" 20
drag 100 100 200 150
drag 120 130 230 160
xh_wait_frame "$XH_TMP/large-view.png" 0 0 "$XH_TMP/shot.png" 20
xdotool key --window "$wid" Escape
xh_wait_exit 20
status=$?
[ "$status" = 0 ] || xh_fail "exit status $status after Esc"
grep -q '^error' "$XH_TMP/stdout" && xh_fail "error on the 1000 x 700 image"
echo "PASS"
