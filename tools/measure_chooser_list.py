#!/usr/bin/env python3
"""Measures how long the language chooser takes, under Wine, from its start
until its list holds every language: the window does not answer while the
list fills, so this is also how long the user waits for a window that reads
no input.

    measure_chooser_list.py [--counts 30 500 2000] [--runs 2] [--win-exe EXE] [--probe EXE]

For each count N a product folder is laid out with N language files
"langues\\Langue NNNN.txt", each with its flag icon beside it (a copy of the
two-image icon among the test fixtures). The 64-bit chooser is started there
under Wine, on an X display and a Wine prefix of its own (the Wine test
rig's), and the UI probe, started with it, asks the window for its list's
item count until the list holds N items; the time from the chooser's start
until the probe reports that count is the figure. The count is asked with
one message that the chooser answers only once it reads messages again, so
it waits for the end of the filling, not for a poll interval. The chooser is
then stopped by its process id. The first run (one language) only warms
Wine up and is not reported.

The figures are times on a shared machine: compare them within one run of
this script; "--counts 1" gives the cost of starting the chooser itself.
"""

from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD_ROOT = Path(os.environ.get("BUILD_ROOT") or ROOT / "build").resolve()
os.environ.setdefault("WIN64_BUILD_DIR", str(BUILD_ROOT / "win64"))
sys.path.insert(0, str(ROOT / "tests" / "wine"))
import winerig  # noqa: E402

FLAG = ROOT / "tests" / "fixtures" / "images" / "flag.ico"
# Longer than any filling measured so far (about 20 ms a language).
WAIT_SECONDS = 600


def lay_out(folder: Path, count: int) -> None:
    langues = folder / "langues"
    langues.mkdir(parents=True)
    for i in range(count):
        name = f"Langue {i:04d}"
        (langues / f"{name}.txt").write_bytes(f"[{name}]\r\nlangue={name}\r\n".encode("cp1252"))
        shutil.copyfile(FLAG, langues / f"{name}.ico")


def time_to_full_list(wine: winerig.WineSession, chooser: Path, probe: Path, folder: Path,
                      count: int) -> float:
    """Seconds from the chooser's start until its list holds count items."""
    began = time.perf_counter()
    process = wine.start_program(chooser, cwd=folder, capture=False)
    try:
        with tempfile.TemporaryFile() as out:
            # The output goes through a file: Wine's helper processes may
            # inherit the probe's handles and hold a pipe open.
            subprocess.run(wine.command(probe, ["--exe", chooser.name, "--visible", "--wait",
                                                str(WAIT_SECONDS * 1000), "--list-count",
                                                str(count)]),
                           env=wine.env(), stdout=out, stderr=subprocess.DEVNULL,
                           timeout=WAIT_SECONDS + 60, check=False)
            elapsed = time.perf_counter() - began
            out.seek(0)
            answer = out.read().decode("latin-1").strip()
        if answer != f'{{"list_count": {count}}}':
            raise SystemExit(f"{count} languages: the probe answered {answer!r}")
        return elapsed
    finally:
        wine.stop_program(process)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--counts", type=int, nargs="+", default=[30, 500, 2000])
    parser.add_argument("--runs", type=int, default=2)
    parser.add_argument("--win-exe", type=Path,
                        default=BUILD_ROOT / "win64" / "chooser" / "language_chooser.exe")
    parser.add_argument("--probe", type=Path,
                        default=BUILD_ROOT / "win64" / "tools" / "ui_probe.exe")
    args = parser.parse_args(argv)
    probe = args.probe
    for needed in (args.win_exe, probe):
        if not needed.is_file():
            raise SystemExit(f"{needed} is not built (run ./run build)")

    with tempfile.TemporaryDirectory(prefix="measure-chooser-") as work, \
            winerig.WineSession("measure-chooser") as wine:
        folders = {}
        for count in sorted(set(args.counts) | {1}):
            folders[count] = Path(work) / f"n{count}"
            lay_out(folders[count], count)
        time_to_full_list(wine, args.win_exe, probe, folders[1], 1)  # warm-up
        print(f"{args.win_exe} under Wine: start until the list holds N languages")
        for count in args.counts:
            samples = [time_to_full_list(wine, args.win_exe, probe, folders[count], count)
                       for _ in range(args.runs)]
            ms = [round(s * 1000) for s in samples]
            print(f"  N = {count:5d}: median {statistics.median(samples):7.2f} s   "
                  f"runs (ms): {', '.join(map(str, ms))}", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
