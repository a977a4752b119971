// Pack files: entries stored plain or as compressed blocks, read one after
// the other from the start of the file.
//
// File layout. Entries back to back, no file header, no index; numbers are
// unsigned 32-bit little-endian:
//   0  4  unpacked size U
//   4  4  packed size P
//   8  P  payload: the data itself when P == U, otherwise a compressed block
// Compressed block:
//   0  2  magic "JC" (0x4A 0x43)
//   2  4  unpacked size n, the length the checksum covers
//   6  4  checksum of the first n bytes of the data; 0 = no checksum
//  10     bit stream: 32-bit little-endian words, bits taken from the most
//         significant one down
//
// Reader: one per process, used from one thread at a time.
//
//   pack_open(path)    closes what was open, then opens path for reading
//                      (others may read it, not write it).
//                      1 when opened, 0 otherwise.
//   pack_next_entry(max_size)
//                      reads the entry at the file position and returns its
//                      U bytes, owned by the reader and valid until the next
//                      pack_next_entry or pack_close. An empty entry gives a
//                      valid pointer and the size 0.
//                      nullptr (and pack_entry_size() == -1) when
//                        - no pack file is open,
//                        - the 8-byte entry header cannot be read in full
//                          (after the last entry, or a file cut inside it),
//                        - U is above max_size: the caller's bound, checked
//                          from the 8-byte header alone, before any memory
//                          is reserved or a bit decoded, so a few bytes
//                          declaring 4 GiB cost nothing. Without a bound
//                          (the default) U may be up to 4 GiB - 1, and
//                          the reader reserves U bytes (plus the payload,
//                          itself bounded by the file's size) and decodes
//                          up to U bytes: a caller that cannot afford that
//                          passes the most it can use,
//                        - the memory for the data cannot be had,
//                        - the entry is malformed: its payload is cut short
//                          by the end of the file, or its compressed block
//                          does not decode to exactly U bytes with a
//                          matching checksum (any status but ok from
//                          pack_decode below).
//                      A malformed entry is reported exactly like a missing
//                      one; nothing partly decoded is ever handed out. The
//                      file position is then after the entry's payload (at
//                      the end of the file when the payload is cut short),
//                      so the entries after a corrupt block stay readable.
//                      The data of the previous entry is released on every
//                      call.
//   pack_entry_size()  U of the entry the last pack_next_entry returned, or
//                      -1 when it returned nullptr or nothing was read yet.
//   pack_close()       closes the file and releases the entry's data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

int pack_open(const std::string& path);
constexpr std::int64_t pack_no_bound = INT64_MAX;
const std::uint8_t* pack_next_entry(std::int64_t max_size = pack_no_bound);
std::int64_t pack_entry_size();
void pack_close();

// Outcome of decoding one compressed block. Every status but ok means the
// output buffer holds garbage and must not be used.
enum class pack_status {
  ok,                 // exactly out_size bytes produced, checksum absent or matching
  no_magic,           // block shorter than its 10-byte header, or no "JC"
  stream_overrun,     // the bit stream needs bits past the end of the block
                      // (a trailing partial word counts as absent)
  output_overflow,    // a code would write past out_size bytes
  output_short,       // the end code came before out_size bytes
  bad_offset,         // a copy from before the start of the output, or offset 0
  no_literal_width,   // a literal before any literal-width code
  checksum_mismatch,  // checksum field set and not matching, or n > out_size
};

// Name of a status, for messages and test output.
const char* pack_status_name(pack_status status);

// Decodes the compressed block block[0, block_size) into out[0, out_size).
// Pure function: reads only inside block, writes only inside out, and ends
// for every input after at most O(block_size + out_size) work. Bytes after
// the end code are ignored. out may be null when out_size is 0.
pack_status pack_decode(const std::uint8_t* block, std::size_t block_size, std::uint8_t* out,
                        std::size_t out_size);

// The checksum of size bytes: 0 below 4 bytes; otherwise each 32-bit
// little-endian word w in turn (the last one ending at the last byte, so it
// may overlap its predecessor) does c += w, then c ^= rotl(w, 1) + 1.
std::uint32_t pack_checksum(const std::uint8_t* data, std::size_t size);
