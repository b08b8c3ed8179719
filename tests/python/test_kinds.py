"""Every kind (uint8, uint16, float32; (H, W) and 1 to 4 channels) through
the module: the tools' bytes on every kind a PNG file holds, the literal
reference kernel's on every kind, and the tool's 8-bit RGB through the
relations between kinds (grey as R = G = B, an opaque alpha kept, 16 bits as
257 v, floats as v / 255) where no file holds the kind."""

import numpy as np
import pytest

import tavrosk
from conftest import random_image, random_pairs, read_image, tool, write_image

DTYPES = [np.uint8, np.uint16, np.float32]
LAYOUTS = [(), (1,), (2,), (3,), (4,)]  # () is (H, W)
KINDS = [(d, c) for d in DTYPES for c in LAYOUTS]
FULL = {np.uint8: 255, np.uint16: 65535, np.float32: 1.0}
# Widening 8-bit samples, and how far the other kind's own rounding may take
# its result from 8-bit RGB's, in 8-bit levels (one for each of the
# bilinear sample's two stages).
WIDEN = {np.uint8: (1, 0), np.uint16: (257, 2), np.float32: (1 / 255, 2)}


def kind_id(kind):
    return f"{kind[0].__name__}{kind[1]}"


def channels(layout):
    return layout[0] if layout else 1


def kind_image(rng, dtype, layout, h, w):
    """A random image of the kind whose alpha, when it has one, is 0 in some
    pixels, full in most, partial in others."""
    image = random_image(rng, (h, w) + layout, dtype)
    if layout and layout[0] in (2, 4):
        alpha = rng.choice([0, FULL[dtype], FULL[dtype]], (h, w)).astype(dtype)
        partial = rng.random((h, w)) < 0.2
        alpha[partial] = image[..., -1][partial]
        image[..., -1] = alpha
    return image


@pytest.mark.parametrize("kind", KINDS, ids=kind_id)
def test_every_kind_gives_the_reference_kernels_bits(rng, kind):
    dtype, layout = kind
    for h, w, n in [(1, 1, 1), (9, 1, 2), (40, 53, 6)]:
        image = kind_image(rng, dtype, layout, h, w)
        pairs = random_pairs(rng, n, w, h)
        batch = np.stack([image, kind_image(rng, dtype, layout, h, w)])
        if not layout:
            batch = batch[..., None]  # a batch of grey images is (N, H, W, 1)
        for outside in [None, (0.25, 0.5, 1.0, 0.75)]:
            expected = tavrosk.warp(image, pairs, outside=outside, reference=True)
            assert expected.shape == image.shape and expected.dtype == image.dtype
            for threads in [0, 1, 3]:
                assert np.array_equal(tavrosk.warp(image, pairs, outside=outside, threads=threads), expected)
            warped = tavrosk.warp(batch, pairs, outside=outside)
            assert np.array_equal(warped[0].reshape(image.shape), expected)
            second = tavrosk.warp(batch[1].reshape(image.shape), pairs, outside=outside, reference=True)
            assert np.array_equal(warped[1].reshape(image.shape), second)


def test_every_kind_against_the_tools_rgb(tmp_path, rng):
    """An opaque grey or colour image of each kind, made from an 8-bit RGB
    one, warps to what the tool writes for that RGB image."""
    h, w = 70, 90
    rgb = random_image(rng, (h, w, 3))
    rgb[:, :, 1] = rgb[:, :, 2] = rgb[:, :, 0]  # grey, so the grey kinds have a tool result too
    pairs = random_pairs(rng, 8, w, h)
    write_image(tmp_path / "in.png", rgb)
    tavrosk.write_pairs(tmp_path / "pairs.txt", pairs)
    tool("warp", tmp_path / "in.png", tmp_path / "pairs.txt", tmp_path / "out.png")
    expected = read_image(tmp_path / "out.png").astype(np.float64)
    outside = (tavrosk.folds((h, w), pairs) & 2) != 0
    assert outside.any() and not outside.all()
    for dtype, layout in KINDS:
        scale, levels = WIDEN[dtype]
        colour = rgb if channels(layout) >= 3 else rgb[..., 0]
        image = (colour * scale).astype(dtype)
        if channels(layout) in (2, 4):
            image = np.dstack([image, np.full((h, w), FULL[dtype], dtype)])
        elif layout == (1,):
            image = image[..., None]
        result = tavrosk.warp(image, pairs).astype(np.float64)
        if channels(layout) in (2, 4):
            assert (result[..., -1] == np.where(outside, 0, FULL[dtype])).all(), kind_id((dtype, layout))
            result = result[..., :-1]
        result = result.reshape(h, w, -1) / scale
        assert np.abs(result - expected[..., : result.shape[2]]).max() <= levels, kind_id((dtype, layout))


@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: d.__name__)
def test_the_outside_colour_on_every_kind(rng, dtype):
    h, w = 30, 40
    pairs = [[[5, 5, 35, 5], [-20, 10, 20, 8]], [[5, 25, 35, 25], [0, 30, 40, 22]]]
    outside = (tavrosk.folds((h, w), pairs) & 2) != 0
    assert outside.any() and not outside.all()
    full = FULL[dtype]

    def level(v):  # nearest for integers, the float itself for floats
        return np.float32(v) if full == 1.0 else np.floor(v * full + 0.5)

    for layout in LAYOUTS:
        image = kind_image(rng, dtype, layout, h, w)
        plain = tavrosk.warp(image, pairs)
        for colour in [(0.2, 0.4, 0.6), (0.2, 0.4, 0.6, 0.8), 0.3]:
            rgba = list(colour) + [1.0] * (4 - len(colour)) if np.ndim(colour) else [colour] * 3 + [1.0]
            if channels(layout) >= 3:
                want = [level(v) for v in rgba[:3]]
            else:
                want = [level(0.2126 * rgba[0] + 0.7152 * rgba[1] + 0.0722 * rgba[2])]
            if channels(layout) in (2, 4):
                want.append(level(rgba[3]))
            result = tavrosk.warp(image, pairs, outside=colour).reshape(h, w, -1)
            assert (result[outside] == np.array(want, dtype)).all(), (layout, colour)
            assert np.array_equal(result[~outside], plain.reshape(h, w, -1)[~outside])


def test_nan_outside_marks_float_pixels_without_data():
    image = np.ones((20, 20), np.float32)
    pairs = [[[2, 2, 18, 2], [-10, 2, 10, 2]]]
    result = tavrosk.warp(image, pairs, outside=np.nan)
    assert np.array_equal(np.isnan(result), (tavrosk.folds(image.shape, pairs) & 2) != 0)


@pytest.mark.parametrize("kind", KINDS, ids=kind_id)
def test_every_kind_morphs_by_the_reference_kernel(rng, kind):
    dtype, layout = kind
    first, second = (kind_image(rng, dtype, layout, 24, 31) for _ in range(2))
    pairs = random_pairs(rng, 4, 31, 24)
    frames = list(tavrosk.morph(first, second, pairs, frames=4, outside=(0, 1, 0)))
    assert all(f.shape == first.shape and f.dtype == first.dtype for f in frames)
    assert np.array_equal(frames[0], first) and np.array_equal(frames[-1], second)
    for i in [1, 2]:
        literal = tavrosk.morph_frame(first, second, pairs, i, 4, outside=(0, 1, 0), reference=True)
        assert np.array_equal(frames[i], literal), i


def test_a_morph_of_two_kinds_has_the_wider_kind(rng):
    grey = random_image(rng, (12, 10))
    colour = random_image(rng, (12, 10, 3), np.uint16)
    frames = list(tavrosk.morph(grey, colour, [[[1, 1, 8, 2], [2, 1, 9, 3]]], frames=3))
    assert [(f.shape, f.dtype) for f in frames] == [((12, 10, 3), np.uint16)] * 3
    assert np.array_equal(frames[0], np.repeat(grey[..., None].astype(np.uint16) * 257, 3, axis=2))
    assert np.array_equal(frames[2], colour)


# The kinds a PNG file holds and OpenCV writes (no grey and alpha).
FILE_KINDS = [(d, c) for d in (np.uint8, np.uint16) for c in [(), (3,), (4,)]]


@pytest.mark.parametrize("kind", FILE_KINDS, ids=kind_id)
def test_the_tools_bytes_in_every_kind_a_png_holds(tmp_path, rng, kind):
    dtype, layout = kind
    h, w = 45, 60
    first, second = (kind_image(rng, dtype, layout, h, w) for _ in range(2))
    pairs = random_pairs(rng, 7, w, h)
    write_image(tmp_path / "first.png", first)
    write_image(tmp_path / "second.png", second)
    tavrosk.write_pairs(tmp_path / "pairs.txt", pairs)
    for option, outside in [([], None), (["--outside", "#336699"], (0x33 / 255, 0x66 / 255, 0x99 / 255))]:
        tool("warp", *option, tmp_path / "first.png", tmp_path / "pairs.txt", tmp_path / "out.png")
        assert np.array_equal(tavrosk.warp(first, pairs, outside=outside), read_image(tmp_path / "out.png")), option
    tool("morph", "--frames", 3, tmp_path / "first.png", tmp_path / "second.png", tmp_path / "pairs.txt",
         tmp_path / "frame%d.png")
    for i, frame in enumerate(tavrosk.morph(first, second, pairs, frames=3)):
        assert np.array_equal(frame, read_image(tmp_path / f"frame{i}.png")), i
