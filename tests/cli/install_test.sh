#!/usr/bin/env bash
# Installs the build into a scratch prefix with cmake --install and checks
# the result: every file where it belongs, the installed program finding its
# menu from an empty working directory, the installed batch tools running the
# README's first run on the installed data, the man pages formatting without a
# warning, the bash completion's answers and, when the Python module is
# built, the package imported from its installed folder.
# Usage: install_test.sh BUILD_DIR SOURCE_DIR CMAKE CONFIG [PYTHON]
set -u
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
cmake=$3 config=$4 python=${5:-}
. "$source_dir/tests/support/xharness.sh"
xh_init
failures=0
fail() {
    echo "FAIL $*"
    failures=$((failures + 1))
}

prefix=$XH_TMP/prefix
"$cmake" --install "$build" --prefix "$prefix" ${config:+--config "$config"} >"$XH_TMP/install.log" 2>&1 \
    || { cat "$XH_TMP/install.log"; xh_fail "cmake --install failed"; }
data=$prefix/share/tavrosk

# Every file in its place; the data byte for byte as committed.
for program in tavrosk tavrosk-warp tavrosk-morph tavrosk-edit; do
    [ -f "$prefix/bin/$program" ] && [ -x "$prefix/bin/$program" ] || fail "bin/$program missing or not executable"
done
for file in menu.bmp sample.bmp sample2.bmp sample_pairs.txt morph_pairs.txt fold_pairs.txt; do
    cmp -s "$data/$file" "$source_dir/data/$file" || fail "share/tavrosk/$file missing or not the committed one"
done
for page in tavrosk tavrosk-warp tavrosk-morph tavrosk-edit; do
    [ -s "$prefix/share/man/man1/$page.1" ] || fail "share/man/man1/$page.1 missing"
done
completion=$prefix/share/bash-completion/completions/tavrosk-warp
[ -s "$completion" ] || fail "share/bash-completion/completions/tavrosk-warp missing"
morph_completion=$prefix/share/bash-completion/completions/tavrosk-morph
[ -s "$morph_completion" ] || fail "share/bash-completion/completions/tavrosk-morph missing"
edit_completion=$prefix/share/bash-completion/completions/tavrosk-edit
[ -s "$edit_completion" ] || fail "share/bash-completion/completions/tavrosk-edit missing"
echo "ok   files installed"

# The installed program, started in an empty folder with no display, finds
# its menu under share/tavrosk: no error before the prompt. It is given the
# installed sample, so no error after it either.
export SDL_VIDEODRIVER=dummy
mkdir -p "$XH_TMP/empty"
printf '%s\n' "$data/sample.bmp" >"$XH_TMP/name"
xh_start_app "$prefix/bin" -f "$XH_TMP/name" "$XH_TMP/empty"
xh_wait_output "Press Esc to quit" 20
kill -TERM "$XH_APP_PID"
xh_wait_exit 20
status=$?
[ "$status" -eq 0 ] || fail "installed tavrosk: exit status $status after SIGTERM"
output=$(cat "$XH_TMP/stdout")
prompt='Zadej jmeno souboru BMP (vcetne pripony): '
[[ $output == *"$prompt"* ]] || fail "installed tavrosk printed no prompt"
[[ ${output%%"$prompt"*} == *"error loading BMP"* ]] && fail "installed tavrosk did not find its menu: $output"
[[ ${output#*"$prompt"} == *"error loading BMP"* ]] && fail "installed tavrosk could not load the installed sample"
echo "ok   installed tavrosk finds its menu from an empty folder"

# The installed batch tool: its version, and the README's first run on the
# installed data, from the empty folder.
version=$("$prefix/bin/tavrosk-warp" --version) || fail "tavrosk-warp --version: status $?"
[[ $version == "tavrosk-warp "[0-9]* ]] || fail "tavrosk-warp --version printed '$version'"
(cd "$XH_TMP/empty" && "$prefix/bin/tavrosk-warp" "$data/sample.bmp" "$data/sample_pairs.txt" out.bmp) \
    || fail "tavrosk-warp on the installed sample and pairs: status $?"
[ "$(head -c 2 "$XH_TMP/empty/out.bmp" 2>/dev/null)" = BM ] || fail "the sample warp wrote no BMP"
echo "ok   installed tavrosk-warp: $version; sample warp written"
edit_version=$("$prefix/bin/tavrosk-edit" --version) || fail "tavrosk-edit --version: status $?"
[[ $edit_version == "tavrosk-edit "[0-9]* ]] || fail "tavrosk-edit --version printed '$edit_version'"

# The installed morph tool on the installed pair of samples: five frames,
# the first and last the samples themselves.
(cd "$XH_TMP/empty" && "$prefix/bin/tavrosk-morph" --frames 5 "$data/sample.bmp" "$data/sample2.bmp" \
    "$data/morph_pairs.txt" morph%d.bmp) || fail "tavrosk-morph on the installed samples: status $?"
for i in 0 1 2 3 4; do
    [ "$(head -c 2 "$XH_TMP/empty/morph$i.bmp" 2>/dev/null)" = BM ] || fail "tavrosk-morph wrote no frame $i"
done
echo "ok   installed tavrosk-morph: five sample frames written"

# Man pages: no groff warning at all, and man finds and renders them.
for page in tavrosk tavrosk-warp tavrosk-morph tavrosk-edit; do
    file=$prefix/share/man/man1/$page.1
    if ! groff -man -Tutf8 -ww -z "$file" >"$XH_TMP/groff.err" 2>&1 || [ -s "$XH_TMP/groff.err" ]; then
        fail "groff on $page.1: $(cat "$XH_TMP/groff.err")"
    fi
    if command -v man >/dev/null; then
        [ "$(man -M "$prefix/share/man" -w "$page" 2>/dev/null)" = "$file" ] || fail "man -M does not find $page"
        rendered=$(MANWIDTH=80 man -l "$file" 2>"$XH_TMP/man.err")
        [ -s "$XH_TMP/man.err" ] && fail "man -l $page.1: $(cat "$XH_TMP/man.err")"
        grep -q "^NAME" <<<"$rendered" && grep -q "^SEE ALSO" <<<"$rendered" \
            && grep -q "^ *$page  *- " <<<"$rendered" || fail "man -l $page.1 renders no NAME / SEE ALSO"
    fi
done
command -v man >/dev/null && echo "ok   man pages format cleanly" || echo "ok   man pages format cleanly (man not installed: not rendered)"

# Bash completion: answers for a command line, in a folder of known files.
mkdir -p "$XH_TMP/files/sub"
touch "$XH_TMP/files/in.png" "$XH_TMP/files/pairs.txt" "$XH_TMP/files/field.flo" "$XH_TMP/files/-odd.bmp"
bash -n "$completion" || fail "completion file: syntax error"
cmp -s "$completion" "$morph_completion" && cmp -s "$completion" "$edit_completion" \
    || fail "the tools' completion files differ"
# complete_words EXPECTED COMMAND WORD...: completes the last WORD (the current
# one) with the function that COMMAND's installed file registers for it.
complete_words() {
    local expected=$1 got
    shift
    got=$(cd "$XH_TMP/files" && PATH=$prefix/bin:$PATH bash -c '
        . "$0"
        function=$(complete -p "$1" 2>/dev/null | sed -n "s/.*-F \([^ ]*\) .*/\1/p")
        [ -n "$function" ] || { echo "no completion registered for $1"; exit; }
        COMP_WORDS=("$@")
        COMP_CWORD=$(($# - 1))
        "$function"
        printf "%s\n" "${COMPREPLY[@]}" | LC_ALL=C sort | tr "\n" " "' \
        "$prefix/share/bash-completion/completions/$1" "$@")
    [ "${got% }" = "$expected" ] || fail "completion of '$*': got '${got% }', want '$expected'"
}
complete_words "--format=" tavrosk-warp --for
complete_words "--reference" tavrosk-warp in.png --ref
complete_words "avif bmp heif jpeg png tiff webp" tavrosk-warp --format ""
complete_words "jpeg" tavrosk-warp -f j
complete_words "png" tavrosk-warp --format = p
complete_words "avif bmp heif jpeg png tiff webp" tavrosk-warp --format =
complete_words "--format=png" tavrosk-warp --format=p
complete_words "png" tavrosk-warp --form p
complete_words "field.flo sub" tavrosk-warp --field ""
complete_words "--field=field.flo --field=sub" tavrosk-warp --field=
complete_words "" tavrosk-warp -p ""
complete_words "gray green grey" tavrosk-morph --outside g
complete_words "in.png" tavrosk-warp -q in
complete_words "-odd.bmp" tavrosk-warp in.png pairs.txt -- -
complete_words "--depth= --field= --folds= --format= --help --no-auto-orient --outside= --png-compression= --quality= --quiet --reference --strip --threads= --version -Q -a -b -f -h -p -q -t" \
    tavrosk-warp "-"
complete_words "0 1 2 3 4 5 6 7 8 9" tavrosk-warp --png-compression ""
complete_words "--png-compression=1" tavrosk-morph --png-compression=1
complete_words "--strip" tavrosk-morph a.png --st
complete_words "--field= --folds= --format=" tavrosk-warp in.png --f
complete_words "-odd.bmp field.flo in.png pairs.txt sub" tavrosk-warp --folds ""
# The morph tool's own options.
complete_words "--frames=" tavrosk-morph --fr
complete_words "--format= --frames=" tavrosk-morph --f
complete_words "--depth= --format= --frames= --help --no-auto-orient --outside= --png-compression= --quality= --quiet --range= --reference --strip --threads= --version -Q -a -b -f -h -p -q -t" \
    tavrosk-morph "-"
complete_words "avif bmp heif jpeg png tiff webp" tavrosk-morph --form ""
complete_words "--format=jpeg" tavrosk-morph --format=j
complete_words "" tavrosk-morph --range ""
complete_words "" tavrosk-morph --frames = ""
# The editor's.
complete_words "--help --no-auto-orient --threads= --version -a -b -h -p -t" tavrosk-edit "-"
complete_words "--threads=" tavrosk-edit in.png --t
complete_words "" tavrosk-edit -t ""
complete_words "in.png" tavrosk-edit in
complete_words "in.png" tavrosk-morph in
complete_words "-odd.bmp" tavrosk-morph in.png in.png pairs.txt -- -
echo "ok   bash completion"

# The Python package, in the folder the guide tells users of a prefix of
# their own to add to PYTHONPATH, imported from the empty folder.
if [ -n "$python" ]; then
    package=$(cd "$prefix" && echo lib/python3.*/site-packages/tavrosk)
    version=$(cd "$XH_TMP/empty" && PYTHONPATH=$prefix/${package%/tavrosk} "$python" -c \
        'import tavrosk; print(tavrosk.__version__, tavrosk.__file__)') || fail "import tavrosk from $package"
    [[ $version == [0-9]*" $prefix/$package/__init__.py" ]] || fail "the installed package says '$version'"
    echo "ok   Python package in $package: $version"
fi

[ "$failures" -eq 0 ] || xh_fail "$failures check(s) failed"
echo "all install checks passed"
