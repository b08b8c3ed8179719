"""Hostile arguments: each raises TypeError or ValueError naming the argument,
no layout of a valid array changes the result, and one the engine reads
where it lies is not copied."""

import tracemalloc

import numpy as np
import pytest
from numpy.lib.stride_tricks import as_strided

import tavrosk

IMAGE = np.arange(6 * 8 * 3, dtype=np.uint8).reshape(6, 8, 3)
PAIRS = [[[1, 1, 6, 2], [1, 2, 6, 1]], [[2, 5, 6, 5], [1, 4, 7, 5]]]
BIG = as_strided(np.zeros(1, np.uint8), (50000, 50000, 3), (0, 0, 0))  # no memory behind it
BUSY = np.zeros((6, 8, 3), np.uint8)
READ_ONLY = np.zeros((6, 8, 3), np.uint8)
READ_ONLY.flags.writeable = False
WIDE = np.zeros((6, 16, 3), np.uint8)


def warp(**kw):
    args = {"image": IMAGE, "pairs": PAIRS, **kw}
    return tavrosk.warp(args.pop("image"), args.pop("pairs"), **args)


def morph_frame(**kw):
    args = {"first": IMAGE, "second": IMAGE, "pairs": PAIRS, "i": 1, "frames": 3, **kw}
    return tavrosk.morph_frame(*[args.pop(k) for k in ["first", "second", "pairs", "i", "frames"]], **args)


def points(**kw):
    args = {"shape": (6, 8), "pairs": PAIRS, **kw}
    return tavrosk.source_points(args.pop("shape"), args.pop("pairs"), **args)


CASES = [
    # image: type, dtype, shape, size
    (warp, {"image": "picture"}, TypeError, "image: dtype <U7"),
    (warp, {"image": None}, TypeError, "image: dtype object"),
    (warp, {"image": IMAGE.astype(np.int32)}, TypeError, "image: dtype int32 is not uint8, uint16 or float32"),
    (warp, {"image": IMAGE.astype(np.float64)}, TypeError, "image: dtype float64"),
    (warp, {"image": IMAGE.astype(">u2")}, TypeError, "image: dtype >u2 .* byte order"),
    (warp, {"image": IMAGE[0, 0]}, ValueError, r"image: shape \(3,\) is not"),
    (warp, {"image": np.zeros((2, 2, 2, 2, 2), np.uint8)}, ValueError, "image: shape"),
    (warp, {"image": np.zeros((6, 8, 5), np.uint8)}, ValueError, r"image: .*5 channels.*\(N, H, W, 1\)"),
    (warp, {"image": np.zeros((2, 6, 8, 0), np.uint8)}, ValueError, "image: .*0 channels"),
    (warp, {"image": np.zeros((0, 8, 3), np.uint8)}, ValueError, "image: shape .* is empty"),
    (warp, {"image": np.zeros((0, 6, 8, 3), np.uint8)}, ValueError, "image: shape .* is empty"),
    (warp, {"image": BIG}, ValueError, "image: shape .* more than the engine takes"),
    (morph_frame, {"first": np.zeros((2, 6, 8, 3), np.uint8)}, ValueError, "first: shape"),
    (morph_frame, {"second": np.zeros((6, 9, 3), np.uint8)}, ValueError, "second: 9 x 6 pixels, but first is 8 x 6"),
    # out
    (warp, {"out": READ_ONLY}, ValueError, "out: is read-only"),
    (warp, {"out": np.zeros((6, 8, 3), np.float32)}, TypeError, "out: dtype float32, the result is uint8"),
    (warp, {"out": np.zeros((6, 8, 4), np.uint8)}, ValueError, r"out: shape \(6, 8, 4\), the result is \(6, 8, 3\)"),
    (warp, {"out": [[0]]}, TypeError, "out: a NumPy array expected, not list"),
    (warp, {"image": BUSY, "out": BUSY}, ValueError, "out: shares memory with an input"),
    (warp, {"out": WIDE[:, ::2]}, ValueError, "out: its pixels are not packed"),
    (warp, {"image": np.zeros((2, 6, 8, 3), np.uint8), "out": as_strided(BUSY, (2, 6, 8, 3), (0, 24, 3, 1))},
     ValueError, "out: its pixels are not packed.* overlap"),
    (morph_frame, {"out": IMAGE}, ValueError, "out: (is read-only|shares memory)"),
    # pairs
    (warp, {"pairs": "pairs"}, TypeError, "pairs: dtype <U5 is not a number type"),
    (warp, {"pairs": [[1, 2], [3]]}, TypeError, r"pairs: not an array of numbers"),
    (warp, {"pairs": [[0, 0, 1, 1j], [0, 0, 1, 1]]}, TypeError, "pairs: dtype complex128"),
    (warp, {"pairs": np.zeros((0, 4))}, ValueError, "pairs: no pairs"),
    (warp, {"pairs": [[0, 0, 1, 1]]}, ValueError, "pairs: only one segment"),
    (warp, {"pairs": np.ones((3, 4))}, ValueError, "pairs: 3 segments, an odd count"),
    (warp, {"pairs": np.ones((2, 3, 4))}, ValueError, r"pairs: shape \(2, 3, 4\) is not \(n, 2, 4\)"),
    (warp, {"pairs": [[0, 0, 1, 1], [0, 0, 1, np.inf]]}, ValueError, "pairs: pair 0, second segment: inf is not"),
    # weights, threads, frames
    (warp, {"p": "0.5"}, TypeError, "p: a number expected, not str"),
    (warp, {"p": True}, TypeError, "p: a number expected, not bool"),
    (warp, {"p": -1}, ValueError, "p: -1 is not a finite number, 0 or more"),
    (warp, {"b": np.nan}, ValueError, "b: nan is not a finite number, 0 or more"),
    (warp, {"a": 0}, ValueError, "a: 0 is not a finite number greater than 0"),
    (warp, {"a": float("inf")}, ValueError, "a: inf is not"),
    (warp, {"threads": -1}, ValueError, "threads: -1 is not a whole number from 0 to 1024"),
    (warp, {"threads": 10**30}, ValueError, "threads: 1000000000000000000000000000000 is not"),
    (warp, {"threads": 2.0}, TypeError, "threads: a whole number expected, not float"),
    (warp, {"outside": "white"}, TypeError, "outside: a number or 3 or 4 numbers expected"),
    (warp, {"outside": True}, TypeError, "outside: a number or 3 or 4 numbers expected"),
    (warp, {"outside": (1, 0)}, ValueError, r"outside: \(1, 0\) is not one number nor R, G, B"),
    (warp, {"outside": [[1, 1, 1]]}, ValueError, "outside: .* is not one number"),
    (warp, {"outside": 255}, ValueError, r"outside: 255: 255.0 is not from 0 to 1, .*\(1.0 is 255 in this dtype\)"),
    (warp, {"image": IMAGE.astype(np.uint16), "outside": (0, 0, np.nan)}, ValueError, ".*nan is not from 0 to 1"),
    (morph_frame, {"outside": -0.5}, ValueError, "outside: -0.5: -0.5 is not from 0 to 1"),
    (morph_frame, {"frames": 1}, ValueError, "frames: 1 is not a whole number from 2 to"),
    (morph_frame, {"i": 3}, ValueError, "i: 3 is not a whole number from 0 to 2"),
    (morph_frame, {"i": -1}, ValueError, "i: -1 is not"),
    (morph_frame, {"i": None}, TypeError, "i: a whole number expected, not NoneType"),
    (lambda: tavrosk.morph(IMAGE, IMAGE, PAIRS, start="0"), {}, TypeError, "start: a whole number expected"),
    # shape
    (points, {"shape": IMAGE}, TypeError, "shape: .*pass image.shape"),
    (points, {"shape": "68"}, TypeError, "shape: a tuple"),
    (points, {"shape": (6,)}, ValueError, r"shape: \(6,\) is not \(H, W\)"),
    (points, {"shape": (0, 8)}, ValueError, "shape: 0 is not a whole number from 1"),
    (points, {"shape": (6, 8.0)}, TypeError, "shape: a whole number expected, not float"),
    (points, {"shape": (2**20, 2**20)}, ValueError, "shape: .* more than the engine takes"),
]


@pytest.mark.parametrize("call, kw, error, message", CASES)
def test_hostile_arguments_raise_naming_the_argument(call, kw, error, message):
    with pytest.raises(error, match="^" + message):
        call(**kw)


def views():
    """Layouts of IMAGE-like arrays the engine cannot take as they lie, and
    some it can: each must warp as its C-contiguous copy does."""
    rng = np.random.default_rng(5)
    base = rng.integers(0, 256, (13, 22, 3), dtype=np.uint8)
    odd = np.frombuffer(b"\0" + base.astype(np.uint16).tobytes(), np.uint16, base.size, 1).reshape(base.shape)
    return [
        base[::-1],  # rows bottom-up
        base[:, ::-1],  # pixels right to left
        base[:, :, ::-1],  # channels reversed
        base[::2, 1::3],  # every other row, every third pixel
        np.transpose(base, (1, 0, 2)),  # columns as rows
        np.asfortranarray(base),
        np.broadcast_to(base[:1], base.shape),  # one row seen thirteen times
        base[..., 1],  # one channel: a grey image
        odd,  # uint16 samples at odd addresses
        base[None].repeat(3, 0)[:, ::-1],  # a batch with its rows reversed
    ]


@pytest.mark.parametrize("view", views(), ids=range(len(views())))
def test_every_layout_warps_as_its_contiguous_copy(view):
    pairs = [[[2, 2, 10, 3], [3, 3, 12, 2]], [[1, 9, 11, 9], [2, 8, 10, 10]]]
    expected = tavrosk.warp(np.ascontiguousarray(view), pairs)
    result = tavrosk.warp(view, pairs)
    assert result.shape == view.shape and result.dtype == view.dtype
    assert np.array_equal(result, expected)


def test_a_contiguous_image_is_read_where_it_lies():
    image = np.zeros((500, 600, 3), np.uint8)

    def peak(array):
        tracemalloc.start()
        tavrosk.warp(array, PAIRS)
        _, most = tracemalloc.get_traced_memory()
        tracemalloc.stop()
        return most

    # NumPy reports its buffers to tracemalloc: the result alone, then the
    # result and the copy of a view the engine cannot read where it lies.
    assert image.nbytes <= peak(image) < 1.5 * image.nbytes
    assert peak(image[:, :, ::-1]) >= 2 * image.nbytes
