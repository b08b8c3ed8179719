#!/usr/bin/env bash
# The console dialogue of the program, without a display (SDL's dummy video
# driver): the exact standard output for good and failed loads, where menu.bmp
# is looked for, end of input and over-long names, and exit status 0 on SIGTERM.
# Usage: console_test.sh BUILD_DIR
set -u
build=$(cd "$1" && pwd)
. "$(dirname "$0")/../support/xharness.sh"
xh_init
export SDL_VIDEODRIVER=dummy
failures=0

stars='*******************************************************'
expected_banner() {
    printf 'SDL initialized.\n'
    printf '%s\n\n' "$stars"
    printf 'Tavrosk v1.0\n Orvantis\n----------------------\n'
    printf 'Program nacita pouze *.bmp\nSoubor menu.bmp musi byt ve stejnem adresari jako *.exe\n'
    printf 'Ovladani:\nHned se zobrazi obrazek a program ceka na zadani prvniho\n'
    printf 'paru usecek. Usecky se zadavaji tak, ze se stiskne mys (1. bod usecky)\n'
    printf 'a tahne se mysi (pri stale stisklem levem tlacitku) na misto konce \n'
    printf 'usecky. Uvolnenim tlacitka se ulozi 2. bod usecky\n'
    printf 'Hned za sebou je treba zadat vzdy 2 usecky\n'
    printf 'Dalsi par pridame pomoci butonu PRIDAT.\n'
    printf 'Buton RESET vymaze zadane usecky a program rovnou ceka na zadani novych\n'
    printf 'Buton EXIT ukonci program :-)\n'
    printf 'Doufam, ze je ten algoritmus spravne....\n\n'
    printf 'orvantis@example.com\n'
    printf '%s\n' "$stars"
}

# expect CASE MENU_OK IMAGE_OK DIR STDIN_FILE [PROGRAM_DIR]: runs PROGRAM_DIR/tavrosk
# (default: the build's) in DIR, stops it with SIGTERM once it is running and
# compares status and stdout with the expected ones.
expect() {
    local name=$1 menu_ok=$2 image_ok=$3 dir=$4 input=$5 program_dir=${6:-$build} status
    {
        expected_banner
        [ "$menu_ok" = yes ] || printf 'error loading BMP\n'
        printf 'Zadej jmeno souboru BMP (vcetne pripony): '
        [ "$image_ok" = yes ] || printf 'error loading BMP\n'
        printf 'Set at 32 bits-per-pixel mode\n'
        printf 'Press Esc to quit\n'
    } >"$XH_TMP/expected"
    xh_start_app "$program_dir" -f "$input" "$dir"
    xh_wait_output "Press Esc to quit" 20
    kill -TERM "$XH_APP_PID"
    xh_wait_exit 20
    status=$?
    if [ "$status" -ne 0 ]; then
        echo "FAIL $name: exit status $status"
        failures=$((failures + 1))
    fi
    if ! cmp -s "$XH_TMP/expected" "$XH_TMP/stdout"; then
        echo "FAIL $name: standard output differs (expected, actual):"
        diff <(od -c "$XH_TMP/expected") <(od -c "$XH_TMP/stdout") | head -n 20
        failures=$((failures + 1))
    fi
    [ "$status" -eq 0 ] && cmp -s "$XH_TMP/expected" "$XH_TMP/stdout" && echo "ok   $name"
}

input_file() { printf '%s' "$1" >"$XH_TMP/in.$2"; echo "$XH_TMP/in.$2"; }

# A directory with menu.bmp and two images whose names are 199 and 200
# characters long; the shorter is the longer cut after 199 characters, so a
# reader that cut instead of refusing would load it.
work=$XH_TMP/work
nomenu=$XH_TMP/nomenu
mkdir -p "$work" "$nomenu"
cp "$build/menu.bmp" "$work/"
name199=$(printf 'n%.0s' $(seq 195)).bmp
name200=${name199}x
[ ${#name199} -eq 199 ] && [ ${#name200} -eq 200 ] || xh_fail "bad test names"
cp "$build/sample.bmp" "$work/$name199"
cp "$build/sample.bmp" "$work/$name200"

expect "both images load" yes yes "$build" "$(input_file 'sample.bmp
' 1)"
expect "blanks and line feeds before the name are skipped" yes yes "$build" "$(input_file '
   	sample.bmp  other words' 2)"
expect "missing image" yes no "$build" "$(input_file 'no-such-image.bmp
' 3)"
expect "no menu.bmp in the working directory: the one beside the program" yes yes "$nomenu" \
    "$(input_file "$build/sample.bmp
" 4)"
expect "end of input before a name" yes no "$build" /dev/null
expect "only blanks, then end of input" yes no "$build" "$(input_file '  
 ' 6)"
expect "name of 199 characters" yes yes "$work" "$(input_file "$name199
" 7)"
expect "name of 199 characters at end of input" yes yes "$work" "$(input_file "$name199" 8)"
expect "name of 200 characters is refused" yes no "$work" "$(input_file "$name200
" 9)"
expect "name of 300 characters is refused" yes no "$work" "$(input_file "$(printf 'z%.0s' $(seq 300))
" 10)"
expect "a text file is not a BMP" yes no "$build" "$(input_file "$0
" 11)"

# Where the menu is looked for: copies of the program in prefix-like trees,
# each run from a folder that has no menu.bmp unless the case says so.
# lone/bin: no menu anywhere; tree/bin: ../share/tavrosk/menu.bmp only;
# link/tavrosk: a symbolic link to the build's program.
broken=$XH_TMP/broken
mkdir -p "$broken" "$XH_TMP/lone/bin" "$XH_TMP/tree/bin" "$XH_TMP/tree/share/tavrosk" "$XH_TMP/link"
printf 'BM not really a bitmap\n' >"$broken/menu.bmp"
for tree in lone tree; do cp "$build/tavrosk" "$XH_TMP/$tree/bin/"; done
cp "$build/menu.bmp" "$XH_TMP/tree/share/tavrosk/"
ln -s "$build/tavrosk" "$XH_TMP/link/tavrosk"
image_input=$(input_file "$build/sample.bmp
" 12)

expect "menu in ../share/tavrosk from the program's folder" yes yes "$nomenu" "$image_input" "$XH_TMP/tree/bin"
expect "no menu anywhere: one error line, then the prompt" no yes "$nomenu" "$image_input" "$XH_TMP/lone/bin"
expect "neither loads" no no "$nomenu" "$(input_file 'sample.bmp
' 13)" "$XH_TMP/lone/bin"
expect "a broken menu.bmp in the working directory falls back to the program's" yes yes "$broken" \
    "$image_input"
expect "a broken menu.bmp in the working directory and no other: one error line" no yes "$broken" \
    "$image_input" "$XH_TMP/lone/bin"
expect "started through a symbolic link: the menu beside the real program" yes yes "$nomenu" \
    "$image_input" "$XH_TMP/link"

[ "$failures" -eq 0 ] || xh_fail "$failures check(s) failed"
echo "all console checks passed"
