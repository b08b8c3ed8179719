#!/bin/bash
# What reading and writing PNG and JPEG cost tavrosk-warp. On the image and
# the 50 pairs of scripts/bench.sh, held as BMP, PNG and JPEG (quality 92,
# 4:2:0, as tavrosk-warp writes by default), it times with hyperfine, for
# every pair of source and result format:
#   - tavrosk-warp SOURCE pairs RESULT;
#   - ImageMagick's plain conversion, convert SOURCE RESULT (its codecs alone);
#   - ImageMagick's Shepards distortion with the same pairs, as in
#     scripts/bench.sh;
# and runs bench/codec_bench, which times our image_decode and image_encode in
# memory next to the bare libraries doing the same work. ImageMagick writes
# PNG at -quality 65 (zlib level 6 with adaptive filtering, as libpng's
# defaults that we use) and JPEG at -quality 92 -sampling-factor 2x2, so that
# both programs write with the same settings. The files live in /dev/shm
# (tmpfs), where it exists, so that the disk stays out of the times: the fsync
# with which tavrosk-warp writes its result is nearly free there.
# Prints two tables and the load average before and after.
# Builds Release in build-bench. Not part of scripts/test.sh.
# Usage: bench/formats_bench.sh [RUNS]
#   RUNS: runs of every command and codec_bench repetitions, default 10
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/bench_inputs.sh
ensure_deps build bench

runs=${1:-10}
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVROSK_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target codec_bench tavrosk-warp >/dev/null

tmp=/dev/shm
[ -d "$tmp" ] && [ -w "$tmp" ] || tmp=${TMPDIR:-/tmp}
work=$(mktemp -d -p "$tmp")
trap 'rm -rf "$work"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

bench_inputs "$work"
"$im" "$work/src.bmp" -quality 65 "$work/src.png"
"$im" "$work/src.bmp" -quality 92 -sampling-factor 2x2 "$work/src.jpg"
tool="$build/tavrosk-warp"
# The pixels that codec_bench encodes: tavrosk-warp's results for a lossless
# source and for the JPEG one.
"$tool" "$work/src.bmp" "$work/pairs.txt" "$work/warped.bmp"
"$tool" "$work/src.jpg" "$work/pairs.txt" "$work/warped-jpeg.bmp"

# Repetitions in random order across the cases, so that a change in the
# machine's load falls on every case alike.
"$build/bench/codec_bench" --benchmark_repetitions="$runs" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true --benchmark_out="$work/codecs.json" --benchmark_out_format=json \
    "$work" >/dev/null

# ImageMagick's output options for each result format.
declare -A im_out=([bmp]="" [png]="-quality 65" [jpg]="-quality 92 -sampling-factor 2x2")
im_file() { [ "$1" = bmp ] && echo "BMP3:$2" || echo "$2"; }
shepards="-filter point -interpolate bilinear -distort Shepards '$(cat "$work/shepards.txt")'"
commands=()
for s in bmp png jpg; do
    for r in bmp png jpg; do
        out=$(im_file "$r" "$work/im.$r")
        commands+=(-n "tool $s $r" "$tool $work/src.$s $work/pairs.txt $work/out.$r"
                   -n "convert $s $r" "$im $work/src.$s ${im_out[$r]} $out"
                   -n "shepards $s $r" "$im $work/src.$s $shepards ${im_out[$r]} $out")
    done
done
# Rounds of one run of every command rather than all runs of one command in a
# row, so that a change in the machine's load falls on every command alike;
# the first round is preceded by one warmup run of each.
for round in $(seq "$runs"); do
    hyperfine --style none --warmup $((round == 1)) --runs 1 --export-json "$work/times-$round.json" \
        "${commands[@]}" >/dev/null
done

python3 - "$work" "$runs" "$(nproc)" "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)" <<'PY'
import json, statistics, sys
work, runs, cores, load_before, load_after = sys.argv[1:]
runs_of = {}
for round in range(1, int(runs) + 1):
    for r in json.load(open(f"{work}/times-{round}.json"))["results"]:
        runs_of.setdefault(r["command"], []).extend(r["times"])
median = {command: statistics.median(t) for command, t in runs_of.items()}
least = {command: min(t) for command, t in runs_of.items()}
codec = {(b["run_name"], b["aggregate_name"]): b["cpu_time"]
         for b in json.load(open(f"{work}/codecs.json"))["benchmarks"] if b.get("aggregate_name") in ("median", "min")}
name = {"bmp": "BMP", "png": "PNG", "jpg": "JPEG"}
lib = {"bmp": "bmp", "png": "png", "jpg": "jpeg"}


def bare(s, r):
    """The libraries decoding s and encoding the warped result as r, less the same for BMP to BMP: least ms."""
    def total(s, r):
        picture = "warped-jpeg" if s == "jpg" else "warped"
        return codec[(f"decode/{lib[s]}/library", "min")] + codec[(f"encode/{lib[r]}/library/{picture}", "min")]
    return total(s, r) - total("bmp", "bmp")


print(f"Whole process, 1600x1200, 50 pairs, {cores} hardware threads, files in tmpfs: {runs} runs of each command")
print("  tavrosk-warp, IM convert (ImageMagick's plain conversion), IM Shepards: hyperfine median, s")
print("  codec cost: the tool's time less its BMP -> BMP time, from the medians and from the least times, ms")
print("  bare codecs: the libraries' decode and encode of the same pixels in memory less SDL's BMP ones,")
print("    least CPU ms of codec_bench (table below)")
print("  within: least codec cost <= bare codecs + 10 % or + 5 ms, whichever is more")
print(f"{'source -> result':<16} {'tavrosk-warp':>12} {'codec cost':>10} {'(least)':>8} {'bare codecs':>11}"
      f" {'within':>6} {'IM convert':>10} {'IM Shepards':>11}")
for s in ("bmp", "png", "jpg"):
    for r in ("bmp", "png", "jpg"):
        tool = f"tool {s} {r}"
        cost = 1000 * (median[tool] - median["tool bmp bmp"])
        cost_least, b = 1000 * (least[tool] - least["tool bmp bmp"]), bare(s, r)
        within = "-" if s == r == "bmp" else ("yes" if cost_least <= b + max(0.1 * b, 5) else "no")
        print(f"{name[s] + ' -> ' + name[r]:<16} {median[tool]:>12.3f} {cost:>10.1f} {cost_least:>8.1f} {b:>11.1f}"
              f" {within:>6} {median[f'convert {s} {r}']:>10.3f} {median[f'shepards {s} {r}']:>11.3f}")
print()
print(f"Codecs in memory, 1600x1200: codec_bench, {runs} repetitions in random order, CPU ms")
print("  tavrosk: image_decode, image_encode; library: libpng's simplified API, libjpeg-turbo, SDL's BMP code")
print("  encode from: the 32-bit XRGB surface tavrosk-warp holds its result in, or the decoders' 24-bit RGB one;")
print("  the pixels are the result for the BMP/PNG source, or for the JPEG source")
print("  overhead: tavrosk over library, of the medians and of the least times")
print(f"{'operation':<44} {'tavrosk':>8} {'library':>8} {'overhead':>9} {'(least)':>8}")
rows = [(f"decode {f.upper()}", f"decode/{f}/tavrosk", f"decode/{f}/library") for f in ("bmp", "png", "jpeg")]
for f in ("bmp", "png", "jpeg"):
    for picture, source in (("warped", "BMP/PNG"), ("warped-jpeg", "JPEG")):
        for layout, text in (("xrgb32", "32-bit XRGB"), ("rgb24", "24-bit RGB")):
            ours = f"encode/{f}/tavrosk-{layout}/{picture}"
            if (ours, "median") in codec:
                rows.append((f"encode {f.upper()}, {source} source, from {text}", ours,
                             f"encode/{f}/library/{picture}"))
for label, ours, theirs in rows:
    a, b = codec[(ours, "median")], codec[(theirs, "median")]
    over_least = 100 * (codec[(ours, "min")] / codec[(theirs, "min")] - 1)
    print(f"{label:<44} {a:>8.2f} {b:>8.2f} {100 * (a / b - 1):>8.1f}% {over_least:>7.1f}%")
print()
print(f"load average (1, 5, 15 min): {load_before} before, {load_after} after")
PY
