#!/usr/bin/env bash
# Writes the pack fuzzer's seed corpus with the pack writer: small pack files
# whose streams hold every kind of code (text for 7-bit literals, tables for
# zero bytes and repeats, noise for raw runs, empty and plain entries).
#   fuzz/make_pack_seeds.sh PACK_WRITER [OUT_DIR]
set -euo pipefail
writer=$1
out=${2:-$(cd "$(dirname "$0")" && pwd)/corpus/pack}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$out"

printf 'version_definition = 2005.10.12\r\ndate = 12/10/2005\r\n' > "$work/info"
: > "$work/empty"
# Deterministic pseudo-random bytes (a linear congruential generator).
noise() { awk -v n="$1" -v s="$2" 'BEGIN { for (i = 0; i < n; i++) { s = (s * 1103515245 + 12345) % 2147483648; printf "%c", int(s / 65536) % 256 } }' LC_ALL=C; }
LC_ALL=C noise 700 7 > "$work/noise"
LC_ALL=C awk 'BEGIN { split("filtre courrier ind\351sirable mise \340 jour des r\350gles serveur version date", w, " ");
  s = 3; for (i = 0; i < 300; i++) { s = (s * 69069 + 1) % 4294967296; printf "%s%s", w[s % 11 + 1], (s % 7 ? " " : "\r\n") } }' > "$work/text"
LC_ALL=C awk 'BEGIN { for (i = 0; i < 120; i++) printf "%c%c%c%c%c%c%c%c", i % 256, 0, 0, 0, (i * 7) % 5, 0, 1, 0 }' > "$work/table"
{ head -c 300 "$work/noise"; head -c 400 "$work/text"; head -c 300 "$work/noise"; } > "$work/mixed"

"$writer" "$out/info_compressed.pak" --compressed "$work/info"
"$writer" "$out/info_plain.pak" --plain "$work/info" --compressed "$work/text"
"$writer" "$out/empty_entries.pak" --compressed "$work/empty" --plain "$work/empty"
"$writer" "$out/text.pak" --compressed "$work/text"
"$writer" "$out/table.pak" --compressed "$work/table"
"$writer" "$out/noise.pak" --compressed "$work/noise"
"$writer" "$out/mixed.pak" --compressed "$work/mixed" "$work/info"
