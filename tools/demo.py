#!/usr/bin/env python3
"""The main job: the language chooser, then the update client at work.

Run by "./run demo" after the builds. It

1. lays out a sample product folder under build/demo: languages in
   "langues\\" with their flags, help files and the update client's language
   files under "langues\\update\\", and the definitions file "eas" written
   by our pack writer with its first entry compressed;
2. runs language_chooser.exe (64-bit build) under Wine, which lists the
   languages with their flags; the demo picks one and confirms, so the
   chooser writes "langue.ini" and starts the product (a stand-in);
3. starts the bundled update server (tools/update_server.py) on the address
   compiled into the client, offering an update;
4. runs update_client.exe under Wine in the language just chosen, on
   $DISPLAY when it is set, otherwise on an Xvfb of its own (both programs
   run there), first attended (the demo clicks the
   update button) and then unattended with "auto"; screenshots are saved and
   their paths printed;
5. prints what happened: the requests the server received, the verdict on
   the screen, and the program that was handed over.

    demo.py [--folder DIR] [--language NAME]
"""

from __future__ import annotations

import argparse
import concurrent.futures
import json
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path
from typing import Optional

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))

import demo_chooser  # noqa: E402  (sample languages, display, Wine prefix, desktop)

BUILD_ROOT = Path(os.environ.get("BUILD_ROOT") or ROOT / "build").resolve()
# The update server's address compiled into the client (UPDATE_SERVER_HOST,
# whose default is the bundled server on loopback; a build configured with
# another loopback address is shown with the same variable set).
SERVER = os.environ.get("UPDATE_SERVER_HOST") or "127.0.0.1:8631"
SERVER_PORT = int(SERVER.rpartition(":")[2])
DEFINITIONS = ("2024.05.01", "01/05/2024")
OFFER = {"version": "5.3", "date": "15/06/2024"}


def program(build: str, name: str) -> Path:
    folder = BUILD_ROOT / build
    for sub in ("updater", "chooser", "tools", "tests"):
        candidate = folder / sub / name
        if candidate.is_file():
            return candidate
    raise SystemExit(f"{name} is not built in {folder} (run ./run build)")


# ---- the product folder -----------------------------------------------------


def prepare_product(folder: Path) -> None:
    """The product's files, as an installation would leave them."""
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    demo_chooser.lay_out_languages(folder)
    version, date = DEFINITIONS
    text = folder / "definitions.txt"
    text.write_bytes(f"version_definition={version}\r\ndate={date}\r\n"
                     f"; filter definitions of the demo\r\n".encode("cp1252"))
    rules = folder / "rules.txt"
    rules.write_bytes(b"".join(b"rule %d = spam score %d\r\n" % (i, i % 7) for i in range(400)))
    result = subprocess.run([str(program("native", "pack_writer")), str(folder / "eas"),
                             "--compressed", str(text), str(rules)],
                            stderr=subprocess.PIPE, check=False)
    if result.returncode != 0:
        raise SystemExit("pack_writer failed: " + result.stderr.decode(errors="replace"))
    text.unlink()
    rules.unlink()
    print(f"product folder: {folder}")
    print(f"  eas: {(folder / 'eas').stat().st_size} bytes, first entry compressed "
          f"(version_definition={version}, date={date})")


def choose_language_step(folder: Path, desktop: demo_chooser.Desktop, language: str) -> str:
    """Runs language_chooser.exe in the product folder: the demo clicks the
    language and the confirm button; the chooser writes "langue.ini",
    installs the help files and starts the product (a stand-in here).
    Returns the language it recorded."""
    print(f"\nlanguage_chooser.exe: the user picks {language} and confirms")
    for name in ("tessarin.exe", "traducteur.exe"):
        shutil.copy2(program("win64", "standin.exe"), folder / name)
    started_before = len(read_starts(folder))
    chosen = demo_chooser.choose_language(folder, program("win64", "language_chooser.exe"),
                                          desktop, language, log=lambda text: print("  " + text))
    if chosen is None:
        raise SystemExit("the language chooser recorded no language")
    print(f"  langue.ini names {chosen}.txt; aide.chm and bon.htm are {chosen}'s")
    # The chooser does not wait for the product: it records its start later.
    demo_chooser.wait_for(lambda: len(read_starts(folder)) > started_before, timeout=30)
    for record in read_starts(folder)[started_before:]:
        print(f"  started {record.get('program')} in {record.get('folder')}")
    return chosen


# ---- the update server ----------------------------------------------------------


class UpdateServer:
    def __init__(self, folder: Path):
        self.folder = folder
        folder.mkdir(parents=True, exist_ok=True)
        self.scenario = folder / "scenario.json"
        self.log = folder / "requests.jsonl"
        self.process: Optional[subprocess.Popen] = None

    def offer(self, routes: dict) -> None:
        self.scenario.write_text(json.dumps({"routes": routes}, indent=1))

    def start(self) -> None:
        self.log.write_text("")
        self.process = subprocess.Popen(
            [sys.executable, str(ROOT / "tools" / "update_server.py"), "--port",
             str(SERVER_PORT), "--scenario", str(self.scenario), "--log", str(self.log),
             "--bind-wait", "120"], stdout=subprocess.PIPE)
        line = self.process.stdout.readline().decode().strip()
        if not line.startswith("port"):
            raise SystemExit(f"the update server did not start on {SERVER}")
        print(f"update server on http://{SERVER}/ (pid {self.process.pid})")

    def stop(self) -> None:
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)

    def requests(self, since: int = 0) -> list[dict]:
        lines = [line for line in self.log.read_text().splitlines() if line.strip()]
        return [json.loads(line) for line in lines[since:]]


# ---- the update client ------------------------------------------------------------


def status_text(state: dict) -> str:
    for control in state.get("controls", []):
        if control.get("class") == "msctls_statusbar32":
            return (control.get("fields") or [""])[0]
    return ""


def run_update_client(folder: Path, desktop: demo_chooser.Desktop, server: UpdateServer,
                      args: list[str], click: bool, name: str) -> dict:
    """Runs update_client.exe in folder; with click, presses the update button
    once it is offered. What happened, for the report."""
    before = len(server.requests())
    started_before = len(read_starts(folder))
    exe = program("win64", "update_client.exe")
    def window_state(wait_ms: int = 2000) -> dict:
        return desktop.probe("--exe", "update_client.exe", "--visible", "--wait", str(wait_ms))

    # The first look starts before the program: an unattended run can show
    # its window for less time than a probe takes to start under Wine.
    looks = concurrent.futures.ThreadPoolExecutor(max_workers=1)
    first_look = [looks.submit(window_state, 30000)]
    began = time.monotonic()
    process = subprocess.Popen([desktop.wine(), str(exe), *args], cwd=folder,
                               env=desktop.wine_env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    seen: dict = {"window": None, "verdict": "", "clicked": False}
    try:
        def offered() -> Optional[dict]:
            state = first_look.pop().result() if first_look else window_state()
            if "controls" not in state:
                return state if process.poll() is not None else None
            seen["window"] = state
            text = status_text(state)
            if text:
                seen["verdict"] = text
            button = demo_chooser._control(state, 3)
            return state if button and button.get("enabled") else None

        state = demo_chooser.wait_for(offered, timeout=90)
        # The last description the probe could make whole: an unattended run
        # may end before the demo looks, or while it looks.
        if seen["window"]:
            window = seen["window"]["window"]
            print(f"  window \"{window['title']}\", inner area {window['client'][0]} x "
                  f"{window['client'][1]} at {window['client_origin']}")
            for number in (4, 6, 2):
                control = demo_chooser._control(seen["window"], number)
                if control:
                    print(f"  {control['text']}")
        elif process.poll() is not None:
            print("  the window had already gone before the demo could read it")
        else:
            print("  no window could be read within 90 s")
        if state and "controls" in state:
            print(f"  status line: {status_text(state)}")
            desktop.screenshot(f"{name}-1-offer")
            if click:
                time.sleep(1.2)  # let the bar finish its sweep for the picture
                button = demo_chooser._control(state, 3)
                print("  clicking the update button")
                desktop.click(*demo_chooser._centre(button["rect"]))
                seen["clicked"] = True
        process.wait(timeout=90)
        seen["exit_code"] = process.returncode
        seen["seconds"] = time.monotonic() - began
    finally:
        if process.poll() is None:
            process.terminate()
            process.wait(timeout=10)
        looks.shutdown(wait=True)
    seen["requests"] = server.requests(before)
    # The program handed over records its start when it runs, which can be
    # after the client has ended: wait for it when the download was served.
    if any(r["target"].startswith("/files/") and r["status"] == 200 for r in seen["requests"]):
        demo_chooser.wait_for(lambda: len(read_starts(folder)) > started_before, timeout=30)
    seen["started"] = read_starts(folder)[started_before:]
    return seen


def read_starts(folder: Path) -> list[dict]:
    log = folder / "standin.log"
    if not log.exists():
        return []
    return [json.loads(line) for line in log.read_text("latin-1").splitlines() if line.strip()]


def report(seen: dict) -> None:
    print("  requests the server received:")
    for r in seen["requests"]:
        print(f"    {r['method']} {r['target']}  -> {r['status']}")
    print(f"  last status seen on the screen: {seen['verdict'] or '(none)'}")
    for s in seen["started"]:
        print(f"  handed over to {s['program']} in {s['folder']} "
              f"(command line {s['command_line']})")
    if not seen["started"]:
        print("  no program was handed over")
    print(f"  update_client ended with exit code {seen.get('exit_code')} after "
          f"{seen.get('seconds', 0):.1f} s")


def frames_drawn_by_wine(env: dict, display: str, own_display: bool) -> None:
    """On our own Xvfb no window manager draws title bars: Wine then draws
    them itself, so the screenshots show the windows whole. On the user's
    display the window manager does it. (Run on the display the programs
    use: the desktop process that this starts serves the programs after it.)"""
    env = dict(env, DISPLAY=display)
    loader = demo_chooser.Desktop("", env, Path(), None).wine()
    key = r"HKCU\Software\Wine\X11 Driver"
    command = (["reg", "add", key, "/v", "Decorated", "/t", "REG_SZ", "/d", "N", "/f"]
               if own_display else ["reg", "delete", key, "/v", "Decorated", "/f"])
    subprocess.run([loader, *command], env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=False)


def main(argv: Optional[list[str]] = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--folder", type=Path, default=BUILD_ROOT / "demo" / "product")
    parser.add_argument("--language", default="Fran\xe7ais", choices=sorted(demo_chooser.LANGUAGES))
    args = parser.parse_args(argv)

    folder = args.folder.resolve()
    prepare_product(folder)
    server = UpdateServer(folder.parent / "server")
    shutil.copy2(program("win64", "standin.exe"), server.folder / "setup.exe")
    server.offer({
        "/tessarin/version_module_update.php": {"settings": [["version", "1.00"], ["url", ""]]},
        "/tessarin/update.php": {"settings": [
            ["update", "y"], ["url", f"http://{SERVER}/files/setup.exe"],
            ["version", OFFER["version"]], ["date", OFFER["date"]]]},
        "/files/setup.exe": {"file": str(server.folder / "setup.exe")},
    })

    display, xvfb = demo_chooser.start_display()
    shots = None if xvfb is None else BUILD_ROOT / "demo" / "screenshots"
    print(f"display {display}" + (" (own Xvfb; screenshots below)" if xvfb else ""))
    server.start()
    try:
        env = demo_chooser.demo_wine_env()
        frames_drawn_by_wine(env, display, own_display=xvfb is not None)
        desktop = demo_chooser.Desktop(display, env, program("win64", "ui_probe.exe"), shots)
        choose_language_step(folder, desktop, args.language)

        print("\nupdate_client.exe, attended: the user clicks the update button")
        report(run_update_client(folder, desktop, server, [], click=True, name="attended"))

        print("\nupdate_client.exe auto, unattended: no click")
        report(run_update_client(folder, desktop, server, ["auto"], click=False,
                                 name="unattended"))
    finally:
        server.stop()
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
