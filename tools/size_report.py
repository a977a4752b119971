#!/usr/bin/env python3
"""Where a program's bytes go, from the GNU linker's map (-Wl,-Map,FILE).

Sums the sizes of the input sections that the link kept, per object file
(archive members named as archive(member)) and per archive, and prints the
biggest contributors. Uninitialised data (.bss, COMMON) takes no room in the
file and is left out unless --bss is given.

    tools/size_report.py build/win32/updater/update_client.map [--top 30]
"""

import argparse
import collections
import os
import re
import sys

# An input section line: " .name  0xADDR  0xSIZE  file", or the name alone on
# its line when it is long, with the rest on the next line.
SECTION_LINE = re.compile(r"^ (\S+)\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(.+)$")
SECTION_NAME_ONLY = re.compile(r"^ (\S+)$")
CONTINUATION = re.compile(r"^\s+0x([0-9a-fA-F]+)\s+0x([0-9a-fA-F]+)\s+(.+)$")
OUTPUT_SECTION = re.compile(r"^(\.\S+|\S+)\s+0x[0-9a-fA-F]+\s+0x[0-9a-fA-F]+")
UNINITIALISED = (".bss", "COMMON")


def read_map(path, include_bss):
    """Returns {(output section, file): bytes} for the sections kept."""
    sizes = collections.Counter()
    in_memory_map = False
    output = ""
    pending = None
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            line = line.rstrip("\n")
            if not in_memory_map:
                in_memory_map = line.startswith("Linker script and memory map")
                continue
            if line.startswith("/DISCARD/"):
                break
            found = OUTPUT_SECTION.match(line)
            if found and not line.startswith(" "):
                output = found.group(1)
                pending = None
                continue
            name, address, size, source = None, 0, 0, None
            found = SECTION_LINE.match(line)
            if found:
                name, address, size, source = (found.group(1), int(found.group(2), 16),
                                               int(found.group(3), 16), found.group(4))
            elif pending is not None:
                found = CONTINUATION.match(line)
                if found:
                    name, address, size, source = (pending, int(found.group(1), 16),
                                                   int(found.group(2), 16), found.group(3))
            pending = None
            if name is None:
                found = SECTION_NAME_ONLY.match(line)
                if found and not found.group(1).startswith("*"):
                    pending = found.group(1)
                continue
            if size == 0 or address == 0:
                continue
            section = output or name
            if not include_bss and (section in UNINITIALISED or name.startswith(UNINITIALISED)):
                continue
            sizes[(section, source.strip())] += size
    if not in_memory_map:
        sys.exit(f"{path}: no memory map in this file (link with -Wl,-Map,FILE)")
    return sizes


def short_name(source):
    """archive.a(member.o) -> libname.a(member.o); a path -> its last part."""
    found = re.match(r"^(.*?)\((.*)\)$", source)
    if found:
        return f"{os.path.basename(found.group(1))}({found.group(2)})"
    return os.path.basename(source)


def archive_of(source):
    found = re.match(r"^(.*?)\((.*)\)$", source)
    return os.path.basename(found.group(1)) if found else "(objects)"


def print_table(title, counter, top):
    total = sum(counter.values())
    print(f"{title}: {total} bytes")
    for name, size in counter.most_common(top):
        print(f"  {size:>9}  {100.0 * size / total if total else 0:5.1f}%  {name}")
    print()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("map", help="linker map file")
    parser.add_argument("--top", type=int, default=25, help="rows per table (default 25)")
    parser.add_argument("--bss", action="store_true", help="count uninitialised data too")
    args = parser.parse_args()

    sizes = read_map(args.map, args.bss)
    per_section = collections.Counter()
    per_archive = collections.Counter()
    per_file = collections.Counter()
    for (section, source), size in sizes.items():
        per_section[section] += size
        per_archive[archive_of(source)] += size
        per_file[short_name(source)] += size

    print_table("Output sections", per_section, args.top)
    print_table("Archives", per_archive, args.top)
    print_table("Object files", per_file, args.top)


if __name__ == "__main__":
    main()
