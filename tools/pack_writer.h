// Pack file writer: a tool for the tests, the fuzz seeds, the benchmark and
// the demo's definitions file. The programs themselves only read packs.
//
// Compressed blocks come from an LZ77 matcher over hash chains whose output
// uses every code of the format: literals of 8 bits and of 7 bits over a
// base, short and long matches, the last-offset repeat, the one-byte short
// codes, raw runs of 256 bytes and changes of the offset width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The compressed block of size bytes: magic, size, checksum, bit stream.
// Its length is never size itself, so that a reader cannot take it for a
// plain payload. size must be below 4 GiB.
std::vector<std::uint8_t> pack_compress(const std::uint8_t* data, std::size_t size);

// Appends one entry to a pack image: plain (P = U) or compressed. False
// when the data is too large for a 32-bit size.
bool pack_append_entry(std::vector<std::uint8_t>& pack, const std::uint8_t* data, std::size_t size,
                       bool compressed);

inline bool pack_append_entry(std::vector<std::uint8_t>& pack, const std::string& data,
                              bool compressed) {
  return pack_append_entry(pack, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                           compressed);
}

inline bool pack_append_entry(std::vector<std::uint8_t>& pack,
                              const std::vector<std::uint8_t>& data, bool compressed) {
  return pack_append_entry(pack, data.data(), data.size(), compressed);
}

// Writes bytes to path (created or emptied). False on any error.
bool pack_write_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Reads a whole file. False when it cannot be read.
bool pack_read_file(const std::string& path, std::vector<std::uint8_t>& bytes);
