"""The Dask example of the guide (docs/examples/tavrosk_dask.py) on two local
worker processes: a folder of images and a morph split into frame ranges,
each result byte-identical to the serial one."""

import os
import sys

import numpy as np
from dask.distributed import Client, LocalCluster

import tavrosk
from conftest import data, random_image, read_image, write_image

EXAMPLES = os.path.join(os.path.dirname(__file__), "..", "..", "docs", "examples")


def test_the_dask_example_gives_the_serial_results(tmp_path, rng, monkeypatch):
    # The workers import the example's functions by name, as a cluster's
    # workers would from an installed module.
    monkeypatch.syspath_prepend(EXAMPLES)
    monkeypatch.setenv("PYTHONPATH", os.pathsep.join([EXAMPLES, os.environ.get("PYTHONPATH", "")]))
    import tavrosk_dask

    images = tmp_path / "in"
    images.mkdir()
    write_image(images / "sample.png", read_image(data("sample.bmp")))
    for k in range(5):
        write_image(images / f"random{k}.png", random_image(rng, (int(rng.integers(1, 90)), 70, 3)))
    pairs = data("sample_pairs.txt")
    first, second = data("sample.bmp"), data("sample2.bmp")
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, Client(cluster) as client:
        written = tavrosk_dask.warp_folder(client, str(images), pairs, str(tmp_path / "out"))
        frames = tavrosk_dask.morph_frames(client, first, second, data("morph_pairs.txt"), 12,
                                           str(tmp_path / "frame%02d.png"), per_task=5)
    assert len(written) == 6 and frames == 12
    for name in os.listdir(images):
        assert np.array_equal(read_image(tmp_path / "out" / name),
                              tavrosk.warp(read_image(images / name), tavrosk.read_pairs(pairs))), name
    serial = tavrosk.morph(read_image(first), read_image(second), tavrosk.read_pairs(data("morph_pairs.txt")),
                           frames=12)
    for i, frame in enumerate(serial):
        assert np.array_equal(read_image(tmp_path / f"frame{i:02d}.png"), frame), i
