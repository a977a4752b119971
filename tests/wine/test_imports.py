"""Every Windows program of both builds imports system DLLs only: it runs
when dropped into the product's folder, with no MinGW runtime beside it."""

import re
import subprocess

import pytest

import winerig

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "shell32.dll", "urlmon.dll",
    "wininet.dll", "msvcrt.dll", "advapi32.dll", "ole32.dll", "oleaut32.dll", "msimg32.dll",
    "ws2_32.dll", "comdlg32.dll", "shlwapi.dll", "version.dll", "ntdll.dll", "uxtheme.dll",
    "winmm.dll", "psapi.dll", "dbghelp.dll", "imm32.dll", "winspool.drv", "bcrypt.dll",
    "crypt32.dll", "secur32.dll", "userenv.dll", "rpcrt4.dll",
}
# api-ms-win-crt-*.dll and friends are the system's universal C runtime.
SYSTEM_PATTERN = re.compile(r"^api-ms-win-[a-z0-9-]+\.dll$")

OBJDUMP = {"win32": "i686-w64-mingw32-objdump", "win64": "x86_64-w64-mingw32-objdump"}
DELIVERABLES = ["update_client", "language_chooser"]

# The programs run from the product's folder, which users and installers can
# write to. The loader resolves imports before the program's first
# instruction and looks in the program's own folder first for any DLL that
# the system does not protect as a known DLL, so the shipped programs import
# known DLLs only; they load every other DLL from the system folder
# themselves (common/win32/system_library_win.h, test_dll_search.py).
KNOWN_DLL_IMPORTS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
                     "msvcrt.dll"}
DELIVERABLE_IMPORTS = {
    "update_client": KNOWN_DLL_IMPORTS,
    "language_chooser": KNOWN_DLL_IMPORTS,
}


def imported_dlls(build: str, exe) -> list[str]:
    out = subprocess.run([OBJDUMP[build], "-p", str(exe)], check=True, capture_output=True,
                         text=True).stdout
    return [m.group(1).lower() for m in re.finditer(r"DLL Name:\s*(\S+)", out)]


def programs_of(build: str):
    root = winerig.build_dir(build)
    return sorted(p for p in root.rglob("*.exe") if "CMakeFiles" not in p.parts and "_deps" not in p.parts)


@pytest.mark.parametrize("build", ["win32", "win64"])
def test_deliverables_are_built(build):
    for name in DELIVERABLES:
        assert winerig.program(name, build).is_file()


@pytest.mark.parametrize("build", ["win32", "win64"])
def test_programs_import_system_dlls_only(build):
    programs = programs_of(build)
    names = {p.stem for p in programs}
    assert set(DELIVERABLES) <= names, f"deliverables missing in {winerig.build_dir(build)}"
    problems = {}
    for exe in programs:
        dlls = imported_dlls(build, exe)
        assert "kernel32.dll" in dlls, f"{exe}: no imports read ({dlls})"
        foreign = [d for d in dlls if d not in SYSTEM_DLLS and not SYSTEM_PATTERN.match(d)]
        if foreign:
            problems[str(exe)] = foreign
    assert not problems, problems


@pytest.mark.parametrize("build", ["win32", "win64"])
@pytest.mark.parametrize("name", DELIVERABLES)
def test_deliverables_import_exactly_the_allowed_known_dlls(build, name):
    dlls = imported_dlls(build, winerig.program(name, build))
    assert sorted(dlls) == sorted(DELIVERABLE_IMPORTS[name]), dlls


@pytest.mark.parametrize("build", ["win32", "win64"])
def test_machine_type(build):
    # The shipped build is 32-bit, the Wine build 64-bit.
    expected = {"win32": "i386", "win64": "x86-64"}[build]
    for name in DELIVERABLES:
        out = subprocess.run([OBJDUMP[build], "-f", str(winerig.program(name, build))],
                             check=True, capture_output=True, text=True).stdout
        assert expected in out, out
