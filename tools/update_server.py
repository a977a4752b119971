#!/usr/bin/env python3
"""The local update server of the tests and the demo.

Serves the two scripts of the update protocol and the files that their
replies offer, from a scenario file, on 127.0.0.1 only. Python's standard
library only.

    update_server.py --port PORT --scenario FILE --log FILE
                     [--port-file FILE] [--bind-wait SECONDS] [--hold SECONDS]
                     [--sign-key SECRET-FILE [--sign-tool PATH]]

--port 0 picks a free port. The port in use is printed as "port N" on the
first line of standard output and, with --port-file, written to that file
(made whole through a rename, so a reader never sees half of it). With a
fixed port that is taken, the server retries for --bind-wait seconds
(default 60) before it gives up, so runs that share the port take turns.

Every request is logged as one JSON line in the log file:
    {"method": "GET", "path": "/tessarin/update.php",
     "query": "version=1.2&os=windows", "target": "<path>?<query>",
     "time": 1700000000.123, "status": 200}
"query" is the raw text after the first "?" (no decoding), or null when the
target has no "?". "status" is what the server answered (null for faults
that send no status line).

The scenario file is JSON and is read again on every request, so a test can
change the offer between two requests (write a new file and rename it over
the old one):

    {"routes": {
        "/tessarin/version_module_update.php":
            {"settings": [["version", "1.00"], ["url", ""]]},
        "/tessarin/update.php":
            {"settings": {"update": "y", "url": "http://{host}/files/setup.exe",
                          "version": "5.2", "date": "12/03/2024"}},
        "/files/setup.exe": {"file": "standin.exe"}}}

A route is matched on the path alone (the query is ignored). What it sends:
    "body": text              the reply: code points 0 to 255 are the bytes of
                              those values, others Windows-1252
    "settings": {k: v} or [[k, v], ...]
                              key=value lines, each ended by "line_end"
                              ("\\r\\n" unless given)
    "file": path              a file's bytes (relative to the scenario's folder)
    "content_type": text      default "text/plain" ("application/octet-stream"
                              for files)
"{host}" and "{port}" in texts are replaced by "127.0.0.1:PORT" and PORT.
Signatures, for clients built with a public key: given --sign-key (a secret
key made by the signing tool, update_sign, which --sign-tool names; default
"update_sign" on PATH), a "settings" reply whose "url" names a "file" route
of this server gets one more line, "signature=" and that file's signature,
made by the tool. A route's "signature" changes that:
    "signature": "none"       no signature line
    "signature": "wrong"      a well-formed signature of other bytes (the
                              offered file with one byte more)
    "signature": {"file": path}
                              the signature of that file instead
    "signature": {"text": value}
                              the value as given (also without --sign-key)
Without --sign-key and without a "text" signature, replies are unchanged.
Faults, per route:
    "status": 404             answer with this status and a small error page
    "delay": seconds          wait before answering (a client that closes
                              the connection meanwhile gets nothing)
    "fault": "cut"            announce the whole length, send half, close
    "fault": "reset"          close the connection with a reset, no reply
    "fault": "silent"         close the connection without a reply
    "fault": "huge", "bytes": N
                              the reply followed by filler lines up to N bytes
    "encoding": "utf-16" | "utf-8-sig"
                              the reply text in a wrong encoding
  Faults of a hostile server or a broken proxy (the route's body or file is
  the reply they garble):
    "fault": "cut_close"      no length, half the body, close (no client can
                              tell this one from a whole reply)
    "fault": "chunked"        the body in chunks, correctly framed
    "fault": "chunked_cut"    chunks, cut inside one, close
    "fault": "chunked_bad"    a chunk size of "zz"
    "fault": "length_4g"      a Content-Length of 2^32 + the body's length,
                              the body, close
    "fault": "too_long"       a Content-Length of half the body, the whole body
    "fault": "no_status"      "500 Internal Server Error" and headers with no
                              "HTTP/1.x" status line, then the body
    "fault": "partial"        206 Partial Content with a Content-Range
    "fault": "silent_head"    reads the request, never answers
    "fault": "silent_body"    announces the length, sends half, then nothing
    "fault": "drip", "interval": seconds
                              announces the length, then one byte every
                              interval (default 1) seconds
    "fault": "redirects", "count": N
                              N redirects (302, the same path with "hop=k"),
                              then the reply
    "fault": "redirect_loop"  a 302 to the same target, for ever
    "fault": "endless"        200 without a length and filler for as long as
                              the client reads
  A silent or endless fault holds its connection until the client closes it
  (or for --hold seconds at most).
A path without a route gets 404.
"""

from __future__ import annotations

import argparse
import errno
import json
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import urlsplit

HOST = "127.0.0.1"


class Scenario:
    def __init__(self, path: Path | None):
        self.path = path

    def routes(self) -> dict:
        if self.path is None:
            return {}
        try:
            data = json.loads(self.path.read_text(encoding="utf-8"))
        except (OSError, ValueError):
            return {}
        return data.get("routes", {}) if isinstance(data, dict) else {}

    def folder(self) -> Path:
        return self.path.parent if self.path is not None else Path.cwd()


class RequestLog:
    def __init__(self, path: Path | None):
        self.path = path
        self.lock = threading.Lock()

    def write(self, entry: dict) -> None:
        if self.path is None:
            return
        line = json.dumps(entry) + "\n"
        with self.lock:
            with open(self.path, "a", encoding="utf-8") as log:
                log.write(line)
                log.flush()


def substitute(text: str, port: int) -> str:
    return text.replace("{host}", f"{HOST}:{port}").replace("{port}", str(port))


class Signer:
    """Signs offered files with the signing tool; a file's signature is kept
    while its size and modification time stay the same."""

    def __init__(self, key: Path | None, tool: str):
        self.key = key
        self.tool = tool
        self.lock = threading.Lock()
        self.cache: dict[tuple, str] = {}

    def sign(self, path: Path) -> str | None:
        if self.key is None:
            return None
        try:
            info = path.stat()
        except OSError:
            return None
        stamp = (str(path), info.st_size, info.st_mtime_ns)
        with self.lock:
            if stamp in self.cache:
                return self.cache[stamp]
        done = subprocess.run([self.tool, "sign", str(self.key), str(path)],
                              capture_output=True, text=True, check=False)
        if done.returncode != 0:
            sys.stderr.write(done.stderr)
            return None
        value = done.stdout.strip()
        with self.lock:
            self.cache[stamp] = value
        return value

    def sign_other_bytes(self, path: Path) -> str | None:
        try:
            data = path.read_bytes()
        except OSError:
            return None
        with tempfile.TemporaryDirectory() as folder:
            other = Path(folder) / "other"
            other.write_bytes(data + b"\0")
            return self.sign(other)


def route_file(route: dict, folder: Path) -> Path:
    path = Path(route["file"])
    return path if path.is_absolute() else folder / path


def signature_value(route: dict, pairs: list, server) -> str | None:
    """The signature line's value for a settings reply, or None for none."""
    wanted = route.get("signature", "auto")
    if isinstance(wanted, dict) and "text" in wanted:
        return str(wanted["text"])
    if wanted == "none" or server.signer.key is None:
        return None
    folder = server.scenario.folder()
    if isinstance(wanted, dict) and "file" in wanted:
        return server.signer.sign(route_file(wanted, folder))
    url = dict(pairs).get("url")
    offered = server.scenario.routes().get(urlsplit(str(url or "")).path)
    if not isinstance(offered, dict) or "file" not in offered:
        return None
    file_path = route_file(offered, folder)
    if wanted == "wrong":
        return server.signer.sign_other_bytes(file_path)
    return server.signer.sign(file_path)


def reply_text(route: dict, server) -> str:
    port = server.server_port
    if "settings" in route:
        settings = route["settings"]
        pairs = [(k, substitute(str(v), port))
                 for k, v in (settings.items() if isinstance(settings, dict) else settings)]
        signature = signature_value(route, pairs, server)
        if signature is not None:
            pairs.append(("signature", signature))
        line_end = route.get("line_end", "\r\n")
        return "".join(f"{k}={v}{line_end}" for k, v in pairs)
    return substitute(route.get("body", ""), port)


def encode(text: str, encoding: str | None) -> bytes:
    if encoding == "utf-16":
        return text.encode("utf-16")  # with a byte-order mark
    if encoding == "utf-8-sig":
        return text.encode("utf-8-sig")
    # Code points 0 to 255 stand for the byte of that value (so a scenario
    # can hold any byte as \u00XX); others go as Windows-1252.
    return b"".join(bytes([ord(c)]) if ord(c) < 256 else c.encode("cp1252", errors="replace")
                    for c in text)


HOSTILE = {"cut_close", "chunked", "chunked_cut", "chunked_bad", "length_4g", "too_long",
           "no_status", "partial", "silent_head", "silent_body", "drip", "redirects",
           "redirect_loop", "endless"}


class Handler(BaseHTTPRequestHandler):
    server_version = "UpdateServer/1.0"
    sys_version = ""
    protocol_version = "HTTP/1.0"

    def log_message(self, *args) -> None:  # quiet: the JSON log says it all
        pass

    def _log(self, status: int | None) -> None:
        target = self.path
        path, sep, query = target.partition("?")
        self.server.request_log.write({
            "method": self.command, "path": path, "query": query if sep else None,
            "target": target, "time": time.time(), "status": status,
        })

    def _send(self, status: int, body: bytes, content_type: str) -> None:
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-cache")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _error_page(self, status: int) -> None:
        page = (f"<html><body><h1>{status}</h1><p>error page of the update server</p>"
                f"</body></html>\n").encode("ascii")
        self._send(status, page, "text/html")

    def _reset(self) -> None:
        # SO_LINGER with a zero timeout: close() sends RST instead of FIN.
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.close_connection = True

    def _raw(self, data: bytes) -> bool:
        try:
            self.wfile.write(data)
            self.wfile.flush()
            return True
        except OSError:
            return False

    def _closed_within(self, seconds: float) -> bool:
        """Sends nothing for up to seconds; True when the client closed the
        connection meanwhile."""
        deadline = time.monotonic() + seconds
        try:
            while (left := deadline - time.monotonic()) > 0:
                self.connection.settimeout(min(0.5, left))
                try:
                    if not self.connection.recv(4096):
                        return True
                except socket.timeout:
                    continue
                except OSError:
                    return True
            return False
        finally:
            self.connection.settimeout(self.timeout)

    def _hold(self) -> None:
        """Sends nothing more until the client closes the connection."""
        self._closed_within(self.server.hold_seconds)

    def _head(self, status: str, headers: list[tuple[str, str]]) -> bytes:
        lines = [status] + [f"{k}: {v}" for k, v in headers]
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")

    def _hostile(self, fault: str, route: dict, body: bytes, content_type: str) -> None:
        self.close_connection = True
        plain = [("Content-Type", content_type), ("Connection", "close")]
        if fault == "redirects" or fault == "redirect_loop":
            path, _, query = self.path.partition("?")
            hop = 0
            for part in query.split("&"):
                if part.startswith("hop="):
                    hop = int(part[4:] or 0)
            if fault == "redirect_loop" or hop < int(route.get("count", 1)):
                location = self.path if fault == "redirect_loop" else f"{path}?hop={hop + 1}"
                self._log(302)
                self._raw(self._head("HTTP/1.1 302 Found",
                                     [("Location", location), ("Content-Length", "0")] + plain))
                return
            self._log(200)
            self._raw(self._head("HTTP/1.1 200 OK", [("Content-Length", str(len(body)))] + plain)
                      + body)
            return
        if fault == "silent_head":
            self._log(None)
            self._hold()
            return
        if fault == "no_status":
            self._log(None)
            self._raw(self._head("500 Internal Server Error",
                                 [("Content-Length", str(len(body)))] + plain) + body)
            return
        if fault == "partial":
            self._log(206)
            self._raw(self._head("HTTP/1.1 206 Partial Content", [
                ("Content-Range", f"bytes 0-{len(body) - 1}/{len(body) * 2}"),
                ("Content-Length", str(len(body)))] + plain) + body)
            return
        self._log(200)
        ok = "HTTP/1.1 200 OK"
        half = body[: len(body) // 2]
        if fault == "cut_close":
            self._raw(self._head(ok, plain) + half)
        elif fault in ("chunked", "chunked_cut", "chunked_bad"):
            chunks = [body[i:i + 1000] for i in range(0, len(body), 1000)]
            framed = b"".join(b"%x\r\n" % len(c) + c + b"\r\n" for c in chunks) + b"0\r\n\r\n"
            if fault == "chunked_cut":
                framed = framed[: max(1, len(framed) // 2)]
            elif fault == "chunked_bad":
                framed = b"zz\r\n" + framed
            self._raw(self._head(ok, [("Transfer-Encoding", "chunked")] + plain) + framed)
        elif fault == "length_4g":
            self._raw(self._head(ok, [("Content-Length", str(2**32 + len(body)))] + plain) + body)
        elif fault == "too_long":
            self._raw(self._head(ok, [("Content-Length", str(len(body) // 2))] + plain) + body)
        elif fault == "silent_body":
            if self._raw(self._head(ok, [("Content-Length", str(len(body)))] + plain) + half):
                self._hold()
        elif fault == "drip":
            interval = float(route.get("interval", 1))
            if not self._raw(self._head(ok, [("Content-Length", str(len(body)))] + plain)):
                return
            deadline = time.monotonic() + self.server.hold_seconds
            for i in range(len(body)):
                if time.monotonic() > deadline or not self._raw(body[i:i + 1]):
                    return
                time.sleep(interval)
        elif fault == "endless":
            if not self._raw(self._head(ok, plain) + body):
                return
            filler = b"; filler line of the endless reply\r\n" * 2048
            deadline = time.monotonic() + self.server.hold_seconds
            while time.monotonic() < deadline and self._raw(filler):
                pass

    def do_HEAD(self) -> None:
        self.do_GET()

    def do_GET(self) -> None:
        path = self.path.partition("?")[0]
        route = self.server.scenario.routes().get(path)
        if route is None:
            self._log(404)
            self._error_page(404)
            return
        delay = float(route.get("delay", 0) or 0)
        # A client that leaves during the delay is logged then, not when the
        # delay ends: by that time the log may belong to another scenario.
        if delay > 0 and self._closed_within(delay):
            self._log(None)
            self.close_connection = True
            return
        fault = route.get("fault")
        if fault in ("reset", "silent"):
            self._log(None)
            if fault == "reset":
                self._reset()
            self.close_connection = True
            return
        status = int(route.get("status", 200))
        if status != 200:
            self._log(status)
            self._error_page(status)
            return
        if "file" in route:
            file_path = route_file(route, self.server.scenario.folder())
            try:
                body = file_path.read_bytes()
            except OSError:
                self._log(404)
                self._error_page(404)
                return
            content_type = route.get("content_type", "application/octet-stream")
        else:
            body = encode(reply_text(route, self.server), route.get("encoding"))
            content_type = route.get("content_type", "text/plain")
        if fault in HOSTILE:
            self._hostile(fault, route, body, content_type)
            return
        self._log(200)
        if fault == "cut":
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(len(body) * 2 + 16))
            self.end_headers()
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self._reset()
            return
        if fault == "huge":
            total = max(int(route.get("bytes", 64 * 1024 * 1024)), len(body))
            self.send_response(200)
            self.send_header("Content-Type", content_type)
            self.send_header("Content-Length", str(total))
            self.end_headers()
            self.wfile.write(body)
            filler = b"; filler line of the huge reply\r\n" * 2048
            left = total - len(body)
            try:
                while left > 0:
                    chunk = filler[:left]
                    self.wfile.write(chunk)
                    left -= len(chunk)
            except OSError:
                pass
            return
        self._send(200, body, content_type)


def bind_server(port: int, wait: float) -> ThreadingHTTPServer:
    deadline = time.monotonic() + wait
    while True:
        try:
            return ThreadingHTTPServer((HOST, port), Handler)
        except OSError as error:
            if error.errno != errno.EADDRINUSE or port == 0 or time.monotonic() >= deadline:
                raise
            time.sleep(0.2)


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description="local update server (127.0.0.1)")
    parser.add_argument("--port", type=int, required=True, help="0 picks a free port")
    parser.add_argument("--scenario", type=Path, help="scenario file (JSON)")
    parser.add_argument("--log", type=Path, help="request log (JSON lines)")
    parser.add_argument("--port-file", type=Path, help="file that receives the port")
    parser.add_argument("--bind-wait", type=float, default=60.0,
                        help="seconds to wait for a fixed port that is taken")
    parser.add_argument("--hold", type=float, default=600.0,
                        help="longest a silent or endless fault holds its connection")
    parser.add_argument("--sign-key", type=Path,
                        help="secret key that signs the offered files (update_sign keygen)")
    parser.add_argument("--sign-tool", default="update_sign",
                        help="the signing tool (default: update_sign on PATH)")
    args = parser.parse_args(argv)

    ThreadingHTTPServer.daemon_threads = True
    server = bind_server(args.port, args.bind_wait)
    server.scenario = Scenario(args.scenario.resolve() if args.scenario else None)
    server.request_log = RequestLog(args.log)
    server.hold_seconds = args.hold
    server.signer = Signer(args.sign_key.resolve() if args.sign_key else None, args.sign_tool)
    port = server.server_port
    if args.port_file:
        partial = args.port_file.with_name(args.port_file.name + ".partial")
        partial.write_text(f"{port}\n")
        os.replace(partial, args.port_file)
    print(f"port {port}", flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
