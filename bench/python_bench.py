"""The Python module beside the C++ engine and a NumPy warp, on the inputs of
scripts/bench.sh: a 1600 x 1200 RGB uint8 image (ImageMagick's plasma) and 50
pairs.

    python3 bench/python_bench.py [BUILD_DIR]

BUILD_DIR (default build-bench) is a Release build with -DTAVROSK_BENCH=ON
holding bench/warp_time and python/tavrosk. Prints one table:
- the engine (warp_time: warp_run into a result made once) and the module
  (tavrosk.warp, a new array each call, and with out=), all threads, each
  the median of ROUNDS rounds of RUNS warps, engine and module taking turns;
- the NumPy warp of bench/numpy_warp.py (loop over pairs, arrays over
  pixels), once, and how far its pixels are from the engine's;
- WARPS warps with threads=1 on one Python thread, then on two at once.
"""

import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import numpy as np

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build-bench"))
sys.path.insert(0, os.path.join(build, "python"))
sys.path.insert(0, here)

import cv2  # noqa: E402

import tavrosk  # noqa: E402
from numpy_warp import numpy_warp  # noqa: E402

ROUNDS, RUNS, WARPS = 5, 5, 8


def median_time(call, runs):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        call()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main():
    work = tempfile.mkdtemp()
    subprocess.run(["bash", "-c", f'. "{root}/scripts/bench_inputs.sh" && bench_inputs "{work}"'], check=True)
    image = cv2.cvtColor(cv2.imread(os.path.join(work, "src.bmp")), cv2.COLOR_BGR2RGB)
    pairs_file = os.path.join(work, "pairs.txt")
    pairs = tavrosk.read_pairs(pairs_file)
    h, w, c = image.shape
    raw = os.path.join(work, "src.raw")
    image.tofile(raw)

    engine, fresh, reused = [], [], []
    out = np.empty_like(image)
    for _ in range(ROUNDS):
        lines = subprocess.run([os.path.join(build, "bench", "warp_time"), raw, str(w), str(h), str(c), pairs_file,
                                str(RUNS), "0"], check=True, capture_output=True, text=True).stdout.split()
        engine.append(statistics.median(map(float, lines)))
        fresh.append(median_time(lambda: tavrosk.warp(image, pairs), RUNS))
        reused.append(median_time(lambda: tavrosk.warp(image, pairs, out=out), RUNS))
    engine_s, fresh_s, reused_s = map(statistics.median, (engine, fresh, reused))

    start = time.perf_counter()
    yardstick = numpy_warp(image, pairs)
    numpy_s = time.perf_counter() - start
    difference = np.abs(yardstick.astype(int) - tavrosk.warp(image, pairs).astype(int))

    one = median_time(lambda: [tavrosk.warp(image, pairs, threads=1) for _ in range(WARPS)], 1)

    def half():
        for _ in range(WARPS // 2):
            tavrosk.warp(image, pairs, threads=1)

    def two_threads():
        workers = [threading.Thread(target=half) for _ in range(2)]
        for t in workers:
            t.start()
        for t in workers:
            t.join()

    two = median_time(two_threads, 1)

    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    print(f"Python module, {w} x {h} RGB uint8, {len(pairs)} pairs; {cpu}, {os.cpu_count()} hardware threads, "
          f"Highway target {tavrosk._tavrosk.engine_target()}")
    print(f"{'what':<52} {'seconds':>9} {'ratio':>9}")
    print(f"{'C++ engine, all threads (warp_time)':<52} {engine_s:>9.4f} {1:>9.3f}")
    print(f"{'tavrosk.warp, all threads, new result':<52} {fresh_s:>9.4f} {fresh_s / engine_s:>9.3f}")
    print(f"{'tavrosk.warp, all threads, out=':<52} {reused_s:>9.4f} {reused_s / engine_s:>9.3f}")
    print(f"{'NumPy warp (bench/numpy_warp.py), one run':<52} {numpy_s:>9.3f} {numpy_s / fresh_s:>8.1f}x")
    print(f"{f'{WARPS} warps, threads=1, one Python thread':<52} {one:>9.3f}")
    print(f"{f'{WARPS} warps, threads=1, two Python threads':<52} {two:>9.3f} {one / two:>8.2f}x")
    print(f"NumPy warp against the engine: mean |difference| {difference.mean():.3f}, "
          f"{100 * np.count_nonzero(difference > 2) / difference.size:.2f} % of the samples differ by more than 2")


if __name__ == "__main__":
    main()
