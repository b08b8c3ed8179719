"""What the package's tests share: the tools built beside the module, the
bundled samples, seeded random images and pairs, and image files read and
written through OpenCV (an implementation independent of tavrosk's)."""

import os
import subprocess

import cv2
import numpy as np
import pytest

TOOLS = os.environ.get("TAVROSK_TOOLS", "")
DATA = os.environ.get("TAVROSK_DATA", os.path.join(os.path.dirname(__file__), "..", "..", "data"))


def tool(name, *args, check=True):
    """Runs tavrosk-NAME with args; returns the completed process."""
    path = os.path.join(TOOLS, "tavrosk-" + name)
    if not os.access(path, os.X_OK):
        pytest.fail(f"{path} is not built; TAVROSK_TOOLS names the build folder")
    done = subprocess.run([path, *map(str, args)], capture_output=True, text=True)
    if check and done.returncode != 0:
        pytest.fail(f"tavrosk-{name} {' '.join(map(str, args))}: status {done.returncode}: {done.stderr}")
    return done


def data(name):
    return os.path.join(DATA, name)


def read_image(path):
    """An image file as an (H, W, C) array in R, G, B(, A) order, kept at its depth."""
    image = cv2.imread(str(path), cv2.IMREAD_UNCHANGED)
    assert image is not None, f"OpenCV cannot read {path}"
    if image.ndim == 3:
        image = cv2.cvtColor(image, cv2.COLOR_BGRA2RGBA if image.shape[2] == 4 else cv2.COLOR_BGR2RGB)
    return image


def write_image(path, image):
    """Writes an (H, W, C) R, G, B(, A) array, or (H, W) grey, as a PNG."""
    if image.ndim == 3 and image.shape[2] >= 3:
        image = cv2.cvtColor(image, cv2.COLOR_RGBA2BGRA if image.shape[2] == 4 else cv2.COLOR_RGB2BGR)
    assert cv2.imwrite(str(path), image), f"OpenCV cannot write {path}"


def random_image(rng, shape, dtype=np.uint8):
    if np.dtype(dtype).kind == "f":
        return rng.random(shape, dtype=np.float32)
    return rng.integers(0, np.iinfo(dtype).max, shape, dtype=dtype, endpoint=True)


def random_pairs(rng, n, w, h):
    """n pairs of random segments within the image, each second segment its
    first moved by up to a tenth of the image."""
    first = rng.uniform(0, 1, (n, 4)) * [w, h, w, h]
    second = first + rng.uniform(-0.1, 0.1, (n, 4)) * [w, h, w, h]
    return np.stack([first, second], axis=1)


@pytest.fixture
def rng(request):
    """A generator seeded by the test's name, so a failure repeats."""
    return np.random.default_rng(list(request.node.nodeid.encode()))
