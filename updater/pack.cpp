// Pack file reader and the decoder of its compressed blocks.
#include "pack.h"

#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform_file.h"

namespace {

inline std::uint32_t load_le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

inline std::uint32_t rotl1(std::uint32_t w) {
  return (w << 1) | (w >> 31);
}

// Any gamma number at or above this is malformed: no length or offset of a
// block can reach it (U is a 32-bit number). The bound keeps the shifts
// below 64 bits.
constexpr std::uint64_t gamma_limit = std::uint64_t{1} << 34;

// Bits of the stream, most significant first, in a 64-bit buffer whose top
// bit is the next one. Refilled a whole 32-bit word at a time, so after
// refill() at least 33 bits are ready. Past the last whole word the buffer
// is fed zero words and those are counted: all-zero bits decode as the end
// code, short gammas and empty raw runs, so decoding stops soon, and the
// count tells afterwards whether the stream really ran past its end.
struct bit_reader {
  const std::uint8_t* next;
  const std::uint8_t* end;  // end of the last whole word
  std::uint64_t bits = 0;
  unsigned count = 0;
  std::uint32_t phantom_words = 0;

  void refill() {
    if (count <= 32) {
      std::uint64_t word = 0;
      if (next != end) {
        word = load_le32(next);
        next += 4;
      } else {
        ++phantom_words;
      }
      bits |= word << (32 - count);
      count += 32;
    }
  }
  // n from 1 to 32, with count >= n.
  std::uint32_t take(unsigned n) {
    const std::uint32_t value = static_cast<std::uint32_t>(bits >> (64 - n));
    bits <<= n;
    count -= n;
    return value;
  }
  void skip(unsigned n) {
    bits <<= n;
    count -= n;
  }
  // n from 0 to 63.
  std::uint64_t take_wide(unsigned n) {
    if (n == 0) return 0;
    refill();
    if (n <= 32) return take(n);
    const std::uint64_t high = take(n - 32);
    refill();
    return high << 32 | take(32);
  }
  bool overrun() const { return static_cast<std::uint64_t>(phantom_words) * 32 > count; }
};

// Gamma numbers interleave data and continue bits: d c d c ... A table over
// the next 8 bits decodes up to four pairs at once.
struct gamma_step {
  std::uint8_t pairs;  // pairs consumed, 1 to 4
  std::uint8_t data;   // their data bits
  std::uint8_t done;   // a continue bit 0 was among them
};

constexpr std::array<gamma_step, 256> make_gamma_table() {
  std::array<gamma_step, 256> table{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    gamma_step step{0, 0, 0};
    for (unsigned pair = 0; pair < 4; ++pair) {
      const unsigned d = (byte >> (7 - 2 * pair)) & 1;
      const unsigned c = (byte >> (6 - 2 * pair)) & 1;
      step.data = static_cast<std::uint8_t>(step.data << 1 | d);
      ++step.pairs;
      if (c == 0) {
        step.done = 1;
        break;
      }
    }
    table[byte] = step;
  }
  return table;
}

constexpr std::array<gamma_step, 256> gamma_table = make_gamma_table();

// False when the number reaches gamma_limit.
inline bool read_gamma(bit_reader& in, std::uint64_t& value) {
  std::uint64_t v = 1;
  for (;;) {
    in.refill();
    const gamma_step step = gamma_table[in.bits >> 56];
    v = v << step.pairs | step.data;
    in.skip(2u * step.pairs);
    if (step.done) {
      value = v;
      return true;
    }
    if (v >= gamma_limit) return false;
  }
}

// Longer matches pay for their far offsets with an extra length.
inline std::uint64_t length_bonus(std::uint64_t offset) {
  if (offset <= 127) return 4;
  if (offset <= 638) return 0;
  if (offset <= 14334) return 1;
  if (offset <= 65535) return 2;
  return 3;
}

// Copies len bytes from offset bytes back, byte by byte in effect: an
// offset below the length repeats the recent bytes. The caller has checked
// 1 <= offset <= op - start and len <= out_end - op.
inline std::uint8_t* copy_match(std::uint8_t* op, std::size_t offset, std::size_t len,
                                std::uint8_t* out_end) {
  const std::uint8_t* src = op - offset;
  std::uint8_t* const stop = op + len;
  if (static_cast<std::size_t>(out_end - stop) >= 16) {
    // Whole chunks may write up to 15 bytes past stop, inside the buffer;
    // the next codes overwrite them.
    if (offset >= 16) {
      do {
        std::memcpy(op, src, 16);
        op += 16;
        src += 16;
      } while (op < stop);
      return stop;
    }
    if (offset >= 8) {
      do {
        std::memcpy(op, src, 8);
        op += 8;
        src += 8;
      } while (op < stop);
      return stop;
    }
  }
  if (len > 32) {
    if (offset == 1) {
      std::memset(op, op[-1], len);
      return stop;
    }
    if (offset >= len) {
      std::memcpy(op, src, len);
      return stop;
    }
  }
  while (op < stop) *op++ = *src++;
  return stop;
}

}  // namespace

const char* pack_status_name(pack_status status) {
  switch (status) {
    case pack_status::ok:
      return "ok";
    case pack_status::no_magic:
      return "no_magic";
    case pack_status::stream_overrun:
      return "stream_overrun";
    case pack_status::output_overflow:
      return "output_overflow";
    case pack_status::output_short:
      return "output_short";
    case pack_status::bad_offset:
      return "bad_offset";
    case pack_status::no_literal_width:
      return "no_literal_width";
    case pack_status::checksum_mismatch:
      return "checksum_mismatch";
  }
  return "unknown";
}

std::uint32_t pack_checksum(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  std::uint32_t sum = 0;
  auto step = [&sum](std::uint32_t w) {
    sum += w;
    sum ^= rotl1(w) + 1;
  };
  std::size_t i = 0;
  for (; size - i >= 4; i += 4) step(load_le32(data + i));
  if (i < size) step(load_le32(data + size - 4));
  return sum;
}

pack_status pack_decode(const std::uint8_t* block, std::size_t block_size, std::uint8_t* out,
                        std::size_t out_size) {
  constexpr std::size_t header = 10;
  if (block_size < header || block[0] != 0x4A || block[1] != 0x43) return pack_status::no_magic;
  const std::uint32_t checked_size = load_le32(block + 2);
  const std::uint32_t checksum = load_le32(block + 6);

  bit_reader in;
  in.next = block + header;
  in.end = in.next + (block_size - header) / 4 * 4;

  std::uint8_t* op = out;
  std::uint8_t* const out_end = out + out_size;
  std::uint64_t last_offset = 1;
  unsigned offset_width = 8;
  // A literal is its prefix bit 1 and W bits: the W + 1 top bits read as
  // 2^W + x. Modulo 256, x + B is that plus B (W = 8) or plus B + 128
  // (W = 7), so no mask is needed. literal_bits 0: no width code yet.
  unsigned literal_bits = 0;
  std::uint32_t literal_add = 0;

  // A stream that ran past its end is reported as such, whatever garbage the
  // zero padding then led to.
  auto fail = [&in](pack_status status) {
    return in.overrun() ? pack_status::stream_overrun : status;
  };
  auto copy = [&](std::uint64_t offset, std::uint64_t len) {
    if (offset == 0 || offset > static_cast<std::uint64_t>(op - out))
      return pack_status::bad_offset;
    if (len > static_cast<std::uint64_t>(out_end - op)) return pack_status::output_overflow;
    op = copy_match(op, static_cast<std::size_t>(offset), static_cast<std::size_t>(len), out_end);
    return pack_status::ok;
  };

  for (;;) {
    in.refill();
    if (static_cast<std::int64_t>(in.bits) < 0) {
      // 1: literals, several from one refill.
      if (literal_bits == 0) return fail(pack_status::no_literal_width);
      const unsigned literal_shift = 64 - literal_bits;
      do {
        if (op == out_end) return fail(pack_status::output_overflow);
        *op++ = static_cast<std::uint8_t>(static_cast<std::uint32_t>(in.bits >> literal_shift) +
                                          literal_add);
        in.skip(literal_bits);
      } while (in.count >= 9 && static_cast<std::int64_t>(in.bits) < 0);
      continue;
    }
    if (in.bits >> 62) {
      // 01: long match.
      in.skip(2);
      std::uint64_t g;
      if (!read_gamma(in, g)) return fail(pack_status::bad_offset);
      std::uint64_t offset;
      std::uint64_t len;
      if (g == 2) {
        offset = last_offset;
        if (!read_gamma(in, len)) return fail(pack_status::output_overflow);
      } else {
        const std::uint64_t high = g - 3;
        const std::uint64_t low = in.take_wide(offset_width);
        if (offset_width >= 34 ? high != 0 : high > (gamma_limit >> offset_width))
          return fail(pack_status::bad_offset);
        offset = (high << offset_width) + low;
        last_offset = offset;
        if (!read_gamma(in, len)) return fail(pack_status::output_overflow);
        len += length_bonus(offset);
      }
      const pack_status status = copy(offset, len);
      if (status != pack_status::ok) return fail(status);
      continue;
    }
    if ((in.bits >> 61) == 0) {
      // 000: short match, end code or offset width.
      const std::uint32_t code = in.take(12);
      const std::uint32_t offset = code >> 2 & 0x7F;
      const std::uint32_t len = code & 3;
      if (offset != 0) {
        last_offset = offset;
        const pack_status status = copy(offset, len + 2);
        if (status != pack_status::ok) return fail(status);
      } else if (len == 0) {
        break;
      } else {
        in.refill();
        offset_width = in.take(len + 3);
      }
      continue;
    }
    // 001: short code.
    const std::uint32_t v = in.take(7) & 15;
    if (v == 1) {
      if (op == out_end) return fail(pack_status::output_overflow);
      *op++ = 0;
    } else if (v >= 2) {
      if (v - 1 > static_cast<std::size_t>(op - out)) return fail(pack_status::bad_offset);
      if (op == out_end) return fail(pack_status::output_overflow);
      *op = op[-static_cast<std::ptrdiff_t>(v - 1)];
      ++op;
    } else if (in.take(1) == 0) {
      if (in.take(1) == 1) {
        literal_bits = 9;
        literal_add = 0;
      } else {
        literal_bits = 8;
        literal_add = in.take(8) + 128;
      }
    } else {
      // Raw runs of 256 bytes, each followed by a bit asking for another.
      do {
        if (out_end - op < 256) return fail(pack_status::output_overflow);
        for (int i = 0; i < 64; ++i) {
          in.refill();
          const std::uint32_t word = in.take(32);
          op[0] = static_cast<std::uint8_t>(word >> 24);
          op[1] = static_cast<std::uint8_t>(word >> 16);
          op[2] = static_cast<std::uint8_t>(word >> 8);
          op[3] = static_cast<std::uint8_t>(word);
          op += 4;
        }
        in.refill();
      } while (in.take(1) == 1);
    }
  }

  if (in.overrun()) return pack_status::stream_overrun;
  if (op != out_end) return pack_status::output_short;
  if (checksum != 0) {
    if (checked_size > out_size) return pack_status::checksum_mismatch;
    if (pack_checksum(out, checked_size) != checksum) return pack_status::checksum_mismatch;
  }
  return pack_status::ok;
}

// The reader.

namespace {

struct pack_reader {
  platform_file file;
  std::int64_t position = 0;  // bytes read or skipped since the open
  std::unique_ptr<std::uint8_t[]> data;
  std::int64_t size = -1;
};

pack_reader reader;

// Reads exactly size bytes unless the file ends or fails first.
bool read_fully(std::uint8_t* buffer, std::size_t size) {
  while (size > 0) {
    const std::size_t got = reader.file.read(buffer, size);
    if (got == 0) return false;
    reader.position += static_cast<std::int64_t>(got);
    buffer += got;
    size -= got;
  }
  return true;
}

}  // namespace

int pack_open(const std::string& path) {
  pack_close();
  reader.file = platform_file::open(path, platform_file::mode::read_share_read);
  return reader.file.valid() ? 1 : 0;
}

const std::uint8_t* pack_next_entry(std::int64_t max_size) {
  reader.data.reset();
  reader.size = -1;
  if (!reader.file.valid()) return nullptr;

  std::uint8_t header[8];
  if (!read_fully(header, sizeof header)) return nullptr;
  const std::uint32_t unpacked = load_le32(header);
  const std::uint32_t packed = load_le32(header + 4);

  // A payload longer than the rest of the file is refused before any memory
  // is reserved for it: a corrupt size would otherwise ask for gigabytes.
  const std::int64_t file_size = reader.file.size();
  if (file_size < 0 || packed > file_size - reader.position) {
    if (file_size >= 0 && reader.file.seek(file_size)) reader.position = file_size;
    return nullptr;
  }

  // An entry larger than the caller can use costs nothing: neither its
  // memory nor its decoding, whatever it declares.
  if (unpacked > max_size) {
    if (reader.file.seek(reader.position + packed)) reader.position += packed;
    return nullptr;
  }

  // One spare byte so that an empty entry still has a data pointer; a
  // 32-bit size_t cannot count it for the largest U.
  if (std::uint64_t{unpacked} + 1 > std::numeric_limits<std::size_t>::max()) return nullptr;
  std::unique_ptr<std::uint8_t[]> data(new (std::nothrow)
                                           std::uint8_t[static_cast<std::size_t>(unpacked) + 1]);
  if (!data) return nullptr;
  if (packed == unpacked) {
    if (!read_fully(data.get(), unpacked)) return nullptr;
  } else {
    std::unique_ptr<std::uint8_t[]> payload(new (std::nothrow) std::uint8_t[packed]);
    if (!payload) return nullptr;
    if (!read_fully(payload.get(), packed)) return nullptr;
    if (pack_decode(payload.get(), packed, data.get(), unpacked) != pack_status::ok) return nullptr;
  }
  reader.data = std::move(data);
  reader.size = unpacked;
  return reader.data.get();
}

std::int64_t pack_entry_size() {
  return reader.size;
}

void pack_close() {
  reader.file.close();
  reader.position = 0;
  reader.data.reset();
  reader.size = -1;
}
