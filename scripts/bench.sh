#!/bin/bash
# Builds Release with the benchmarks in build-bench, runs them, then times the
# whole tavrosk-warp process against the literal kernel and ImageMagick's
# Shepards distortion on a 1600 x 1200 24-bit image with 50 pairs, and prints
# one table. Not part of scripts/test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
. scripts/bench_inputs.sh
ensure_deps build bench

build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVROSK_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target warp_bench tavrosk-warp >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$build/bench/warp_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_format=json --benchmark_out="$work/bench.json" --benchmark_out_format=json >/dev/null

# The image, the 50 pairs and the same pairs as Shepards control points.
bench_inputs "$work"

tool="$build/tavrosk-warp"
src="$work/src.bmp"
hyperfine --style none --warmup 1 --runs 5 --export-json "$work/fast.json" \
    -n "tavrosk-warp (all threads)" "$tool $src $work/pairs.txt $work/out.bmp" \
    -n "tavrosk-warp --threads 1" "$tool --threads 1 $src $work/pairs.txt $work/out.bmp" \
    -n "ImageMagick Shepards (all threads)" \
    "$im $src -filter point -interpolate bilinear -distort Shepards '$(cat "$work/shepards.txt")' $work/im.bmp" \
    >/dev/null
hyperfine --style none --runs 3 --export-json "$work/ref.json" \
    -n "tavrosk-warp --reference" "$tool --reference $src $work/pairs.txt $work/out.bmp" >/dev/null

python3 - "$work" "$(nproc)" <<'PY'
import json, sys
work, cores = sys.argv[1], sys.argv[2]
print(f"Kernel benchmarks (median of 3, ns per pixel-pair; all threads = {cores})")
print(f"{'kernel':<10} {'size':<10} {'pairs':>5} {'threads':>7} {'ms/warp':>10} {'ns/pixel-pair':>14}  target")
benchmarks = [b for b in json.load(open(f"{work}/bench.json"))["benchmarks"] if b.get("aggregate_name") == "median"]
def args_of(b):
    return dict(kv.split(":") for kv in b["run_name"].split("/")[1:] if ":" in kv)
for b in benchmarks:
    if not b["run_name"].startswith("BM_Warp/"):
        continue
    args = args_of(b)
    kernel = "fast" if args["fast"] == "1" else "literal"
    print(f"{kernel:<10} {args['w'] + 'x' + args['h']:<10} {args['pairs']:>5} {args['threads']:>7} "
          f"{b['real_time']:>10.2f} {b['ns/pixel-pair']:>14.3f}  {b.get('label', '')}")
print()
print("Fold map and field over the fast kernel on all threads (median of 3)")
print(f"{'size':<10} {'pairs':>5} {'views':<40} {'ms':>8} {'over warp':>10}")
plain = {}
for b in benchmarks:
    if not b["run_name"].startswith("BM_Views/"):
        continue
    args = args_of(b)
    key = (args["w"], args["h"], args["pairs"])
    if args["views"] == "0":
        plain[key] = b["real_time"]
    over = f"{100 * (b['real_time'] / plain[key] - 1):+.1f} %" if key in plain and args["views"] != "0" else ""
    print(f"{args['w'] + 'x' + args['h']:<10} {args['pairs']:>5} {b.get('label', ''):<40} {b['real_time']:>8.2f} {over:>10}")
print()
print("Every kind of image, fast kernel, 1 thread, 800x600 (median of 3, process CPU time)")
print(f"{'channels':>8} {'type':<6} {'pairs':>5} {'ms':>8} {'vs 8-bit RGB':>13}")
kinds = [(args_of(b), b) for b in benchmarks if b["run_name"].startswith("BM_Kinds/")]
rgb8 = {a["pairs"]: b["cpu_time"] for a, b in kinds if a["channels"] == "3" and a["type"] == "0"}
for a, b in kinds:
    ratio = b["cpu_time"] / rgb8[a["pairs"]]
    print(f"{a['channels']:>8} {['8-bit', '16-bit', 'float'][int(a['type'])]:<6} {a['pairs']:>5} "
          f"{b['cpu_time']:>8.2f} {ratio:>12.3f}x")
print()
print("Whole process, 1600x1200 24-bit BMP, 50 pairs (hyperfine median)")
rows = json.load(open(f"{work}/fast.json"))["results"] + json.load(open(f"{work}/ref.json"))["results"]
base = rows[0]["median"]
print(f"{'command':<36} {'median s':>9} {'vs default':>11}")
for r in rows:
    print(f"{r['command']:<36} {r['median']:>9.3f} {r['median'] / base:>10.1f}x")
PY
