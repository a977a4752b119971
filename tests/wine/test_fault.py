"""Crash handling of the 64-bit Windows build under Wine.

The resumable faults are fault_thread_test's table, which ctest also runs
as a Windows program (win64.fault_thread_test). Here fault_win_test.exe
(tests/win) checks the process-wide filter's life cycle itself; this driver
checks that it does so silently (no crash report, no file, no early end),
that the faults which cannot be resumed end the process, and that the two
programs leave the filter they found in place when they end.

What a program does with the process-wide filter is read from Wine's relay
trace, limited to SetUnhandledExceptionFilter: each call shows the filter
put in and the one it replaced.
"""

import re
import subprocess
import sys

import pytest

import winerig

sys.path.insert(0, str(winerig.SOURCE_DIR / "tools"))
import demo_chooser  # noqa: E402

FILTER_CALLS = "kernel32.SetUnhandledExceptionFilter;kernelbase.SetUnhandledExceptionFilter"


@pytest.fixture(scope="module")
def fault_test():
    return winerig.program("fault_win_test", "win64")


@pytest.fixture(scope="module")
def quiet_crashes(wine):
    """No crash dialog from Wine's debugger when a test process dies (it
    still prints its report); relay tracing of the filter calls only."""
    for key, value, kind, data in (
            (r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", "REG_DWORD", "0"),
            (r"HKCU\Software\Wine\Debug", "RelayInclude", "REG_SZ", FILTER_CALLS),
            # No debugger is started for an unhandled fault, so the process
            # ends at once with the fault's code (an attaching debugger made
            # the exit code depend on timing under load).
            (r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug", "Debugger",
             "REG_SZ", "")):
        result = wine.run("reg", ["add", key, "/v", value, "/t", kind, "/d", data, "/f"])
        assert result.returncode == 0, result.stdout + result.stderr
    return wine


def files_in(folder):
    return sorted(p.relative_to(folder) for p in folder.rglob("*"))


def test_filter_life_cycle(quiet_crashes, fault_test, tmp_path):
    wine = quiet_crashes
    exe = tmp_path / "fault_win_test.exe"
    exe.write_bytes(fault_test.read_bytes())
    before = files_in(tmp_path)

    result = wine.run(exe, ["run"], cwd=tmp_path, timeout=120)
    print(result.stdout)
    failed = [line for line in result.lines if line.startswith("FAIL")]
    assert result.returncode == 0 and not failed, result.stdout + result.stderr
    assert result.lines and result.lines[-1] == "0 failed", result.stdout
    # Wine reports a fault that reached its default handling on stderr.
    assert "Unhandled" not in result.stdout + result.stderr
    assert files_in(tmp_path) == before


@pytest.mark.parametrize("fault, exit_code", [
    ("undecodable", 0xC000001D),  # illegal instruction
    ("unreadable", 0xC0000005),   # access violation, on the instruction fetch
    ("overflow", None),           # stack overflow: Wine ends with its own code
])
def test_unresumable_fault_ends_the_process(quiet_crashes, fault_test, tmp_path, fault,
                                            exit_code):
    result = quiet_crashes.run(fault_test, ["end", fault], cwd=tmp_path, timeout=120)
    assert f"faulting: {fault}" in result.stdout
    assert "still running" not in result.stdout
    assert result.returncode != 0
    if exit_code is not None:
        # The Linux exit status keeps the low byte of the Windows exit code.
        assert result.returncode == exit_code & 0xFF, result.stdout + result.stderr


CALL = re.compile(r":Call (?:KERNEL32|KERNELBASE)\.SetUnhandledExceptionFilter\(([0-9a-f]+)\)")
RETURN = re.compile(r":Ret  (?:KERNEL32|KERNELBASE)\.SetUnhandledExceptionFilter\(\) "
                    r"retval=([0-9a-f]+)")


def filter_calls(trace: str) -> list[tuple[int, int]]:
    """(filter put in, filter replaced) of each SetUnhandledExceptionFilter
    call in a relay trace, in order."""
    calls, pending = [], None
    for line in trace.splitlines():
        if m := CALL.search(line):
            pending = int(m.group(1), 16)
        elif (m := RETURN.search(line)) and pending is not None:
            calls.append((pending, int(m.group(1), 16)))
            pending = None
    return calls


def check_previous_filter_restored(calls: list[tuple[int, int]]) -> None:
    """The program installs a filter of its own over the one in effect
    (the runtime's, set during start-up before the program's own code) and
    puts that one back at its end."""
    assert len(calls) >= 3, calls
    runtime_filter = calls[0][0]
    installed, replaced = calls[1]
    assert replaced == runtime_filter and installed != runtime_filter, calls
    assert calls[-1][0] == runtime_filter, f"filter in effect at the end: {calls}"


def test_filter_calls_of_the_test_program(quiet_crashes, fault_test, tmp_path):
    """The trace reading itself, on the program whose calls are known."""
    result = quiet_crashes.run(fault_test, ["run"], cwd=tmp_path, timeout=120,
                               env={"WINEDEBUG": "-all,+relay"})
    calls = filter_calls(result.stderr)
    # The runtime's filter, then the test's marker over it, the handler's
    # filter over the marker ... and at the very end the runtime's again.
    assert len(calls) >= 4, result.stderr[-2000:]
    runtime_filter, marker = calls[0][0], calls[1][0]
    assert calls[1][1] == runtime_filter
    assert calls[2][1] == marker and calls[2][0] not in (marker, runtime_filter)
    assert calls[-1][0] == runtime_filter


def product_folder(folder):
    folder.mkdir()
    demo_chooser.lay_out_languages(folder, ["English"])
    (folder / "langue.ini").write_bytes(b"English.txt\r\n")
    winerig.copy_standin(folder, ["tessarin.exe", "traducteur.exe"])
    return folder


def traced_run(wine, program, folder, trace, end_it):
    """Runs a program with the relay trace going to a file (a pipe would
    fill up and stop it), ends it with end_it(), returns its exit code."""
    with open(trace, "wb") as out:
        process = subprocess.Popen(wine.command(program), cwd=folder,
                                   env=wine.env({"WINEDEBUG": "-all,+relay"}),
                                   stdout=subprocess.DEVNULL, stderr=out)
        try:
            end_it()
            return process.wait(timeout=60)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()


@pytest.mark.parametrize("program", ["language_chooser", "update_client"])
def test_program_puts_the_previous_filter_back(quiet_crashes, tmp_path, program):
    """Each program, closed by the user (alt+F4); the update client finds no
    server (nothing listens on its port in this folder's run) and keeps its
    window open until then."""
    wine = quiet_crashes
    folder = product_folder(tmp_path / "product")
    trace = tmp_path / "relay.txt"
    title = "Select Language" if program == "language_chooser" else \
        re.escape(demo_chooser.update_title("English"))

    def close_window():
        window = wine.wait_window(title)
        wine.activate(window)
        wine.key("alt+F4")

    assert traced_run(wine, winerig.program(program), folder, trace, close_window) == 0
    check_previous_filter_restored(filter_calls(trace.read_text(encoding="latin-1")))
