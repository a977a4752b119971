#!/usr/bin/env python3
"""Measures the update client: the size of each Windows program with the
DLLs it imports, and the time from process start to the verdict on screen
against the local update server, natively and under Wine, next to the time
of the client's two HTTP requests alone on loopback.

    measure_update_client.py [--runs N] [--native EXE] [--win-exe EXE]

The client runs with "auto" against a server whose verdict is "n": the
client shows "Pas de mise a jour disponible" and ends at once, so the time
from start to its exit is the time to the verdict on screen (plus the
orderly end). Under Wine, a run of the stand-in program (which ends at once)
gives the cost of starting a Windows process there, for comparison. The
server listens on the address compiled into the client (127.0.0.1:8631 by
default, UPDATE_SERVER_HOST when the builds were configured with another); native runs use the native build's program (the optimised
native-release build when there is one).
"""

from __future__ import annotations

import argparse
import http.client
import json
import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tools"))
import demo_chooser  # noqa: E402  (display and Wine prefix)

BUILD_ROOT = Path(os.environ.get("BUILD_ROOT") or ROOT / "build").resolve()
# The address the builds were configured with (UPDATE_SERVER_HOST, as ./run).
PORT = int((os.environ.get("UPDATE_SERVER_HOST") or "127.0.0.1:8631").rpartition(":")[2])
MODULE = "/tessarin/version_module_update.php?os=windows"
UPDATE = "/tessarin/update.php?version=2024.05.01&os=windows"


def find(build: str, sub: str, name: str) -> Path | None:
    path = BUILD_ROOT / build / sub / name
    return path if path.is_file() else None


def imports(exe: Path, build: str) -> list[str]:
    tool = {"win32": "i686-w64-mingw32-objdump", "win64": "x86_64-w64-mingw32-objdump"}[build]
    out = subprocess.run([tool, "-p", str(exe)], stdout=subprocess.PIPE, check=False).stdout
    return [line.split(":", 1)[1].strip() for line in out.decode(errors="replace").splitlines()
            if "DLL Name:" in line]


def sizes() -> None:
    print("Windows programs (size, imported DLLs):")
    for build in ("win32", "win64"):
        for sub, name in (("updater", "update_client.exe"), ("chooser", "language_chooser.exe")):
            exe = find(build, sub, name)
            if exe is None:
                print(f"  {build:6} {name}: not built")
                continue
            size = exe.stat().st_size
            print(f"  {build:6} {name:22} {size:8d} bytes ({size / 1024:6.1f} KiB)  "
                  f"{', '.join(imports(exe, build))}")


def product(folder: Path) -> None:
    (folder / "langue.ini").write_bytes(b"francais.txt\r\n")
    entry = b"version_definition=2024.05.01\r\ndate=01/05/2024\r\n"
    (folder / "eas").write_bytes(struct.pack("<II", len(entry), len(entry)) + entry)
    (folder / "temp").mkdir(exist_ok=True)


def start_server(folder: Path) -> subprocess.Popen:
    scenario = folder / "scenario.json"
    scenario.write_text(json.dumps({"routes": {
        "/tessarin/version_module_update.php": {"settings": [["version", "1.00"], ["url", ""]]},
        "/tessarin/update.php": {"settings": [["update", "n"], ["url", ""], ["version", "5.2"],
                                              ["date", "12/03/2024"]]}}}))
    server = subprocess.Popen([sys.executable, str(ROOT / "tools" / "update_server.py"), "--port",
                               str(PORT), "--scenario", str(scenario), "--log",
                               str(folder / "requests.jsonl"), "--bind-wait", "120"],
                              stdout=subprocess.PIPE)
    if not server.stdout.readline().startswith(b"port"):
        raise SystemExit("the update server did not start")
    return server


def requests_alone() -> float:
    """The two requests as the client makes them: one connection each."""
    began = time.perf_counter()
    for target in (MODULE, UPDATE):
        connection = http.client.HTTPConnection("127.0.0.1", PORT)
        connection.request("GET", target)
        response = connection.getresponse()
        response.read()
        connection.close()
    return time.perf_counter() - began


def timed(command: list[str], cwd: Path, env: dict) -> float:
    began = time.perf_counter()
    subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120, check=False)
    return time.perf_counter() - began


def report(label: str, samples: list[float]) -> None:
    ms = sorted(s * 1000 for s in samples)
    print(f"  {label:48} median {statistics.median(ms):8.1f} ms   "
          f"(min {ms[0]:.1f}, max {ms[-1]:.1f}, {len(ms)} runs)")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--native", type=Path,
                        default=find("native-release", "updater", "update_client")
                        or find("native", "updater", "update_client"))
    parser.add_argument("--win-exe", type=Path, default=find("win64", "updater", "update_client.exe"))
    args = parser.parse_args(argv)

    sizes()
    with tempfile.TemporaryDirectory(prefix="measure-") as work:
        folder = Path(work)
        product(folder)
        server = start_server(folder)
        try:
            print(f"\nTimes against the local update server (127.0.0.1:{PORT}, verdict \"n\"):")
            requests_alone()  # warm-up
            report("the two HTTP requests alone (loopback)",
                   [requests_alone() for _ in range(args.runs)])
            env = dict(os.environ, Temp=str(folder / "temp"))
            if args.native and args.native.is_file():
                timed([str(args.native), "auto"], folder, env)
                report(f"native {args.native.parent.parent.name}: start to verdict (exit)",
                       [timed([str(args.native), "auto"], folder, env) for _ in range(args.runs)])
            if args.win_exe and args.win_exe.is_file():
                display, xvfb = demo_chooser.start_display()
                try:
                    wine_env = demo_chooser.demo_wine_env()
                    wine_env["DISPLAY"] = display
                    loader = demo_chooser.Desktop(display, wine_env, Path(), None).wine()
                    standin = args.win_exe.parent.parent / "tools" / "standin.exe"
                    client = [loader, str(args.win_exe), "auto"]
                    timed(client, folder, wine_env)  # warm-up: Wine's own start
                    report("Wine: start to verdict (exit)",
                           [timed(client, folder, wine_env) for _ in range(args.runs)])
                    if standin.is_file():
                        report("Wine: a program that ends at once (stand-in)",
                               [timed([loader, str(standin)], folder, wine_env)
                                for _ in range(args.runs)])
                finally:
                    if xvfb is not None:
                        xvfb.terminate()
                        xvfb.wait(timeout=10)
        finally:
            server.terminate()
            server.wait(timeout=10)
    return 0


if __name__ == "__main__":
    sys.exit(main())
