"""The signing tool (tools/update_sign.cpp) run as a process: a key pair,
a signature and its check round trip, and every error is one line on
stderr with a non-zero exit code and nothing on stdout."""

from __future__ import annotations

import os
import re
import stat
import subprocess
from pathlib import Path

import pytest

TOOL = Path(os.environ["NATIVE_BUILD_DIR"]) / "tools" / "update_sign"
FIXTURES = Path(os.environ["SOURCE_DIR"]) / "tests" / "fixtures" / "signing"
HEX64 = re.compile(r"^[0-9a-f]{64}$")
HEX128 = re.compile(r"^[0-9a-f]{128}$")


def run(*args) -> subprocess.CompletedProcess:
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True,
                          timeout=60, check=False)


def ok(*args) -> str:
    done = run(*args)
    assert done.returncode == 0, done.stderr
    assert done.stderr == ""
    return done.stdout.strip()


def assert_error(done: subprocess.CompletedProcess, words: str) -> None:
    assert done.returncode == 1, (done.returncode, done.stdout, done.stderr)
    assert done.stdout == ""
    lines = done.stderr.splitlines()
    assert len(lines) == 1, lines
    assert lines[0].startswith("update_sign: ")
    assert words in lines[0], lines[0]


@pytest.fixture
def keys(tmp_path):
    secret = tmp_path / "maker.secret"
    public = ok("keygen", secret)
    return secret, public


@pytest.fixture
def installer(tmp_path):
    path = tmp_path / "setup.exe"
    path.write_bytes(bytes(range(256)) * 300)
    return path


def test_round_trip(tmp_path, keys, installer):
    secret, public = keys
    assert HEX64.match(public), public
    assert stat.S_IMODE(secret.stat().st_mode) == 0o600, "owner-only"
    assert HEX128.match(secret.read_text().strip())
    signature = ok("sign", secret, installer)
    assert HEX128.match(signature), signature
    assert ok("sign", secret, installer) == signature, "Ed25519 is deterministic"
    assert ok("verify", public, installer, signature) == ""
    assert ok("verify", public.upper(), installer, signature.upper()) == "", "either case"
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    assert ok("verify", public, empty, ok("sign", secret, empty)) == ""


def test_keygen_never_replaces_a_file(tmp_path, keys):
    secret, _ = keys
    before = secret.read_bytes()
    assert_error(run("keygen", secret), "exists")
    assert secret.read_bytes() == before
    assert_error(run("keygen", tmp_path / "no-such-folder" / "key"), "No such file")
    link = tmp_path / "link"
    link.symlink_to(tmp_path / "target")
    assert_error(run("keygen", link), str(link))
    assert not (tmp_path / "target").exists(), "a link is never followed"


def test_sign_errors(tmp_path, keys, installer):
    secret, public = keys
    text = secret.read_text().strip()
    other = FIXTURES / "other_test_key.secret"
    cases = {
        "missing key": (tmp_path / "none.secret", "No such file"),
        "key is a folder": (tmp_path, "not a regular file"),
        "malformed key": ("z" + text[1:] + "\n", "malformed"),
        "public key as secret": (public + "\n", "wrong length"),
        "one digit short": (text[:-1] + "\n", "wrong length"),
        "two lines": (text + "\n" + text + "\n", "malformed"),
        "halves of two keys": (text[:64] + other.read_text().strip()[64:] + "\n",
                               "does not match"),
    }
    for name, (key, words) in cases.items():
        if isinstance(key, str):
            path = tmp_path / "bad.secret"
            path.write_text(key)
            key = path
        assert_error(run("sign", key, installer), words)
    assert_error(run("sign", secret, tmp_path / "missing.exe"), "No such file")
    assert_error(run("sign", secret, tmp_path), "not a regular file")


def test_verify_refusals_and_errors(tmp_path, keys, installer):
    secret, public = keys
    signature = ok("sign", secret, installer)
    other_public = (FIXTURES / "other_test_key.public").read_text().strip()
    flipped = tmp_path / "flipped.exe"
    data = bytearray(installer.read_bytes())
    data[1000] ^= 1
    flipped.write_bytes(bytes(data))
    truncated = tmp_path / "truncated.exe"
    truncated.write_bytes(installer.read_bytes()[:-1])
    appended = tmp_path / "appended.exe"
    appended.write_bytes(installer.read_bytes() + b"\0")
    cases = [
        ("another key", other_public, installer, signature, "does not match"),
        ("byte flipped", public, flipped, signature, "does not match"),
        ("truncated", public, truncated, signature, "does not match"),
        ("appended", public, appended, signature, "does not match"),
        ("malformed key", "g" + public[1:], installer, signature, "malformed"),
        ("short key", public[:-2], installer, signature, "wrong length"),
        ("malformed signature", public, installer, "x" * 128, "malformed"),
        ("long signature", public, installer, signature + "00", "wrong length"),
        ("empty signature", public, installer, "", "wrong length"),
        ("missing file", public, tmp_path / "missing.exe", signature, "No such file"),
        ("folder", public, tmp_path, signature, "not a regular file"),
    ]
    for name, key, path, value, words in cases:
        assert_error(run("verify", key, path, value), words)


def test_usage():
    for args in [(), ("sign",), ("keygen", "a", "b"), ("frobnicate", "a")]:
        done = run(*args)
        assert done.returncode == 2, args
        assert done.stdout == ""
        assert done.stderr.startswith("usage: update_sign")
