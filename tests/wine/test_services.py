"""The Windows backend of the shared services under Wine.

services_win_test.exe (tests/win) checks what only Windows has (drive
names, sharing modes, hidden files, the command line, message boxes) itself;
the portable tables run as Windows programs of their own (win64.* in ctest).
This driver prepares its folder with the stand-in under the names of the
programs that the system starts, and checks what the stand-in recorded
about how run_program started it.
"""

import shutil
import time

import pytest

import winerig


def split_command_line(line: str) -> list[str]:
    """The programs' splitting rules: blanks separate, a leading quote runs
    to the next quote, tabs are ordinary characters."""
    items, i, n = [], 0, len(line)
    while True:
        while i < n and line[i] == " ":
            i += 1
        if i >= n:
            return items
        if line[i] == '"':
            end = line.find('"', i + 1)
            end = n if end < 0 else end
            items.append(line[i + 1:end])
            i = end + 1
        else:
            end = line.find(" ", i)
            end = n if end < 0 else end
            items.append(line[i:end])
            i = end


@pytest.fixture(scope="module")
def programs():
    return {
        "test": winerig.program("services_win_test", "win64"),
        "standin": winerig.program("standin", "win64"),
    }


def test_services_on_real_files(wine, programs, tmp_path):
    (tmp_path / "app").mkdir()
    winerig.copy_standin(tmp_path / "app", ["vantrel.exe", "traducteur.exe"])
    winerig.copy_standin(tmp_path, ["tessarin.exe"])
    shutil.copy2(programs["test"], tmp_path / "services_win_test.exe")
    log = tmp_path / "standin.log"

    result = wine.run(tmp_path / "services_win_test.exe", ["run"], cwd=tmp_path, timeout=180,
                      env={"STANDIN_LOG": winerig.windows_path(log)})
    print(result.stdout)
    failed = [line for line in result.lines if line.startswith("FAIL")]
    assert result.returncode == 0 and not failed, result.stdout + result.stderr
    assert result.lines and result.lines[-1] == "0 failed", result.stdout

    # The last program was started without waiting: give it time to record.
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline and len(winerig.read_json_lines(log)) < 5:
        time.sleep(0.2)
    records = winerig.read_json_lines(log)

    folder = winerig.windows_path(tmp_path)
    expected = [
        # program, working folder, parameters after the program's own name
        ("vantrel.exe", folder + "\\app", ["auto", "two words"]),
        ("vantrel.exe", folder + "\\other", []),
        ("tessarin.exe", folder, []),
        ("tessarin.exe", folder, ["waited"]),
        ("traducteur.exe", folder + "\\app", []),
    ]
    seen = []
    for record in records:
        items = split_command_line(record["command_line"])
        assert items and items[0].lower().endswith(record["program"].lower()), record
        seen.append((record["program"], record["folder"], items[1:]))
    assert seen == expected, records

