#!/usr/bin/env bash
# Makes the benchmark's two corpora from files that Debian packages put on
# the machine: text.bin (plain-text documentation and licence texts) and
# binary.bin (shared libraries), about 4 MiB each, in a fixed order.
#   bench/make_corpus.sh OUT_DIR [SIZE_BYTES]
set -eu
# head ends each pipeline early on purpose: no pipefail.
out=${1:?usage: make_corpus.sh OUT_DIR [SIZE_BYTES]}
size=${2:-4194304}
mkdir -p "$out"
export LC_ALL=C

# Text: licence texts, then the packages' changelogs, sorted by path so that
# every run takes the same bytes. (Copyright files would be easier: many
# repeat whole licences.)
{
  find /usr/share/common-licenses -type f | sort | xargs cat
  find /usr/share/doc -type f -name 'changelog*.gz' | sort | xargs zcat
} 2>/dev/null | head -c "$size" > "$out/text.bin"

# Binary: shared libraries, whole, sorted by name.
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name 'lib*.so*' | sort | xargs cat 2>/dev/null \
  | head -c "$size" > "$out/binary.bin"

for f in text.bin binary.bin; do
  bytes=$(stat -c %s "$out/$f")
  if [ "$bytes" -lt $((size / 2)) ]; then
    echo "make_corpus: only $bytes bytes for $f" >&2
    exit 1
  fi
  echo "$out/$f: $bytes bytes"
done
