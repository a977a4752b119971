"""Runs a command in a network namespace of its own, whose loopback is up.

update_client.exe talks to the server address compiled into it, so two test
processes that each serve that address would take each other's requests.
Each in a namespace of its own has a loopback of its own, and they can run
at once. Needs CAP_SYS_ADMIN (root here); `--check` says whether it works,
for the build to decide whether these tests run at once or take turns.

    own_network.py --check
    own_network.py COMMAND [ARG...]
"""

from __future__ import annotations

import ctypes
import fcntl
import os
import socket
import struct
import sys

CLONE_NEWNET = 0x40000000
SIOCGIFFLAGS = 0x8913
SIOCSIFFLAGS = 0x8914
IFF_UP = 0x1


def enter_own_network() -> None:
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        error = ctypes.get_errno()
        raise OSError(error, "unshare(CLONE_NEWNET): " + os.strerror(error))
    # A new namespace's loopback starts down.
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        request = struct.pack("16sH14x", b"lo", 0)
        flags = struct.unpack("16sH", fcntl.ioctl(s, SIOCGIFFLAGS, request)[:18])[1]
        fcntl.ioctl(s, SIOCSIFFLAGS, struct.pack("16sH14x", b"lo", flags | IFF_UP))


def loopback_answers() -> bool:
    with socket.socket() as server:
        server.bind(("127.0.0.1", 0))
        server.listen(1)
        with socket.create_connection(server.getsockname(), timeout=5):
            return True


def main(argv: list[str]) -> int:
    if not argv:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        enter_own_network()
        loopback_answers()
    except OSError as error:
        print(f"own_network: {error}", file=sys.stderr)
        return 1
    if argv == ["--check"]:
        return 0
    os.execvp(argv[0], argv)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
