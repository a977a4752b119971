#!/usr/bin/env bash
# Makes this 64-bit machine able to run the shipped 32-bit programs: 32-bit
# Wine, with QEMU's user-mode emulator as the interpreter of 32-bit x86
# programs where the kernel itself cannot run them.
#
# Usage: setup-wine32.sh STATUS_FILE
#
# WINE32_EMULATOR=always registers the emulator even where the kernel runs
# 32-bit programs itself, to try the emulated path on such a machine (every
# 32-bit program then runs emulated, until
# `update-binfmts --package qemu-user-static --remove qemu-i386 /usr/bin/qemu-i386-static`).
#
# Writes "ready" or "refused: <why>" into STATUS_FILE and exits 0 or 1. A
# refusal must not stop the rest of the setup: only the smoke test of the
# 32-bit programs needs this, and it is skipped, with the reason, when the
# status is not "ready". Each step checks first whether it is already done.
#
# The 64-bit Wine stays as it is: nothing here installs the "wine" wrapper
# package, so no `wine` command appears on PATH, and the 64-bit loader keeps
# its place (/usr/lib/wine/wine64) beside the 32-bit one (/usr/lib/wine/wine).
set -uo pipefail

status_file=${1:?usage: setup-wine32.sh STATUS_FILE}
mkdir -p "$(dirname "$status_file")"
# Two setups of one build folder at once take turns; those of other build
# folders meet at the package manager's lock.
exec 9>"$status_file.lock"
flock 9

LOADER32=/usr/lib/wine/wine
EMULATOR=/usr/bin/qemu-i386-static
BINFMT_DIR=/proc/sys/fs/binfmt_misc
BINFMT_NAME=qemu-i386
# 32-bit x86 ELF executables and shared objects (the header's class, data,
# version, type and machine fields), as QEMU's own registration script
# describes them.
I386_MAGIC='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
I386_MASK='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
# Another helper's setup may hold the package lock for a while.
APT=(apt-get -q -y -o DPkg::Lock::Timeout=600)

refuse() {
  echo "refused: $*" > "$status_file"
  echo "setup-wine32: 32-bit programs cannot run here: $*" >&2
  exit 1
}

installed() {
  dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

need_root() {
  [ "$(id -u)" -eq 0 ] || refuse "$1 (run the setup as root)"
}

# A 32-bit x86 ELF program of 91 bytes that only ends with exit code 0
# (mov eax,1; xor ebx,ebx; int 0x80): whether the machine runs 32-bit
# programs at all, natively or through an interpreter.
runs_32bit() {
  local probe
  probe=$(mktemp /tmp/elf32-probe.XXXXXX) || return 1
  python3 - "$probe" <<'EOF'
import struct, sys
code = bytes.fromhex("b801000000" "31db" "cd80")
base, header, entry = 0x08048000, 52 + 32, 0x08048000 + 52 + 32
elf = b"\x7fELF\x01\x01\x01" + bytes(9)
elf += struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, entry, 52, 0, 0, 52, 32, 1, 0, 0, 0)
elf += struct.pack("<IIIIIIII", 1, 0, base, base, header + len(code), header + len(code), 5, 0x1000)
open(sys.argv[1], "wb").write(elf + code)
EOF
  chmod +x "$probe"
  timeout 60 "$probe" 2>/dev/null
  local code=$?
  rm -f "$probe"
  return $code
}

registered() {
  [ -f "$BINFMT_DIR/$BINFMT_NAME" ] && head -n1 "$BINFMT_DIR/$BINFMT_NAME" | grep -qx enabled
}

# 1. binfmt_misc, where interpreters of foreign programs are registered.
if [ ! -e "$BINFMT_DIR/register" ]; then
  need_root "binfmt_misc is not mounted"
  mount -t binfmt_misc binfmt_misc "$BINFMT_DIR" 2>/dev/null ||
    refuse "binfmt_misc cannot be mounted on $BINFMT_DIR"
fi

# 2. The emulator, registered for 32-bit x86 programs unless the kernel runs
#    them itself (then it is left alone: it would only slow them down). The
#    F flag opens the emulator once, at registration, so that it works in
#    every mount namespace and chroot. Registered through binfmt-support, so
#    that the registration is kept and restored at the next boot.
if ! registered && { [ "${WINE32_EMULATOR:-}" = always ] || ! runs_32bit; }; then
  for package in qemu-user-static binfmt-support; do
    if ! installed "$package"; then
      need_root "$package is not installed"
      DEBIAN_FRONTEND=noninteractive "${APT[@]}" install --no-install-recommends \
        qemu-user-static binfmt-support >/dev/null ||
        refuse "qemu-user-static and binfmt-support could not be installed"
      break
    fi
  done
  [ -x "$EMULATOR" ] || refuse "$EMULATOR is missing"
  need_root "no interpreter of 32-bit programs is registered"
  if update-binfmts --display "$BINFMT_NAME" >/dev/null 2>&1; then
    update-binfmts --enable "$BINFMT_NAME" >/dev/null 2>&1
  else
    update-binfmts --package qemu-user-static --install "$BINFMT_NAME" "$EMULATOR" \
      --magic "$I386_MAGIC" --mask "$I386_MASK" --fix-binary yes >/dev/null 2>&1
  fi
  registered || refuse "$EMULATOR could not be registered for 32-bit programs"
  runs_32bit || refuse "a 32-bit program does not run through $EMULATOR"
fi

# 3. The i386 architecture, and 32-bit Wine from it with the preloader
#    (without it every Wine process spends a minute or more in a loop), in
#    the version of the installed 64-bit Wine.
if ! installed wine32:i386 || ! installed wine32-preloader:i386; then
  need_root "wine32:i386 is not installed"
  export DEBIAN_FRONTEND=noninteractive
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386 || refuse "the i386 architecture could not be added"
  fi
  "${APT[@]}" update >/dev/null || refuse "apt-get update failed"
  version=$(dpkg-query -W -f='${Version}' libwine:amd64 2>/dev/null)
  wanted=(wine32:i386 wine32-preloader:i386)
  if [ -n "$version" ]; then
    wanted=("wine32:i386=$version" "wine32-preloader:i386=$version")
  fi
  "${APT[@]}" install --no-install-recommends "${wanted[@]}" >/dev/null ||
    refuse "wine32:i386 and wine32-preloader:i386 could not be installed"
fi

# 4. The 32-bit loader starts.
version=$(timeout 300 "$LOADER32" --version 2>/dev/null)
case "$version" in
  wine-*) ;;
  *) refuse "the 32-bit Wine loader $LOADER32 does not start" ;;
esac

echo ready > "$status_file"
