"""The Python blocks of docs/python.md, run in order as one script in a
scratch folder that holds the project's data/, as a reader would run them."""

import os
import re
import subprocess
import sys

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def test_the_guide_runs_as_written(tmp_path):
    text = open(os.path.join(SOURCE, "docs", "python.md"), encoding="utf-8").read()
    blocks = re.findall(r"^```python\n(.*?)^```$", text, re.M | re.S)
    assert len(blocks) >= 8
    (tmp_path / "data").symlink_to(os.path.join(SOURCE, "data"))
    (tmp_path / "guide.py").write_text("\n".join(blocks))
    run = subprocess.run([sys.executable, "guide.py"], cwd=tmp_path, capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert "folds: " in run.stdout and "image: shape (4, 4, 5)" in run.stdout
    for name in ["warped.png", "warped-cv.png", "morph.gif", "morph.mp4", "augmented3.png", "pairs-copy.txt"]:
        assert (tmp_path / name).stat().st_size > 0, name
