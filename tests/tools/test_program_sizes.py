"""The shipped 32-bit programs stay small: each within its budget, with and
without an update key, and none links what only bloats it (checked in the
linker maps that their links write beside them)."""

from __future__ import annotations

import os
import sys
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ["SOURCE_DIR"])
WIN32_BUILD_DIR = Path(os.environ["WIN32_BUILD_DIR"])
sys.path.insert(0, str(SOURCE_DIR / "tools"))
import size_report  # noqa: E402

KIB = 1024
# The key changes no size: the tests' key stands for the maker's.
PROGRAMS = {
    "update_client": (WIN32_BUILD_DIR / "updater" / "update_client.exe", 256 * KIB),
    "update_client with a key": (WIN32_BUILD_DIR / "test_key" / "update_client.exe", 256 * KIB),
    "language_chooser": (WIN32_BUILD_DIR / "chooser" / "language_chooser.exe", 160 * KIB),
}


@pytest.mark.parametrize("name", PROGRAMS)
def test_program_fits_its_budget(name):
    path, budget = PROGRAMS[name]
    size = path.stat().st_size
    print(f"{name}: {size} bytes of {budget} ({path})")
    assert size <= budget, f"{name}: {size} bytes, over its budget of {budget}"


# What no shipped program links, and why it would be there: a part of an
# input file's name, in any output section or in the one given.
EVERYWHERE = [
    ("libpthread.a(", None, "the POSIX thread emulation: the build left the win32 thread model"),
    ("mingw_pformat", None, "MinGW's own printf family beside msvcrt's"),
    ("cp-demangle.o", None, "libstdc++'s demangler: the short terminate handler is not linked"),
    ("string-inst.o", None, "libstdc++'s string instances: its throw helpers are linked"),
    ("libjpeg.a(", ".eh_frame", "libjpeg's unwind tables, which keep all of it"),
]
UNWANTED = {
    "update_client": EVERYWHERE,
    "update_client with a key": EVERYWHERE + [
        ("libsodium.a(", ".eh_frame", "libsodium's unwind tables, which keep all of it"),
        ("argon2", None, "libsodium's implementation choice (sodium_init) in the check"),
    ],
    "language_chooser": EVERYWHERE + [
        ("libjpeg.a(", None, "the JPEG decoder, which it never uses"),
    ],
}


def linked(name) -> set[tuple[str, str]]:
    """(output section, input file) of every section the link kept."""
    path, _ = PROGRAMS[name]
    return set(size_report.read_map(str(path) + ".map", include_bss=False))


def matches(entries, pattern, section):
    return sorted(f"{source} in {kept}" for kept, source in entries
                  if pattern in source and section in (None, kept))


@pytest.mark.parametrize("name", PROGRAMS)
def test_program_links_nothing_unwanted(name):
    entries = linked(name)
    # The checks below would pass on a map that lists nothing.
    assert matches(entries, "crt2.o", ".text"), f"{name}: no map read"
    found = {why: matches(entries, pattern, section)
             for pattern, section, why in UNWANTED[name] if matches(entries, pattern, section)}
    assert not found, found


@pytest.mark.parametrize("name", ["update_client", "update_client with a key"])
def test_update_client_links_the_jpeg_decoder(name):
    assert matches(linked(name), "libjpeg.a(", ".text")
