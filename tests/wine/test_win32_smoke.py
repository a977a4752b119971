"""A first run of the shipped 32-bit programs (the win32 build) under 32-bit
Wine, in a 32-bit prefix of their own: they load, their imports resolve,
Windows accepts their resources and manifest, and their first message box
shows, with the common controls that the manifest asks for. The start-up
paths taken here start no thread, so they also run where 32-bit programs go
through QEMU's user-mode emulator, under which a thread start ends the
process.

The boxes and the window are read by the 32-bit build of the UI probe, run
in the same prefix (a 64-bit program cannot run in a 32-bit prefix).

Where the kernel runs 32-bit programs itself, the shipped client also makes
a whole update in auto mode against the local update server: its threads,
its download and its hand-over, on the runtime that ships (the win32 thread
model, link-time optimisation, the programs' own throw helpers), which the
64-bit test build does not use.

Skipped, with the reason, where the machine cannot run 32-bit programs:
scripts/setup-wine32.sh records why in WINE32_STATUS.
"""

from __future__ import annotations

import re
import shutil
from pathlib import Path

import pytest

import winerig
# The update client module's server fixture comes along with its helpers.
from test_update_client import (HOST, MODULE, UPDATE, lay_out, module_reply,  # noqa: F401
                                module_request, server, update_reply, update_request)

# Where the setup found that 32-bit programs cannot run, every test here is
# skipped with a reason that starts with this (ctest looks for it).
UNAVAILABLE = "32-bit programs cannot run here"

# Each Wine process under the emulator takes seconds to start; a probe gets
# that long per try on top of the rig's deadline for the program itself.
PROBE_TIMEOUT = winerig.DEADLINE

NO_LANGUAGE_INI = "Erreur dans la lecture des langues"
NO_LANGUAGES_FOLDER = "Pas de dossier langues!"

# The common controls that the programs' manifest asks for, version 6 for
# x86, as Windows lays them out side by side; without the manifest (or with
# one for another processor) they come from the system folder instead.
COMMON_CONTROLS_6_X86 = re.compile(
    r"\\winsxs\\x86_microsoft\.windows\.common-controls_[^\\]*_6\.0\.[^\\]*\\comctl32\.dll",
    re.IGNORECASE)


@pytest.fixture(scope="module")
def wine(request):
    reason = winerig.wine32_unavailable()
    if reason is not None:
        pytest.skip(f"{UNAVAILABLE}: {reason}")
    session = winerig.WineSession(request.module.__name__, arch="win32")
    session.start()
    try:
        yield session
    finally:
        session.close()


class Program:
    """One run of a 32-bit program in a folder, seen through the probe."""

    def __init__(self, wine, name: str, folder: Path, args: tuple[str, ...] = ()):
        self.wine = wine
        self.exe = f"{name}.exe"
        self.process = wine.start_program(winerig.program(name, "win32"), list(args),
                                          cwd=folder, capture=False)

    def probe(self, *args: str) -> dict:
        return self.wine.ui_probe(*args, timeout=PROBE_TIMEOUT)

    def boxes(self) -> list[dict]:
        found = self.probe("--boxes", "--exe", self.exe)
        return [b for b in found.get("boxes", []) if b.get("visible")]

    def wait_box(self) -> dict:
        boxes = winerig.wait_until(self.boxes, bool, f"the message box of {self.exe}",
                                   alive=self.process)
        assert len(boxes) == 1, boxes
        return boxes[0]

    def check_common_controls(self) -> None:
        """The program runs with the common controls that its manifest asks
        for. Under the emulator one process cannot read another's memory,
        so its modules cannot be listed: checked only where the kernel runs
        32-bit programs itself."""
        if winerig.wine32_emulated():
            return
        modules = self.probe("--modules", "--exe", self.exe).get("modules", [])
        controls = [m["path"] for m in modules if m["path"].lower().endswith("\\comctl32.dll")]
        assert len(controls) == 1 and COMMON_CONTROLS_6_X86.search(controls[0]), controls

    def window(self) -> dict:
        return self.probe("--exe", self.exe, "--visible")

    def press_ok(self, box: dict) -> None:
        """Return on the box once it has the keyboard focus: a click on its
        text gives it the focus, and Return presses its default button, OK.
        Then waits until the box is gone."""
        left, top, right, bottom = box["rect"]
        self.wine.click((left + right) // 2, top + (bottom - top) // 3)
        self.wine.key("Return")
        winerig.wait_until(self.boxes, lambda boxes: not boxes,
                           f"the message box of {self.exe} closed", alive=self.process)

    def exit_code(self) -> int:
        return self.wine.wait_program(self.process)


def test_update_client_without_language_ini_shows_its_message_and_ends(wine, workdir,
                                                                       screenshot):
    client = Program(wine, "update_client", workdir)
    box = client.wait_box()
    assert (box["text"], box["title"], box["buttons"]) == (NO_LANGUAGE_INI, "", ["OK"])
    assert "error" in client.window(), "a window besides the box"
    client.check_common_controls()
    screenshot()
    client.press_ok(box)
    assert client.exit_code() == 0


def test_language_chooser_without_languages_folder_shows_its_message_and_window(
        wine, workdir, screenshot):
    chooser = Program(wine, "language_chooser", workdir)
    box = chooser.wait_box()
    assert (box["text"], box["title"], box["icon"], box["buttons"]) == \
        (NO_LANGUAGES_FOLDER, "", "none", ["OK"])
    chooser.check_common_controls()
    screenshot("box")
    chooser.press_ok(box)

    def whole(state):
        # The list, the confirm button and the link: start-up is over.
        return {0, 1, 2} <= {c["id"] for c in state.get("controls", [])}
    state = winerig.wait_until(chooser.window, whole, "the chooser's window with its list",
                               alive=chooser.process)
    assert state["window"]["visible"], state
    assert next(c for c in state["controls"] if c["id"] == 0).get("items") == [], state
    screenshot("window")
    # Alt+F4 on the chooser's X window (Wine gives its windows the pid).
    x_window = winerig.wait_until(
        lambda: wine._x(["xdotool", "search", "--onlyvisible", "--pid",
                         str(chooser.process.pid)], check=False).split(),
        bool, "the chooser's X window", alive=chooser.process)[0]
    wine.activate(x_window)
    wine.key("alt+F4")
    assert chooser.exit_code() == 0
    assert not (workdir / "langue.ini").exists()


def test_update_client_downloads_and_hands_over_in_auto_mode(wine, server, workdir):
    if winerig.wine32_emulated():
        pytest.skip("a thread start ends the process under QEMU's emulator")
    lay_out(workdir)
    standin = winerig.program("standin", "win32")
    shutil.copy2(standin, workdir / "offered.exe")
    server.forget()
    server.offer({MODULE: module_reply(),
                  UPDATE: update_reply("y", f"http://{HOST}/files/setup.exe"),
                  "/files/setup.exe": {"file": str(workdir / "offered.exe")}})
    client = Program(wine, "update_client", workdir, ["auto"])
    assert client.exit_code() == 0
    assert server.requests() == [module_request(), update_request(), "/files/setup.exe"]
    assert (workdir / "vantrel.exe").read_bytes() == standin.read_bytes()
    starts = winerig.wait_until(lambda: winerig.read_json_lines(workdir / "standin.log"),
                                bool, "the offered program started")
    assert len(starts) == 1 and starts[0]["program"].lower() == "vantrel.exe", starts
