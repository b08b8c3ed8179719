#!/usr/bin/env bash
# tavrosk-edit in a private Xvfb, driven by xdotool: pairs drawn in warp and
# morph mode and read back from the file; an end point dragged; a pair
# selected and deleted, undone and redone; SIGKILL after a change and a
# restart that loads the file; the preview with overlays hidden compared
# pixel for pixel with tavrosk-warp and frame k of tavrosk-morph --frames 11
# (panel 0 on the screen, waited for until it shows them); a large image
# opens within the screen; a 32 x 32 image opens in a window its status line
# and help fit, centred, fits the window both ways after a resize and reaches
# 1600 % in four Ctrl+wheel presses; a narrow morph's status line is whole.
# Esc cancels a segment being drawn or waiting and quits only when none is;
# Shift+drag draws from an end point and P pins a pair; a file with a lone
# segment, one made for other images and --no-auto-orient; FIRST's last
# column is in the morph preview. Also leaves a screenshot of the editor in
# BUILD_DIR/tavrosk-edit.png for the README (docs/images/). A pairs file of
# extreme finite numbers (1e300, beyond int, 3.4e38, 1e-300) is drawn,
# zoomed, previewed and left with no message (no sanitizer report).
# Usage: edit_e2e.sh BUILD_DIR DATA_DIR DISPLAY [SEND_CLOSE]
set -uo pipefail
build=$1 data=$2 display=$3 send_close=${4:-}
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_x
xh_start_xvfb "$display"
edit=$build/tavrosk-edit
cd "$XH_TMP" || exit 1

# start ARGS...: runs the editor in the background and waits for its window ($wid).
start() {
    "$edit" "$@" >"$XH_TMP/stdout" 2>"$XH_TMP/stderr" &
    XH_APP_PID=$!
    wid=$(xh_wait_window 20) || exit 1
}
drag() {
    xdotool mousemove --window "$wid" "$1" "$2" mousedown 1 mousemove --window "$wid" $(( ($1 + $3) / 2 )) \
        $(( ($2 + $4) / 2 )) mousemove --window "$wid" "$3" "$4" mouseup 1
}
click() {
    xdotool mousemove --window "$wid" "$1" "$2" click 1
}
key() {
    xdotool key --window "$wid" "$@" 2>/dev/null
}
# holds FILE TEXT: waits until FILE holds exactly TEXT (lines given as printf %s\n arguments).
holds() {
    local file=$1 want i
    shift
    want=$(printf '%s\n' "$@")
    for i in $(seq 100); do
        [ "$(cat "$file" 2>/dev/null)" = "$want" ] && return 0
        xh_running || xh_fail "the editor ended while waiting for $file"
        sleep 0.05
    done
    echo "--- $file:"; cat "$file"; echo "--- wanted:"; echo "$want"
    xh_fail "$file does not hold what was drawn"
}
# geometry: sets $w and $h to the window's size.
geometry() {
    read -r w h < <(xdotool getwindowgeometry "$wid" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\)/\1 \2/p')
}
# window_shot OUT: the window as the screen shows it.
window_shot() {
    local x y w h
    read -r x y < <(xdotool getwindowgeometry "$wid" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')
    geometry
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
}
# shows REF WHY: waits until panel 0, at the window's top-left corner, shows REF pixel for pixel;
# fails with WHY when it never does.
shows() {
    local i
    for i in $(seq 200); do
        window_shot shown.png
        convert shown.png -crop "$(identify -format '%wx%h' "$1")+0+0" +repage panel.png
        xh_same panel.png "$1" >/dev/null && return 0
        xh_running || xh_fail "the editor ended while waiting for $1"
        sleep 0.1
    done
    xh_same panel.png "$1"
    xh_fail "$2"
}
# changes_from SHOT: waits until the window no longer looks as SHOT, and leaves the new look in SHOT.
changes_from() {
    local i
    for i in $(seq 200); do
        window_shot now.png
        xh_same now.png "$1" >/dev/null || { mv now.png "$1"; return 0; }
        sleep 0.1
    done
    xh_fail "the window did not change"
}
no_temporaries() {
    [ -z "$(find . -name '.*.??????' -newer "$edit")" ] || xh_fail "temporaries left: $(ls -A)"
}

heading="# tavrosk-edit: warp pairs for $data/sample.bmp"
echo "warp mode: two pairs drawn at 100 %"
start "$data/sample.bmp" pairs.txt
[[ $(xdotool getwindowname "$wid") == tavrosk-edit* ]] || xh_fail "window title '$(xdotool getwindowname "$wid")'"
drag 100 100 200 150
drag 120 300 250 280
drag 400 50 500 200
[ ! -e pairs.txt ] || [ "$(grep -c '^[0-9]' pairs.txt)" = 2 ] || xh_fail "a waiting first segment was saved"
drag 420 80 560 180
holds pairs.txt "$heading" "100 100 200 150" "120 300 250 280" "400 50 500 200" "420 80 560 180"

echo "an end point dragged, then a click on the first pair, Delete, undo, redo"
drag 200 150 210 165
holds pairs.txt "$heading" "100 100 210 165" "120 300 250 280" "400 50 500 200" "420 80 560 180"
click 150 125
key Delete
holds pairs.txt "$heading" "400 50 500 200" "420 80 560 180"
key ctrl+z
holds pairs.txt "$heading" "100 100 210 165" "120 300 250 280" "400 50 500 200" "420 80 560 180"
key ctrl+z
holds pairs.txt "$heading" "100 100 200 150" "120 300 250 280" "400 50 500 200" "420 80 560 180"
key ctrl+y
key ctrl+shift+z
holds pairs.txt "$heading" "400 50 500 200" "420 80 560 180"
key ctrl+z

echo "a save that fails is reported and kept in memory; Ctrl+S saves once it can"
chmod a-w pairs.txt
drag 30 400 60 460
drag 30 440 70 470
for i in $(seq 400); do grep -q 'pairs.txt: is read-only; not replaced' "$XH_TMP/stderr" && break; sleep 0.05; done
[ "$(tail -n 1 "$XH_TMP/stderr")" = "tavrosk-edit: pairs.txt: is read-only; not replaced" ] \
    || xh_fail "no message for the failed save: $(cat "$XH_TMP/stderr")"
chmod u+w pairs.txt
key ctrl+s
holds pairs.txt "$heading" "100 100 210 165" "120 300 250 280" "400 50 500 200" "420 80 560 180" \
    "30 400 60 460" "30 440 70 470"
select_and_delete() { click "$1" "$2"; key Delete; }
select_and_delete 45 430
holds pairs.txt "$heading" "100 100 210 165" "120 300 250 280" "400 50 500 200" "420 80 560 180"

echo "the preview with overlays hidden is tavrosk-warp's result"
key Tab h
"$build/tavrosk-warp" "$data/sample.bmp" pairs.txt warped.bmp || xh_fail "tavrosk-warp"
shows warped.bmp "the preview differs from tavrosk-warp's result"

echo "SIGKILL after a change: the file holds it, a restart (with other weights) loads it"
key h
drag 300 400 350 420
drag 300 420 360 450
holds pairs.txt "$heading" "100 100 210 165" "120 300 250 280" "400 50 500 200" "420 80 560 180" \
    "300 400 350 420" "300 420 360 450"
kill -KILL "$XH_APP_PID"
wait "$XH_APP_PID" 2>/dev/null
XH_APP_PID=
no_temporaries
cp pairs.txt before-restart.txt
start -p 1 -a 0.5 -b 2 "$data/sample.bmp" pairs.txt
key Tab h
"$build/tavrosk-warp" -p 1 -a 0.5 -b 2 "$data/sample.bmp" pairs.txt warped2.bmp || xh_fail "tavrosk-warp"
"$build/tavrosk-warp" "$data/sample.bmp" pairs.txt default.bmp || xh_fail "tavrosk-warp"
xh_same default.bmp warped2.bmp >/dev/null && xh_fail "-p 1 -a 0.5 -b 2 change nothing: the check cannot tell"
shows warped2.bmp "after a restart the preview is not that of the saved pairs"
cmp -s pairs.txt before-restart.txt || xh_fail "starting changed the file"
key Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"

echo "morph mode: pairs drawn on both panels, frame 3 of 11 against tavrosk-morph"
convert "$data/sample.bmp" -crop 320x300+160+90 +repage a.bmp && convert "$data/sample2.bmp" -crop 320x300+160+90 \
    +repage b.bmp || xh_fail "convert"
morph_heading="# tavrosk-edit: morph pairs from a.bmp to b.bmp"
start a.bmp b.bmp m.txt
drag 20 30 120 40
drag 472 60 332 50      # SECOND, at x 320 + 2 (the line between) + 10..150: taken right to left
drag 352 100 402 200    # on SECOND while FIRST's segment is due: not taken
drag 50 150 150 200
drag 372 160 482 210
holds m.txt "$morph_heading" "20 30 120 40" "150 60 10 50" "50 150 150 200" "50 160 160 210"
key 3 Tab h
"$build/tavrosk-morph" -q --frames 11 --range 3-3 a.bmp b.bmp m.txt f%02d.bmp || xh_fail "tavrosk-morph"
shows f03.bmp "the morph preview differs from frame 3 of tavrosk-morph --frames 11"
kill -TERM "$XH_APP_PID"
xh_wait_exit 10
status=$?
[ "$status" = 143 ] || xh_fail "SIGTERM: status $status, not death by the signal"
no_temporaries

echo "zoomed in by the wheel and panned by a key, coordinates are saved to 1/100 pixel"
start "$data/sample.bmp" zoom.txt
xdotool mousemove --window "$wid" 0 0 click 4    # 150 % about the corner
drag 150 150 301 226
drag 150 300 2 452
holds zoom.txt "$heading" "100 100 200.67 150.67" "100 200 1.33 301.33"
key Right                                          # 50 screen pixels: 33.33 image pixels
drag 150 30 300 30
drag 150 60 300 60
holds zoom.txt "$heading" "100 100 200.67 150.67" "100 200 1.33 301.33" "133.33 20 233.33 20" \
    "133.33 40 233.33 40"
key Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"

echo "a file of extreme finite numbers: drawn, zoomed, panned, previewed with folds, and left cleanly"
printf '%s\n' '1e300 1e300 -1e300 -1e300' '1 1 5 5' '2147483648 0 -2147483649 5' '1e308 0 1e308 1' \
    '3.4e38 3.4e38 3.5e38 3.5e38' '1e-300 1e-300 -1e-300 2' >hostile.txt
start "$data/sample.bmp" hostile.txt
drag 100 100 200 150
drag 120 300 250 280
xdotool mousemove --window "$wid" 300 200 click 4 click 4 click 5
key Right plus Tab o
# Overlays hidden at 100 %: panel 0 shows the preview, which is tavrosk-warp's result.
key h z
for i in $(seq 100); do [ "$(grep -c '^[-0-9]' hostile.txt)" = 8 ] && break; sleep 0.05; done
"$build/tavrosk-warp" "$data/sample.bmp" hostile.txt hostile-warped.bmp 2>/dev/null || xh_fail "tavrosk-warp"
shows hostile-warped.bmp "the preview of the extreme pairs differs from tavrosk-warp's result"
key Escape
xh_wait_exit 10 || xh_fail "the extreme pairs: status $?"
! grep -q 'tavrosk-edit:\|runtime error\|Sanitizer' "$XH_TMP/stderr" || xh_fail "the extreme pairs: a message"
[ "$(grep -c '^[-0-9]' hostile.txt)" = 8 ] || xh_fail "the extreme pairs were not kept: $(cat hostile.txt)"

echo "the README's screenshot: the sample morph's pairs, the frame at t = 0.5 beside SECOND"
cp "$data/morph_pairs.txt" shot.txt
"$build/tavrosk-morph" -q --frames 11 --range 5-5 "$data/sample.bmp" "$data/sample2.bmp" shot.txt mid%02d.bmp \
    || xh_fail "tavrosk-morph"
start "$data/sample.bmp" "$data/sample2.bmp" shot.txt
# The panels are zoomed to fit; at 100 % panel 0 shows the frame's top-left corner, pixel for pixel,
# up to the line between the panels.
geometry
convert mid05.bmp -crop "$((w / 2 - 1))x$((h - 12))+0+0" +repage corner.bmp || xh_fail "convert"
key z Tab h
shows corner.bmp "the preview never showed the frame at t = 0.5"
window_shot look.png
key h
changes_from look.png
key z
changes_from look.png
cp look.png "$build/tavrosk-edit.png"
key Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"
cmp -s shot.txt "$data/morph_pairs.txt" || xh_fail "looking changed the file"

echo "a large image opens within the screen"
convert "$data/sample.bmp" -resize '3000x2000!' large.png || xh_fail "convert"
start large.png large.txt
geometry
[ "$w" -le 1024 ] && [ "$h" -le 768 ] || xh_fail "a 3000 x 2000 image opened a $w x $h window on a 1024 x 768 screen"
key z                                              # from the fit to 100 %: whole pixels again
drag 10 10 50 50
drag 10 20 60 60
holds large.txt "# tavrosk-edit: warp pairs for large.png" "10 10 50 50" "10 20 60 60"
key q
xh_wait_exit 10 || xh_fail "Q: status $?"
# pixel IMAGE X Y: the pixel's colour in hex.
pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -format '%[hex:u.p{0,0}]' info:
}
# status_right SHOT: the last column of the status line's text.
status_right() {
    local box
    box=$(convert "$1" -crop "${w}x12+0+$((h - 12))" +repage -format '%@' info:)
    echo $(( $(echo "$box" | sed 's/^\([0-9]*\)x[0-9]*+\([0-9]*\)+.*/\1 + \2 - 1/') ))
}

echo "a 32 x 32 image: a window its status line and help fit, the image centred; fit after a resize; Ctrl+wheel"
convert -size 32x32 xc:red small.png || xh_fail "convert"
small_heading="# tavrosk-edit: warp pairs for small.png"
start small.png small.txt
geometry
[ "$w" -ge 400 ] && [ "$h" -ge 200 ] || xh_fail "a 32 x 32 image opened a $w x $h window"
cx=$(( (w - 31) / 2 )) cy=$(( (h - 12 - 31) / 2 ))   # the image's top-left corner at 100 %, centred
key F1
for i in $(seq 200); do
    window_shot help.png
    [ "$(pixel help.png 12 12)" = 000000 ] && break
    sleep 0.1
done
[ "$(pixel help.png 12 12)" = 000000 ] || xh_fail "F1 shows no help"
# The help's black box ends before the window's right edge and the status line.
[ "$(pixel help.png $((w - 6)) $((h - 16)))" != 000000 ] || xh_fail "the help does not fit the window"
key F1
drag $((cx + 2)) $((cy + 3)) $((cx + 30)) $((cy + 3))
drag $((cx + 2)) $((cy + 20)) $((cx + 30)) $((cy + 29))
holds small.txt "$small_heading" "2 3 30 3" "2 20 30 29"
# Made smaller than that, the window keeps the size it needs.
w0=$w h0=$h
xdotool windowsize "$wid" 100 100
for i in $(seq 100); do geometry; [ "$w" = "$w0" ] && [ "$h" = "$h0" ] && break; sleep 0.05; done
[ "$w" = "$w0" ] && [ "$h" = "$h0" ] || xh_fail "resized to 100 x 100, the window is $w x $h, not $w0 x $h0"
xdotool windowsize "$wid" 600 600
for i in $(seq 100); do geometry; [ "$w" = 600 ] && [ "$h" = 600 ] && break; sleep 0.05; done
# Z: the fit of a 600 x 588 panel, 18.375 times, the image centred across (pan -0.33 image pixels).
key z
drag 300 294 410 404
drag 300 110 410 110
holds small.txt "$small_heading" "2 3 30 3" "2 20 30 29" "16 16 21.99 21.99" "16 5.99 21.99 5.99"
# Z again: 100 %, centred (pan -284, -278); four Ctrl+wheel presses about (300, 294) reach 1600 %.
key z
xdotool mousemove --window "$wid" 300 294 keydown ctrl click 4 click 4 click 4 click 4 keyup ctrl
drag 316 310 348 342
drag 364 310 364 342
holds small.txt "$small_heading" "2 3 30 3" "2 20 30 29" "16 16 21.99 21.99" "16 5.99 21.99 5.99" \
    "17 17 19 19" "20 17 20 19"
key Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"

echo "a morph of two 232 x 329 images from a file with a lone segment: the status line whole, then after a press on the wrong panel"
convert "$data/sample.bmp" -resize '232x329!' m1.png && convert "$data/sample2.bmp" -resize '232x329!' m2.png \
    || xh_fail "convert"
echo "20 30 120 40" >narrow.txt
start m1.png m2.png narrow.txt
geometry
xdotool mousemove --window "$wid" 200 300    # over FIRST: its coordinates in the line
# status_whole WHAT: waits until the line is long (past column 300), then it must end within the window.
status_whole() {
    for i in $(seq 200); do
        window_shot narrow.png
        right=$(status_right narrow.png)
        [ "$right" -gt 300 ] && break
        sleep 0.1
    done
    [ "$right" -gt 300 ] || xh_fail "no $1"
    [ "$right" -lt $((w - 4)) ] || xh_fail "the status line of $1 runs to column $right of a $w-pixel window: cut"
}
status_whole "word of the lone segment"
drag 20 40 90 60     # on FIRST while SECOND's segment is due: a notice
sleep 0.3
status_whole "notice after a press on FIRST"
key Escape Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"
[ "$(cat narrow.txt)" = "20 30 120 40" ] || xh_fail "a refused segment was saved: $(cat narrow.txt)"

echo "morph mode from a file with a lone segment: Esc, Shift+drag, P; FIRST's last column in the preview"
convert "$data/sample.bmp" -crop 400x400+100+40 +repage -fill white -draw 'line 399,0 399,399' c.bmp \
    && convert "$data/sample2.bmp" -crop 400x400+100+40 +repage -fill white -draw 'line 399,0 399,399' d.bmp \
    || xh_fail "convert"
printf '%s\n' "20 30 120 40" "25 35 125 45" "200 200 300 300" >lone.txt
cp lone.txt lone-before.txt
start c.bmp d.bmp lone.txt
grep -qx "tavrosk-edit: warning: lone.txt: its last segment waits for its second; nothing is saved until it has one" \
    "$XH_TMP/stderr" || xh_fail "no warning of the lone segment: $(cat "$XH_TMP/stderr")"
drag 100 100 150 150    # FIRST while the lone segment waits on SECOND: not taken
sleep 0.3               # (the pointer's events are not ordered with the keys' sent to the window)
key Escape              # the lone segment cancelled; the editor stays
sleep 0.3
xh_running || xh_fail "Esc quit with a segment waiting"
# Shift+drag from FIRST's end point (20, 30) draws; P makes the pair's second that same segment.
# Shift held as a key of the keyboard (the pointer over the window, which has the focus then), and let
# go at once: the editor reads it as it was at the press, not at the last event read.
xdotool mousemove --window "$wid" 20 30 keydown shift
sleep 0.5
drag 20 30 60 90
xdotool keyup shift
sleep 0.3
cmp -s lone.txt lone-before.txt || xh_fail "saved while a first segment waits: $(tr "\n" "|" <lone.txt)"
key p
morph_heading="# tavrosk-edit: morph pairs from c.bmp to d.bmp"
holds lone.txt "$morph_heading" "20 30 120 40" "25 35 125 45" "20 30 60 90" "20 30 60 90"
# Esc during a drag cancels that segment only.
xdotool mousemove --window "$wid" 200 300 mousedown 1 mousemove --window "$wid" 250 320 mousemove --window "$wid" \
    300 330
sleep 0.3
key Escape
sleep 0.3
xdotool mouseup 1
sleep 0.3
xh_running || xh_fail "Esc quit with a segment being drawn"
key ctrl+s
holds lone.txt "$morph_heading" "20 30 120 40" "25 35 125 45" "20 30 60 90" "20 30 60 90"
key 5 Tab h
"$build/tavrosk-morph" -q --frames 11 --range 5-5 c.bmp d.bmp lone.txt g%02d.bmp || xh_fail "tavrosk-morph"
shows g05.bmp "the morph preview differs from frame 5 of tavrosk-morph (FIRST's last column?)"
key Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"

echo "--no-auto-orient, and a file made for another image whose segments miss this one"
convert -size 700x500 gradient:red-blue stored.jpg || xh_fail "convert"
# The JPEG with an Exif orientation 6 (viewed turned a quarter clockwise) after its start.
{ printf '\xff\xd8\xff\xe1\x00\x22Exif\x00\x00MM\x00\x2a\x00\x00\x00\x08\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01'
  printf '\x00\x06\x00\x00\x00\x00\x00\x00'; tail -c +3 stored.jpg; } >turned.jpg
printf '%s\n' "# tavrosk-edit: warp pairs for other.jpg" "800 10 900 10" "800 20 900 25" >other.txt
start --no-auto-orient turned.jpg other.txt
printf '%s\n' "tavrosk-edit: warning: other.txt: made for other images (warp pairs for other.jpg)" \
    "tavrosk-edit: warning: other.txt: no segment touches the 700 x 500 image" >want-warnings.txt
cmp -s "$XH_TMP/stderr" want-warnings.txt || xh_fail "warnings: $(cat "$XH_TMP/stderr")"
drag 100 100 200 150
drag 100 120 210 200
key Tab h
"$build/tavrosk-warp" --no-auto-orient turned.jpg other.txt kept.bmp || xh_fail "tavrosk-warp"
"$build/tavrosk-warp" turned.jpg other.txt viewed.bmp || xh_fail "tavrosk-warp"
[ "$(identify -format '%wx%h' viewed.bmp)" = 500x700 ] || xh_fail "turned.jpg is not turned as viewed"
shows kept.bmp "with --no-auto-orient the preview is not tavrosk-warp --no-auto-orient's result"
key Escape
xh_wait_exit 10 || xh_fail "Esc: status $?"

if [ -n "$send_close" ]; then
    echo "closing the window ends the editor with status 0"
    start "$data/sample.bmp" close.txt
    "$send_close" "$wid" || xh_fail "send_close"
    xh_wait_exit 10 || xh_fail "closed window: status $?"
    [ ! -e close.txt ] || xh_fail "close.txt made without a change"
else
    echo "close request not tried: no send_close helper"
fi
echo "ok"
