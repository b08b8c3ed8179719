# Helpers for process-level tests of build/tavrosk; source it from bash.
# Each function waits by polling with a timeout, never by a fixed sleep.
# Set-up: xh_init; then, for X tests, xh_need_x and xh_start_xvfb NUM. The
# EXIT trap stops the program and the private X server. Exit code 77 means
# "skipped": register tests with SKIP_RETURN_CODE 77.

XH_SKIP=77
XH_APP_PID=
XH_XVFB_PID=

# xh_init: makes a scratch directory $XH_TMP and installs the cleanup trap.
xh_init() {
    XH_TMP=$(mktemp -d "${TMPDIR:-/tmp}/tavrosk-test.XXXXXX")
    trap xh_cleanup EXIT
    # In sanitizer builds, libX11 keeps a few strings to process exit; that is
    # not ours to report, and it would turn every exit status into 1.
    export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/lsan.supp}
}

# xh_cleanup: kills the program and Xvfb if still running, removes $XH_TMP.
xh_cleanup() {
    [ -n "$XH_APP_PID" ] && kill -KILL "$XH_APP_PID" 2>/dev/null
    [ -n "$XH_XVFB_PID" ] && kill "$XH_XVFB_PID" 2>/dev/null && wait "$XH_XVFB_PID" 2>/dev/null
    [ -n "${XH_TMP:-}" ] && rm -rf "$XH_TMP"
    return 0
}

# xh_skip MESSAGE: prints why the test is skipped and exits with the skip code.
xh_skip() {
    echo "SKIP: $*"
    exit "$XH_SKIP"
}

# xh_need_suite DIR: skips when the BMP suite folder is missing, but fails under CI=true.
xh_need_suite() {
    [ -d "$1" ] && return 0
    [ "${CI:-}" = true ] && xh_fail "no BMP suite at $1 (TAVROSK_BMPSUITE_DIR), and CI=true"
    xh_skip "no BMP suite at $1 (set TAVROSK_BMPSUITE_DIR)"
}

# xh_fail MESSAGE: prints the failure and the end of the program's output, and exits 1.
xh_fail() {
    echo "FAIL: $*"
    local f
    for f in stdout stderr; do
        [ -s "$XH_TMP/$f" ] && { echo "--- program $f (end):"; tail -n 15 "$XH_TMP/$f"; }
    done
    exit 1
}

# xh_need_x: skips unless Xvfb is installed; fails if the other X tools are missing.
xh_need_x() {
    command -v Xvfb >/dev/null || xh_skip "Xvfb is not installed (apt-get install xvfb)"
    local tool
    for tool in xdotool import compare convert identify; do
        command -v "$tool" >/dev/null || xh_fail "$tool is not installed"
    done
}

# xh_start_xvfb NUM: starts Xvfb 1024x768x24 on :NUM (or, if taken, on a free display) and exports DISPLAY.
# -noreset: without it the server resets when its last client leaves, and refuses the next program meanwhile.
xh_start_xvfb() {
    local num=$1 attempt fifo
    for attempt in given free; do
        : >"$XH_TMP/displayfd"
        if [ "$attempt" = given ]; then
            Xvfb ":$num" -screen 0 1024x768x24 -nolisten tcp -noreset -displayfd 5 5>"$XH_TMP/displayfd" \
                2>"$XH_TMP/xvfb.log" &
        else
            Xvfb -screen 0 1024x768x24 -nolisten tcp -noreset -displayfd 5 5>"$XH_TMP/displayfd" \
                2>"$XH_TMP/xvfb.log" &
        fi
        XH_XVFB_PID=$!
        # Xvfb writes the display number once it accepts connections.
        local i
        for i in $(seq 100); do
            [ -s "$XH_TMP/displayfd" ] && break
            kill -0 "$XH_XVFB_PID" 2>/dev/null || break
            sleep 0.05
        done
        if [ -s "$XH_TMP/displayfd" ] && kill -0 "$XH_XVFB_PID" 2>/dev/null; then
            export DISPLAY=":$(tr -d '\n' <"$XH_TMP/displayfd")"
            [ "$attempt" = free ] && echo "display :$num is taken; using $DISPLAY"
            return 0
        fi
        kill "$XH_XVFB_PID" 2>/dev/null
        wait "$XH_XVFB_PID" 2>/dev/null
        XH_XVFB_PID=
    done
    cat "$XH_TMP/xvfb.log"
    xh_fail "Xvfb did not start"
}

# xh_start_app BUILD_DIR INPUT [DIR]: runs BUILD_DIR/tavrosk in DIR (default BUILD_DIR) with INPUT
# (printf text, or a file with -f FILE) on stdin, stdout to $XH_TMP/stdout; sets XH_APP_PID.
xh_start_app() {
    local build=$1 input=$2 dir=${3:-$1}
    # Emptied here, before the program starts: the redirection below happens
    # in the background, and until then xh_wait_output would still find the
    # previous run's output.
    : >"$XH_TMP/stdout"
    : >"$XH_TMP/stderr"
    if [ "$input" = -f ]; then
        input=$3
        dir=${4:-$build}
        (cd "$dir" && exec "$build/tavrosk" <"$input" >"$XH_TMP/stdout" 2>"$XH_TMP/stderr") &
    else
        printf '%s' "$input" >"$XH_TMP/stdin"
        (cd "$dir" && exec "$build/tavrosk" <"$XH_TMP/stdin" >"$XH_TMP/stdout" 2>"$XH_TMP/stderr") &
    fi
    XH_APP_PID=$!
}

# xh_wait_output TEXT [SECONDS]: waits until the program's stdout contains TEXT; fails on exit or timeout.
xh_wait_output() {
    local text=$1 limit=$(( ${2:-20} * 20 )) i
    for i in $(seq "$limit"); do
        grep -qF -- "$text" "$XH_TMP/stdout" 2>/dev/null && return 0
        xh_running || xh_fail "program ended before printing '$text'"
        sleep 0.05
    done
    xh_fail "no '$text' on stdout after ${2:-20} s"
}

# xh_running: true while the program has not exited (a zombie counts as exited).
xh_running() {
    [ -n "$XH_APP_PID" ] && [ -r "/proc/$XH_APP_PID/stat" ] \
        && [ "$(cut -d' ' -f3 "/proc/$XH_APP_PID/stat" 2>/dev/null)" != Z ]
}

# xh_wait_exit [SECONDS]: waits for the program to exit and returns its status (124 after killing it on timeout).
xh_wait_exit() {
    local limit=$(( ${1:-20} * 20 )) i status
    for i in $(seq "$limit"); do
        xh_running || break
        sleep 0.05
    done
    if xh_running; then
        kill -KILL "$XH_APP_PID" 2>/dev/null
        wait "$XH_APP_PID" 2>/dev/null
        XH_APP_PID=
        return 124
    fi
    wait "$XH_APP_PID"
    status=$?
    XH_APP_PID=
    return "$status"
}

# xh_wait_window [SECONDS]: waits until the program's window is mapped; prints its id (and sets XH_WINDOW).
xh_wait_window() {
    local limit=$(( ${1:-20} * 20 )) i
    for i in $(seq "$limit"); do
        XH_WINDOW=$(xdotool search --onlyvisible --pid "$XH_APP_PID" 2>/dev/null | head -n1)
        [ -n "$XH_WINDOW" ] && { echo "$XH_WINDOW"; return 0; }
        xh_running || xh_fail "program ended before mapping its window"
        sleep 0.05
    done
    xh_fail "no window mapped after ${1:-20} s"
}

# xh_shot FILE: saves the window area (0,0)-(799,599) of the root window as FILE (PNG).
xh_shot() {
    import -window root -crop 800x600+0+0 +repage "$1"
}

# xh_crop IN X Y W H OUT: writes the W x H region of IN at (X, Y) to OUT.
xh_crop() {
    convert "$1" -crop "${4}x${5}+${2}+${3}" +repage "$6"
}

# xh_same A B: true when A and B have the same size and the same RGB at every pixel; else prints
# the count of differing pixels and a few of their coordinates.
xh_same() {
    local count size_a size_b
    size_a=$(identify -format '%wx%h' "$1") size_b=$(identify -format '%wx%h' "$2")
    [ "$size_a" = "$size_b" ] || { echo "$1 is $size_a, $2 is $size_b"; return 1; }
    count=$(compare -metric AE "$1" "$2" null: 2>&1)
    [ "$count" = 0 ] && return 0
    echo "$1 vs $2: $count differing pixels"
    convert "$1" "$2" -compose difference -composite -colorspace gray -threshold 0 txt:- 2>/dev/null \
        | grep -v '^#' | grep -v 'gray(0)' | head -n 5 | cut -d: -f1 | sed 's/^/  at /'
    return 1
}

# xh_wait_frame REF X Y OUT [SECONDS]: takes screenshots into OUT until the region at (X, Y) the size of
# REF equals REF pixel for pixel (e.g. the menu at x = 700); fails on timeout.
xh_wait_frame() {
    local ref=$1 x=$2 y=$3 out=$4 limit=$(( ${5:-20} * 10 )) i size
    size=$(identify -format '%w %h' "$ref")
    for i in $(seq "$limit"); do
        xh_shot "$out"
        # shellcheck disable=SC2086
        xh_crop "$out" "$x" "$y" $size "$XH_TMP/frame-region.png"
        xh_same "$XH_TMP/frame-region.png" "$ref" >/dev/null && return 0
        xh_running || xh_fail "program ended before drawing its first frame"
        sleep 0.1
    done
    xh_same "$XH_TMP/frame-region.png" "$ref"
    xh_fail "$ref never appeared at ($x, $y)"
}
