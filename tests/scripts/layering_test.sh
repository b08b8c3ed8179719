#!/usr/bin/env bash
# The folders build on each other one way, from the bottom up: raster/ <
# warp/ < sdl/ < io/ < the programs (app/, cli/, edit/, of one rank). A file
# may include headers of its own folder and of folders below it, never of
# one above; raster/ and warp/ include no SDL header at all. tests/, bench/
# and assets/ may include anything. Prints every offending include and
# fails. With --self-test, checks the check on a small tree of its own.
# Usage: layering_test.sh SOURCE_DIR | --self-test
set -uo pipefail
root=${1:?usage: layering_test.sh SOURCE_DIR | --self-test}
if [ "$root" = --self-test ]; then
    tree=$(mktemp -d "${TMPDIR:-/tmp}/tavrosk-layering.XXXXXX")
    trap 'rm -rf "$tree"' EXIT
    mkdir -p "$tree"/{raster,warp,io,edit}
    printf '#include "raster/image.h"\n#include "warp/warp.h"\n' >"$tree/raster/bad.h"
    printf '#include <SDL.h>\n#include "raster/image.h"\n' >"$tree/warp/bad.cpp"
    printf '#include "warp/warp.h"\n#include "edit/model.h"\n#include <SDL.h>\n' >"$tree/io/bad.cpp"
    printf '#include "cli/cli.h"\n#include "io/image_io.h"\n#include <SDL.h>\n' >"$tree/edit/good.cpp"
    out=$(bash "$0" "$tree")
    status=$?
    want=("raster/bad.h:2: raster/ includes a header of warp/" "warp/bad.cpp:1: warp/ is free of SDL"
          "io/bad.cpp:2: io/ includes a header of edit/")
    [ "$status" = 1 ] || { echo "FAIL: status $status on a tree with bad includes"; exit 1; }
    for line in "${want[@]}"; do
        grep -qF "$line" <<<"$out" || { echo "FAIL: not reported: $line"; echo "$out"; exit 1; }
    done
    [ "$(wc -l <<<"$out")" = ${#want[@]} ] || { echo "FAIL: more than the bad includes reported:"; echo "$out"; exit 1; }
    exit 0
fi
declare -A rank=([raster]=0 [warp]=1 [sdl]=2 [io]=3 [app]=4 [cli]=4 [edit]=4)
bad=0
for folder in "${!rank[@]}"; do
    [ -d "$root/$folder" ] || continue
    while IFS=: read -r file line text; do
        included=$(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([a-z_]*\)\/.*/\1/p' <<<"$text")
        if [ -n "$included" ] && [ -n "${rank[$included]+set}" ] && [ "${rank[$included]}" -gt "${rank[$folder]}" ]; then
            echo "${file#"$root"/}:$line: $folder/ includes a header of $included/, which is above it: $text"
            bad=1
        fi
        if [ "${rank[$folder]}" -le 1 ] && grep -q '^[[:space:]]*#[[:space:]]*include[[:space:]]*<SDL' <<<"$text"; then
            echo "${file#"$root"/}:$line: $folder/ is free of SDL: $text"
            bad=1
        fi
    done < <(grep -rn --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include' "$root/$folder")
done
exit $bad
