"""The Wine rig shared by every end-to-end test module.

A test module (one pytest process under ctest) gets a `WineSession`:

- its own Wine prefix: a hard-linked copy of one base prefix that is made
  once per build tree (``wineboot -i`` takes about ten seconds) under a file
  lock, so parallel ctest processes neither race nor share a wineserver (two
  modules sharing one would see each other's windows and foreground); a
  64-bit prefix run by the 64-bit loader, or (arch="win32") a 32-bit one run
  by the 32-bit loader, for the shipped 32-bit programs;
- its own X display: an ``Xvfb`` that picks a free display number itself
  (left out for programs that open no window);
- helpers to run a Windows program (exit code and stdout), start one in the
  background and stop it by process id, take screenshots and drive the
  mouse and keyboard with ``xdotool``.

Everything the session starts is stopped by process id; no process is ever
stopped by name.

Environment (set by tests/CMakeLists.txt): SOURCE_DIR, WIN32_BUILD_DIR,
WIN64_BUILD_DIR, NATIVE_BUILD_DIR, ARTIFACTS_DIR.
"""

from __future__ import annotations

import fcntl
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
from dataclasses import dataclass
from pathlib import Path, PureWindowsPath
from typing import IO, Iterable, Optional, Sequence

HERE = Path(__file__).resolve().parent
SOURCE_DIR = Path(os.environ.get("SOURCE_DIR") or HERE.parent.parent)
WIN32_BUILD_DIR = Path(os.environ.get("WIN32_BUILD_DIR") or SOURCE_DIR / "build" / "win32")
WIN64_BUILD_DIR = Path(os.environ.get("WIN64_BUILD_DIR") or SOURCE_DIR / "build" / "win64")
NATIVE_BUILD_DIR = Path(os.environ.get("NATIVE_BUILD_DIR") or SOURCE_DIR / "build" / "native")
ARTIFACTS_DIR = Path(os.environ.get("ARTIFACTS_DIR") or SOURCE_DIR / "build" / "artifacts")

# The base prefixes live beside the build folders, shared by every build tree
# of this checkout (they hold nothing of ours, only Wine's own files).
WINE_ROOT = Path(os.environ.get("WINE_RIG_ROOT") or SOURCE_DIR / "build" / "wine")
BASE_PREFIX = {"win64": WINE_ROOT / "prefix", "win32": WINE_ROOT / "prefix-win32"}
READY_MARK_NAME = ".rig-ready"

# The 32-bit loader of the wine32 package; scripts/setup-wine32.sh installs it
# and writes whether 32-bit programs run on this machine into this file.
WINE32_LOADER = "/usr/lib/wine/wine"
WINE32_STATUS = Path(os.environ.get("WINE32_STATUS") or WIN32_BUILD_DIR.parent / "wine32-setup.status")

# The one deadline for a Windows program's reaction (a window, a status, an
# event, an exit). Under ctest on two cores (two slots per core), with other
# modules booting their own wineservers, a first window has taken tens of
# seconds; waits end as soon as their event happens, so a long deadline only
# costs time when a test fails.
DEADLINE = float(os.environ.get("WINE_TEST_DEADLINE") or 180)

WINE_ENV = {
    "WINEDEBUG": "-all",
    # Without these Wine offers to install Mono and Gecko and waits.
    "WINEDLLOVERRIDES": "mscoree,mshtml=",
}


def wait_until(take, condition, what: str, timeout: float = DEADLINE,
               alive: Optional[subprocess.Popen] = None, interval: float = 0.2):
    """Calls take() until condition holds on its result, and returns that
    result. Raises AssertionError with the last result when the deadline
    passes or when the program `alive` has ended first. How long each wait
    took goes to ARTIFACTS_DIR/wine-waits.jsonl, to see the margins that a
    loaded machine leaves."""
    start = time.monotonic()
    result = None
    while True:
        result = take()
        if condition(result):
            _record_wait(what, time.monotonic() - start)
            return result
        if alive is not None and alive.poll() is not None:
            raise AssertionError(f"not reached: {what} (the program ended with "
                                 f"{alive.returncode}); last {result!r}")
        if time.monotonic() - start > timeout:
            raise AssertionError(f"not reached within {timeout:.0f} s: {what}; last {result!r}")
        time.sleep(interval)


def _record_wait(what: str, seconds: float) -> None:
    import json
    try:
        ARTIFACTS_DIR.mkdir(parents=True, exist_ok=True)
        test = os.environ.get("PYTEST_CURRENT_TEST", "").split(" ")[0]
        with open(ARTIFACTS_DIR / "wine-waits.jsonl", "a", encoding="utf-8") as log:
            log.write(json.dumps({"test": test, "what": what, "seconds": round(seconds, 2)}) + "\n")
    except OSError:
        pass


def wine_loader(arch: str = "win64") -> str:
    if arch == "win32":
        if os.access(WINE32_LOADER, os.X_OK):
            return WINE32_LOADER
        raise RuntimeError("no 32-bit wine loader found (scripts/setup-wine32.sh)")
    # The 64-bit loader by its own path first: with 32-bit Wine installed, a
    # `wine` on PATH may be the 32-bit one.
    for candidate in ("/usr/lib/wine/wine64", shutil.which("wine64"), shutil.which("wine")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise RuntimeError("no wine64 loader found (install the wine64 package)")


def wine32_emulated() -> bool:
    """Whether 32-bit x86 programs go through an interpreter registered with
    binfmt_misc (QEMU's user-mode emulator) rather than the kernel."""
    i386_magic = "7f454c4601010100000000000000000002000300"
    for entry in Path("/proc/sys/fs/binfmt_misc").glob("*"):
        try:
            lines = entry.read_text().splitlines()
        except OSError:
            continue
        if lines[:1] == ["enabled"] and f"magic {i386_magic}" in lines:
            return True
    return False


def wine32_unavailable() -> Optional[str]:
    """Why the shipped 32-bit programs cannot run on this machine, as the
    setup found it, or None when they can."""
    try:
        status = WINE32_STATUS.read_text(encoding="utf-8", errors="replace").strip()
    except OSError:
        return f"the setup of 32-bit Wine has not run ({WINE32_STATUS} is missing)"
    if status != "ready":
        return status.removeprefix("refused: ") or f"{WINE32_STATUS} is empty"
    if not os.access(WINE32_LOADER, os.X_OK):
        return f"{WINE32_LOADER} is missing"
    return None


def wineserver_program() -> str:
    loader_dir = Path(wine_loader()).parent
    for candidate in (loader_dir / "wineserver", shutil.which("wineserver")):
        if candidate and os.access(str(candidate), os.X_OK):
            return str(candidate)
    raise RuntimeError("no wineserver found")


def windows_path(path: os.PathLike | str) -> str:
    """The Wine name of a Linux path: /x/y is Z:\\x\\y."""
    absolute = os.path.abspath(os.fspath(path))
    return "Z:" + absolute.replace("/", "\\")


def linux_path(path: str) -> Path:
    """The Linux path of a Wine name on drive Z:."""
    p = PureWindowsPath(path)
    if p.drive.upper() != "Z:":
        raise ValueError(f"not on drive Z: {path}")
    return Path("/" + "/".join(p.parts[1:]))


def _base_env(prefix: Path, arch: str = "win64") -> dict:
    env = dict(os.environ)
    env.update(WINE_ENV)
    env["WINEPREFIX"] = str(prefix)
    if arch == "win32":
        env["WINEARCH"] = "win32"
    env.pop("DISPLAY", None)
    return env


def ensure_base_prefix(arch: str = "win64", timeout: float = 300) -> Path:
    """Makes the base prefix of the architecture once; later callers (other
    processes too) wait on the lock and reuse it. How long the boot took goes
    to the waits' record."""
    base = BASE_PREFIX[arch]
    WINE_ROOT.mkdir(parents=True, exist_ok=True)
    with open(WINE_ROOT / f"{base.name}.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if (base / READY_MARK_NAME).exists():
            return base
        if base.exists():
            shutil.rmtree(base)  # left half-made by an interrupted run
        env = _base_env(base, arch)
        start = time.monotonic()
        subprocess.run([wine_loader(arch), "wineboot", "-i"], env=env, timeout=timeout,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        # The registry is written when this prefix's wineserver ends; wait for
        # it (only this prefix's server is concerned).
        subprocess.run([wineserver_program(), "-w"], env=env, timeout=timeout, check=False)
        if not (base / "system.reg").exists():
            raise RuntimeError("wineboot did not create a prefix in " + str(base))
        _record_wait(f"{arch} prefix boot", time.monotonic() - start)
        (base / READY_MARK_NAME).write_text("ready\n")
        return base


def _copy_prefix(base: Path, target: Path) -> None:
    # Hard links keep the 600 MB of system files shared. Files that Wine
    # rewrites in place are copied for real; the registry is saved through a
    # new file and a rename, which never touches the base.
    def link_or_copy(src: str, dst: str) -> None:
        name = os.path.basename(src)
        if name.endswith(".reg") or name.startswith("."):
            shutil.copy2(src, dst)
        else:
            try:
                os.link(src, dst)
            except OSError:
                shutil.copy2(src, dst)

    shutil.copytree(base, target, symlinks=True, copy_function=link_or_copy)


def _end_with_parent() -> None:
    """preexec_fn: the child gets SIGTERM when the test process dies (a
    ctest timeout kills only the test process), so nothing is left behind."""
    import ctypes
    libc = ctypes.CDLL(None, use_errno=True)
    PR_SET_PDEATHSIG = 1
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)


def _remove_stale_copies(runs: Path) -> None:
    """Removes prefix copies whose test process no longer exists."""
    for entry in runs.iterdir():
        match = re.match(r".*-pid(\d+)-[^-]*$", entry.name)
        if not match:
            continue
        try:
            os.kill(int(match.group(1)), 0)
        except ProcessLookupError:
            shutil.rmtree(entry, ignore_errors=True)
        except PermissionError:
            pass


def _free_display_xvfb(width: int, height: int) -> tuple[subprocess.Popen, int]:
    """Starts Xvfb on a display number that it picks itself (-displayfd)."""
    read_fd, write_fd = os.pipe()
    process = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", f"{width}x{height}x24",
         "-nolisten", "tcp"],
        pass_fds=(write_fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        start_new_session=True, preexec_fn=_end_with_parent)
    os.close(write_fd)
    data = b""
    deadline = time.monotonic() + 30
    with os.fdopen(read_fd, "rb") as pipe:
        while not data.endswith(b"\n") and time.monotonic() < deadline:
            chunk = pipe.read(1)
            if not chunk:
                break
            data += chunk
    if not data.strip().isdigit():
        _stop_process(process)
        raise RuntimeError("Xvfb did not start")
    return process, int(data.strip())


def _stop_process(process: subprocess.Popen, grace: float = 5.0) -> None:
    if process.poll() is not None:
        return
    try:
        process.send_signal(signal.SIGTERM)
        process.wait(timeout=grace)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait(timeout=grace)
    except ProcessLookupError:
        pass


@dataclass
class RunResult:
    returncode: int
    stdout: str
    stderr: str

    @property
    def lines(self) -> list[str]:
        return self.stdout.splitlines()


class WineSession:
    """A prefix and an X display of their own for one test module."""

    def __init__(self, name: str = "wine", width: int = 1024, height: int = 768,
                 display: bool = True, arch: str = "win64"):
        """display=False: no X display, for programs that open no window.
        arch="win32": a 32-bit prefix and loader, for the 32-bit build."""
        self.name = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
        self.arch = arch
        self.width, self.height = width, height
        self.wants_display = display
        self.prefix: Optional[Path] = None
        self.xvfb: Optional[subprocess.Popen] = None
        self.display_number: Optional[int] = None
        self._started: list[subprocess.Popen] = []

    # ---- life cycle -------------------------------------------------------

    def start(self) -> "WineSession":
        base = ensure_base_prefix(self.arch)
        runs = WINE_ROOT / "run"
        runs.mkdir(parents=True, exist_ok=True)
        _remove_stale_copies(runs)
        self.prefix = Path(tempfile.mkdtemp(prefix=f"{self.name}-pid{os.getpid()}-", dir=runs))
        os.rmdir(self.prefix)
        _copy_prefix(base, self.prefix)
        if self.wants_display:
            self.xvfb, self.display_number = _free_display_xvfb(self.width, self.height)
        return self

    def close(self) -> None:
        for process in reversed(self._started):
            _stop_process(process)
        self._started.clear()
        if self.prefix is not None:
            # Wine's own helper processes (services, explorer) end with this
            # prefix's wineserver once no program of ours is left.
            try:
                subprocess.run([wineserver_program(), "-w"], env=self.env(), timeout=60,
                               check=False)
            except subprocess.TimeoutExpired:
                pass
        if self.xvfb is not None:
            _stop_process(self.xvfb)
            self.xvfb = None
        if self.prefix is not None:
            shutil.rmtree(self.prefix, ignore_errors=True)
            self.prefix = None

    def __enter__(self) -> "WineSession":
        return self.start()

    def __exit__(self, *exc) -> None:
        self.close()

    # ---- environment ------------------------------------------------------

    @property
    def display(self) -> str:
        return f":{self.display_number}"

    def env(self, extra: Optional[dict] = None) -> dict:
        assert self.prefix is not None, "session not started"
        env = _base_env(self.prefix, self.arch)
        if self.display_number is not None:
            env["DISPLAY"] = self.display
        if extra:
            env.update({k: str(v) for k, v in extra.items()})
        return env

    # ---- Windows programs -------------------------------------------------

    def command(self, exe: os.PathLike | str, args: Sequence[str] = ()) -> list[str]:
        return [wine_loader(self.arch), os.fspath(exe), *args]

    def run(self, exe: os.PathLike | str, args: Sequence[str] = (), cwd: os.PathLike | str | None = None,
            timeout: float = DEADLINE, env: Optional[dict] = None) -> RunResult:
        """Runs a Windows program to its end in the folder cwd (its current
        folder under Wine is the same folder on drive Z:)."""
        result = subprocess.run(self.command(exe, args), cwd=cwd, env=self.env(env),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                timeout=timeout, check=False)
        return RunResult(result.returncode, result.stdout.decode("latin-1"),
                         result.stderr.decode("latin-1"))

    def start_program(self, exe: os.PathLike | str, args: Sequence[str] = (),
                      cwd: os.PathLike | str | None = None, env: Optional[dict] = None,
                      capture: bool = True, stderr: Optional[IO] = None) -> subprocess.Popen:
        """Starts a Windows program in the background; stop it with
        stop_program (by its process id) or let close() do it. stderr, when
        given, receives Wine's messages (a file: no pipe to drain)."""
        out = subprocess.PIPE if capture else subprocess.DEVNULL
        process = subprocess.Popen(self.command(exe, args), cwd=cwd, env=self.env(env),
                                   stdout=out, stderr=out if stderr is None else stderr,
                                   preexec_fn=_end_with_parent)
        self._started.append(process)
        return process

    def stop_program(self, process: subprocess.Popen, grace: float = 5.0) -> Optional[int]:
        _stop_process(process, grace)
        if process in self._started:
            self._started.remove(process)
        return process.returncode

    def wait_program(self, process: subprocess.Popen, timeout: float = DEADLINE) -> int:
        code = process.wait(timeout=timeout)
        if process in self._started:
            self._started.remove(process)
        return code

    def output(self, exe: os.PathLike | str, args: Sequence[str] = (), timeout: float = DEADLINE,
               encoding: str = "utf-8", cwd: os.PathLike | str | None = None) -> str:
        """Runs a Windows program to its end and returns its standard output.
        The output goes through a file, not a pipe: a helper process that
        Wine starts on the way (its desktop, its services) inherits the
        program's handles and would hold a pipe open long after the program
        ended."""
        with tempfile.TemporaryFile() as out:
            subprocess.run(self.command(exe, args), cwd=cwd, env=self.env(), stdout=out,
                           stderr=subprocess.DEVNULL, timeout=timeout, check=False)
            out.seek(0)
            return out.read().decode(encoding, "replace")

    def ui_probe(self, *args: str, timeout: float = DEADLINE) -> dict:
        """Runs the UI probe of the session's build (tools/ui_probe.cpp) and
        returns what it printed, or {"error": <its output>} when that is not
        JSON."""
        import json
        text = self.output(program("ui_probe", self.arch), list(args), timeout)
        try:
            return json.loads(text)
        except json.JSONDecodeError:
            return {"error": text}

    # ---- screen and input -------------------------------------------------

    def _x(self, args: Sequence[str], timeout: float = 30, check: bool = True) -> str:
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        result = subprocess.run(list(args), env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=timeout, check=False)
        if check and result.returncode != 0:
            raise RuntimeError(f"{args[0]} failed ({result.returncode}): "
                               f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode("latin-1")

    def screenshot(self, name: str) -> Path:
        """Saves the whole screen as ARTIFACTS_DIR/<name>.png."""
        ARTIFACTS_DIR.mkdir(parents=True, exist_ok=True)
        target = ARTIFACTS_DIR / (re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".png")
        self._x(["import", "-window", "root", str(target)])
        return target

    def click(self, x: int, y: int, button: int = 1) -> None:
        self._x(["xdotool", "mousemove", "--sync", str(x), str(y), "click", str(button)])

    def key(self, *keys: str, window: Optional[str] = None) -> None:
        """Key presses by xdotool names ("Return", "Tab", "alt+F4")."""
        args = ["xdotool", "key"]
        if window is not None:
            args += ["--window", window]
        self._x(args + list(keys))

    def type_text(self, text: str) -> None:
        self._x(["xdotool", "type", "--delay", "20", text])

    def find_windows(self, title: str) -> list[str]:
        """X window ids whose title matches the regular expression."""
        out = self._x(["xdotool", "search", "--onlyvisible", "--name", title], check=False)
        return out.split()

    def wait_window(self, title: str, timeout: float = DEADLINE) -> str:
        return wait_until(lambda: self.find_windows(title), bool,
                          f"a window titled {title!r}", timeout)[0]

    def window_geometry(self, window: str) -> tuple[int, int, int, int]:
        """x, y, width, height of an X window on the screen."""
        out = self._x(["xdotool", "getwindowgeometry", "--shell", window])
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return (int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))

    def activate(self, window: str) -> None:
        self._x(["xdotool", "windowactivate", "--sync", window], check=False)


# ---- build outputs ----------------------------------------------------------

def build_dir(build: str) -> Path:
    return {"win32": WIN32_BUILD_DIR, "win64": WIN64_BUILD_DIR, "native": NATIVE_BUILD_DIR}[build]


def program(name: str, build: str = "win64") -> Path:
    """Path of a program target of a build (name without .exe)."""
    root = build_dir(build)
    file_name = name if build == "native" else name + ".exe"
    for folder in ("", "tools", "tests", "updater", "chooser", "fuzz"):
        candidate = root / folder / file_name
        if candidate.is_file():
            return candidate
    raise FileNotFoundError(f"{file_name} not built in {root}")


def read_json_lines(path: os.PathLike | str) -> list[dict]:
    import json
    p = Path(path)
    if not p.exists():
        return []
    return [json.loads(line) for line in p.read_text(encoding="latin-1").splitlines() if line.strip()]


def copy_standin(folder: os.PathLike | str, names: Iterable[str], build: str = "win64") -> list[Path]:
    """Puts copies of the stand-in program under the given names (e.g.
    "vantrel.exe") into folder."""
    source = program("standin", build)
    made = []
    for name in names:
        target = Path(folder) / name
        shutil.copy2(source, target)
        made.append(target)
    return made
