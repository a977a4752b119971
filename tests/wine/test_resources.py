"""The programs' version resource, read back from the built files by the
toolchain's resource decompiler: what Windows shows in the file's properties."""

import re
import subprocess

import pytest

import winerig

WINDRES = {"win32": "i686-w64-mingw32-windres", "win64": "x86_64-w64-mingw32-windres"}
DESCRIPTIONS = {"update_client": "Tessarin update client",
                "language_chooser": "Tessarin language chooser"}


def version_resource(build: str, name: str) -> tuple[str, dict[str, str]]:
    """The VERSIONINFO block as text, and its string values."""
    text = subprocess.run([WINDRES[build], "-i", str(winerig.program(name, build)), "-O", "rc"],
                          check=True, capture_output=True, text=True, encoding="latin-1").stdout
    start = text.find("VERSIONINFO")
    assert start >= 0, f"{name} ({build}) has no version resource"
    block = text[start:text.find("\nEND", start)]
    return block, dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', block))


def configured_company(build: str) -> str:
    cache = (winerig.build_dir(build) / "CMakeCache.txt").read_text(encoding="latin-1")
    return re.search(r"^VERSION_COMPANY:STRING=(.*)$", cache, re.M).group(1)


@pytest.mark.parametrize("build", ["win32", "win64"])
@pytest.mark.parametrize("name", sorted(DESCRIPTIONS))
def test_version_resource(build, name):
    block, values = version_resource(build, name)
    # The update client's module version, which the server's replies are
    # compared with, is the version in its properties too.
    assert re.search(r"FILEVERSION 1, 0, 0, 0\b", block), block
    assert re.search(r"PRODUCTVERSION 1, 0, 0, 0\b", block), block
    assert values == {
        "CompanyName": configured_company(build),
        "FileDescription": DESCRIPTIONS[name],
        "FileVersion": "1.00",
        "InternalName": name,
        "OriginalFilename": name + ".exe",
        "ProductName": "Tessarin",
        "ProductVersion": "1.00",
    }
    assert re.search(r"VALUE \"Translation\", 0x40c, 1252", block), block
