"""`./run release` run for real: the two 32-bit programs built for a named
host, Authenticode-signed with a throwaway certificate, and gathered with
their facts into a release folder; and every refusal, which must come
before the build and leave no release folder behind.

The builds share one build root (RELEASE_WORK), so after the first release
the later ones only reconfigure and relink what their settings change.
Nothing here uses the network: no timestamp server is ever named but a
socket of the test's own on loopback.
"""

from __future__ import annotations

import hashlib
import os
import re
import select
import signal
import socket
import stat
import subprocess
import threading
from dataclasses import dataclass
from pathlib import Path

import pytest

SOURCE_DIR = Path(os.environ.get("SOURCE_DIR") or Path(__file__).resolve().parents[2])
WORK = Path(os.environ.get("RELEASE_WORK") or SOURCE_DIR / "build" / "release-work")
RUN = SOURCE_DIR / "run"
PROGRAMS = ["update_client.exe", "language_chooser.exe"]
FACTS = "release-facts.txt"
HOST = "updates.example.com:8080"
UPDATE_KEY = "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c"
COMPANY = "Maker & Sons, Ltd."
PLACEHOLDER_COMPANY = "Company name"
PASSWORD = "correct horse battery"
# What a release may import: only DLLs that Windows protects as known DLLs,
# so that none is loaded from the product's folder (advapi32 comes with the
# update key's signature check).
KNOWN_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
              "msvcrt.dll", "advapi32.dll"}
# A release build takes minutes on a loaded two-core machine.
BUILD_TIMEOUT = 1500


def run_release(*args, build_root: Path, cwd: Path, timeout: float = BUILD_TIMEOUT):
    env = dict(os.environ, BUILD_ROOT=str(build_root))
    env.pop("UPDATE_SERVER_HOST", None)
    # In a session of its own, so that a run past its deadline ends with
    # its build (the group of the process started here), not only its shell.
    proc = subprocess.Popen([str(RUN), "release", *map(str, args)], cwd=cwd, env=env,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            start_new_session=True)
    try:
        stdout, stderr = proc.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.communicate()
        raise
    return subprocess.CompletedProcess(proc.args, proc.returncode, stdout, stderr)


def openssl(*args, cwd: Path) -> None:
    subprocess.run(["openssl", *map(str, args)], cwd=cwd, check=True, capture_output=True)


@dataclass
class Credentials:
    folder: Path
    cert: Path          # self-signed code-signing certificate, its own CA
    key: Path           # its private key, unencrypted PEM
    key_encrypted: Path  # the same key, PEM encrypted with PASSWORD
    pkcs12: Path        # certificate and key, PKCS#12 with PASSWORD
    password: Path
    wrong_password: Path
    other_cert: Path    # an unrelated certificate, and its key
    other_key: Path


def make_certificate(folder: Path, name: str, subject: str) -> tuple[Path, Path]:
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "3",
            "-keyout", f"{name}.key", "-out", f"{name}.pem", "-subj", subject,
            "-addext", "extendedKeyUsage=codeSigning", cwd=folder)
    return folder / f"{name}.pem", folder / f"{name}.key"


def secret_file(path: Path, text: str) -> Path:
    path.write_text(text)
    path.chmod(0o600)
    return path


@pytest.fixture(scope="module")
def creds(tmp_path_factory) -> Credentials:
    folder = tmp_path_factory.mktemp("credentials")
    cert, key = make_certificate(folder, "maker", "/CN=Test Maker/O=Release Tests")
    other_cert, other_key = make_certificate(folder, "other", "/CN=Someone Else")
    password = secret_file(folder / "password.txt", PASSWORD + "\n")
    wrong = secret_file(folder / "wrong-password.txt", "horse battery staple\n")
    openssl("pkcs12", "-export", "-in", cert, "-inkey", key, "-out", "maker.p12",
            "-passout", f"file:{password}", cwd=folder)
    openssl("pkey", "-in", key, "-aes256", "-passout", f"file:{password}",
            "-out", "maker-encrypted.key", cwd=folder)
    for path in folder.iterdir():
        path.chmod(0o600)
    return Credentials(folder, cert, key, folder / "maker-encrypted.key", folder / "maker.p12",
                       password, wrong, other_cert, other_key)


# Reading the results back -------------------------------------------------

def sha256(path: Path) -> str:
    return hashlib.sha256(path.read_bytes()).hexdigest()


def verify(exe: Path, ca: Path) -> subprocess.CompletedProcess:
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(exe)],
                          capture_output=True, text=True, check=False, timeout=120)


def version_values(exe: Path) -> dict[str, str]:
    text = subprocess.run(["i686-w64-mingw32-windres", "-i", str(exe), "-O", "rc"], check=True,
                          capture_output=True, text=True, encoding="latin-1").stdout
    return dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', text))


def imported_dlls(exe: Path) -> list[str]:
    out = subprocess.run(["i686-w64-mingw32-objdump", "-p", str(exe)], check=True,
                         capture_output=True, text=True).stdout
    return [m.group(1).lower() for m in re.finditer(r"DLL Name:\s*(\S+)", out)]


def parse_facts(text: str) -> tuple[dict[str, str], dict[str, dict[str, str]]]:
    """The release-wide lines, and per program its indented lines."""
    head, programs, current = {}, {}, None
    for line in text.splitlines():
        if not line.strip():
            continue
        if line.startswith("  "):
            name, value = line.strip().split(": ", 1)
            programs[current][name] = value
        elif line.endswith(".exe"):
            current = line
            programs[current] = {}
        elif ": " in line:
            name, value = line.split(": ", 1)
            head[name] = value
    return head, programs


def leftovers(out: Path) -> list[str]:
    """The temporary folders of a release beside its folder."""
    return sorted(p.name for p in out.parent.iterdir() if p.name.startswith(f".{out.name}."))


def check_release(done, out: Path, creds: Credentials, *, host: str, update_key: str | None,
                  company: str, signed: bool) -> dict[str, dict[str, str]]:
    """Everything a release promises, checked against the files themselves."""
    assert done.returncode == 0, done.stdout[-3000:] + done.stderr[-3000:]
    assert sorted(p.name for p in out.iterdir()) == sorted(PROGRAMS + [FACTS])
    assert leftovers(out) == []
    facts_text = (out / FACTS).read_text()
    # The same facts are printed.
    assert facts_text in done.stdout
    head, programs = parse_facts(facts_text)
    assert head["update server host"] == host
    if update_key:
        assert head["update signing public key"] == update_key
    else:
        assert head["update signing public key"].startswith("none")
    assert sorted(programs) == sorted(PROGRAMS)
    for name in PROGRAMS:
        exe, facts = out / name, programs[name]
        assert facts["size"] == f"{exe.stat().st_size} bytes", name
        assert facts["sha256"] == sha256(exe), name
        assert facts["file version"] == "1.00", name
        assert facts["imports"].split() == imported_dlls(exe), name
        assert set(imported_dlls(exe)) <= KNOWN_DLLS, name
        values = version_values(exe)
        assert values["FileVersion"] == values["ProductVersion"] == "1.00", name
        assert values["CompanyName"] == company, name
        assert facts["company"] == company, name
        checked = verify(exe, creds.cert)
        if signed:
            assert checked.returncode == 0, checked.stdout + checked.stderr
            assert "Signature verification: ok" in checked.stdout
            assert "Subject: /CN=Test Maker/O=Release Tests" in checked.stdout, checked.stdout
            # Trusting another certificate must not do: the signature is
            # really the given certificate's.
            assert verify(exe, creds.other_cert).returncode != 0, name
        else:
            assert checked.returncode != 0 and "Unable to extract existing signature" in (
                checked.stdout + checked.stderr), checked.stdout + checked.stderr
    if signed:
        assert head["Authenticode signer"] == "/CN=Test Maker/O=Release Tests", head
    else:
        assert head["Authenticode"] == "not signed", head
    # What the client is built for is in the client itself, not only in the
    # facts: no earlier build's host or key is left over.
    client = (out / "update_client.exe").read_bytes()
    assert host.encode() in client
    assert (UPDATE_KEY.encode() in client) == bool(update_key)
    return programs


# One build root for the real releases, kept between runs so that a later
# run of the suite only relinks.
@pytest.fixture(scope="module")
def build_root() -> Path:
    root = WORK / "build-root"
    root.mkdir(parents=True, exist_ok=True)
    return root


@pytest.fixture(scope="module")
def outputs(tmp_path_factory) -> Path:
    return tmp_path_factory.mktemp("releases")


@pytest.fixture(scope="module")
def first_release(creds, build_root, outputs):
    """PKCS#12 with a password, the update key and a company: everything
    given. File options are relative to where the command is given."""
    out = outputs / "signed-p12"
    done = run_release("--host", HOST, "--update-key", UPDATE_KEY, "--company", COMPANY,
                       "--pkcs12", creds.pkcs12.name, "--password-file", creds.password.name,
                       "--ca-file", creds.cert.name, "--out", out,
                       build_root=build_root, cwd=creds.folder)
    programs = check_release(done, out, creds, host=HOST, update_key=UPDATE_KEY,
                             company=COMPANY, signed=True)
    return out, programs, done


def test_release_signed_with_pkcs12(first_release):
    out, programs, done = first_release
    for name in PROGRAMS:
        print(f"{name}: {programs[name]['size']} with the update key compiled in")
    assert "warning" not in done.stderr, done.stderr


def test_release_with_pem_key_and_no_update_key(creds, first_release, build_root, outputs):
    # The same build folder after a release with a key and a company: none
    # of them may remain, and the encrypted PEM key opens with its password.
    out = outputs / "signed-pem"
    host = "[2001:db8::7]:8443"
    done = run_release("--host", host, "--cert", creds.cert, "--cert-key", creds.key_encrypted,
                       "--password-file", creds.password, "--ca-file", creds.cert,
                       "--out", out, build_root=build_root, cwd=outputs)
    check_release(done, out, creds, host=host, update_key=None, company=PLACEHOLDER_COMPANY,
                  signed=True)
    assert HOST.encode() not in (out / "update_client.exe").read_bytes()


def test_unsigned_release_replaces_an_earlier_one(creds, first_release, build_root, outputs):
    out = outputs / "replaced"
    done = run_release("--host", "updates.example.org", "--cert", creds.cert, "--cert-key",
                       creds.key, "--ca-file", creds.cert, "--out", out,
                       build_root=build_root, cwd=outputs)
    check_release(done, out, creds, host="updates.example.org", update_key=None,
                  company=PLACEHOLDER_COMPANY, signed=True)
    done = run_release("--host", "updates.example.org", "--company", COMPANY, "--out", out,
                       build_root=build_root, cwd=outputs)
    check_release(done, out, creds, host="updates.example.org", update_key=None,
                  company=COMPANY, signed=False)


class ClosingServer:
    """A loopback socket that takes connections and closes them at once:
    where a timestamp server is expected, a signing step that fails. It
    counts the connections, including those still waiting when it stops."""

    def __init__(self):
        self.sock = socket.create_server(("127.0.0.1", 0))
        self.sock.setblocking(False)
        self.port = self.sock.getsockname()[1]
        self.connections = 0
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _take_waiting(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except BlockingIOError:
                return
            self.connections += 1
            conn.close()

    def _serve(self):
        while not self.stopping.is_set():
            ready, _, _ = select.select([self.sock], [], [], 0.1)
            if ready:
                self._take_waiting()
        self._take_waiting()

    def close(self) -> int:
        self.stopping.set()
        self.thread.join()
        self.sock.close()
        return self.connections


@pytest.mark.parametrize("case", ["untrusted", "signing fails"])
def test_failure_after_the_build_keeps_the_earlier_release(creds, first_release, build_root,
                                                           case):
    out, _, _ = first_release
    before = {p.name: sha256(p) for p in out.iterdir()}
    args = ["--host", HOST, "--update-key", UPDATE_KEY, "--company", COMPANY,
            "--pkcs12", creds.pkcs12, "--password-file", creds.password, "--out", out]
    server = None
    if case == "untrusted":
        # Signed, but verified against a certificate that did not sign.
        done = run_release(*args, "--ca-file", creds.other_cert,
                           build_root=build_root, cwd=creds.folder)
        message = "the signed update_client.exe does not verify against --ca-file"
    else:
        server = ClosingServer()
        try:
            done = run_release(*args, "--ca-file", creds.cert, "--timestamp",
                               f"http://127.0.0.1:{server.port}/", build_root=build_root,
                               cwd=creds.folder)
        finally:
            connections = server.close()
        message = "signing update_client.exe failed"
    assert done.returncode != 0, done.stdout[-2000:]
    assert message in done.stderr, done.stderr
    if server:
        # The first program's signing asked for its timestamp once, failed,
        # and the second was never signed.
        assert connections == 1
    assert {p.name: sha256(p) for p in out.iterdir()} == before
    assert leftovers(out) == []


# Refusals -------------------------------------------------------------------

LOOPBACK = "is this machine (loopback)"
BAD_KEY = "--update-key must be the update signing public key, 64 hexadecimal digits"

# Each row: the arguments (with {p12}, {cert}, ... standing for the
# credentials' files), and words of the one error message.
REFUSED = [
    ([], "--host is required"),
    (["--host", ""], "--host is required"),
    (["--host"], "--host needs a value"),
    (["--host", "127.0.0.1:8631"], LOOPBACK),
    (["--host", "127.0.0.1"], LOOPBACK),
    (["--host", "127.200.3.4:80"], LOOPBACK),
    (["--host", "127.1"], LOOPBACK),
    (["--host", "2130706433"], LOOPBACK),
    (["--host", "0x7f000001"], LOOPBACK),
    (["--host", "0177.0.0.1"], LOOPBACK),
    (["--host", "0.0.0.0:8631"], LOOPBACK),
    (["--host", "localhost"], LOOPBACK),
    (["--host", "LocalHost:8631"], LOOPBACK),
    (["--host", "localhost."], LOOPBACK),
    (["--host", "updates.localhost"], LOOPBACK),
    (["--host", "[::1]"], LOOPBACK),
    (["--host", "[::1]:8631"], LOOPBACK),
    (["--host", "[0:0:0:0:0:0:0:1]"], LOOPBACK),
    (["--host", "[::]"], LOOPBACK),
    (["--host", "[::ffff:127.0.0.1]:80"], LOOPBACK),
    (["--host", "::1"], "an IPv6 address goes in brackets"),
    (["--host", "2001:db8::1"], "an IPv6 address goes in brackets"),
    (["--host", "[2001:db8::1::2]"], "not an IPv6 address"),
    (["--host", "http://updates.example.com"], "without a scheme"),
    (["--host", "updates.example.com/tessarin"], "without a path"),
    (["--host", 'updates"example.com'], "may hold only letters"),
    (["--host", "updates.example.com:0"], "the port must be 1 to 65535"),
    (["--host", "updates.example.com:65536"], "the port must be 1 to 65535"),
    (["--host", "updates.example.com:"], "not HOST[:PORT]"),
    (["--host", "updates..example.com"], "is not a host name label"),
    (["--host", "-updates.example.com"], "is not a host name label"),
    (["--host", "256.1.1.1"], "not an IPv4 address"),
    (["--host", "1.2.3.4.5"], "not an IPv4 address"),
    (["--host", "updates.example.com", "--update-key", ""], BAD_KEY),
    (["--host", "updates.example.com", "--update-key", UPDATE_KEY[:63]], BAD_KEY),
    (["--host", "updates.example.com", "--update-key", UPDATE_KEY + "0"], BAD_KEY),
    (["--host", "updates.example.com", "--update-key", "g" + UPDATE_KEY[1:]], BAD_KEY),
    (["--host", "updates.example.com", "--update-key", UPDATE_KEY[:-1] + " "], BAD_KEY),
    (["--host", "updates.example.com", "--company", 'Maker "Best" Ltd'],
     "may hold neither quotes nor backslashes"),
    (["--host", "updates.example.com", "--company", "Maker\\Ltd"],
     "may hold neither quotes nor backslashes"),
    (["--host", "updates.example.com", "--company", "Soci\u00e9t\u00e9"],
     "printable ASCII characters only"),
    (["--host", "updates.example.com", "--cert", "{missing}", "--cert-key", "{key}"],
     "--cert: no such file"),
    (["--host", "updates.example.com", "--cert", "{cert}", "--cert-key", "{missing}"],
     "--cert-key: no such file"),
    (["--host", "updates.example.com", "--pkcs12", "{missing}"], "--pkcs12: no such file"),
    (["--host", "updates.example.com", "--pkcs12", "{p12}", "--password-file", "{missing}"],
     "--password-file: no such file"),
    (["--host", "updates.example.com", "--pkcs12", "{folder}"], "--pkcs12: not a readable file"),
    (["--host", "updates.example.com", "--pkcs12", "{p12}", "--password-file", "{wrong}"],
     "cannot open --pkcs12"),
    (["--host", "updates.example.com", "--pkcs12", "{p12}"], "wrong password"),
    (["--host", "updates.example.com", "--pkcs12", "{cert}", "--password-file", "{password}"],
     "not a PKCS#12 file"),
    (["--host", "updates.example.com", "--cert", "{cert}", "--cert-key", "{encrypted}",
      "--password-file", "{wrong}"], "cannot read --cert-key"),
    (["--host", "updates.example.com", "--cert", "{cert}", "--cert-key", "{encrypted}"],
     "wrong or missing password"),
    (["--host", "updates.example.com", "--cert", "{cert}", "--cert-key", "{other_key}"],
     "is not the private key of the certificate"),
    (["--host", "updates.example.com", "--cert", "{key}", "--cert-key", "{key}"],
     "holds no PEM certificate"),
    (["--host", "updates.example.com", "--cert", "{cert}"], "--cert needs --cert-key"),
    (["--host", "updates.example.com", "--cert-key", "{key}"], "--cert-key needs --cert"),
    (["--host", "updates.example.com", "--pkcs12", "{p12}", "--cert", "{cert}",
      "--cert-key", "{key}"], "either --pkcs12, or --cert with --cert-key, not both"),
    (["--host", "updates.example.com", "--password-file", "{password}"],
     "neither is given"),
    (["--host", "updates.example.com", "--timestamp", "http://127.0.0.1:9/"],
     "no certificate is given"),
    (["--host", "updates.example.com", "--pkcs12", "{p12}", "--password-file", "{password}",
      "--timestamp", "ftp://timestamps.example.com"], "an http:// or https:// URL"),
    (["--host", "updates.example.com", "--out", "{occupied}"],
     "holds other files than an earlier release ('notes.txt')"),
    # A folder under a program's name is not an earlier release's program.
    (["--host", "updates.example.com", "--out", "{shadowed}"],
     "holds other files than an earlier release ('update_client.exe')"),
    (["--host", "updates.example.com", "--out", "{password}"], "exists and is not a folder"),
    (["--host", "updates.example.com", "--key", UPDATE_KEY], "unknown option '--key'"),
]


@pytest.fixture(scope="module")
def refusal_root(tmp_path_factory) -> Path:
    return tmp_path_factory.mktemp("refusals")


def fill(args: list[str], creds: Credentials, scratch: Path) -> list[str]:
    names = {"p12": creds.pkcs12, "cert": creds.cert, "key": creds.key,
             "encrypted": creds.key_encrypted, "other_key": creds.other_key,
             "password": creds.password, "wrong": creds.wrong_password,
             "missing": creds.folder / "no-such-file.pem", "folder": creds.folder,
             "occupied": scratch / "occupied", "shadowed": scratch / "shadowed"}
    return [a.format(**{k: str(v) for k, v in names.items()}) for a in args]


@pytest.mark.parametrize("args,words", REFUSED, ids=[" ".join(r[0]) or "nothing" for r in REFUSED])
def test_refused_before_the_build(creds, refusal_root, tmp_path, args, words):
    occupied = tmp_path / "occupied"
    occupied.mkdir()
    (occupied / "notes.txt").write_text("the maker's own notes\n")
    shadowed = tmp_path / "shadowed" / "update_client.exe"
    shadowed.mkdir(parents=True)
    (shadowed / "notes.txt").write_text("kept\n")
    out = tmp_path / "release"
    full = fill(args, creds, tmp_path)
    if "--out" not in full:
        full = ["--out", str(out)] + full
    done = run_release(*full, build_root=refusal_root, cwd=tmp_path, timeout=120)
    assert done.returncode != 0
    errors = [line for line in done.stderr.splitlines() if "error" in line]
    assert len(errors) == 1 and errors[0].startswith("release: error: "), done.stderr
    assert words in errors[0], errors[0]
    assert not out.exists()
    assert [p.name for p in occupied.iterdir()] == ["notes.txt"]
    assert (shadowed / "notes.txt").read_text() == "kept\n"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["occupied", "shadowed"]
    # Refused before any build started: no build folder was made.
    assert not (refusal_root / "release").exists()


# Hosts that are not the releasing machine pass the host check: each run
# stops at the next check (a missing certificate) instead.
@pytest.mark.parametrize("host", [
    "updates.example.com", "UPDATES.Example.com:80", "updates.example.com.", "10.0.0.5:8631",
    "128.0.0.1", "localhost.example.com", "127example.com", "0x7f.example.com",
    "[2001:db8::1]", "[2001:db8::1]:8080", "[::ffff:192.0.2.7]", "[::2]", "xn--bcher-kva.example",
])
def test_hosts_of_other_machines_are_accepted(creds, refusal_root, tmp_path, host):
    done = run_release("--host", host, "--cert", creds.folder / "no-such-file.pem",
                       "--cert-key", creds.key, "--out", tmp_path / "release",
                       build_root=refusal_root, cwd=tmp_path, timeout=120)
    assert done.returncode != 0
    assert "--cert: no such file" in done.stderr, done.stderr


def test_help_names_every_option():
    done = run_release("--help", build_root=WORK, cwd=SOURCE_DIR, timeout=60)
    assert done.returncode == 0, done.stderr
    for option in ["--host", "--update-key", "--company", "--out", "--pkcs12", "--cert",
                   "--cert-key", "--password-file", "--timestamp", "--ca-file"]:
        assert re.search(rf"^\s+{re.escape(option)}\b", done.stdout, re.M), option
    readme = (SOURCE_DIR / "README.md").read_text()
    for option in ["--host", "--update-key", "--company", "--out", "--pkcs12", "--cert",
                   "--cert-key", "--password-file", "--timestamp", "--ca-file"]:
        assert f"`{option}" in readme, f"README: {option}"


def test_secret_files_readable_by_others_are_named(creds, refusal_root, tmp_path):
    # The warning comes with the checks, before anything is built: here the
    # run then stops at its missing certificate.
    shared = tmp_path / "shared-password.txt"
    shared.write_text(PASSWORD + "\n")
    shared.chmod(0o644)
    done = run_release("--host", "updates.example.com", "--pkcs12", creds.pkcs12,
                       "--password-file", shared, "--ca-file", creds.folder / "missing.pem",
                       build_root=refusal_root, cwd=tmp_path, timeout=120)
    assert done.returncode != 0
    assert re.search(r"warning: --password-file '.*shared-password.txt' can be read by other "
                     r"users \(mode 644\)", done.stderr), done.stderr
    assert "warning: --pkcs12" not in done.stderr
    assert stat.S_IMODE(creds.pkcs12.stat().st_mode) == 0o600
