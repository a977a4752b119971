#!/usr/bin/env bash
# Builds the two 32-bit programs for the product's users, optionally signs
# them with the maker's code-signing certificate, and puts them with a facts
# file into one release folder. Run through `./run release`; `--help` lists
# the options.
#
# Everything the command is given is checked before the build starts, so a
# mistake costs seconds, not a build. The release folder is written only
# when everything succeeded: the programs are gathered in a temporary folder
# beside it, which takes the folder's name at the end.
set -euo pipefail
# Byte-wise character classes and case, whatever the caller's locale.
export LC_ALL=C
root=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<'EOF'
Usage: ./run release --host HOST[:PORT] [options]

Builds update_client.exe and language_chooser.exe (32-bit, MinSizeRel) for
the maker's update server and puts them with release-facts.txt (size,
SHA-256, version and imported DLLs of each program; the host and key they
were built for) into the release folder. The same facts are printed.

  --host HOST[:PORT]     the maker's update server (required). A loopback
                         address or the bundled test server's is refused.
                         An IPv6 address goes in brackets: [2001:db8::1]:8080
  --update-key HEX       the update signing public key, 64 hexadecimal digits
                         (from `update_sign keygen`): the client then starts
                         only downloads signed with the matching secret key.
                         Without it, downloads are started unchecked.
  --company NAME         the maker's name in the programs' version resource
                         (default: the placeholder "Company name")
  --out DIR              the release folder (default: BUILD_ROOT/dist). An
                         earlier release there is replaced, anything else is
                         refused.

Authenticode signing (optional; needs osslsigncode, installed by setup):
  --pkcs12 FILE          certificate and private key in one PKCS#12 file;
                         or, in PEM files, these two:
  --cert FILE            the certificate (chain, the signing certificate
                         first)
  --cert-key FILE        its private key
  --password-file FILE   the password of the PKCS#12 file or of the PEM key,
                         on its first line. Keep it readable by you alone.
  --timestamp URL        an RFC 3161 timestamp server (http or https), so
                         that the signature outlives the certificate. Only
                         this option makes the signing use the network.
  --ca-file FILE         the certificates that the signed programs are
                         verified against (default: the system's CA bundle)

Each program is signed into a temporary file, verified (chain, and that
the signer is the given certificate), and only then taken into the release.
EOF
}

die() {
  echo "release: error: $*" >&2
  exit 1
}

# one_line TEXT [N]: the first N (default 3) lines of a tool's output, on
# one line, for an error message.
one_line() {
  printf '%s\n' "$1" | grep -v '^[[:space:]]*$' | head -n "${2:-3}" | paste -sd' ' | sed 's/  */ /g'
}

warn() {
  echo "release: warning: $*" >&2
}

# Options ------------------------------------------------------------------

host="" update_key="" have_update_key=0 company="" have_company=0 out=""
pkcs12="" cert="" cert_key="" password_file="" timestamp="" ca_file=""
need_value() {
  [ "$2" -ge 2 ] || die "$1 needs a value (see ./run release --help)"
}
while [ $# -gt 0 ]; do
  case "$1" in
    -h | --help) usage; exit 0 ;;
    --host) need_value "$1" $#; host=$2; shift 2 ;;
    --update-key) need_value "$1" $#; update_key=$2; have_update_key=1; shift 2 ;;
    --company) need_value "$1" $#; company=$2; have_company=1; shift 2 ;;
    --out) need_value "$1" $#; out=$2; shift 2 ;;
    --pkcs12) need_value "$1" $#; pkcs12=$2; shift 2 ;;
    --cert) need_value "$1" $#; cert=$2; shift 2 ;;
    --cert-key) need_value "$1" $#; cert_key=$2; shift 2 ;;
    --password-file) need_value "$1" $#; password_file=$2; shift 2 ;;
    --timestamp) need_value "$1" $#; timestamp=$2; shift 2 ;;
    --ca-file) need_value "$1" $#; ca_file=$2; shift 2 ;;
    *) die "unknown option '$1' (see ./run release --help)" ;;
  esac
done

# The host -----------------------------------------------------------------

# ipv4_value TEXT: prints the address that Windows' and the C library's
# address parsers read from TEXT (1 to 4 parts, each decimal, octal with a
# leading 0 or hexadecimal with 0x), or fails. "127.1" and "0x7f000001" are
# loopback too.
ipv4_value() {
  local IFS=. parts part value=0 i n
  read -r -a parts <<< "$1"
  n=${#parts[@]}
  [ "$n" -ge 1 ] && [ "$n" -le 4 ] && [[ $1 != *. && $1 != .* && $1 != *..* ]] || return 1
  local values=()
  for part in "${parts[@]}"; do
    [ ${#part} -le 12 ] || return 1
    if [[ $part =~ ^0x[0-9a-f]*$ ]]; then
      values+=($((16#${part#0x}0 / 16)))
    elif [[ $part =~ ^0[0-7]*$ ]]; then
      values+=($((8#$part)))
    elif [[ $part =~ ^[1-9][0-9]*$ ]]; then
      values+=($((10#$part)))
    else
      return 1
    fi
  done
  # All but the last part are one byte each; the last fills the rest.
  for ((i = 0; i < n - 1; i++)); do
    [ "${values[i]}" -le 255 ] || return 1
    value=$((value | values[i] << (24 - 8 * i)))
  done
  [ "${values[n - 1]}" -lt $((1 << (32 - 8 * (n - 1)))) ] || return 1
  echo $((value | values[n - 1]))
}

# ipv6_groups TEXT: prints the eight 16-bit groups of an IPv6 address, or
# fails.
ipv6_groups() {
  local text=$1 head tail groups=() g v4
  if [[ $text == *.* ]]; then
    # A trailing dotted IPv4 address is the last two groups.
    v4=${text##*:}
    [[ $v4 =~ ^([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})\.([0-9]{1,3})$ ]] || return 1
    local b1=$((10#${BASH_REMATCH[1]})) b2=$((10#${BASH_REMATCH[2]}))
    local b3=$((10#${BASH_REMATCH[3]})) b4=$((10#${BASH_REMATCH[4]}))
    [ $b1 -le 255 ] && [ $b2 -le 255 ] && [ $b3 -le 255 ] && [ $b4 -le 255 ] || return 1
    text=${text%:*}:$(printf '%x:%x' $((b1 << 8 | b2)) $((b3 << 8 | b4)))
  fi
  [[ $text =~ ^[0-9a-f:]+$ ]] || return 1
  local head_groups=() tail_groups=()
  if [[ $text == *::* ]]; then
    head=${text%%::*} tail=${text#*::}
    [[ $tail != *::* ]] || return 1
    [ -z "$head" ] || IFS=: read -r -a head_groups <<< "$head"
    [ -z "$tail" ] || IFS=: read -r -a tail_groups <<< "$tail"
    [ $((${#head_groups[@]} + ${#tail_groups[@]})) -le 7 ] || return 1
    groups=("${head_groups[@]}")
    for ((g = ${#head_groups[@]} + ${#tail_groups[@]}; g < 8; g++)); do groups+=(0); done
    groups+=("${tail_groups[@]}")
  else
    IFS=: read -r -a groups <<< "$text"
    [ ${#groups[@]} -eq 8 ] && [[ $text != *: && $text != :* ]] || return 1
  fi
  for g in "${groups[@]}"; do
    [[ $g =~ ^[0-9a-f]{1,4}$ ]] || return 1
    printf '%d ' $((16#$g))
  done
}

# check_host HOST: refuses what is not HOST[:PORT] and every address that
# reaches the releasing machine itself, where the bundled test server runs.
check_host() {
  local given=$1 name port="" v6=0
  [ -n "$given" ] || die "--host is required: the maker's update server, e.g. --host updates.example.com"
  [[ $given != *://* ]] || die "--host takes a host and an optional port, without a scheme: '$given'"
  [[ $given != */* ]] || die "--host takes a host and an optional port, without a path: '$given'"
  local stray='[^][A-Za-z0-9.:-]'
  [[ ! $given =~ $stray ]] ||
    die "--host may hold only letters, digits, '.', '-', ':' and the brackets of an IPv6 address: '$given'"
  given=${given,,}
  if [[ $given =~ ^\[([0-9a-f:.]+)\](:([0-9]+))?$ ]]; then
    name=${BASH_REMATCH[1]} port=${BASH_REMATCH[3]} v6=1
  elif [[ $given =~ ^([^:]+)(:([0-9]+))?$ ]]; then
    name=${BASH_REMATCH[1]} port=${BASH_REMATCH[3]}
  elif [[ $given == *:*:* && $given != *\[* ]]; then
    die "--host: an IPv6 address goes in brackets, e.g. [2001:db8::1]:8080: '$1'"
  else
    die "--host: not HOST[:PORT]: '$1'"
  fi
  if [ -n "$port" ]; then
    [[ $port =~ ^[1-9][0-9]{0,4}$ ]] && [ "$port" -le 65535 ] ||
      die "--host: the port must be 1 to 65535: '$1'"
  fi
  local loopback="--host '$1' is this machine (loopback): a release must name the maker's update server, never the bundled test server's address"
  if [ $v6 -eq 1 ]; then
    local groups
    groups=$(ipv6_groups "$name") || die "--host: not an IPv6 address: '$1'"
    read -r -a groups <<< "$groups"
    local leading_zeros=1 g
    for g in 0 1 2 3 4; do [ "${groups[g]}" -eq 0 ] || leading_zeros=0; done
    if [ $leading_zeros -eq 1 ]; then
      # ::1 and ::, and IPv4 addresses written as IPv6 (::ffff:a.b.c.d and
      # the older ::a.b.c.d).
      if [ "${groups[5]}" -eq 0 ] && [ "${groups[6]}" -eq 0 ] && [ "${groups[7]}" -le 1 ]; then
        die "$loopback"
      fi
      if { [ "${groups[5]}" -eq 65535 ] || [ "${groups[5]}" -eq 0 ]; } &&
        { [ $((groups[6] >> 8)) -eq 127 ] || [ $((groups[6] | groups[7])) -eq 0 ]; }; then
        die "$loopback"
      fi
    fi
    return 0
  fi
  name=${name%.}
  [ -n "$name" ] || die "--host: no host name: '$1'"
  if [ "$name" = localhost ] || [[ $name == *.localhost ]]; then
    die "$loopback"
  fi
  # Every part a number: an IPv4 address, in whichever of its spellings.
  if [[ $name =~ ^(0x[0-9a-f]*|[0-9]+)(\.(0x[0-9a-f]*|[0-9]+))*$ ]]; then
    local value
    value=$(ipv4_value "$name") || die "--host: not an IPv4 address: '$1'"
    if [ $((value >> 24)) -eq 127 ] || [ "$value" -eq 0 ]; then
      die "$loopback"
    fi
    return 0
  fi
  [ ${#name} -le 253 ] || die "--host: a host name has at most 253 characters"
  local label
  local IFS=.
  for label in $name; do
    [[ $label =~ ^[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?$ ]] ||
      die "--host: '$label' is not a host name label (letters, digits and inner '-', 1 to 63 characters): '$1'"
  done
}

check_host "$host"

# The rest of the options ----------------------------------------------------

if [ $have_update_key -eq 1 ]; then
  [[ $update_key =~ ^[0-9a-fA-F]{64}$ ]] ||
    die "--update-key must be the update signing public key, 64 hexadecimal digits (update_sign keygen prints it), not '$update_key' (${#update_key} characters)"
fi
if [ $have_company -eq 1 ]; then
  [ -n "$company" ] || die "--company is empty"
  # It stands in a quoted text of the resource script.
  printable='^[ -~]+$'
  [[ $company =~ $printable ]] ||
    die "--company: printable ASCII characters only: '$company'"
  [[ $company != *[\"\\]* ]] || die "--company may hold neither quotes nor backslashes: '$company'"
fi

[ $have_company -eq 1 ] ||
  warn "no --company: the programs' version resource names the placeholder 'Company name'"

need_readable() {
  [ -e "$2" ] || die "$1: no such file: '$2'"
  [ -f "$2" ] && [ -r "$2" ] || die "$1: not a readable file: '$2'"
}
# Secrets readable by others are worth a word, not a refusal: the maker
# decides where they live.
warn_if_shared() {
  local mode
  mode=$(stat -c %a "$2")
  if [ $((8#$mode & 8#077)) -ne 0 ]; then
    warn "$1 '$2' can be read by other users (mode $mode): chmod 600 it"
  fi
}

signing=0
if [ -n "$pkcs12" ] || [ -n "$cert" ] || [ -n "$cert_key" ]; then
  signing=1
  if [ -n "$pkcs12" ]; then
    [ -z "$cert" ] && [ -z "$cert_key" ] ||
      die "give either --pkcs12, or --cert with --cert-key, not both"
    need_readable --pkcs12 "$pkcs12"
    warn_if_shared --pkcs12 "$pkcs12"
  else
    [ -n "$cert" ] || die "--cert-key needs --cert, the certificate it belongs to"
    [ -n "$cert_key" ] || die "--cert needs --cert-key, its private key (or give --pkcs12)"
    need_readable --cert "$cert"
    need_readable --cert-key "$cert_key"
    warn_if_shared --cert-key "$cert_key"
  fi
fi
if [ -n "$password_file" ]; then
  [ $signing -eq 1 ] || die "--password-file is the password of --pkcs12 or --cert-key, and neither is given"
  need_readable --password-file "$password_file"
  warn_if_shared --password-file "$password_file"
fi
if [ -n "$timestamp" ]; then
  [ $signing -eq 1 ] || die "--timestamp is for signing, and no certificate is given"
  [[ $timestamp =~ ^https?://[^[:space:]]+$ ]] || die "--timestamp: an http:// or https:// URL: '$timestamp'"
fi
if [ -n "$ca_file" ]; then
  [ $signing -eq 1 ] || die "--ca-file is for verifying signed programs, and no certificate is given"
  need_readable --ca-file "$ca_file"
fi

# The credentials are opened now, before the build: a wrong password or a
# key that belongs to another certificate is found in a second. The hash of
# the signing certificate lets the verification insist on that signer.
# Without a password file the password is empty, never asked for.
signer_hash=""
if [ $signing -eq 1 ]; then
  command -v openssl >/dev/null && command -v osslsigncode >/dev/null ||
    die "signing needs openssl and osslsigncode: run ./run setup as root"
  passin=pass:
  [ -z "$password_file" ] || passin=file:$password_file
  if [ -n "$pkcs12" ]; then
    open_pkcs12() {
      openssl pkcs12 -in "$pkcs12" -passin "$passin" -nokeys -clcerts "$@" 2>&1
    }
    # Files made by older tools use algorithms that OpenSSL 3 keeps apart.
    if ! leaf=$(open_pkcs12) && ! leaf=$(open_pkcs12 -legacy); then
      die "cannot open --pkcs12 '$pkcs12': wrong password (--password-file), or not a PKCS#12 file ($(one_line "$leaf" 1))"
    fi
  else
    openssl x509 -in "$cert" -noout 2>/dev/null || die "--cert '$cert' holds no PEM certificate"
    leaf=$(cat "$cert")
    cert_public=$(openssl x509 -in "$cert" -noout -pubkey)
    key_public=$(openssl pkey -in "$cert_key" -passin "$passin" -pubout 2>/dev/null) ||
      die "cannot read --cert-key '$cert_key': wrong or missing password (--password-file), or not a PEM private key"
    [ "$cert_public" = "$key_public" ] ||
      die "--cert-key '$cert_key' is not the private key of the certificate in --cert '$cert'"
  fi
  signer_hash=$(echo "$leaf" | openssl x509 -outform DER | sha256sum | cut -d' ' -f1) ||
    die "no certificate found in the signing credentials"
  signer_subject=$(echo "$leaf" | openssl x509 -noout -subject -nameopt compat | sed 's/^subject=//')
fi

# The release folder: a new one, or an earlier release, which is replaced.
build_root=$(mkdir -p "${BUILD_ROOT:-$root/build}" && cd "${BUILD_ROOT:-$root/build}" && pwd)
out=${out:-$build_root/dist}
PROGRAMS=(updater/update_client chooser/language_chooser)
FACTS=release-facts.txt
release_files=("$FACTS")
for p in "${PROGRAMS[@]}"; do release_files+=("$(basename "$p").exe"); done
if [ -e "$out" ] || [ -L "$out" ]; then
  [ -d "$out" ] && [ ! -L "$out" ] || die "--out '$out' exists and is not a folder"
  for f in "$out"/* "$out"/.[!.]* "$out"/..?*; do
    [ -e "$f" ] || [ -L "$f" ] || continue
    ours=0
    if [ -f "$f" ] && [ ! -L "$f" ]; then
      for r in "${release_files[@]}"; do [ "$(basename "$f")" = "$r" ] && ours=1; done
    fi
    [ $ours -eq 1 ] ||
      die "--out '$out' holds other files than an earlier release ('$(basename "$f")'): choose another folder"
  done
fi
out_parent=$(dirname "$out")
mkdir -p "$out_parent"
out=$(cd "$out_parent" && pwd)/$(basename "$out")

# Set-up and build -----------------------------------------------------------

absolute() {
  case $1 in /* | "") echo "$1" ;; *) echo "$PWD/$1" ;; esac
}
pkcs12=$(absolute "$pkcs12") cert=$(absolute "$cert") cert_key=$(absolute "$cert_key")
password_file=$(absolute "$password_file") ca_file=$(absolute "$ca_file")
cd "$root"
"$root/run" setup

dir=$build_root/release
mkdir -p "$dir"
# One release at a time per build folder.
exec 8>"$build_root/release.lock"
flock 8
# The cache goes: every setting is the preset's default or what was given
# here, whatever an earlier configuration of this folder held. The objects
# stay, so an unchanged program is not compiled again.
rm -f "$dir/CMakeCache.txt"
company_setting=()
[ $have_company -eq 0 ] || company_setting=(-DVERSION_COMPANY="$company")
cmake --preset win32 -B "$dir" -DUPDATE_SERVER_HOST="$host" -DUPDATE_PUBLIC_KEY="$update_key" \
  "${company_setting[@]}" >/dev/null
targets=()
for p in "${PROGRAMS[@]}"; do targets+=("$(basename "$p")"); done
cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}"

# Gathering, signing, facts ----------------------------------------------------

stage=$(mktemp -d "$out_parent/.$(basename "$out").partial.XXXXXX")
old=""
cleanup() {
  rm -rf "$stage"
  [ -z "$old" ] || [ ! -d "$old" ] || rm -rf "$old"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# resource_value EXE NAME: a text of the program's version resource.
resource_value() {
  i686-w64-mingw32-windres -i "$1" -O rc | sed -n "s/^ *VALUE \"$2\", \"\\(.*\\)\"\$/\\1/p" | head -n 1
}

credentials=()
if [ -n "$pkcs12" ]; then
  credentials=(-pkcs12 "$pkcs12")
elif [ $signing -eq 1 ]; then
  credentials=(-certs "$cert" -key "$cert_key")
fi
[ -z "$password_file" ] || credentials+=(-readpass "$password_file")
verify_trust=()
[ -z "$ca_file" ] || verify_trust=(-CAfile "$ca_file")

for p in "${PROGRAMS[@]}"; do
  exe=$(basename "$p").exe
  built=$dir/$p.exe
  [ -f "$built" ] || die "the build made no $built"
  if [ $signing -eq 0 ]; then
    cp "$built" "$stage/$exe"
    continue
  fi
  signed=$stage/$exe.signing
  stamp=()
  [ -z "$timestamp" ] || stamp=(-ts "$timestamp")
  if ! log=$(osslsigncode sign "${credentials[@]}" -h sha256 \
      -n "$(resource_value "$built" FileDescription)" "${stamp[@]}" \
      -in "$built" -out "$signed" 2>&1); then
    die "signing $exe failed: $(one_line "$(echo "$log" | grep -v '^[0-9A-F]\{8,\}:error:')" 4)"
  fi
  if ! log=$(osslsigncode verify "${verify_trust[@]}" -require-leaf-hash "sha256:$signer_hash" \
      -in "$signed" 2>&1); then
    die "the signed $exe does not verify$([ -z "$ca_file" ] || echo " against --ca-file '$ca_file'"): $(one_line "$(echo "$log" | grep -i -E 'fail|error|mismatch')" 4)"
  fi
  mv "$signed" "$stage/$exe"
done

commit=$(git -C "$root" describe --always --dirty 2>/dev/null || echo unknown)
{
  echo "Release of update_client and language_chooser (32-bit), built from $commit"
  echo "update server host: $host"
  if [ -n "$update_key" ]; then
    echo "update signing public key: ${update_key,,}"
  else
    echo "update signing public key: none (downloaded programs are started unchecked)"
  fi
  if [ $signing -eq 1 ]; then
    echo "Authenticode signer: $signer_subject"
    echo "Authenticode timestamp: ${timestamp:-none (the signature ends with the certificate)}"
  else
    echo "Authenticode: not signed"
  fi
  for p in "${PROGRAMS[@]}"; do
    exe=$(basename "$p").exe
    file=$stage/$exe
    echo
    echo "$exe"
    echo "  size: $(stat -c %s "$file") bytes"
    echo "  sha256: $(sha256sum "$file" | cut -d' ' -f1)"
    echo "  file version: $(resource_value "$file" FileVersion)"
    echo "  company: $(resource_value "$file" CompanyName)"
    echo "  imports: $(i686-w64-mingw32-objdump -p "$file" | sed -n 's/^\tDLL Name: *//p' | tr 'A-Z' 'a-z' | paste -sd' ')"
  done
} > "$stage/$FACTS"

# The earlier release steps aside only now, and goes once the new one is in
# its place.
chmod 755 "$stage"
if [ -d "$out" ]; then
  old=$(mktemp -d "$out_parent/.$(basename "$out").old.XXXXXX")
  mv "$out" "$old/previous"
fi
if ! mv "$stage" "$out"; then
  [ -z "$old" ] || mv "$old/previous" "$out"
  die "could not move the release into '$out'"
fi
cat "$out/$FACTS"
echo
echo "release folder: $out"
