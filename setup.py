"""Builds the extension tavrosk._tavrosk with the project's CMake and installs
it with the pure-Python package python/tavrosk (see pyproject.toml).

CMake configures the whole project in the build folder setuptools gives
(tests off, Release) for the Python running this script, and builds only the
extension's target; CMAKE_BUILD_PARALLEL_LEVEL sets the jobs (default: every
core), TAVROSK_CMAKE_ARGS adds options (for example the compiler launcher).
"""

import os
import re
import shlex
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

root = os.path.dirname(os.path.abspath(__file__))


def project_version():
    with open(os.path.join(root, "CMakeLists.txt"), encoding="utf-8") as cmake:
        return re.search(r"project\(tavrosk VERSION ([0-9.]+)", cmake.read()).group(1)


class CMakeExtension(Extension):
    def __init__(self, name):
        super().__init__(name, sources=[])


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        configure = ["cmake", "-S", root, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                     "-DTAVROSK_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}"]
        configure += shlex.split(os.environ.get("TAVROSK_CMAKE_ARGS", ""))
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", build, "--target", "_tavrosk", "-j", jobs], check=True)
        built = os.path.join(build, "python", "tavrosk", os.path.basename(self.get_ext_filename(ext.name)))
        if not os.path.exists(built):
            sys.exit(f"setup.py: CMake did not build {built}; see the messages above (python3-dev, pybind11-dev and "
                     "NumPy are needed)")
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built, target)


# Beside, not in, the build/ folder of a CMake build of the checkout.
build_base = os.path.join(root, "build-python")
os.makedirs(build_base, exist_ok=True)

setup(
    version=project_version(),
    packages=["tavrosk"],
    package_dir={"tavrosk": "python/tavrosk"},
    package_data={"tavrosk": ["__init__.pyi", "py.typed"]},
    ext_modules=[CMakeExtension("tavrosk._tavrosk")],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
    options={"build": {"build_base": build_base}, "egg_info": {"egg_base": build_base}},
)
