"""The module against the tools built beside it: the very bytes tavrosk-warp
and tavrosk-morph write, the field they write and the fold counts they print,
on the bundled samples and on seeded random images."""

import re

import numpy as np
import pytest

import tavrosk
from conftest import data, random_image, random_pairs, read_image, tool, write_image

WEIGHTS = [{}, {"p": 0.0, "a": 0.25, "b": 2.0}, {"p": 1.5, "a": 3.0, "b": 0.5}]


def tool_weights(weights):
    return [f"-{k}{v}" for k, v in weights.items()]


def samples(rng):
    """(image, pairs, source file) of the bundled samples and random images,
    a 1 x 1 and a single row or column among them."""
    cases = [(read_image(data("sample.bmp")), tavrosk.read_pairs(data(name)), data("sample.bmp"))
             for name in ["sample_pairs.txt", "fold_pairs.txt"]]
    for h, w, n in [(1, 1, 1), (1, 9, 2), (7, 1, 2), (33, 50, 7), (120, 160, 50)]:
        cases.append((random_image(rng, (h, w, 3)), random_pairs(rng, n, w, h), None))
    return cases


def test_warp_gives_the_tools_bytes(tmp_path, rng):
    for k, (image, pairs, source) in enumerate(samples(rng)):
        if source is None:
            source = tmp_path / f"in{k}.png"
            write_image(source, image)
        pairs_file = tmp_path / f"pairs{k}.txt"
        tavrosk.write_pairs(pairs_file, pairs)
        for weights in WEIGHTS:
            tool("warp", *tool_weights(weights), source, pairs_file, tmp_path / "out.png")
            expected = read_image(tmp_path / "out.png")
            for threads in [0, 1, 3]:
                assert np.array_equal(tavrosk.warp(image, pairs, threads=threads, **weights), expected), (k, weights)
        assert np.array_equal(tavrosk.warp(image, pairs, reference=True), tavrosk.warp(image, pairs))


def test_a_batch_is_its_images_warped_one_by_one(rng):
    batch = random_image(rng, (4, 30, 40, 3))
    pairs = random_pairs(rng, 5, 40, 30)
    out = np.empty_like(batch)
    assert tavrosk.warp(batch, pairs, out=out) is out
    for image, result in zip(batch, out):
        assert np.array_equal(result, tavrosk.warp(image, pairs))


def read_flo(path):
    raw = open(path, "rb").read()
    assert raw[:4] == b"PIEH"
    w, h = np.frombuffer(raw[4:12], "<i4")
    return np.frombuffer(raw[12:], "<f4").reshape(h, w, 2)


def test_field_folds_and_points_match_the_tool(tmp_path, rng):
    for k, (image, pairs, source) in enumerate(samples(rng)):
        if source is None:
            source = tmp_path / "in.png"
            write_image(source, image)
        pairs_file = tmp_path / "pairs.txt"
        tavrosk.write_pairs(pairs_file, pairs)
        run = tool("warp", "--field", tmp_path / "f.flo", "--folds", tmp_path / "folds.png", source, pairs_file,
                   tmp_path / "out.png")
        field = tavrosk.field(image.shape, pairs)
        assert field.dtype == np.float32 and np.array_equal(field, read_flo(tmp_path / "f.flo")), k
        flags = tavrosk.folds(image.shape, pairs)
        counts = re.search(r"folds: (\d+) pixels .*, outside: (\d+) pixels", run.stderr).groups()
        assert [np.count_nonzero(flags & 1), np.count_nonzero(flags & 2)] == list(map(int, counts)), k
        points = tavrosk.source_points(image.shape, pairs)
        y, x = np.mgrid[0 : image.shape[0], 0 : image.shape[1]]
        known = np.isfinite(points).all(axis=2)
        assert np.array_equal(np.float32(points[..., 0] - x)[known], field[..., 0][known])
        assert np.array_equal(np.float32(points[..., 1] - y)[known], field[..., 1][known])
        assert (field[~known] == 1e10).all()


@pytest.mark.parametrize("size, frames, weights", [((640, 480), 5, {}), ((37, 23), 4, WEIGHTS[1])])
def test_morph_gives_the_tools_frames(tmp_path, rng, size, frames, weights):
    w, h = size
    if size == (640, 480):
        first, second = read_image(data("sample.bmp")), read_image(data("sample2.bmp"))
        pairs = tavrosk.read_pairs(data("morph_pairs.txt"))
    else:
        first, second = random_image(rng, (h, w, 3)), random_image(rng, (h, w, 3))
        pairs = random_pairs(rng, 6, w, h)
    assert first.shape == (h, w, 3)
    write_image(tmp_path / "first.png", first)
    write_image(tmp_path / "second.png", second)
    tavrosk.write_pairs(tmp_path / "pairs.txt", pairs)
    tool("morph", "--frames", frames, *tool_weights(weights), tmp_path / "first.png", tmp_path / "second.png",
         tmp_path / "pairs.txt", tmp_path / "frame%d.png")
    expected = [read_image(tmp_path / f"frame{i}.png") for i in range(frames)]
    made = list(tavrosk.morph(first, second, pairs, frames=frames, **weights))
    assert len(made) == frames and all(np.array_equal(a, b) for a, b in zip(made, expected))
    assert np.array_equal(made[0], first) and np.array_equal(made[-1], second)
    part = list(tavrosk.morph(first, second, pairs, frames=frames, start=1, stop=3, reference=True, **weights))
    assert all(np.array_equal(a, b) for a, b in zip(part, expected[1:3])) and len(part) == 2
    for i in range(frames):
        assert np.array_equal(tavrosk.morph_frame(first, second, pairs, i, frames, threads=1, **weights), expected[i])
