"""The pack reader and the definitions version probe on the Windows backend.

updater_pack_win_test.exe (tests/win) reads pack files that the native pack
writer made from known contents, and runs the probe with "Temp" set to a
folder of the test; this driver checks the entries' sizes and hashes, the
values read, and that no temporary copy is left behind.
"""

import random
import shutil
import subprocess

import pytest

import winerig

INFO = b"version_definition = 2005.10.12\r\ndate = 12/10/2005\r\n"


def fnv1a(data: bytes) -> str:
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return f"{h:08x}"


@pytest.fixture(scope="module")
def programs():
    return {
        "test": winerig.program("updater_pack_win_test", "win64"),
        "writer": winerig.program("pack_writer", "native"),
    }


def write_pack(programs, folder, path, entries):
    """entries: (bytes, compressed) pairs, written as files and packed."""
    args = [str(programs["writer"]), str(path)]
    for i, (data, compressed) in enumerate(entries):
        source = folder / f"entry{i}.bin"
        source.write_bytes(data)
        args += ["--compressed" if compressed else "--plain", str(source)]
    subprocess.run(args, check=True, capture_output=True)
    for i in range(len(entries)):
        (folder / f"entry{i}.bin").unlink()


def test_reader_returns_what_the_writer_stored(wine, programs, tmp_path):
    rng = random.Random(7)
    noise = bytes(rng.getrandbits(8) for _ in range(200_000))
    text = b"".join(rng.choice([b"filtre ", b"courrier ", b"r\xe8gle ", b"\r\n"])
                    for _ in range(50_000))
    entries = [(INFO, True), (INFO, False), (noise, True), (text, True), (b"", True),
               (b"JC" + noise[:100], False)]
    write_pack(programs, tmp_path, tmp_path / "eas", entries)
    shutil.copy2(programs["test"], tmp_path / "t.exe")
    result = wine.run(tmp_path / "t.exe", ["read", "eas"], cwd=tmp_path, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    expected = [f"entry {len(data)} {fnv1a(data)}" for data, _ in entries] + ["end -1"]
    assert result.lines == expected


def run_probe(wine, programs, folder, temp):
    shutil.copy2(programs["test"], folder / "t.exe")
    result = wine.run(folder / "t.exe", ["probe", temp], cwd=folder, timeout=120)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.lines


@pytest.mark.parametrize("compressed", [False, True])
def test_probe_reads_the_first_entry(wine, programs, tmp_path, compressed):
    temp = tmp_path / "temp"
    temp.mkdir()
    write_pack(programs, tmp_path, tmp_path / "eas", [(INFO, compressed), (b"date = no\r\n", True)])
    lines = run_probe(wine, programs, tmp_path, winerig.windows_path(temp))
    assert lines == ["version [2005.10.12]", "date [12/10/2005]"]
    assert list(temp.iterdir()) == []


def test_probe_without_definitions_leaves_other_files_alone(wine, programs, tmp_path):
    temp = tmp_path / "temp"
    temp.mkdir()
    (temp / "DEF000056").write_bytes(b"not ours")
    (tmp_path / "DEF000056").write_bytes(b"not ours either")
    lines = run_probe(wine, programs, tmp_path, winerig.windows_path(temp))
    assert lines == ["version []", "date []"]
    assert (temp / "DEF000056").read_bytes() == b"not ours"
    assert (tmp_path / "DEF000056").read_bytes() == b"not ours either"


@pytest.mark.parametrize("temp_name", ["missing", "-"])
def test_probe_with_a_temp_that_names_no_folder(wine, programs, tmp_path, temp_name):
    write_pack(programs, tmp_path, tmp_path / "eas", [(INFO, True)])
    temp = "-" if temp_name == "-" else winerig.windows_path(tmp_path / temp_name)
    lines = run_probe(wine, programs, tmp_path, temp)
    assert lines == ["version []", "date []"]
    assert not (tmp_path / "DEF000056").exists()
    assert not (tmp_path / temp_name).exists()
