"""No DLL from the product's folder: both programs (64-bit build) under Wine,
in a product folder where copies of tools/planted_dll.cpp sit under the
names of the system DLLs that the programs load themselves (the ones the
system does not protect as known DLLs). Wine is told to prefer a native
copy of each (WINEDLLOVERRIDES n,b), so the planted copy is taken whenever
the search reaches the program's folder; each copy records the processes
that load it. Wine's own trace of loaded modules (WINEDEBUG=+loaddll) shows
where every module of the program came from.

Static imports resolved before the program's first instruction cannot be
protected by the program; that they are all known DLLs is checked by
test_imports.py. Wine does not treat known DLLs specially (a planted
user32.dll with user32=n,b is loaded), so only the DLLs that the programs
load after their start are planted here. Not planted either: msimg32.dll,
which Wine's uxtheme loads when the progress window draws, through a
delayed import that Wine resolves without the process's restricted search
(a planted copy is loaded with msimg32=n,b, restricted or not).
"""

from __future__ import annotations

import re
import shutil
from pathlib import Path

import pytest

import winerig
from test_language_chooser import Chooser, flags, product, wait_starts  # noqa: F401
from test_update_client import (HOST, Client, assert_started_once_here, lay_out,  # noqa: F401
                                module_reply, module_request, server, update_reply,
                                update_request)

# The DLLs that each program loads after its start, none of them a known
# DLL: itself (WinINet, Winsock, the common controls, uxtheme) or through a
# system DLL (uxtheme imported by the common controls, mpr by WinINet).
# Loads by a system DLL are what the search restricted at start-up protects:
# without it, Wine takes the common controls' uxtheme from the folder.
LOADED_BY = {
    "update_client": ["wininet.dll", "ws2_32.dll", "comctl32.dll", "uxtheme.dll", "mpr.dll"],
    "language_chooser": ["comctl32.dll", "uxtheme.dll"],
}


def planted_dll() -> Path:
    return winerig.build_dir("win64") / "tools" / "planted.dll"


def plant(folder: Path, names: list[str]) -> dict:
    """Copies of the planted DLL under these names; the environment that
    makes Wine prefer them to its own."""
    for name in names:
        shutil.copy2(planted_dll(), folder / name)
    stems = ",".join(Path(n).stem for n in names)
    return {"WINEDLLOVERRIDES": f"{winerig.WINE_ENV['WINEDLLOVERRIDES']};{stems}=n,b",
            "WINEDEBUG": "+pid,+loaddll"}


def planted_loads(folder: Path) -> dict[str, str]:
    """Planted copies that some process loaded: name -> the programs."""
    return {p.name: p.read_text(encoding="latin-1") for p in folder.glob("*.loaded")}


def modules_loaded(trace: Path) -> dict[str, list[str]]:
    """The module paths in Wine's trace of loaded modules (WINEDEBUG
    +pid,+loaddll), lower case, by process (the program and what it
    starts write to the same trace)."""
    loaded: dict[str, list[str]] = {}
    for m in re.finditer(r'^([0-9a-f]+):[0-9a-f]+:trace:loaddll:\w+ Loaded L"([^"]+)" at',
                         trace.read_bytes().decode("latin-1"), re.MULTILINE):
        loaded.setdefault(m.group(1), []).append(m.group(2).replace("\\\\", "\\").lower())
    return loaded


def check_modules(trace: Path, folder: Path, program: str) -> None:
    """Nothing but programs came from the folder, and the program itself
    loaded each DLL that was planted for it (or the test proves nothing)."""
    folder_name = winerig.windows_path(folder).lower() + "\\"
    loaded = modules_loaded(trace)
    from_folder = [m for modules in loaded.values() for m in modules if m.startswith(folder_name)]
    assert all(m.endswith(".exe") for m in from_folder), from_folder
    own = [modules for modules in loaded.values() if folder_name + program + ".exe" in modules]
    assert len(own) == 1, f"no single process of {program} in the trace: {loaded}"
    names = {m.rsplit("\\", 1)[1] for m in own[0]}
    missing = [n for n in LOADED_BY[program] if n not in names]
    assert not missing, f"{program} did not load {missing}: {own[0]}"


def copy_program(folder: Path, program: str) -> Path:
    """The program in the product's folder, where it is installed."""
    return Path(shutil.copy2(winerig.program(program), folder))


class TracedClient(Client):
    """update_client.exe with an environment of its own, Wine's messages
    going to a file."""

    def __init__(self, wine, folder: Path, args, env: dict, trace: Path):
        Client.running.append(self)
        self.wine, self.folder, self.trace = wine, folder, None
        with trace.open("wb") as out:
            self.process = wine.start_program(copy_program(folder, "update_client"), list(args),
                                              cwd=folder, capture=False, env=env, stderr=out)


class TracedChooser(Chooser):
    def __init__(self, wine, folder: Path, env: dict, trace: Path):
        self.wine, self.folder = wine, folder
        with trace.open("wb") as out:
            self.process = wine.start_program(copy_program(folder, "language_chooser"), cwd=folder,
                                              capture=False, env=env, stderr=out)
        Chooser.running.append(self)


@pytest.fixture(autouse=True)
def stop_leftovers(wine):
    yield
    for run in Client.running + Chooser.running:
        if run.process.poll() is None:
            wine.stop_program(run.process)
    Client.running.clear()
    Chooser.running.clear()


@pytest.mark.parametrize("program", sorted(LOADED_BY))
def test_planted_copies_are_taken_where_the_search_is_not_restricted(wine, workdir, program):
    """The fixture is live: a program that keeps the default search order
    loads the planted copies from its folder."""
    probe = copy_program(workdir, "load_library_probe")
    env = plant(workdir, LOADED_BY[program])
    env.pop("WINEDEBUG")
    result = wine.run(probe, LOADED_BY[program], cwd=workdir, env=env)
    folder_name = winerig.windows_path(workdir).lower()
    assert [line.lower().rsplit("\\", 1)[0] for line in result.lines] == \
        [folder_name] * len(LOADED_BY[program]), result.lines
    assert sorted(n.lower() for n in planted_loads(workdir)) == \
        sorted(f"{n}.loaded" for n in LOADED_BY[program])


def test_old_systems_fallback_loads_from_the_system_folder(wine, workdir):
    """Where the search flags are missing (old systems), the programs load
    each DLL by its path in the system folder (no side-by-side version of
    the common controls then). Wine always has the flags, so this is the
    fallback alone, through the probe. Wine looks for the imports of a DLL
    loaded by its full path in the program's folder first, where Windows
    looks in the DLL's own folder first: a planted uxtheme.dll is taken
    when comctl32.dll comes first, so the probe loads uxtheme first."""
    probe = copy_program(workdir, "load_library_probe")
    names = ["uxtheme.dll", "comctl32.dll", "ws2_32.dll", "wininet.dll"]
    env = plant(workdir, names)
    env.pop("WINEDEBUG")
    result = wine.run(probe, ["--by-path", *names], cwd=workdir, env=env)
    assert [line.lower() for line in result.lines] == \
        [f"c:\\windows\\system32\\{n}" for n in names], result.lines
    assert planted_loads(workdir) == {}


def test_update_client_loads_no_dll_from_its_folder(wine, server, workdir):  # noqa: F811
    """A whole update in auto mode over http: module check, update check,
    download, the offered program started."""
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    server.forget()
    server.offer({"/tessarin/version_module_update.php": module_reply(),
                  "/tessarin/update.php": update_reply("y", f"http://{HOST}/files/setup.exe"),
                  "/files/setup.exe": {"file": str(workdir / "offered.exe")}})
    env = plant(workdir, LOADED_BY["update_client"])
    trace = workdir.parent / f"{workdir.name}-loaddll.txt"
    client = TracedClient(wine, workdir, ["auto"], env, trace)
    # A program that took a planted copy may never end: it has no functions.
    winerig.wait_until(lambda: (client.process.poll(), planted_loads(workdir)),
                       lambda ended_or_planted: ended_or_planted != (None, {}),
                       "the client's end or a planted DLL loaded")
    assert planted_loads(workdir) == {}
    assert client.exit_code() == 0
    assert_started_once_here(client)
    assert server.requests() == [module_request(), update_request(), "/files/setup.exe"]
    assert (workdir / "vantrel.exe").read_bytes() == (workdir / "offered.exe").read_bytes()
    check_modules(trace, workdir, "update_client")


def test_language_chooser_loads_no_dll_from_its_folder(wine, workdir, flags):  # noqa: F811
    folder = product(workdir, flags)
    env = plant(folder, LOADED_BY["language_chooser"])
    trace = workdir.parent / f"{workdir.name}-loaddll.txt"
    chooser = TracedChooser(wine, folder, env, trace)
    winerig.wait_until(lambda: (chooser.process.poll(), planted_loads(folder), chooser.state()),
                       lambda r: r[0] is not None or r[1] or "controls" in r[2],
                       "the chooser's window or a planted DLL loaded")
    assert planted_loads(folder) == {}
    chooser.wait_ready()
    chooser.pick("English")
    chooser.click_control(1)
    assert chooser.wait_end() == 0
    assert len(wait_starts(folder, 1)) == 1
    assert (folder / "langue.ini").read_bytes().startswith(b"English.txt")
    assert planted_loads(folder) == {}, "loaded after start-up"
    check_modules(trace, folder, "language_chooser")
