"""update_client.exe built with the tests' public key (the 64-bit build's
test_key/update_client.exe) under Wine, against the local update server
signing its offers with the tests' secret key through the native signing
tool: a signed program is started, a tampered one is refused like a failed
download, and a click retries.

Shares the update client module's server address: ctest runs each in a
network namespace of its own (own_network.py), or lets them take turns
where the machine has none (RESOURCE_LOCK).
"""

from __future__ import annotations

import shutil

import pytest

import winerig
# The update client module's fixtures come along with its helpers:
# drawn_frames and stop_leftover_clients (autouse), and offered (a clean log
# and offer of the server below).
from test_update_client import (ENTRY, HOST, MODULE, UPDATE, Server,  # noqa: F401
                                assert_started_once_here, drawn_frames, file_requests, lay_out,
                                module_reply, module_request, offered, standin_bytes,
                                stop_leftover_clients, update_reply, update_request, Client)

SIGNING = winerig.SOURCE_DIR / "tests" / "fixtures" / "signing"
FILE_URL = f"http://{HOST}/files/setup.exe"


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    s = Server(tmp_path_factory.mktemp("server"),
               options=["--sign-key", str(SIGNING / "test_key.secret"),
                        "--sign-tool", str(winerig.program("update_sign", "native"))]).start()
    try:
        yield s
    finally:
        s.stop()


@pytest.fixture(autouse=True)
def signed_client(monkeypatch):
    """Client runs the build with the test key."""
    signed = winerig.build_dir("win64") / "test_key" / "update_client.exe"
    assert signed.is_file(), f"{signed} not built"
    program = winerig.program
    monkeypatch.setattr(winerig, "program",
                        lambda name, build="win64":
                        signed if (name, build) == ("update_client", "win64")
                        else program(name, build))


def offer(server: Server, served, signed) -> None:
    """Offers the file served, with the signature of the file signed."""
    server.offer({MODULE: module_reply(),
                  UPDATE: update_reply("y", FILE_URL, signature={"file": str(signed)}),
                  "/files/setup.exe": {"file": str(served)}})


def test_signed_update_is_started_after_a_click(wine, offered, workdir, screenshot):
    lay_out(workdir)
    shutil.copy2(winerig.program("standin"), workdir / "offered.exe")
    offer(offered, workdir / "offered.exe", workdir / "offered.exe")
    client = Client(wine, workdir)
    client.wait(lambda s: client.control(s, 3)["enabled"], what="button enabled")
    client.wait_resting()
    assert offered.requests() == [module_request(), update_request()]
    client.click_control(3)
    assert client.exit_code() == 0
    assert file_requests(offered) == 1
    assert (workdir / "vantrel.exe").read_bytes() == standin_bytes()
    assert_started_once_here(client)


def test_tampered_update_is_refused_and_a_click_retries(wine, offered, workdir, screenshot):
    lay_out(workdir)
    files = workdir / "files"
    files.mkdir()
    program = standin_bytes()
    (files / "offered.exe").write_bytes(program)
    tampered = bytearray(program)
    tampered[len(tampered) // 2] ^= 1
    (files / "tampered.exe").write_bytes(bytes(tampered))
    offer(offered, files / "tampered.exe", files / "offered.exe")
    client = Client(wine, workdir, ["auto"])
    winerig.wait_until(lambda: file_requests(offered), lambda n: n == 1,
                       "the download without a click", alive=client.process)
    state = client.wait(lambda s: client.status(s) == ENTRY[13]
                        and client.control(s, 3)["enabled"], what="refusal shown")
    screenshot("refused")
    assert state["window"]["visible"]
    assert client.process.poll() is None, "a refused download does not end auto mode"
    assert sorted(p.name for p in workdir.iterdir()) == ["eas", "files", "langue.ini"], \
        "no vantrel.exe, nothing of the download left"
    assert client.starts() == []
    assert file_requests(offered) == 1
    offer(offered, files / "offered.exe", files / "offered.exe")
    client.click_control(3, state)
    assert client.exit_code() == 0
    assert file_requests(offered) == 2, "the click fetched it again"
    assert (workdir / "vantrel.exe").read_bytes() == program
    assert_started_once_here(client)
