"""Runs one GoogleTest program of the 64-bit Windows build under Wine, for
ctest: in a Wine prefix of its own (the rig's copy), without an X display,
from a scratch folder. GoogleTest's output is passed on whole, and the exit
code is the program's, except that a program that exits 0 fails when it left
files in its current folder or GoogleTest did not say that its tests passed
(a program that ran no test).

Usage: run_gtest.py PROGRAM.exe [GoogleTest arguments...]
"""

import re
import subprocess
import sys
import tempfile
from pathlib import Path

import winerig


def main(argv: list[str]) -> int:
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    program = Path(argv[1]).resolve()
    if not program.is_file():
        print(f"{program} not built", file=sys.stderr)
        return 1
    with winerig.WineSession(program.stem, display=False) as wine, \
            tempfile.TemporaryDirectory(prefix=program.stem + "-") as folder:
        try:
            result = wine.run(program, argv[2:], cwd=folder, timeout=winerig.DEADLINE)
        except subprocess.TimeoutExpired as timeout:
            # What it printed shows the test that did not end.
            sys.stdout.write((timeout.stdout or b"").decode("latin-1"))
            print(f"{program.name} did not end within {timeout.timeout:.0f} s", file=sys.stderr)
            return 1
        left = sorted(p.name for p in Path(folder).iterdir())
    sys.stdout.write(result.stdout)
    sys.stderr.write(result.stderr)
    if result.returncode != 0:
        print(f"{program.name} exited with {result.returncode}", file=sys.stderr)
        return 1
    if left:
        # Tests work in their own scratch folders; a file here is one that
        # something (a crash report among them) left behind.
        print(f"{program.name} left files in its current folder: {left}", file=sys.stderr)
        return 1
    if not re.search(r"^\[  PASSED  \] [1-9][0-9]* tests?\.", result.stdout, re.M):
        print(f"{program.name} exited with 0 but reported no passed tests", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
