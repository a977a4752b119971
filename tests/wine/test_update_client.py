"""The real update_client.exe (64-bit build) under Wine against the local
update server: real HTTP on loopback, real clicks (xdotool), its window read
by the UI probe, the offered programs played by the stand-in, which records
where and how it was started, and a screenshot of every scenario under
ARTIFACTS_DIR.

The server's host is compiled into the program (UPDATE_SERVER_HOST, by
default 127.0.0.1:8631), so the server runs on that port. ctest runs each
module that serves it (and each shard of this one) in a network namespace of
its own (own_network.py), where the port is free; where the machine has no
namespaces, they take turns (RESOURCE_LOCK), and the server waits for the
port when another run holds it.
"""

from __future__ import annotations

import contextlib
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import time
from pathlib import Path

import pytest

import winerig

HOST = os.environ.get("UPDATE_SERVER_HOST") or "127.0.0.1:8631"
PORT = int(HOST.rpartition(":")[2])
MODULE = "/tessarin/version_module_update.php"
UPDATE = "/tessarin/update.php"
VERSION = "2024.05.01"
DATE = "01/05/2024"

# The built-in catalogue, as the window shows it.
ENTRY = {
    1: "Vantrel",
    2: "Version disponible : ",
    3: "Bienvenue",
    4: "Version install\xe9 : ",
    6: "Recherche d'une mise \xe0 jour de Vantrel...",
    7: "T\xe9l\xe9chargement de la mise \xe0 jour de Vantrel...",
    8: "Recherche d'une mise \xe0 jour de Parvisol...",
    9: "Connexion Impossible, v\xe9rifiez votre PareFeu...",
    10: "Pas de mise \xe0 jour disponible",
    11: "Une mise \xe0 jour est disponible",
    13: "Une erreur s'est produite",
}


def settings(*pairs, line_end="\r\n"):
    return {"settings": [list(p) for p in pairs], "line_end": line_end}


def module_reply(version="1.00", url=""):
    return settings(("version", version), ("url", url))


def update_reply(verdict, url="", **extra):
    route = settings(("update", verdict), ("url", url), ("version", "5.2"), ("date", "12/03/2024"))
    route.update(extra)
    return route


def free_port() -> int:
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """tools/update_server.py on a port, with its scenario and request log."""

    def __init__(self, folder: Path, port: int = PORT, options: list[str] | None = None):
        self.folder = folder
        self.port = port
        self.options = list(options or [])
        self.scenario = folder / f"scenario-{port}.json"
        self.log = folder / f"requests-{port}.jsonl"
        self.process = None
        self.offer({})

    def start(self) -> "Server":
        script = winerig.SOURCE_DIR / "tools" / "update_server.py"
        self.process = subprocess.Popen(
            [sys.executable, str(script), "--port", str(self.port), "--scenario",
             str(self.scenario), "--log", str(self.log), "--bind-wait", "300", *self.options],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        line = self.process.stdout.readline().decode()
        if not line.startswith("port "):
            raise RuntimeError(f"the update server did not start on port {self.port}")
        return self

    def stop(self) -> None:
        if self.process is not None and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process = None

    def offer(self, routes: dict) -> None:
        partial = self.scenario.with_suffix(".partial")
        partial.write_text(json.dumps({"routes": routes}))
        partial.replace(self.scenario)

    def requests(self) -> list[str]:
        return [e["target"] for e in winerig.read_json_lines(self.log)]

    def forget(self) -> None:
        self.log.write_text("")

    @contextlib.contextmanager
    def down(self):
        """Nothing answers on the port: it is held by a socket that never
        listens, so connections are refused (and no other server takes it)."""
        self.stop()
        holder = socket.socket()
        # Bound despite the stopped server's connections in TIME_WAIT, but
        # never beside a listener.
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        deadline = time.monotonic() + 300
        while True:
            try:
                holder.bind(("127.0.0.1", self.port))
                break
            except OSError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.2)
        try:
            yield
        finally:
            holder.close()
            self.start()


@pytest.fixture(scope="module", autouse=True)
def drawn_frames(wine):
    """No window manager runs on the test display: Wine draws the title bar
    and its close box itself only when windows are not left to one."""
    wine.run("reg", ["add", r"HKCU\Software\Wine\X11 Driver", "/v", "Decorated", "/t", "REG_SZ",
                     "/d", "N", "/f"])


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    s = Server(tmp_path_factory.mktemp("server")).start()
    try:
        yield s
    finally:
        s.stop()


@pytest.fixture(autouse=True)
def stop_leftover_clients(wine):
    """A client that a failed test left running would answer the next
    test's probe."""
    yield
    for client in Client.running:
        if client.process.poll() is None:
            wine.stop_program(client.process)
    Client.running.clear()


@pytest.fixture
def offered(server):
    """Clears the request log; the test sets the offer."""
    server.forget()
    server.offer({})
    return server


def plain_pack(entry: bytes) -> bytes:
    return struct.pack("<II", len(entry), len(entry)) + entry


def lay_out(folder: Path, language_ini: bytes | None = b"francais.txt\r\n",
            definitions: bool = True) -> Path:
    if language_ini is not None:
        (folder / "langue.ini").write_bytes(language_ini)
    if definitions:
        (folder / "eas").write_bytes(plain_pack(
            f"version_definition={VERSION}\r\ndate={DATE}\r\n".encode()))
    return folder


def standin_bytes() -> bytes:
    return winerig.program("standin").read_bytes()


class Client:
    """One run of update_client.exe in a product folder."""

    running: list["Client"] = []

    def __init__(self, wine, folder: Path, args=(), via_batch: str | None = None,
                 trace_status: bool = False):
        Client.running.append(self)
        self.wine = wine
        self.folder = folder
        exe = winerig.program("update_client")
        self.trace = None
        if trace_status:
            # Wine's status-bar trace lists every text the bar is given: the
            # only witness of a text shown just before the process ends.
            self.trace = folder / "status-trace.txt"
            with self.trace.open("wb") as trace:
                self.process = wine.start_program(exe, list(args), cwd=folder, capture=False,
                                                  env={"WINEDEBUG": "trace+statusbar"},
                                                  stderr=trace)
            return
        if via_batch is not None:
            # A batch file gives the program exactly this command line.
            # (Not "start.bat": cmd would take that for its own start command.)
            (folder / "run_client.bat").write_bytes(
                f'"{winerig.windows_path(exe)}" {via_batch}\r\n'.encode())
            self.process = wine.start_program("cmd.exe", ["/c", "run_client.bat"], cwd=folder,
                                              capture=False)
        else:
            self.process = wine.start_program(exe, list(args), cwd=folder, capture=False)

    # ---- reading ----------------------------------------------------------

    def probe(self, *args: str) -> dict:
        return self.wine.ui_probe(*args, timeout=90)

    def state(self, wait_ms: int = 0) -> dict:
        return self.probe("--exe", "update_client.exe", "--visible", "--wait", str(wait_ms))

    @staticmethod
    def control(state: dict, number: int) -> dict:
        for c in state.get("controls", []):
            if c["id"] == number:
                return c
        raise AssertionError(f"no control {number} in {state}")

    @staticmethod
    def status(state: dict) -> str:
        for c in state.get("controls", []):
            if c["class"] == "msctls_statusbar32":
                return (c.get("fields") or [""])[0]
        return ""

    def wait(self, condition, timeout: float = winerig.DEADLINE, what: str = "") -> dict:
        deadline = time.monotonic() + timeout
        state = {}
        while time.monotonic() < deadline:
            state = self.state(wait_ms=2000)
            if "controls" in state and condition(state):
                return state
            if self.process.poll() is not None:
                break
            time.sleep(0.2)
        raise AssertionError(f"not reached: {what}; last state {state}")

    def wait_status(self, text: str, timeout: float = winerig.DEADLINE) -> dict:
        return self.wait(lambda s: self.status(s) == text, timeout, f"status {text!r}")

    def look(self) -> dict:
        """The window as it is now. A probe that starts while Wine is busy
        can miss the window once; it is asked again, until the program
        ends."""
        return self.wait(lambda state: True, what="the window")

    def wait_resting(self, timeout: float = winerig.DEADLINE) -> dict:
        """The check is over: the progress bar rests at 100."""
        def resting(state):
            if self.control(state, 1)["progress"]["pos"] != 100:
                return False
            time.sleep(1.3)  # longer than one sweep
            return self.control(self.look(), 1)["progress"]["pos"] == 100
        return self.wait(resting, timeout, "progress bar at rest")

    # ---- acting -----------------------------------------------------------

    def click_control(self, number: int, state: dict | None = None) -> None:
        """Clicks the middle of the control, where it is in state (a new
        probe when none is given)."""
        left, top, right, bottom = self.control(state or self.look(), number)["rect"]
        self.wine.click((left + right) // 2, (top + bottom) // 2)

    def press_ok(self, box: dict) -> None:
        """Return on the message box once it has the keyboard focus: a click
        on its text gives it the focus, and Return presses its default
        button, OK."""
        left, top, right, bottom = box["rect"]
        self.wine.click((left + right) // 2, top + (bottom - top) // 3)
        self.wine.key("Return")

    def click_close_box(self) -> None:
        """Clicks the close box that Wine draws in the title bar (no window
        manager runs on the test display)."""
        window = self.look()["window"]
        left, top, right, _ = window["rect"]
        origin_x, origin_y = window["client_origin"]
        frame = origin_x - left
        caption = origin_y - top - frame
        self.wine.click(right - frame - caption // 2 - 2, top + frame + caption // 2)

    def statuses_shown(self) -> list[str]:
        """Every text the status bar was given, in order (trace_status)."""
        texts = []
        for line in self.trace.read_bytes().decode("latin-1").splitlines():
            head = line.find("STATUSBAR_SetTextT part 0, text \"")
            if head >= 0 and line.endswith('"'):
                escaped = line[head + len("STATUSBAR_SetTextT part 0, text \""):-1]
                texts.append(escaped.encode("latin-1").decode("unicode_escape"))
        return texts

    def exit_code(self, timeout: float = winerig.DEADLINE) -> int:
        return self.wine.wait_program(self.process, timeout)

    def starts(self) -> list[dict]:
        return winerig.read_json_lines(self.folder / "standin.log")

    def wait_starts(self, count: int, timeout: float = winerig.DEADLINE) -> list[dict]:
        deadline = time.monotonic() + timeout
        while len(self.starts()) < count and time.monotonic() < deadline:
            time.sleep(0.2)
        return self.starts()


# Faults of a hostile server or a broken proxy (tools/update_server.py).
HOSTILE_DOWNLOADS = {
    "chunked": {"fault": "chunked"},
    "chunked_cut": {"fault": "chunked_cut"},
    "chunked_bad": {"fault": "chunked_bad"},
    "length_4g": {"fault": "length_4g"},
    "too_long": {"fault": "too_long"},
    "no_status": {"fault": "no_status"},
    "partial": {"fault": "partial"},
    "silent_head": {"fault": "silent_head"},
    "silent_body": {"fault": "silent_body"},
    "drip": {"fault": "drip", "interval": 1},
    "redirects5": {"fault": "redirects", "count": 5},
    "redirects6": {"fault": "redirects", "count": 6},
    "redirect_loop": {"fault": "redirect_loop"},
    "endless": {"fault": "endless"},
    "cut_close": {"fault": "cut_close"},
}


def module_request():
    return MODULE + "?os=windows"


def update_request(version=VERSION):
    return f"{UPDATE}?version={version}&os=windows"


def assert_started_once_here(client: Client):
    starts = client.wait_starts(1)
    assert len(starts) == 1, starts
    assert starts[0]["program"].lower() == "vantrel.exe"
    assert starts[0]["folder"].rstrip("\\").lower() == \
        winerig.windows_path(client.folder).rstrip("\\").lower()
    assert starts[0]["command_line"].rstrip().rstrip('"').lower().endswith("vantrel.exe"), \
        "no parameters"


def file_requests(server: Server) -> int:
    """Requests for the offered program in the server's log."""
    return server.requests().count("/files/setup.exe")


@contextlib.contextmanager
def double_click_time(wine, milliseconds: int):
    """The double-click time of programs started meanwhile (a user's
    setting; the platform's default is 500 ms)."""
    key = r"HKCU\Control Panel\Mouse"
    wine.run("reg", ["add", key, "/v", "DoubleClickSpeed", "/t", "REG_SZ", "/d",
                     str(milliseconds), "/f"])
    try:
        yield
    finally:
        wine.run("reg", ["add", key, "/v", "DoubleClickSpeed", "/t", "REG_SZ", "/d", "500",
                         "/f"])


def pixel(png: Path, x: int, y: int) -> tuple[int, int, int]:
    raw = subprocess.run(["convert", str(png), "-crop", f"1x1+{x}+{y}", "+repage", "-depth", "8",
                          "rgb:-"], stdout=subprocess.PIPE, check=True).stdout
    return tuple(raw[:3])


# ---- verdicts ---------------------------------------------------------------


@pytest.mark.parametrize("verdict,entry", [("n", 10), ("e", 13)])
def test_auto_mode_ends_after_no_and_error(wine, offered, workdir, screenshot, verdict, entry):
    lay_out(workdir)
    offered.offer({MODULE: module_reply(), UPDATE: update_reply(verdict, delay=2)})
    client = Client(wine, workdir, ["auto"], trace_status=True)
    state = client.wait_status(ENTRY[8])
    screenshot()
    assert client.control(state, 6)["text"] == f"{ENTRY[4]}{VERSION} ({DATE})"
    assert client.exit_code() == 0
    assert client.statuses_shown()[-2:] == [ENTRY[8], ENTRY[entry]], "the verdict's entry last"
    assert offered.requests() == [module_request(), update_request()]
    assert not (workdir / "vantrel.ini").exists()
    assert not (workdir / "vantrel.exe").exists()
    assert client.starts() == []


def test_auto_mode_yes_hands_over_without_a_click(wine, offered, workdir, screenshot):
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    offered.offer({MODULE: module_reply(),
                   UPDATE: update_reply("y", f"http://{HOST}/files/setup.exe", delay=2),
                   "/files/setup.exe": {"file": str(workdir / "offered.exe")}})
    client = Client(wine, workdir, ["auto"])
    client.wait_status(ENTRY[8])
    screenshot()
    assert client.exit_code() == 0
    assert offered.requests() == [module_request(), update_request(), "/files/setup.exe"]
    assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
    assert_started_once_here(client)
    assert not (workdir / "vantrel.ini").exists()


def test_manual_yes_waits_for_the_click(wine, offered, workdir, screenshot):
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    offered.offer({MODULE: module_reply(),
                   UPDATE: update_reply("y", f"http://{HOST}/files/setup.exe"),
                   "/files/setup.exe": {"file": str(workdir / "offered.exe")}})
    client = Client(wine, workdir)
    state = client.wait(lambda s: client.control(s, 3)["enabled"], what="button enabled")
    assert client.status(state) == ENTRY[11]
    assert client.control(state, 2)["text"] == ENTRY[2] + "5.2 (12/03/2024)"
    client.wait_resting()
    screenshot("offer")
    assert offered.requests() == [module_request(), update_request()], "nothing without the click"
    client.click_control(3)
    assert client.exit_code() == 0
    assert offered.requests()[-1] == "/files/setup.exe"
    assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
    assert_started_once_here(client)


def test_auto_mode_failed_download_keeps_the_window_for_a_retry(wine, offered, workdir,
                                                                screenshot):
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    file_url = f"http://{HOST}/files/setup.exe"
    offered.offer({MODULE: module_reply(), UPDATE: update_reply("y", file_url),
                   "/files/setup.exe": {"status": 404}})
    client = Client(wine, workdir, ["auto"])
    winerig.wait_until(lambda: file_requests(offered), lambda n: n == 1,
                       "the download without a click", alive=client.process)
    state = client.wait(lambda s: client.status(s) == ENTRY[13]
                        and client.control(s, 3)["enabled"], what="failure shown")
    screenshot()
    assert state["window"]["visible"]
    assert client.process.poll() is None, "a failed download does not end auto mode"
    assert not (workdir / "vantrel.ini").exists()
    assert client.starts() == []
    offered.offer({MODULE: module_reply(), UPDATE: update_reply("y", file_url),
                   "/files/setup.exe": {"file": str(workdir / "offered.exe")}})
    client.click_control(3)
    assert client.exit_code() == 0
    assert offered.requests() == [module_request(), update_request(), "/files/setup.exe",
                                  "/files/setup.exe"]
    assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
    assert_started_once_here(client)


@pytest.mark.parametrize("failure", ["404", "server down"])
def test_failed_download_can_be_retried(wine, offered, workdir, screenshot, failure):
    """Every click after a failure tries again, also one that comes soon
    after the click before it, as a user clicks again after a quick
    failure: the platform reports such a click as a double-click. The
    double-click time is made a minute here (Windows' own limit is 5 s):
    between two clicks the test waits for the probe, which takes seconds on
    a loaded machine, and every click after the first must still come
    "soon"."""
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    files_port = PORT if failure == "404" else free_port()
    file_url = f"http://127.0.0.1:{files_port}/files/setup.exe"
    serve = {"file": str(workdir / "offered.exe")}

    def offer(file_route):
        offered.offer({MODULE: module_reply(), UPDATE: update_reply("y", file_url),
                       "/files/setup.exe": file_route})

    # A slow failure first: the window must answer and the bar move meanwhile.
    offer({"status": 404, "delay": 3} if failure == "404" else serve)
    files_server = None
    holder = None
    if failure == "server down":
        holder = socket.socket()
        holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        holder.bind(("127.0.0.1", files_port))  # bound, never listening: refused
    with contextlib.ExitStack() as cleanup:
        cleanup.callback(lambda: holder is not None and holder.close())
        cleanup.callback(lambda: files_server is not None and files_server.stop())
        cleanup.enter_context(double_click_time(wine, 60000))
        client = Client(wine, workdir)
        client.wait(lambda s: client.control(s, 3)["enabled"], what="button enabled")
        state = client.wait_resting()
        for count, attempt in enumerate(("first", "second", "soon after"), 1):
            client.click_control(3, state)
            if attempt == "first":
                during = client.wait(lambda s: not client.control(s, 3)["enabled"]
                                     or client.status(s) == ENTRY[13], what="download started")
                if failure == "404":
                    # The probe's messages are answered by the window's own
                    # thread: it is not blocked by the download.
                    first = client.control(during, 1)["progress"]["pos"]
                    time.sleep(0.4)
                    later = client.control(client.look(), 1)["progress"]["pos"]
                    assert first != later, "the bar moves during the download"
                    assert not client.control(during, 3)["enabled"]
            if failure == "404":
                # Only this click makes this request (a refused connection
                # reaches no server to count it); the failure shown below
                # is then its own.
                winerig.wait_until(lambda: file_requests(offered), lambda n: n == count,
                                   f"the {attempt} request", alive=client.process)
            state = client.wait(lambda s: client.status(s) == ENTRY[13]
                                and client.control(s, 3)["enabled"], what="failure shown")
            assert state["window"]["visible"]
            if attempt == "first":
                screenshot(attempt)
                if failure == "404":
                    offer({"status": 404})
        assert not (workdir / "vantrel.exe").exists()
        assert client.starts() == []
        if failure == "404":
            assert file_requests(offered) == 3
            offer(serve)
        else:
            holder.close()
            holder = None
            files_server = Server(workdir, files_port)
            files_server.offer({"/files/setup.exe": serve})
            files_server.start()
        client.click_control(3)
        assert client.exit_code() == 0
        assert file_requests(offered if failure == "404" else files_server) == \
            (4 if failure == "404" else 1)
        assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
        assert_started_once_here(client)


# ---- module check -----------------------------------------------------------


@pytest.mark.parametrize("version", ["1.00", "1.01", "0.99", "1.0", "1.00 "])
def test_module_version_is_compared_exactly(wine, offered, workdir, screenshot, version):
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "module.exe")
    offered.offer({MODULE: module_reply(version, f"http://{HOST}/files/module.exe"),
                   UPDATE: update_reply("n"),
                   "/files/module.exe": {"file": str(workdir / "module.exe"), "delay": 2}})
    client = Client(wine, workdir, ["auto"])
    if version != "1.00":
        client.wait_status(ENTRY[7])
        screenshot()
    assert client.exit_code() == 0
    assert not (workdir / "vantrel.ini").exists()
    if version == "1.00":
        assert offered.requests() == [module_request(), update_request()]
        assert client.starts() == []
    else:
        assert offered.requests() == [module_request(), "/files/module.exe"]
        assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
        assert_started_once_here(client)


@pytest.mark.parametrize("reply", [
    pytest.param({"body": f"[module]\r\nversion=1.01\r\nurl=http://{HOST}/files/module.exe\r\n"},
                 id="keys below a group header"),
    pytest.param({"status": 404}, id="404"),
])
def test_unusable_module_check_is_silent(wine, offered, workdir, reply):
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "module.exe")
    offered.offer({MODULE: reply, UPDATE: update_reply("n"),
                   "/files/module.exe": {"file": str(workdir / "module.exe")}})
    client = Client(wine, workdir, ["auto"])
    assert client.exit_code() == 0
    assert offered.requests() == [module_request(), update_request()]
    assert client.starts() == []


def test_requests_carry_an_empty_definitions_version(wine, offered, workdir, screenshot):
    lay_out(workdir, definitions=False)
    offered.offer({MODULE: module_reply(), UPDATE: update_reply("n", delay=2)})
    client = Client(wine, workdir, ["auto"])
    state = client.wait_status(ENTRY[8])
    assert client.control(state, 6)["text"] == ENTRY[4] + " ()"
    screenshot()
    assert client.exit_code() == 0
    assert offered.requests() == [module_request(), update_request("")]


# ---- failed update check and open verdicts ------------------------------------


@pytest.mark.parametrize("failure", ["server down", "500", "reset"])
def test_failed_update_check_shows_entry_9(wine, offered, workdir, screenshot, failure):
    lay_out(workdir)
    routes = {MODULE: module_reply(),
              UPDATE: {"status": 500} if failure == "500" else {"fault": "reset"}}
    offered.offer(routes)
    with contextlib.ExitStack() as stack:
        if failure == "server down":
            stack.enter_context(offered.down())
        client = Client(wine, workdir, ["auto"])
        state = client.wait_status(ENTRY[9])
        state = client.wait_resting()
        assert client.status(state) == ENTRY[9]
        assert not client.control(state, 3)["enabled"]
        assert client.control(state, 2)["text"] == ENTRY[2]
        screenshot()
        assert client.process.poll() is None, "the window stays in auto mode too"
        client.click_close_box()
        assert client.exit_code() == 0
    assert not (workdir / "vantrel.ini").exists()


@pytest.mark.parametrize("verdict", ["Y", "yes", ""])
def test_unknown_verdict_offers_nothing(wine, offered, workdir, screenshot, verdict):
    lay_out(workdir)
    offered.offer({MODULE: module_reply(), UPDATE: update_reply(verdict)})
    client = Client(wine, workdir, ["auto"])
    state = client.wait(lambda s: client.control(s, 2)["text"] == ENTRY[2] + "5.2 (12/03/2024)",
                        what="reply shown")
    state = client.wait_resting()
    assert client.status(state) == ENTRY[8]
    assert not client.control(state, 3)["enabled"]
    screenshot()
    client.click_close_box()
    assert client.exit_code() == 0
    assert offered.requests() == [module_request(), update_request()]


# ---- start-up -----------------------------------------------------------------


def test_no_language_ini_shows_only_the_message(wine, offered, workdir, screenshot):
    lay_out(workdir, language_ini=None)
    # Left by an earlier run that was cut off: removed before anything else.
    stale = ["vantrel.exe", "vantrel.exe.part", "vantrel.ini.part"]
    for name in stale:
        (workdir / name).write_bytes(b"left over")
    offered.offer({MODULE: module_reply(), UPDATE: update_reply("n")})
    client = Client(wine, workdir)
    deadline = time.monotonic() + winerig.DEADLINE
    boxes = []
    while not boxes and time.monotonic() < deadline:
        boxes = [b for b in client.probe("--boxes", "--exe", "update_client.exe").get("boxes", [])
                 if b.get("visible")]
        time.sleep(0.2)
    assert len(boxes) == 1, boxes
    assert boxes[0]["text"] == "Erreur dans la lecture des langues"
    assert boxes[0]["title"] == ""
    assert boxes[0]["buttons"] == ["OK"]
    assert "error" in client.state(), "no window but the box"
    screenshot()
    client.press_ok(boxes[0])
    assert client.exit_code() == 0
    assert offered.requests() == []
    assert [name for name in stale if (workdir / name).exists()] == []


FIFTEEN = b"".join(b"%s\r\n" % t for t in [
    b"Titre", b"Dispo : ", b"Salut|toi", b"Install : ", b"Cadre", b"S6", b"S7", b"S8", b"S9",
    b"Rien", b"S11", b"S12", b"S13", b"S14", b"S15"])


@pytest.mark.parametrize("case,ini,file,title,welcome,installed,status", [
    pytest.param("15 lines CR LF", b"test.txt\r\n", FIFTEEN, "Titre", "Salut\ttoi",
     f"Install : {VERSION} ({DATE})", "Rien", id="15 lines CR LF"),
    pytest.param("3 lines with bars", b"test.txt\r\n", b"A|B\r\nDispo\r\n||\r\n", "A\tB", "\t\t",
     f"{VERSION} ({DATE})", "", id="3 lines with bars"),
    pytest.param("0 bytes", b"test.txt\r\n", b"", ENTRY[1], ENTRY[3], f"{ENTRY[4]}{VERSION} ({DATE})",
     ENTRY[10], id="0 bytes"),
    pytest.param("empty langue.ini", b"", None, ENTRY[1], ENTRY[3],
                 f"{ENTRY[4]}{VERSION} ({DATE})", ENTRY[10], id="empty langue.ini"),
])
def test_window_texts_come_from_the_language_file(wine, offered, workdir, screenshot, case, ini,
                                                   file, title, welcome, installed, status):
    lay_out(workdir, language_ini=ini)
    (workdir / "langues" / "update").mkdir(parents=True)
    if file is not None:
        (workdir / "langues" / "update" / "test.txt").write_bytes(file)
    offered.offer({MODULE: module_reply(), UPDATE: update_reply("n")})
    client = Client(wine, workdir)
    state = client.wait_resting()
    screenshot()
    assert state["window"]["title"] == title
    assert client.control(state, 4)["text"] == welcome
    assert client.control(state, 6)["text"] == installed
    assert client.status(state) == status
    client.click_close_box()
    assert client.exit_code() == 0


@pytest.mark.parametrize("command_line,automatic", [
    ('"auto"', True),
    ("AUTO", False),
    ("x auto", False),
])
def test_only_a_first_parameter_auto_sets_auto_mode(wine, offered, workdir, command_line,
                                                     automatic):
    lay_out(workdir)
    (workdir / "vantrel.exe").write_bytes(b"left by an earlier run")
    offered.offer({MODULE: module_reply(), UPDATE: update_reply("n")})
    client = Client(wine, workdir, via_batch=command_line)
    if automatic:
        assert client.exit_code() == 0
    else:
        client.wait_status(ENTRY[10])
        time.sleep(1)
        assert client.process.poll() is None, "the window waits for the user"
        client.click_close_box()
        assert client.exit_code() == 0
    assert not (workdir / "vantrel.exe").exists(), "the stale module is deleted"


# ---- the window -----------------------------------------------------------------


def test_window_before_and_after_the_offer(wine, offered, workdir, screenshot):
    lay_out(workdir)
    offered.offer({MODULE: module_reply(),
                   UPDATE: update_reply("y", "http://127.0.0.1:1/x", delay=4)})
    client = Client(wine, workdir)
    state = client.wait_status(ENTRY[8])
    shot = screenshot("waiting")
    window = state["window"]
    assert window["client"] == [395, 162]
    left, top, right, bottom = window["rect"]
    assert left == 1024 // 2 - (right - left) // 2
    assert top == 768 // 2 - (bottom - top) // 2
    assert window["title"] == ENTRY[1]
    assert window["caption"] and window["system_menu"]
    expected = {1: ("msctls_progress32", [10, 55, 375, 25], ""),
                2: ("Static", [15, 110, 250, 15], ENTRY[2]),
                3: ("Button", [345, 90, 40, 40], ""),
                4: ("Static", [60, 10, 310, 20], ENTRY[3]),
                5: ("Static", [0, 0, 48, 48], ""),
                6: ("Static", [15, 90, 250, 15], f"{ENTRY[4]}{VERSION} ({DATE})"),
                7: ("Button", [10, 80, 270, 55], "")}
    for number, (kind, rect, text) in expected.items():
        control = client.control(state, number)
        assert control["class"] == kind, number
        assert control["client_rect"] == rect, number
        assert control["text"] == text, number
    assert client.control(state, 1)["progress"]["min"] == 0
    assert client.control(state, 1)["progress"]["max"] == 100
    assert not client.control(state, 3)["enabled"], "disabled until an offer"
    # The welcome label is painted white; the version labels have no
    # background of their own, so the window's white shows through.
    for number in (2, 4, 6):
        l, t, r, b = client.control(state, number)["rect"]
        assert pixel(shot, r - 3, (t + b) // 2) == (255, 255, 255), number
    state = client.wait(lambda s: client.control(s, 3)["enabled"], what="offer")
    assert client.status(state) == ENTRY[11]
    screenshot("offer")
    client.click_close_box()
    assert client.exit_code() == 0


def test_label_colours_as_asked_and_as_painted(wine, workdir):
    """updater_window_colours.exe: the progress window with the client's
    window hook, asked for each label's colours the way the platform asks,
    and read back as painted, on the window's white and on another window
    colour (where only an opaque label stays white)."""
    result = wine.run(winerig.program("updater_window_colours"), cwd=workdir,
                      timeout=winerig.DEADLINE)
    assert result.returncode == 0, result
    report = json.loads(result.stdout)
    asked = report["asked"]
    for name in ("available", "installed"):
        assert asked[name]["text_colour"] == "000000", name
        assert not asked[name]["opaque"], name
        assert asked[name]["brush"] == "hollow", name
    assert asked["welcome"] == {"text_colour": "000000", "opaque": True, "background": "FFFFFF",
                                "brush": "FFFFFF"}
    assert report["painted"] == {"available": "FFFFFF", "welcome": "FFFFFF",
                                 "installed": "FFFFFF"}
    other = report["window_colour"]
    assert report["painted_on_colour"] == {"available": other, "welcome": "FFFFFF",
                                           "installed": other}


@pytest.mark.parametrize("during", ["check", "download"])
def test_closing_while_a_download_runs_ends_at_once(wine, offered, workdir, screenshot, during):
    """The reply or the offered program would take two minutes; the client
    does not wait for it, and leaves no partial file behind."""
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    if during == "check":
        offered.offer({MODULE: module_reply(), UPDATE: update_reply("n", delay=120)})
        part = workdir / "vantrel.ini.part"
    else:
        offered.offer({MODULE: module_reply(),
                       UPDATE: update_reply("y", f"http://{HOST}/files/setup.exe"),
                       "/files/setup.exe": {"file": str(workdir / "offered.exe"), "delay": 120}})
        part = workdir / "vantrel.exe.part"
    client = Client(wine, workdir)
    if during == "check":
        client.wait_status(ENTRY[8])
    else:
        client.wait(lambda s: client.control(s, 3)["enabled"], what="offer")
        client.wait_resting()
        client.click_control(3)
    winerig.wait_until(part.exists, bool, "the download under way", alive=client.process)
    screenshot()
    client.click_close_box()
    assert client.exit_code() == 0
    assert not part.exists(), "the end removes the download's temporary file"
    assert not (workdir / "vantrel.exe").exists()
    assert client.starts() == []
    # The server drops the reply it was holding once the client has gone, so
    # nothing of this test reaches a later test's request log.
    held = UPDATE if during == "check" else "/files/setup.exe"
    winerig.wait_until(lambda: [r for r in offered.requests() if r.startswith(held)], bool,
                       "the abandoned request logged")


# ---- a hostile server -----------------------------------------------------------------

# Every fault that must end as a failed download (a cut reply without a
# length is the one no client can tell from a whole one).
FAILING_FAULTS = [name for name in HOSTILE_DOWNLOADS
                  if name not in ("chunked", "redirects5", "cut_close")]


def leftovers(folder: Path) -> list[str]:
    return sorted(p.name for p in folder.iterdir() if p.name.lower().startswith("vantrel."))


@pytest.mark.parametrize("fault", FAILING_FAULTS)
def test_hostile_module_and_update_replies(wine, offered, workdir, screenshot, fault):
    """The module reply is passed over in silence and the update check
    follows; the update reply fails with entry 9 and the window stays in
    auto mode. The stall faults end on the test build's short deadline."""
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "module.exe")
    garble = HOSTILE_DOWNLOADS[fault]
    offered.offer({
        MODULE: dict(body=f"version=1.01\r\nurl=http://{HOST}/files/module.exe\r\n", **garble),
        UPDATE: dict(body=f"update=y\r\nurl=http://{HOST}/files/setup.exe\r\nversion=5.2\r\n",
                     **garble),
        "/files/module.exe": {"file": str(workdir / "module.exe")},
        "/files/setup.exe": {"file": str(workdir / "module.exe")}})
    client = Client(wine, workdir, ["auto"])
    state = client.wait_status(ENTRY[9])
    state = client.wait_resting()
    assert client.status(state) == ENTRY[9]
    assert not client.control(state, 3)["enabled"]
    assert client.control(state, 2)["text"] == ENTRY[2]
    screenshot()
    assert client.process.poll() is None, "the window stays in auto mode too"
    assert leftovers(workdir) == []
    client.click_close_box()
    assert client.exit_code() == 0
    requests = offered.requests()
    assert requests[0] == module_request()
    assert any(r.startswith(UPDATE) for r in requests), "the update check followed"
    assert not any(r.startswith("/files/") for r in requests), requests
    # Our own redirects: the first request and five more, for each script.
    assert len(requests) <= 2 * 6, requests
    assert client.starts() == []
    assert leftovers(workdir) == []


# The faults in three runs of one client each, which can go to different
# shards.
FAULT_RUNS = [FAILING_FAULTS[start::3] for start in range(3)]


@pytest.mark.parametrize("faults", FAULT_RUNS, ids=["+".join(run) for run in FAULT_RUNS])
def test_hostile_offered_program_leaves_a_retry(wine, offered, workdir, screenshot, faults):
    """Auto mode: each fault of the offered program ends with entry 13, the
    button enabled again and the window open; the next click retries, and
    once the file is served whole it is handed over."""
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    file_url = f"http://{HOST}/files/setup.exe"

    def offer(garble: dict) -> None:
        offered.offer({MODULE: module_reply(), UPDATE: update_reply("y", file_url),
                       "/files/setup.exe": dict(file=str(workdir / "offered.exe"), **garble)})

    def attempts() -> int:
        return sum(1 for r in offered.requests() if r.startswith("/files/setup.exe"))

    offer(HOSTILE_DOWNLOADS[faults[0]])
    client = Client(wine, workdir, ["auto"])
    for number, fault in enumerate(faults):
        if number > 0:
            offer(HOSTILE_DOWNLOADS[fault])
            client.wait_resting()
            before = attempts()
            client.click_control(3)
        else:
            before = 0
        state = client.wait(lambda s: attempts() > before and client.status(s) == ENTRY[13]
                            and client.control(s, 3)["enabled"],
                            what=f"{fault}: failure shown")
        assert state["window"]["visible"], fault
        assert client.process.poll() is None, f"{fault}: the window stays"
        assert leftovers(workdir) == [], fault
        assert client.starts() == [], fault
        screenshot(fault)
    offer({})
    client.wait_resting()
    client.click_control(3)
    assert client.exit_code() == 0
    assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
    assert_started_once_here(client)
    assert leftovers(workdir) == ["vantrel.exe"]


# ---- the download service on its own ------------------------------------------------


def test_windows_download_fails_on_http_errors_and_leaves_no_partial_file(wine, workdir,
                                                                          tmp_path_factory):
    """download_to_file of the Windows build: an error status, a reply cut
    short or a dropped connection is a failure, and never leaves an error
    page or a partial body as the target."""
    body = b"MZ" + bytes(range(256)) * 40
    server = Server(tmp_path_factory.mktemp("download-server"), free_port())
    (server.folder / "ok.bin").write_bytes(body)
    server.offer({"/ok": {"file": str(server.folder / "ok.bin")},
                  "/missing": {"status": 404}, "/broken": {"status": 500},
                  "/cut": {"body": "x" * 4000, "fault": "cut"}, "/reset": {"fault": "reset"},
                  "/silent": {"fault": "silent"},
                  "/huge": {"body": "update=n\r\n", "fault": "huge", "bytes": 6000000},
                  "/reply": {"settings": [["update", "n"]]},
                  **{f"/hostile/{name}": dict(file=str(server.folder / "ok.bin"), **fault)
                     for name, fault in HOSTILE_DOWNLOADS.items()}})
    server.start()
    try:
        text = wine.output(winerig.program("download_win"),
                           [f"http://127.0.0.1:{server.port}",
                            f"http://127.0.0.1:{free_port()}", str(len(body))],
                           timeout=300, cwd=workdir)
        results = {r["case"]: r for r in (json.loads(line) for line in text.splitlines() if line)}
    finally:
        server.stop()
    ok = results["ok"]
    assert ok["result"] == 1 and ok["target_size"] == len(body)
    assert (workdir / "vantrel.exe").read_bytes() == body
    for case in ("404 keeps the earlier file", "500 keeps the earlier file",
                 "cut short keeps the earlier file", "reset keeps the earlier file"):
        assert results[case]["result"] == 0, case
        assert results[case]["target_size"] == len(body), case
        assert not results[case]["part_left"], case
    for case in ("404", "500", "cut short", "reset", "closed without reply", "connection refused",
                 "empty URL", "file scheme", "ftp scheme", "after the end of the service"):
        assert results[case]["result"] == 0, case
        assert results[case]["target_size"] == -1, case
        assert not results[case]["part_left"], case
    assert results["huge"]["result"] == 1 and results["huge"]["target_size"] == 6000000
    assert results["query as written"]["result"] == 1
    assert results["target is a folder"]["result"] == 0
    assert results["target is a folder"]["target_size"] == -2
    assert not results["target is a folder"]["part_left"]
    assert "/reply?version=&os=windows" in server.requests()
    # A hostile server: only whole 200 replies arrive, the rest fails and
    # leaves nothing, whatever WinINet would have made of it.
    for name in HOSTILE_DOWNLOADS:
        r = results[f"hostile {name}"]
        whole = name in ("chunked", "redirects5", "cut_close")
        assert r["result"] == (1 if whole else 0), name
        assert not r["part_left"], name
        if name == "cut_close":
            # No client can tell a cut reply without a length from a whole one.
            assert r["target_size"] == len(body) // 2
        elif whole:
            assert (workdir / f"{name}.exe").read_bytes() == body, name
        else:
            assert r["target_size"] == -1, name
    requests = server.requests()
    assert requests.count("/hostile/redirect_loop") == 6, "five redirects followed, not more"
    assert results["bound: exactly the body"]["result"] == 1
    assert results["bound: one byte short"]["result"] == 0
    assert results["bound: one byte short"]["target_size"] == -1
