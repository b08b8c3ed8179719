"""A line-pair field warp written as a Python user writes it without tavrosk:
a loop over the pairs, NumPy arrays over the pixels, float64 throughout,
bilinear sampling with black outside. It is the yardstick of
bench/python_bench.py. It does what the engine does, but not to the bit: it
rounds each sample once where the engine truncates twice
(docs/numerics.md), so most samples differ by a level or two, and it takes
no point beyond the last column or row, which the engine blends toward them.
"""

import numpy as np


def numpy_warp(image, pairs, p=0.5, a=1.0, b=1.0):
    """image: (H, W, C) uint8; pairs: (n, 2, 4), first segment in the source,
    second where it goes. Returns the warped (H, W, C) uint8 image."""
    h, w = image.shape[:2]
    y, x = np.mgrid[0:h, 0:w].astype(np.float64)
    dsum_x = np.zeros((h, w))
    dsum_y = np.zeros((h, w))
    weight_sum = np.zeros((h, w))
    for (px1, py1, qx1, qy1), (px, py, qx, qy) in np.asarray(pairs, dtype=np.float64):
        # u along the result's segment PQ, v across it in pixels.
        dx, dy = qx - px, qy - py
        length = np.hypot(dx, dy)
        dx1, dy1 = qx1 - px1, qy1 - py1
        length1 = np.hypot(dx1, dy1)
        if length == 0 or length1 == 0:
            continue
        rx, ry = x - px, y - py
        u = (rx * dx + ry * dy) / (length * length)
        v = (rx * -dy + ry * dx) / length
        # The same (u, v) against the source's segment.
        sx = px1 + u * dx1 + v * -dy1 / length1
        sy = py1 + u * dy1 + v * dx1 / length1
        dist = np.where(u < 0, np.hypot(rx, ry), np.where(u > 1, np.hypot(x - qx, y - qy), np.abs(v)))
        weight = (length**p / (a + dist)) ** b
        dsum_x += (sx - x) * weight
        dsum_y += (sy - y) * weight
        weight_sum += weight
    sx = x + dsum_x / weight_sum
    sy = y + dsum_y / weight_sum
    return bilinear(image, sx, sy)


def bilinear(image, sx, sy):
    h, w = image.shape[:2]
    inside = (sx >= 0) & (sy >= 0) & (sx <= w - 1) & (sy <= h - 1)
    x0 = np.clip(np.floor(sx), 0, w - 1).astype(np.intp)
    y0 = np.clip(np.floor(sy), 0, h - 1).astype(np.intp)
    x1 = np.minimum(x0 + 1, w - 1)
    y1 = np.minimum(y0 + 1, h - 1)
    fx = np.clip(sx - x0, 0, 1)[..., None]
    fy = np.clip(sy - y0, 0, 1)[..., None]
    source = image.astype(np.float64)
    top = source[y0, x0] * (1 - fx) + source[y0, x1] * fx
    bottom = source[y1, x0] * (1 - fx) + source[y1, x1] * fx
    result = top * (1 - fy) + bottom * fy
    result[~inside] = 0
    return np.clip(result + 0.5, 0, 255).astype(np.uint8)
