"""read_pairs and write_pairs: the tools' parser, writer and messages."""

import os

import numpy as np
import pytest

import tavrosk
from conftest import data, tool


def test_written_pairs_read_back_exactly(tmp_path, rng):
    pairs = rng.normal(0, 1, (50, 2, 4)) * 10.0 ** rng.integers(-300, 300, (50, 2, 4))
    pairs[0, 0] = [-0.0, 1e15, -1e-320, 1 / 3]
    path = tmp_path / "pairs.txt"
    tavrosk.write_pairs(path, pairs)
    back = tavrosk.read_pairs(path)
    assert back.dtype == np.float64 and back.shape == pairs.shape
    assert np.array_equal(back, pairs)
    assert tavrosk.read_pairs(str(path).encode()).shape == pairs.shape


@pytest.mark.parametrize(
    "text",
    [
        "1 2 3 4\n",
        "1 2 3 4\n5 6 7 8\n9 10 11 12\n",
        "",
        "# only a comment\n",
        "1 2 3 4\n1 2 3\n",
        "1 2 3 4\nnan 1 2 3\n",
        "1 2 3 4\n1 2 3 4 5\n",
        "1 2 3 4\n\x01\x02 binary\n",
        "1 2 3 4\nx y z w\n",
    ],
)
def test_bad_files_raise_the_tools_message(tmp_path, text):
    path = tmp_path / "bad.txt"
    path.write_text(text)
    message = tool("warp", data("sample.bmp"), path, tmp_path / "out.png", check=False).stderr.strip()
    assert message.startswith("tavrosk-warp: " + str(path))
    with pytest.raises(ValueError) as raised:
        tavrosk.read_pairs(path)
    assert str(raised.value) == message[len("tavrosk-warp: "):]


@pytest.mark.parametrize("name, error", [("missing.txt", FileNotFoundError), (".", IsADirectoryError)])
def test_unreadable_paths_raise_os_errors(tmp_path, name, error):
    with pytest.raises(error):
        tavrosk.read_pairs(tmp_path / name)


def test_a_failed_write_leaves_the_old_file(tmp_path):
    path = tmp_path / "pairs.txt"
    path.write_text("old\n")
    os.chmod(path, 0o444)
    for target, words in [(path, "is read-only; not replaced"), (tmp_path / "no" / "p.txt", "cannot write in")]:
        with pytest.raises(OSError, match=words):
            tavrosk.write_pairs(target, [[0, 0, 1, 1], [0, 0, 1, 2]])
    assert path.read_text() == "old\n"
    with pytest.raises(TypeError, match="^path: "):
        tavrosk.write_pairs(3.5, [[0, 0, 1, 1], [0, 0, 1, 2]])

