#!/bin/bash
# Times whole tavrosk-morph processes against tavrosk-warp on generated
# images and prints one table:
#   - 20 frames of a 1600 x 1200 pair with 20 pairs as a PPM stream to
#     /dev/null, against one tavrosk-warp run of the first image with the
#     same pairs, BMP in and out (target: at most 16 x), and the same frames
#     as BMP files, each synced before it is renamed into place;
#   - 30 frames of a 1920 x 1080 pair with 20 pairs as a PPM stream to
#     /dev/null (target: at least 24 frames a second).
# Builds Release in build-bench. Not part of scripts/test.sh.
# Usage: bench/morph_bench.sh [RUNS]   (hyperfine runs per command, default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_deps build bench

runs=${1:-5}
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTAVROSK_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target tavrosk-warp tavrosk-morph >/dev/null

# ImageMagick's own binary, not a wrapper that a PATH entry may put before it.
im=$(command -v convert-im6.q16 || command -v convert)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Two unlike images of each size, and a fixed table of 20 pairs for each:
# segments anywhere on the image, each moved by up to 80 pixels an end.
for size in 1600x1200 1920x1080; do
    "$im" -size $size -seed 1 plasma:fractal -type TrueColor "BMP3:$work/a-$size.bmp"
    "$im" -size $size -seed 2 plasma:fractal -type TrueColor "BMP3:$work/b-$size.bmp"
    python3 - "$work/pairs-$size.txt" "${size%x*}" "${size#*x}" <<'PY'
import random, sys
path, w, h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
lines = []
for _ in range(20):
    x1, y1, x2, y2 = rng.uniform(0, w), rng.uniform(0, h), rng.uniform(0, w), rng.uniform(0, h)
    d = [rng.uniform(-80, 80) for _ in range(4)]
    lines.append(f"{x1:.3f} {y1:.3f} {x2:.3f} {y2:.3f}")
    lines.append(f"{x1 + d[0]:.3f} {y1 + d[1]:.3f} {x2 + d[2]:.3f} {y2 + d[3]:.3f}")
open(path, "w").write("\n".join(lines) + "\n")
PY
done
mkdir "$work/frames"

# How busy the machine was just before the timed runs (the 1-minute load
# average; the runs themselves then add about 2).
load_before=$(cut -d' ' -f1 /proc/loadavg)
warp="$build/tavrosk-warp"
morph="$build/tavrosk-morph"
s=1600x1200 f=1920x1080
hyperfine --style none --warmup 1 --runs "$runs" --export-json "$work/times.json" \
    -n "tavrosk-warp, 1600x1200, 20 pairs" "$warp $work/a-$s.bmp $work/pairs-$s.txt $work/warped.bmp" \
    -n "tavrosk-morph, 1600x1200, 20 pairs, 20 frames to a PPM stream" \
    "$morph --frames 20 $work/a-$s.bmp $work/b-$s.bmp $work/pairs-$s.txt - >/dev/null" \
    -n "tavrosk-morph, 1600x1200, 20 pairs, 20 BMP frames" \
    "$morph --frames 20 $work/a-$s.bmp $work/b-$s.bmp $work/pairs-$s.txt $work/frames/f%02d.bmp" \
    -n "tavrosk-morph, 1920x1080, 20 pairs, 30 frames to a PPM stream" \
    "$morph --frames 30 $work/a-$f.bmp $work/b-$f.bmp $work/pairs-$f.txt - >/dev/null" \
    >/dev/null

python3 - "$work/times.json" "$(nproc)" "$load_before" <<'PY'
import json, sys
rows = json.load(open(sys.argv[1]))["results"]
print(f"Whole process, hyperfine median of {len(rows[0]['times'])} runs; {sys.argv[2]} hardware threads, "
      f"load average {sys.argv[3]} before the runs")
print(f"{'command':<60} {'median s':>9} {'min s':>7} {'user s':>7} {'system s':>8}")
for r in rows:
    print(f"{r['command']:<60} {r['median']:>9.3f} {r['min']:>7.3f} {r['user']:>7.3f} {r['system']:>8.3f}")
# The targets are judged on the medians; the minimums show what a run on a
# machine that nothing else was using gave.
warp, stream20, morph20, stream30 = rows
print()
print(f"{'target (medians; minimums in brackets)':<60} {'measured':>16}  met")
ratio = stream20["median"] / warp["median"]
text = f"{ratio:.1f}x ({stream20['min'] / warp['min']:.1f}x)"
print(f"{'20 frames 1600x1200, PPM stream, <= 16 x one tavrosk-warp run':<60} {text:>16}  {'yes' if ratio <= 16 else 'no'}")
fps = 30 / stream30["median"]
text = f"{fps:.1f} ({30 / stream30['min']:.1f})"
print(f"{'1920x1080 PPM stream >= 24 frames a second':<60} {text:>16}  {'yes' if fps >= 24 else 'no'}")
PY
