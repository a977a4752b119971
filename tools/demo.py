#!/usr/bin/env python3
"""The main job: shows where the built programs are."""
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def main():
    for build in ("win32", "win64", "native"):
        for sub, name in (("updater", "update_client"), ("chooser", "language_chooser")):
            exe = name + ("" if build == "native" else ".exe")
            path = os.path.join(ROOT, "build", build, sub, exe)
            state = "" if os.path.exists(path) else "  (missing)"
            print(f"{build:7} {path}{state}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
