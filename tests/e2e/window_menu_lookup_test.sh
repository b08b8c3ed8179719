#!/usr/bin/env bash
# Which menu.bmp the program shows, in a private X server: the one in the
# working directory before the one beside the program, that one before
# ../share/tavrosk/menu.bmp, and a broken file passed over. Each place holds a
# different picture, so the first frame tells which file was loaded.
# Usage: window_menu_lookup_test.sh BUILD_DIR DISPLAY_NUMBER
set -u
build=$(cd "$1" && pwd)
. "$(dirname "$0")/../support/xharness.sh"
xh_init
xh_need_x
xh_start_xvfb "$2"

# Three menus the size of the real one, unlike it and each other.
for seed in 1 2 3; do
    convert -seed "$seed" -size 100x225 plasma: -type TrueColor BMP3:"$XH_TMP/menu$seed.bmp"
done
mkdir -p "$XH_TMP/empty" "$XH_TMP/own" "$XH_TMP/broken" \
    "$XH_TMP/both/bin" "$XH_TMP/both/share/tavrosk" "$XH_TMP/shared/bin" "$XH_TMP/shared/share/tavrosk"
cp "$XH_TMP/menu1.bmp" "$XH_TMP/own/menu.bmp"
printf 'BM broken\n' >"$XH_TMP/broken/menu.bmp"
cp "$build/tavrosk" "$XH_TMP/both/bin/"
cp "$XH_TMP/menu2.bmp" "$XH_TMP/both/bin/menu.bmp"
cp "$XH_TMP/menu3.bmp" "$XH_TMP/both/share/tavrosk/menu.bmp"
cp "$build/tavrosk" "$XH_TMP/shared/bin/"
cp "$XH_TMP/menu3.bmp" "$XH_TMP/shared/share/tavrosk/menu.bmp"

# shows_menu CASE PROGRAM_DIR WORKING_DIR MENU: PROGRAM_DIR/tavrosk started in
# WORKING_DIR draws MENU at x = 700, reports no failed load, and Esc ends it.
shows_menu() {
    local name=$1 program_dir=$2 dir=$3 menu=$4 window status
    xh_start_app "$program_dir" "$build/sample.bmp
" "$dir"
    window=$(xh_wait_window 20) || { echo "$window"; exit 1; }
    xh_wait_frame "$menu" 700 0 "$XH_TMP/shot.png" 20
    grep -q 'error loading BMP' "$XH_TMP/stdout" && xh_fail "$name: a load failed: $(cat "$XH_TMP/stdout")"
    xdotool windowfocus --sync "$window" key Escape
    xh_wait_exit 20
    status=$?
    [ "$status" -eq 0 ] || xh_fail "$name: status $status after Esc"
    echo "ok   $name"
}

shows_menu "the working directory's menu comes first" "$build" "$XH_TMP/own" "$XH_TMP/menu1.bmp"
shows_menu "no menu in the working directory: the one beside the program" "$build" "$XH_TMP/empty" "$build/menu.bmp"
shows_menu "a broken menu in the working directory: the one beside the program" \
    "$XH_TMP/both/bin" "$XH_TMP/broken" "$XH_TMP/menu2.bmp"
shows_menu "nothing beside the program: ../share/tavrosk/menu.bmp" \
    "$XH_TMP/shared/bin" "$XH_TMP/empty" "$XH_TMP/menu3.bmp"
echo "all menu window checks passed"
