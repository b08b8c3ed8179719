"""The interpreter's lock is free while the engine works: Python runs beside
a warp, and warps on several Python threads give what one thread gives."""

import threading
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import tavrosk
from conftest import random_image, random_pairs


def test_python_runs_while_the_engine_works(rng):
    image = random_image(rng, (600, 800, 3))
    pairs = random_pairs(rng, 50, 800, 600)
    span = []

    def work():
        start = time.perf_counter()
        tavrosk.warp(image, pairs, threads=1)
        span.extend([start, time.perf_counter()])

    worker = threading.Thread(target=work)
    ticks = []
    worker.start()
    while worker.is_alive():
        ticks.append(time.perf_counter())
    worker.join()
    start, end = span
    # Held lock: the loop would stop for the whole warp, leaving at most the
    # switch interval's ticks inside it.
    margin = (end - start) / 4
    assert sum(start + margin < t < end - margin for t in ticks) > 100, (end - start, len(ticks))


def test_threads_warp_at_once_with_the_results_of_one(rng):
    images = [random_image(rng, (90, 120, 3)) for _ in range(6)]
    pairs = random_pairs(rng, 20, 120, 90)
    serial = [tavrosk.warp(image, pairs) for image in images]
    with ThreadPoolExecutor(4) as pool:
        parallel = list(pool.map(lambda image: tavrosk.warp(image, pairs, threads=1), images))
        frames = list(pool.map(lambda i: tavrosk.morph_frame(images[0], images[1], pairs, i, 5), range(5)))
    assert all(np.array_equal(a, b) for a, b in zip(serial, parallel))
    assert all(np.array_equal(a, b) for a, b in zip(frames, tavrosk.morph(images[0], images[1], pairs, frames=5)))
