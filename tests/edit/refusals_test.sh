#!/usr/bin/env bash
# tavrosk-edit's refused starts, with no display at all: each is refused
# before a window would open, with its exit status and one line on stderr,
# and leaves the pairs file exactly as it was. Messages about the pairs file
# are tavrosk-warp's own (the same reader), but for the program's name.
# Usage: refusals_test.sh BUILD_DIR DATA_DIR
set -uo pipefail
build=$1 data=$2
edit=$build/tavrosk-edit warp=$build/tavrosk-warp
tmp=$(mktemp -d "${TMPDIR:-/tmp}/tavrosk-edit-refusals.XXXXXX")
trap 'chmod -R u+w "$tmp"; rm -rf "$tmp"' EXIT
unset DISPLAY
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

cd "$tmp" || exit 1
convert "$data/sample.bmp" -crop 320x240+0+0 +repage small.bmp || exit 1
printf '1 2 3\n' >bad.txt
printf '1 2 3 4\n5 6 7 8\n9 9 9 9\n' >odd.txt
printf '# mine\n1 2 3 4\n5 6 7 8\n' >ro.txt
chmod 444 ro.txt
mkdir folder

# expect STATUS "STDERR" ARGS...: one run, its status and its whole stderr;
# every file in the folder unchanged.
expect() {
    local status=$1 message=$2
    shift 2
    local before after got
    before=$(find . -type f ! -name out.log ! -name err.log -exec md5sum {} + | sort)
    "$edit" "$@" >out.log 2>err.log </dev/null
    got=$?
    after=$(find . -type f ! -name out.log ! -name err.log -exec md5sum {} + | sort)
    [ "$got" = "$status" ] || fail "tavrosk-edit $*: status $got, want $status"
    if [ "$status" = 2 ]; then
        [ "$(head -n 1 err.log)" = "$message" ] || fail "tavrosk-edit $*: stderr '$(head -n 1 err.log)', want '$message'"
        tail -n 1 err.log | grep -qF "Try 'tavrosk-edit --help'" || fail "tavrosk-edit $*: no pointer to --help"
    else
        [ "$(cat err.log)" = "$message" ] || fail "tavrosk-edit $*: stderr '$(cat err.log)', want '$message'"
    fi
    [ "$before" = "$after" ] || fail "tavrosk-edit $*: files changed"
    [ ! -s out.log ] || fail "tavrosk-edit $*: wrote to stdout"
}

# warp_says PAIRS: what tavrosk-warp says of this pairs file, as tavrosk-edit would.
warp_says() {
    "$warp" "$data/sample.bmp" "$1" "$tmp/never.bmp" 2>&1 | sed 's/^tavrosk-warp:/tavrosk-edit:/'
}

expect 1 "tavrosk-edit: missing.png: cannot open: No such file or directory" missing.png p.txt
expect 1 "tavrosk-edit: bad.txt: not a BMP, PNG, JPEG, TIFF, WebP, HEIF or AVIF image" bad.txt p.txt
expect 1 "tavrosk-edit: small.bmp is 320 x 240 but $data/sample.bmp is 640 x 480; resize it first (convert small.bmp -resize 640x480! small2.bmp)" \
    "$data/sample.bmp" small.bmp p.txt
expect 1 "$(warp_says bad.txt)" "$data/sample.bmp" bad.txt
expect 1 "tavrosk-edit: ro.txt: is read-only; not replaced" "$data/sample.bmp" ro.txt
expect 1 "tavrosk-edit: folder: is a directory" "$data/sample.bmp" folder
expect 1 "tavrosk-edit: nowhere/p.txt: cannot write in nowhere: No such file or directory" "$data/sample.bmp" \
    nowhere/p.txt
expect 1 "tavrosk-edit: -p: '-1' is not a finite number, 0 or more" -p -1 "$data/sample.bmp" p.txt
expect 1 "tavrosk-edit: --threads: '0' is not a whole number from 1 to 1024" -t 0 "$data/sample.bmp" p.txt
expect 2 "tavrosk-edit: missing arguments" "$data/sample.bmp"
expect 2 "tavrosk-edit: unexpected argument d" a b c d
expect 2 "tavrosk-edit: unknown option -x" -x a b
expect 2 "tavrosk-edit: unknown option --frames" --frames 3 a b
[ ! -e p.txt ] || fail "a refused start made p.txt"
"$edit" --help | grep -q '^usage: tavrosk-edit ' || fail "--help prints no usage line"
[ "$("$edit" --version | head -n 1)" = "tavrosk-edit $("$warp" --version | head -n 1 | cut -d' ' -f2)" ] || fail "--version"
# With every file in order but no display, the window cannot open: status 1.
"$edit" "$data/sample.bmp" p.txt 2>err.log
[ $? = 1 ] && grep -q '^tavrosk-edit: cannot open the display' err.log || fail "no display: $(cat err.log)"
[ ! -e p.txt ] || fail "p.txt made without a change"
# An odd count is no refusal: the warning comes before the window would open.
expect 1 "tavrosk-edit: warning: odd.txt: its last segment waits for its second; nothing is saved until it has one
tavrosk-edit: cannot open the display: DISPLAY is not set" "$data/sample.bmp" "$data/sample2.bmp" odd.txt

[ "$failures" = 0 ] && echo "ok: every refused start" || exit 1
