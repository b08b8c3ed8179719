#!/bin/bash
# What reading and writing PNG and JPEG cost tavrosk-warp. On the image and
# the 50 pairs of scripts/bench.sh, held as BMP, PNG and JPEG (quality 92,
# 4:2:0, as tavrosk-warp writes by default), it times with hyperfine, for
# every pair of source and result format:
#   - tavrosk-warp SOURCE pairs RESULT, which writes the result through a
#     temporary file and fsync;
#   - tavrosk-warp --format F SOURCE pairs - >/dev/null, the same work without
#     the disk: the codec costs are taken from these runs;
#   - ImageMagick's plain conversion, convert SOURCE RESULT (its codecs alone);
#   - ImageMagick's Shepards distortion with the same pairs, as in
#     scripts/bench.sh;
# and runs bench/codec_bench, which times our image_decode and image_encode in
# memory next to the bare libraries doing the same work. ImageMagick writes
# PNG at -quality 65 (zlib level 6 with adaptive filtering, as libpng's
# defaults that we use) and JPEG at -quality 92 -sampling-factor 2x2, so that
# both programs write with the same settings.
# Prints two tables and the load average before and after.
# Builds Release in build-bench. Not part of scripts/test.sh.
# Usage: bench/formats_bench.sh [RUNS]
#   RUNS: hyperfine runs per command and codec_bench repetitions, default 10
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/bench_inputs.sh
ensure_packages libbenchmark-dev imagemagick hyperfine

runs=${1:-10}
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVROSK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target codec_bench tavrosk-warp >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

bench_inputs "$work"
"$im" "$work/src.bmp" -quality 65 "$work/src.png"
"$im" "$work/src.bmp" -quality 92 -sampling-factor 2x2 "$work/src.jpg"
tool="$build/tavrosk-warp"
# The pixels that codec_bench encodes: tavrosk-warp's result for this image.
"$tool" --quiet "$work/src.bmp" "$work/pairs.txt" "$work/warped.bmp"

"$build/bench/codec_bench" --benchmark_repetitions="$runs" --benchmark_report_aggregates_only=true \
    --benchmark_out="$work/codecs.json" --benchmark_out_format=json "$work" >/dev/null

# ImageMagick's output options for each result format.
declare -A im_out=([bmp]="" [png]="-quality 65" [jpg]="-quality 92 -sampling-factor 2x2")
declare -A word=([bmp]=bmp [png]=png [jpg]=jpeg)
im_file() { [ "$1" = bmp ] && echo "BMP3:$2" || echo "$2"; }
shepards="-filter point -interpolate bilinear -distort Shepards '$(cat "$work/shepards.txt")'"
commands=()
for s in bmp png jpg; do
    for r in bmp png jpg; do
        out=$(im_file "$r" "$work/im.$r")
        commands+=(-n "tool $s $r" "$tool $work/src.$s $work/pairs.txt $work/out.$r"
                   -n "stdout $s $r" "$tool --format ${word[$r]} $work/src.$s $work/pairs.txt - >/dev/null"
                   -n "convert $s $r" "$im $work/src.$s ${im_out[$r]} $out"
                   -n "shepards $s $r" "$im $work/src.$s $shepards ${im_out[$r]} $out")
    done
done
hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/times.json" "${commands[@]}" >/dev/null

python3 - "$work" "$runs" "$(nproc)" "$load_before" "$(cut -d' ' -f1-3 /proc/loadavg)" <<'PY'
import json, sys
work, runs, cores, load_before, load_after = sys.argv[1:]
times = {r["command"]: r["median"] for r in json.load(open(f"{work}/times.json"))["results"]}
codec = {b["run_name"].removesuffix("/real_time"): b["real_time"]
         for b in json.load(open(f"{work}/codecs.json"))["benchmarks"] if b.get("aggregate_name") == "median"}
name = {"bmp": "BMP", "png": "PNG", "jpg": "JPEG"}
lib = {"bmp": "bmp", "png": "png", "jpg": "jpeg"}


def bare(s, r):
    """The libraries decoding s and encoding r in memory, less SDL's BMP decode and encode, ms."""
    total = lambda a, b: codec[f"decode/{lib[a]}/library"] + codec[f"encode/{lib[b]}/library"]
    return total(s, r) - total("bmp", "bmp")


print(f"Whole process, 1600x1200, 50 pairs, {cores} hardware threads: hyperfine median of {runs} runs")
print("  file    tavrosk-warp SOURCE pairs RESULT (s; the result is written through fsync)")
print("  stdout  tavrosk-warp --format F SOURCE pairs - >/dev/null (s)")
print("  codec   stdout less stdout BMP -> BMP: what reading and writing the formats cost the tool (ms)")
print("  bare    the libraries' own decode and encode in memory, less SDL's BMP ones (ms, codec_bench)")
print("  within  codec is at most bare + 10 % or bare + 5 ms, whichever is more")
print("  IM convert, IM Shepards: ImageMagick's plain conversion and its Shepards warp (s)")
print(f"{'source -> result':<16} {'file':>6} {'stdout':>6} {'codec':>6} {'bare':>6} {'within':>6}"
      f" {'IM convert':>10} {'IM Shepards':>11}")
base = times["stdout bmp bmp"]
for s in ("bmp", "png", "jpg"):
    for r in ("bmp", "png", "jpg"):
        cost, b = 1000 * (times[f"stdout {s} {r}"] - base), bare(s, r)
        within = "-" if s == r == "bmp" else ("yes" if cost <= b + max(0.1 * b, 5) else "no")
        print(f"{name[s] + ' -> ' + name[r]:<16} {times[f'tool {s} {r}']:>6.3f} {times[f'stdout {s} {r}']:>6.3f}"
              f" {cost:>6.1f} {b:>6.1f} {within:>6} {times[f'convert {s} {r}']:>10.3f}"
              f" {times[f'shepards {s} {r}']:>11.3f}")
print()
print(f"Codecs in memory, 1600x1200 (codec_bench, median of {runs} repetitions, ms)")
print("tavrosk = image_decode / image_encode; library = libpng's simplified API, libjpeg-turbo, SDL's BMP code")
print(f"{'operation':<34} {'tavrosk':>8} {'library':>8} {'overhead':>9}")
for op in ("decode", "encode"):
    for f in ("bmp", "png", "jpeg"):
        sides = {"decode": [("tavrosk", "")],
                 "encode": [("tavrosk-xrgb32", " from 32-bit XRGB"), ("tavrosk-rgb24", " from 24-bit RGB")]}[op]
        for side, source in sides:
            a, b = codec[f"{op}/{f}/{side}"], codec[f"{op}/{f}/library"]
            print(f"{op + ' ' + f.upper() + source:<34} {a:>8.2f} {b:>8.2f} {100 * (a / b - 1):>8.1f}%")
print()
print(f"load average (1, 5, 15 min): {load_before} before, {load_after} after")
PY
