"""Prints the folder, relative to the install prefix given as the argument,
where the interpreter running this finds packages installed under that
prefix: the folder of its search path under PREFIX/lib (Debian's Python
searches /usr/local/lib/python3.X/dist-packages and
/usr/lib/python3/dist-packages, every Python its user site under ~/.local),
else the standard lib/python3.X/site-packages, which then belongs on
PYTHONPATH. Run by cmake --install (python/CMakeLists.txt)."""

import os
import sys
import sysconfig

prefix = os.path.realpath(sys.argv[1])
for entry in map(os.path.realpath, sys.path):
    if entry.endswith(("site-packages", "dist-packages")) and entry.startswith(prefix + "/lib/"):
        print(os.path.relpath(entry, prefix))
        break
else:
    scheme = sysconfig.get_path("platlib", "posix_prefix", vars={"base": prefix, "platbase": prefix})
    print(os.path.relpath(scheme, prefix))
