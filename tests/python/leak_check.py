"""Runs a command (pytest over the package) in the sanitizer pass with leak
checking on, and fails when a leak has a frame in this project's code.

Usage: leak_check.py BUILD_DIR PRELOAD -- COMMAND...

The interpreter and NumPy are not instrumented and keep objects until the
process ends (interned strings, static types, caches), which LeakSanitizer
reports at exit. A suppression cannot set those apart from ours: suppressions
match any frame of a stack, and a leak of the module always has the
interpreter's frame that called it below the module's own, so naming the
interpreter would hide every leak of ours too. The leak report is therefore
not fatal in the child (exitcode=0) and is read here instead: a leak is the
interpreter's own when none of its frames lies in a file under BUILD_DIR (the
extension, which holds the engine, and the tools the tests run). Every other
sanitizer report still aborts the child, so the command fails.
"""

import os
import re
import subprocess
import sys
import tempfile


def leak_records(report):
    """The leak records of a sanitizer report, each a list of lines."""
    records, current = [], None
    for line in report.splitlines():
        if re.match(r"(Direct|Indirect) leak of ", line):
            current = [line]
            records.append(current)
        elif current is not None and line.strip().startswith("#"):
            current.append(line)
        else:
            current = None
    return records


def main(argv):
    if len(argv) < 4 or argv[2] != "--":
        print("usage: leak_check.py BUILD_DIR PRELOAD -- COMMAND...", file=sys.stderr)
        return 2
    build = os.path.realpath(argv[0])
    preload, command = argv[1], argv[3:]
    with tempfile.TemporaryDirectory() as folder:
        log = os.path.join(folder, "report")
        env = dict(os.environ)
        env["LD_PRELOAD"] = preload
        # Each frame names its file (%m), symbolized or not. Every report but
        # a leak aborts, whatever exit code the leak report is given.
        fatal = ":halt_on_error=1:abort_on_error=1"
        env["ASAN_OPTIONS"] = (env.get("ASAN_OPTIONS", "") + fatal + ":detect_leaks=1:log_path=" + log
                               + ":stack_trace_format='    #%n %p %F %L {%m}'")
        env["UBSAN_OPTIONS"] = env.get("UBSAN_OPTIONS", "") + fatal
        env["LSAN_OPTIONS"] = env.get("LSAN_OPTIONS", "") + ":exitcode=0"
        status = subprocess.run(command, env=env).returncode
        ours, theirs = [], 0
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), errors="replace") as f:
                report = f.read()
            records = leak_records(report)
            mine = [r for r in records if any("{" + build + "/" in line for line in r[1:])]
            ours += mine
            theirs += len(records) - len(mine)
            if not records or mine:
                sys.stderr.write(report)
    if theirs:
        print(f"leak_check.py: {theirs} leak records of the interpreter and its libraries set aside",
              file=sys.stderr)
    if ours:
        print(f"leak_check.py: {len(ours)} leaks with a frame under {build}", file=sys.stderr)
        return 1
    return status


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
