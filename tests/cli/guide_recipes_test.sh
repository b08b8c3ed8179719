#!/usr/bin/env bash
# Runs the recipes of docs/guide.md as a reader would: every code block that
# an HTML comment marks
#   <!-- recipe -->                      a shell block
#   <!-- recipe needs CMD... -->         a shell block that needs these commands
#   <!-- recipe python needs MOD... -->  a Python block that needs these modules
#   <!-- output -->                      what the recipe before it prints
# in order, in one scratch folder that holds only build/ (the build tree)
# and data/ (the project's), with the built programs on PATH and nothing on
# standard input. A recipe fails on a status other than 0 and on a warning
# or a question in its output; ffmpeg's videos must share one frame rate. A
# recipe whose commands or modules are missing is not run; the test then
# ends as skipped, saying which and why, once the others have passed.
# Recipes marked "any-size" (<!-- recipe any-size ... -->) are then run
# again, in order, in a second scratch folder whose sample images are cut to
# an odd width and height, and its videos must come out padded to even.
# Usage: guide_recipes_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$1 build=$2
. "$source_dir/tests/support/xharness.sh"
xh_init
guide=$source_dir/docs/guide.md blocks=$XH_TMP/blocks scratch=$XH_TMP/scratch
mkdir "$blocks" "$scratch"
ln -s "$build" "$scratch/build"
ln -s "$source_dir/data" "$scratch/data"
export PATH="$build:$PATH"

# Block N goes to $blocks/N (its text, indentation removed) and $blocks/N.mark
# (the guide's line of its mark, then the mark's words).
awk -v out="$blocks" '
    /^<!-- (recipe|output)( .*)? -->$/ {
        mark = $0; sub(/^<!-- /, "", mark); sub(/ -->$/, "", mark)
        n++; printf "%d %s\n", NR, mark > (out "/" n ".mark"); close(out "/" n ".mark")
        state = "before"; blank = 0; next
    }
    state == "before" && /^$/ { next }
    state == "before" && /^```/ { state = "fenced"; next }
    state == "before" { state = "indented" }
    state == "fenced" && /^```/ { state = ""; next }
    state == "fenced" { print > (out "/" n); next }
    # Blank lines belong to an indented block only between its lines.
    state == "indented" && /^$/ { blank++; next }
    state == "indented" && /^    / {
        for (; blank > 0; blank--) print "" > (out "/" n)
        sub(/^    /, ""); print > (out "/" n); next
    }
    state == "indented" { state = ""; blank = 0 }
' "$guide"
count=$(find "$blocks" -name '*.mark' | wc -l)
[ "$count" -gt 0 ] || xh_fail "no marked recipe in $guide"

python_with() {
    local python
    for python in python3 /usr/bin/python3; do
        command -v "$python" >/dev/null && "$python" -c "import $(IFS=,; echo "$*")" 2>/dev/null \
            && { echo "$python"; return 0; }
    done
    return 1
}

# run_recipes SCRATCH ANY_SIZE_ONLY: every marked block in SCRATCH, or only the any-size ones.
skipped=() ran=0
run_recipes() {
    local scratch=$1 only_any_size=$2 n line kind words last_output=
    for n in $(seq "$count"); do
        read -r line kind words <"$blocks/$n.mark"
        [ -s "$blocks/$n" ] || xh_fail "guide line $line: the mark is not followed by a code block"
        if [ "$only_any_size" = yes ]; then
            [[ " $words " == *" any-size "* ]] || continue
        fi
        if [ "$kind" = output ]; then
            [ -n "$last_output" ] || continue
            diff -u "$blocks/$n" "$last_output" >"$XH_TMP/diff" \
                || { cat "$XH_TMP/diff"; xh_fail "guide line $line: the recipe before printed something else"; }
            continue
        fi
        runner=(bash -e -o pipefail) python=no need= missing=
        for word in $words; do
            case $word in
            python) python=yes ;;
            needs | any-size) ;;
            *) need+=" $word" ;;
            esac
        done
        if [ "$python" = yes ]; then
            # shellcheck disable=SC2086
            if interpreter=$(python_with $need); then
                runner=("$interpreter")
            else
                missing="Python modules$need are not importable"
            fi
        else
            for word in $need; do
                command -v "$word" >/dev/null || missing+="${missing:+, }$word is not installed"
            done
        fi
        last_output=
        if [ -n "$missing" ]; then
            echo "not run: guide line $line: $missing"
            skipped+=("line $line ($missing)")
            continue
        fi
        last_output=$XH_TMP/$n.out
        (cd "$scratch" && "${runner[@]}" "$blocks/$n" </dev/null >"$last_output" 2>&1)
        status=$?
        if [ "$status" -ne 0 ] || grep -Eiq 'warning|\?[[:space:]]*(\[y/N\])?$|image sequence pattern' "$last_output"; then
            echo "--- guide line $line:"
            cat "$blocks/$n"
            echo "--- printed:"
            tail -n 20 "$last_output"
            xh_fail "guide line $line: status $status, or a warning or question in its output"
        fi
        echo "ok   guide line $line"
        ran=$((ran + 1))
    done
}

# video_property SCRATCH ENTRIES: the stream ENTRIES of every video, one line each, repeats removed.
video_property() {
    (cd "$1" && for video in *.mp4; do
        [ -e "$video" ] && ffprobe -v error -select_streams v:0 -show_entries "stream=$2" -of csv=p=0 "$video"
    done | sort -u)
}

run_recipes "$scratch" no
# Videos made from the same frames run at one rate, whichever way they came.
if command -v ffprobe >/dev/null; then
    rates=$(video_property "$scratch" r_frame_rate)
    [ "$(echo "$rates" | grep -c .)" -le 1 ] || xh_fail "the guide's videos have different frame rates: $rates"
fi

echo "the recipes for any size, on samples of 639 x 479"
odd=$XH_TMP/odd
mkdir "$odd" "$odd/data"
ln -s "$build" "$odd/build"
for file in "$source_dir"/data/*; do
    case ${file##*/} in
    sample.bmp | sample2.bmp) convert "$file" -crop 639x479+0+0 +repage "BMP3:$odd/data/${file##*/}" \
        || xh_fail "convert" ;;
    *) ln -s "$file" "$odd/data/" ;;
    esac
done
run_recipes "$odd" yes
if command -v ffprobe >/dev/null; then
    sizes=$(video_property "$odd" width,height)
    [ -z "$sizes" ] || [ "$sizes" = 640,480 ] || xh_fail "videos of 639 x 479 frames are not padded to 640 x 480: $sizes"
fi
if [ ${#skipped[@]} -gt 0 ]; then
    not_run=$(printf '; %s' "${skipped[@]}")
    xh_skip "$ran recipes ran; not run: ${not_run#; }"
fi
echo "ok   all $ran recipes of the guide ran as written"
