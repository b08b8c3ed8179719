"""Tavrosk's line-pair field warp for NumPy arrays.

The functions here run the engine of the tavrosk-warp and tavrosk-morph
programs and give the very results those programs write: the same pixels,
morph frames, displacement field and fold counts.

Images are NumPy arrays of shape (H, W) for grey, (H, W, C) with C channels
(1 grey, 2 grey and alpha, 3 RGB, 4 RGBA) or, for warp, a batch (N, H, W, C);
dtype uint8, uint16 or float32 (values 0 to 1 for full, any value allowed).
A result has the shape and dtype of its input. Alpha is straight (not
multiplied into the colour); where the neighbours' alphas differ the
sampler weighs colour by alpha, and a pixel whose alpha comes out 0 is 0 in
every channel.
Arrays are read where they lie when each row's pixels are packed; any other
layout is copied once.

Pairs are anything NumPy reads as numbers of shape (n, 2, 4), pair k being
its first segment x1 y1 x2 y2 where a feature lies in the source and its
second where that feature goes, or (2n, 4), one segment a row as pairs files
list them. Coordinates are in pixels, x right and y down: pixel (x, y) of
an image lies at the point (x, y).

The weight of a pair at a pixel is (length ** p / (a + distance)) ** b.

threads=0 runs the warp on every core; threads=1 keeps it on the calling
thread, which is what to give inside worker processes or a thread pool that
already keeps every core busy. The interpreter's lock is released while the
engine works, so Python threads warp at the same time.

Wrong arguments raise TypeError or ValueError naming the argument.
"""

import operator as _operator
import os as _os

from . import _tavrosk

__version__ = _tavrosk.__version__

__all__ = ["warp", "morph", "morph_frame", "source_points", "field", "folds", "read_pairs", "write_pairs"]


def warp(image, pairs, *, p=0.5, a=1.0, b=1.0, threads=0, outside=None, reference=False, out=None):
    """Warps image by the line pairs; returns a new array of its shape and dtype.

    image: (H, W), (H, W, C) or a batch (N, H, W, C) warped by the same pairs.
    pairs: (n, 2, 4) or (2n, 4) coordinates, first segment then second.
    p, a, b: the weight (length ** p / (a + distance)) ** b; p, b >= 0, a > 0.
    threads: worker threads, 0 for every core.
    outside: the colour of pixels whose source point lies outside the image:
        None for transparent (black where the image has no alpha), a number
        for a grey, or (R, G, B) or (R, G, B, A), each a fraction of the
        full value (1.0 is 255 in uint8, 65535 in uint16), so that one colour
        serves every dtype. uint8 and uint16 take 0 to 1; float32 any value,
        NaN too. A left out alpha is opaque; grey images take the colour's
        luma (0.2126 R + 0.7152 G + 0.0722 B).
    reference: run the literal reference kernel (one thread; the same result).
    out: an array of the result's shape and dtype to write into instead
        (writable, not sharing memory with image); it is returned.
    """
    return _tavrosk.warp(image, pairs, p, a, b, threads, outside, reference, out)


def morph(first, second, pairs, *, frames=30, start=0, stop=None, p=0.5, a=1.0, b=1.0, threads=0, outside=None,
          reference=False):
    """Yields the frames of a morph from first to second, as tavrosk-morph writes them.

    first, second: images of one size, (H, W) or (H, W, C), of any kinds:
        the frames have the wider kind of the two (colour, alpha, 16 bits or
        float32 when either has them), and the inputs are widened to it
        (grey copied to R, G and B, an opaque alpha added, 8-bit v as
        257 v in uint16 or v / 255 in float32).
    pairs: pair k's first segment marks a feature in first, its second the
        same feature in second.
    frames: how many frames from first to second (at least 2); frame i lies
        at t = i / (frames - 1), so frame 0 is first and the last is second.
    start, stop: yield only frames start to stop - 1, as range() counts them.
    The other arguments are those of warp. The arguments are checked when
    morph is called; each frame is a new array, rendered when asked for.
    """
    job = _tavrosk.Morph(first, second, pairs, frames, p, a, b, threads, outside, reference)
    indices = range(job.frames)[_index("start", start):None if stop is None else _index("stop", stop)]
    return (job.frame(i, None) for i in indices)


def morph_frame(first, second, pairs, i, frames, *, p=0.5, a=1.0, b=1.0, threads=0, outside=None,
                reference=False, out=None):
    """Returns frame i (from 0) of a morph of frames frames, as morph yields it.

    For work split over processes or machines: each call renders one frame
    from the inputs alone. out: as for warp.
    """
    return _tavrosk.Morph(first, second, pairs, frames, p, a, b, threads, outside, reference).frame(i, out)


def source_points(shape, pairs, *, p=0.5, a=1.0, b=1.0, threads=0, reference=False):
    """Returns the (H, W, 2) float64 source point (x, y) of every result pixel.

    These are the exact doubles the engine samples at: result pixel (x, y)
    is the bilinear sample of the source at points[y, x]. Hand them to
    cv2.remap (as two float32 maps) or to grid_sample to move masks, labels
    or anything else the way warp moves the image.
    shape: (H, W) or (H, W, C), as image.shape gives it.
    """
    return _tavrosk.source_points(shape, pairs, p, a, b, threads, reference)


def field(shape, pairs, *, p=0.5, a=1.0, b=1.0, threads=0, reference=False):
    """Returns the (H, W, 2) float32 displacement field as the .flo file holds it.

    field[y, x] is (sx - x, sy - y) for the source point (sx, sy) of pixel
    (x, y), each rounded once to float32; 1e10 in both where the point is
    not finite (the format's "unknown"), as tavrosk-warp --field writes it.
    """
    return _tavrosk.field(shape, pairs, p, a, b, threads, reference)


def folds(shape, pairs, *, p=0.5, a=1.0, b=1.0, threads=0, reference=False):
    """Returns the (H, W) uint8 fold flags of a warp, as tavrosk-warp --folds counts them.

    Bit 1: the mapping folds the image over itself at that pixel (the
    Jacobian of the source points has a determinant <= 0 or not finite).
    Bit 2: the source point lies outside the image (the pixel takes the
    outside colour).
    (flags & 1).sum() and (flags & 2 != 0).sum() are the counts the tool
    prints.
    """
    return _tavrosk.folds(shape, pairs, p, a, b, threads, reference)


def read_pairs(path):
    """Reads a pairs file as the tools do; returns its pairs as (n, 2, 4) float64.

    Raises OSError when the file cannot be opened and ValueError with
    "FILE:LINE: problem" (the tools' words) when it is not a pairs file.
    """
    return _tavrosk.read_pairs(_path(path))


def write_pairs(path, pairs):
    """Writes pairs as a pairs file, one segment a line, as tavrosk-edit does.

    Each coordinate is the shortest decimal that reads back as the same
    double, so read_pairs gives the very values back. The file is written
    whole or not at all (an existing file is replaced only once the new one
    is complete). Raises OSError "FILE: problem" when it cannot be written.
    """
    _tavrosk.write_pairs(_path(path), pairs)


def _index(name, value):
    try:
        return _operator.index(value)
    except TypeError:
        raise TypeError(f"{name}: a whole number expected, not {type(value).__name__}") from None


def _path(path):
    try:
        return _os.fsdecode(path)
    except TypeError:
        raise TypeError(f"path: a file name expected, not {type(path).__name__}") from None
