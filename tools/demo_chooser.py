#!/usr/bin/env python3
"""The language chooser's step of the demo, and the sample languages.

lay_out_languages() puts languages into a product folder the way the product
delivers them: "langues\\NAME.txt" with its flag "langues\\NAME.ico" (drawn
here with ImageMagick), the help file and page NAME.chm and NAME.htm beside
the programs, and the update client's texts in "langues\\update\\NAME.txt".

choose_language() runs language_chooser.exe under Wine in that folder, picks
a language with real mouse clicks (xdotool), confirms, and returns the name
that the chooser recorded in "langue.ini". Screenshots go to a folder of the
caller's choice and their paths are printed.

Run on its own it lays out a sample folder and shows the chooser:

    demo_chooser.py [--pick English] [--folder DIR]

Without $DISPLAY it starts its own Xvfb (screenshots are then the way to see
it). The Wine prefix is build/wine/demo, made once.
"""

from __future__ import annotations

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path
from typing import Callable, Optional

ROOT = Path(__file__).resolve().parent.parent

# Name: flag (ImageMagick drawing on 32 x 32), update client texts (entries 1
# to 15 of its catalogue), help page.
LANGUAGES: dict[str, dict] = {
    "Fran\xe7ais": {
        "flag": ["-fill", "#0055a4", "-draw", "rectangle 0,0 10,31",
                 "-fill", "#ef4135", "-draw", "rectangle 21,0 31,31"],
        "background": "white",
        "update_texts": [
            "Vantrel - mise \xe0 jour", "Version disponible : ", "Bienvenue dans Vantrel",
            "Version install\xe9 : ", "",
            "Recherche d'une mise \xe0 jour de Vantrel...",
            "T\xe9l\xe9chargement de la mise \xe0 jour de Vantrel...",
            "Recherche d'une mise \xe0 jour de Parvisol...",
            "Connexion Impossible, v\xe9rifiez votre PareFeu...",
            "Pas de mise \xe0 jour disponible", "Une mise \xe0 jour est disponible",
            "T\xe9l\xe9charger", "Une erreur s'est produite", "", ""],
        "page": "Aide de Tessarin en fran\xe7ais",
    },
    "English": {
        "flag": ["-fill", "#c8102e", "-draw", "rectangle 13,0 18,31",
                 "-draw", "rectangle 0,13 31,18"],
        "background": "white",
        "update_texts": [
            "Vantrel update", "Available version: ", "Welcome", "Installed version: ", "",
            "Looking for a new Vantrel...", "Downloading the new Vantrel...",
            "Looking for a Parvisol update...", "Cannot connect, check your firewall...",
            "No update available", "An update is available", "Download",
            "An error occurred", "", ""],
        "page": "Tessarin help in English",
    },
    "Deutsch": {
        "flag": ["-fill", "black", "-draw", "rectangle 0,0 31,10",
                 "-fill", "#dd0000", "-draw", "rectangle 0,11 31,21",
                 "-fill", "#ffce00", "-draw", "rectangle 0,22 31,31"],
        "background": "white",
        "update_texts": [
            "Vantrel-Aktualisierung", "Verf\xfcgbare Version: ", "Willkommen",
            "Installierte Version: ", "", "Suche nach einem neuen Vantrel...",
            "Neues Vantrel wird geladen...", "Suche nach einer Parvisol-Aktualisierung...",
            "Keine Verbindung, bitte die Firewall pr\xfcfen...",
            "Keine Aktualisierung verf\xfcgbar", "Eine Aktualisierung ist verf\xfcgbar",
            "Herunterladen", "Ein Fehler ist aufgetreten", "", ""],
        "page": "Tessarin-Hilfe auf Deutsch",
    },
}


def make_flag(path: Path, drawing: list[str], background: str = "white") -> None:
    """Draws a 32 x 32 flag with a 16 x 16 size beside it, as an icon file."""
    path.parent.mkdir(parents=True, exist_ok=True)
    subprocess.run(["convert", "-size", "32x32", f"xc:{background}", *drawing,
                    "-define", "icon:auto-resize=32,16", str(path)], check=True)


def lay_out_languages(folder: Path, names: Optional[list[str]] = None) -> list[str]:
    """Writes the given languages (all sample languages by default) into the
    product folder; returns their names."""
    folder = Path(folder)
    names = list(names or LANGUAGES)
    for name in names:
        language = LANGUAGES[name]
        langues = folder / "langues"
        (langues / "update").mkdir(parents=True, exist_ok=True)
        (langues / (name + ".txt")).write_bytes(
            f"[{name}]\r\nlangue={name}\r\n".encode("cp1252"))
        make_flag((langues / (name + ".ico")), language["flag"], language["background"])
        (langues / "update" / (name + ".txt")).write_bytes(
            "".join(t + "\r\n" for t in language["update_texts"]).encode("cp1252"))
        (folder / (name + ".chm")).write_bytes(
            f"ITSF help of {name}".encode("cp1252"))
        (folder / (name + ".htm")).write_bytes(
            f"<html><body><p>{language['page']}</p></body></html>\r\n".encode("cp1252"))
    return names


def update_title(name: str) -> str:
    """The update client's window title in a sample language."""
    return LANGUAGES[name]["update_texts"][0]


# ---- running the chooser ------------------------------------------------------


class Desktop:
    """Where the chooser runs: an X display, a Wine prefix and the helper
    programs (the UI probe), plus somewhere to put screenshots."""

    def __init__(self, display: str, wine_env: dict, probe: Path, shots: Optional[Path]):
        self.display = display
        self.wine_env = dict(wine_env)
        self.wine_env["DISPLAY"] = display
        self.probe_exe = probe
        self.shots = shots
        self.shot_paths: list[Path] = []

    def wine(self) -> str:
        for candidate in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine")):
            if candidate and os.access(candidate, os.X_OK):
                return candidate
        raise RuntimeError("wine64 is not installed")

    def x(self, *args: str) -> str:
        env = dict(os.environ, DISPLAY=self.display)
        return subprocess.run(list(args), env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, check=False,
                              timeout=30).stdout.decode("latin-1")

    def probe(self, *args: str) -> dict:
        # Output through a file: Wine's helper processes inherit the probe's
        # handles and would keep a pipe open after the probe has ended.
        with tempfile.TemporaryFile() as out:
            try:
                subprocess.run([self.wine(), str(self.probe_exe), *args], env=self.wine_env,
                               stdout=out, stderr=subprocess.DEVNULL, timeout=60, check=False)
            except subprocess.TimeoutExpired:
                return {}
            out.seek(0)
            text = out.read().decode("utf-8", "replace")
        try:
            return json.loads(text or "{}")
        except json.JSONDecodeError:
            return {}

    def click(self, x: int, y: int) -> None:
        self.x("xdotool", "mousemove", "--sync", str(x), str(y), "click", "1")

    def screenshot(self, name: str) -> Optional[Path]:
        if self.shots is None:
            return None
        self.shots.mkdir(parents=True, exist_ok=True)
        target = self.shots / f"{name}.png"
        self.x("import", "-window", "root", str(target))
        if target.exists():
            self.shot_paths.append(target)
            print(f"screenshot: {target}", flush=True)
        return target


def _centre(rect: list[int]) -> tuple[int, int]:
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


def _control(state: dict, number: int) -> Optional[dict]:
    for control in state.get("controls", []):
        if control.get("id") == number:
            return control
    return None


def wait_for(condition: Callable[[], object], timeout: float, step: float = 0.2):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return None


def choose_language(folder: Path, chooser_exe: Path, desktop: Desktop, pick: str,
                    log: Callable[[str], None] = print, timeout: float = 60) -> Optional[str]:
    """Runs the chooser in folder, clicks the language named pick, confirms,
    and waits for the chooser to end. The name recorded in langue.ini (its
    first line without ".txt"), or None when nothing was recorded."""
    folder = Path(folder)
    process = subprocess.Popen([desktop.wine(), str(chooser_exe)], cwd=folder,
                               env=desktop.wine_env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        def listed() -> Optional[dict]:
            state = desktop.probe("--exe", "language_chooser.exe", "--visible", "--wait", "2000")
            listing = _control(state, 0)
            if listing and listing.get("view") == 0 and listing.get("items"):
                return state
            return None

        state = wait_for(listed, timeout)
        if state is None:
            log("the language chooser did not show its languages")
            return None
        labels = [item["text"] for item in _control(state, 0)["items"]]
        log("languages offered: " + ", ".join(labels))
        desktop.screenshot("chooser-1-languages")
        wanted = next((item for item in _control(state, 0)["items"] if item["text"] == pick), None)
        if wanted is None:
            log(f"{pick} is not offered")
            return None
        desktop.click(*_centre(wanted["rect"]))
        time.sleep(0.5)  # let the title animation name the choice once
        state = desktop.probe("--exe", "language_chooser.exe", "--visible", "--wait", "2000")
        confirm = _control(state, 1)
        if confirm is None:
            log("the chooser's window had gone before the demo could confirm"
                if process.poll() is not None else "the chooser's window could not be read")
            return None
        log("title now: " + state["window"]["title"].strip())
        desktop.screenshot("chooser-2-picked")
        desktop.click(*_centre(confirm["rect"]))
        process.wait(timeout=timeout)
        log(f"language chooser ended with exit code {process.returncode}")
    finally:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=10)
    ini = folder / "langue.ini"
    if not ini.is_file():
        return None
    line = ini.read_bytes().decode("cp1252").split("\r\n")[0]
    return line[:-4] if line.endswith(".txt") else line


# ---- on its own -----------------------------------------------------------------


def _build_program(name: str) -> Path:
    build = Path(os.environ.get("WIN64_BUILD_DIR") or ROOT / "build" / "win64")
    for sub in ("chooser", "tools", "updater", "tests"):
        candidate = build / sub / (name + ".exe")
        if candidate.is_file():
            return candidate
    raise SystemExit(f"{name}.exe is not built in {build} (run ./run build)")


def start_display() -> tuple[str, Optional[subprocess.Popen]]:
    """$DISPLAY when set; otherwise an Xvfb of our own (stop it by its id)."""
    if os.environ.get("DISPLAY"):
        return os.environ["DISPLAY"], None
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(write_fd,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_fd)
    with os.fdopen(read_fd) as pipe:
        number = pipe.readline().strip()
    if not number.isdigit():
        xvfb.terminate()
        raise SystemExit("Xvfb did not start")
    return f":{number}", xvfb


def demo_wine_env() -> dict:
    """A Wine prefix kept for the demo under build/wine/demo, made on first
    use (about ten seconds)."""
    prefix = ROOT / "build" / "wine" / "demo"
    env = dict(os.environ)
    env.pop("DISPLAY", None)  # no dialogs of Wine's own while it sets up
    env.update({"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml=",
                "WINEPREFIX": str(prefix)})
    ready = prefix / ".demo-ready"
    if not ready.exists():
        print("making the Wine prefix for the demo...", flush=True)
        prefix.parent.mkdir(parents=True, exist_ok=True)
        loader = Desktop("", env, Path(), None).wine()
        subprocess.run([loader, "wineboot", "-i"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=False)
        server = Path(loader).with_name("wineserver")
        subprocess.run([str(server) if server.exists() else "wineserver", "-w"], env=env,
                       timeout=300, check=False)
        ready.write_text("ready\n")
    return env


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pick", default="English", choices=sorted(LANGUAGES))
    parser.add_argument("--folder", type=Path)
    args = parser.parse_args(argv)

    folder = args.folder or Path(tempfile.mkdtemp(prefix="tessarin-"))
    folder.mkdir(parents=True, exist_ok=True)
    lay_out_languages(folder)
    shutil.copy2(_build_program("standin"), folder / "tessarin.exe")
    shutil.copy2(_build_program("standin"), folder / "traducteur.exe")
    print(f"product folder: {folder}")

    display, xvfb = start_display()
    try:
        env = demo_wine_env()
        desktop = Desktop(display, env, _build_program("ui_probe"),
                          ROOT / "build" / "artifacts" / "demo" if xvfb else None)
        chosen = choose_language(folder, _build_program("language_chooser"), desktop, args.pick)
    finally:
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait(timeout=10)
    if chosen is None:
        print("no language was recorded")
        return 1
    print(f"langue.ini names {chosen}.txt")
    started = [json.loads(line) for line in
               (folder / "standin.log").read_text("latin-1").splitlines()
               if line.strip()] if (folder / "standin.log").exists() else []
    for record in started:
        print(f"started: {record.get('program')} in {record.get('folder')}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
