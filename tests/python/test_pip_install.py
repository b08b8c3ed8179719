"""pip install --no-build-isolation --no-index of a copy of the checkout, in a
fresh virtual environment that sees the system's NumPy: built offline by
setup.py through CMake, then imported from the environment."""

import os
import shutil
import subprocess
import sys

SOURCE = os.path.join(os.path.dirname(__file__), "..", "..")


def test_pip_installs_the_package_offline(tmp_path):
    # A copy without build folders, as a fresh clone has none.
    source = tmp_path / "tavrosk"
    shutil.copytree(SOURCE, source, ignore=lambda folder, names: [
        n for n in names if n.startswith(("build", ".git", "__pycache__")) and folder == os.path.abspath(SOURCE)
        or n == "__pycache__"])
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", venv], check=True)
    env = dict(os.environ, PIP_NO_INDEX="1", PIP_DISABLE_PIP_VERSION_CHECK="1", CMAKE_BUILD_PARALLEL_LEVEL="2")
    env.pop("PYTHONPATH", None)
    if shutil.which("ccache"):
        # Paths below the copy hashed relative to it, so that runs share hits.
        env.update(TAVROSK_CMAKE_ARGS="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", CCACHE_BASEDIR=str(source))
    python = venv / "bin" / "python"
    install = subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "."], cwd=source, env=env,
                             capture_output=True, text=True)
    assert install.returncode == 0, install.stdout + install.stderr
    check = subprocess.run([python, "-c", "import tavrosk; print(tavrosk.__version__, tavrosk.__file__)"],
                           cwd=tmp_path, env=env, capture_output=True, text=True, check=True)
    version, where = check.stdout.split()
    assert version.count(".") >= 1 and where.startswith(str(venv))
