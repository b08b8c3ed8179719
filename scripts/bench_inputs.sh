# Sourced by the benchmark scripts. Sets im to ImageMagick's own convert (not
# a wrapper that a PATH entry may put before it) and defines
# bench_inputs DIR, which writes the inputs they share:
#   DIR/src.bmp       a generated 1600 x 1200 24-bit image (plasma, seed 1);
#   DIR/pairs.txt     a fixed table of 50 pairs: first segments anywhere on
#                     the image, each end moved by up to 80 pixels;
#   DIR/shepards.txt  the same pairs as ImageMagick's Shepards control
#                     points: each pair's first end points, source position
#                     then result position.
im=$(command -v convert-im6.q16 || command -v convert)

bench_inputs() {
    "$im" -size 1600x1200 -seed 1 plasma:fractal -type TrueColor "BMP3:$1/src.bmp"
    python3 - "$1" <<'PY'
import random, sys
work = sys.argv[1]
rng = random.Random(7)
seg, cp = [], []
for _ in range(50):
    x1, y1, x2, y2 = (rng.uniform(0, 1600), rng.uniform(0, 1200), rng.uniform(0, 1600), rng.uniform(0, 1200))
    d = [rng.uniform(-80, 80) for _ in range(4)]
    seg.append(f"{x1:.3f} {y1:.3f} {x2:.3f} {y2:.3f}")
    seg.append(f"{x1 + d[0]:.3f} {y1 + d[1]:.3f} {x2 + d[2]:.3f} {y2 + d[3]:.3f}")
    cp.append(f"{x1:.3f},{y1:.3f} {x1 + d[0]:.3f},{y1 + d[1]:.3f}")
open(f"{work}/pairs.txt", "w").write("\n".join(seg) + "\n")
open(f"{work}/shepards.txt", "w").write(" ".join(cp))
PY
}
