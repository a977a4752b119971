// Test helpers for pack blocks: an assembler for hand-made bit streams and
// a slow reference decoder that reads one bit at a time, straight from the
// format's description, and counts the codes it meets. The reference is an
// oracle for the fast decoder and for what the writer emits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pack_test {

// Bits written most significant first into 32-bit little-endian words.
class stream {
 public:
  // '0' and '1' are bits; anything else (blanks) only eases reading.
  stream& bits(std::string_view text) {
    for (char c : text) {
      if (c == '0' || c == '1') bits_.push_back(c == '1');
    }
    return *this;
  }
  stream& num(std::uint64_t value, unsigned n) {
    for (unsigned i = n; i-- > 0;) bits_.push_back((value >> i) & 1);
    return *this;
  }
  stream& gamma(std::uint64_t value) {
    unsigned digits = 0;
    while ((value >> (digits + 1)) != 0) ++digits;
    for (unsigned i = digits; i-- > 0;) {
      bits_.push_back((value >> i) & 1);
      bits_.push_back(i > 0);
    }
    return *this;
  }
  stream& width8() { return bits("001 0000 0 1"); }
  stream& width7(std::uint8_t base) { return bits("001 0000 0 0").num(base, 8); }
  stream& literal(std::uint32_t value, unsigned width = 8) { return bits("1").num(value, width); }
  stream& literals(std::string_view text) {
    for (char c : text) literal(static_cast<std::uint8_t>(c));
    return *this;
  }
  stream& short_match(std::uint32_t offset, std::uint32_t len) {
    return bits("000").num(offset, 7).num(len - 2, 2);
  }
  // Long match with G = g, the K low bits r, and the gamma length as sent.
  stream& long_match(std::uint64_t g, std::uint64_t r, unsigned k, std::uint64_t len) {
    bits("01").gamma(g);
    return num(r, k).gamma(len);
  }
  stream& repeat(std::uint64_t len) { return bits("01").gamma(2).gamma(len); }
  stream& offset_width(unsigned l, unsigned k) {
    return bits("000 0000000").num(l, 2).num(k, l + 3);
  }
  stream& zero() { return bits("001 0001"); }
  stream& near_copy(unsigned offset) { return bits("001").num(offset + 1, 4); }
  stream& raw_run_start() { return bits("001 0000 1"); }
  stream& end() { return bits("000 0000000 00"); }

  std::size_t size() const { return bits_.size(); }

  // The stream as words; the last word is padded with zero bits.
  std::vector<std::uint8_t> bytes() const {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < bits_.size(); i += 32) {
      std::uint32_t word = 0;
      for (std::size_t j = 0; j < 32; ++j) {
        word = word << 1 | (i + j < bits_.size() && bits_[i + j] ? 1u : 0u);
      }
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(word >> (8 * k)));
    }
    return out;
  }

 private:
  std::vector<bool> bits_;
};

inline void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A whole compressed block: magic, unpacked size field, checksum field, stream.
inline std::vector<std::uint8_t> block(const stream& s, std::uint32_t size_field = 0,
                                       std::uint32_t checksum = 0) {
  std::vector<std::uint8_t> out = {0x4A, 0x43};
  put32(out, size_field);
  put32(out, checksum);
  const std::vector<std::uint8_t> words = s.bytes();
  out.insert(out.end(), words.begin(), words.end());
  return out;
}

struct code_counts {
  std::size_t literal8 = 0, literal7 = 0;  // literals by width
  std::size_t width8 = 0, width7 = 0;      // literal-width codes
  std::size_t short_match = 0, long_match = 0, repeat = 0;
  std::size_t zero = 0, near_copy = 0;
  std::size_t raw_intro = 0, raw_run = 0;      // raw-run codes, and runs of 256 bytes
  std::size_t offset_width[4] = {0, 0, 0, 0};  // by L
  std::size_t end = 0;
};

struct reference_result {
  bool ok = false;
  std::vector<std::uint8_t> out;
  code_counts counts;
};

// Decodes a block one bit at a time. ok only for a well-formed block that
// yields exactly size bytes and a matching (or absent) checksum.
inline reference_result reference_decode(const std::vector<std::uint8_t>& blk, std::size_t size) {
  reference_result r;
  if (blk.size() < 10 || blk[0] != 0x4A || blk[1] != 0x43) return r;
  auto word_at = [&blk](std::size_t i) {
    return static_cast<std::uint32_t>(blk[i]) | static_cast<std::uint32_t>(blk[i + 1]) << 8 |
           static_cast<std::uint32_t>(blk[i + 2]) << 16 |
           static_cast<std::uint32_t>(blk[i + 3]) << 24;
  };
  const std::size_t total_bits = (blk.size() - 10) / 4 * 32;
  std::size_t pos = 0;
  bool past_end = false;
  auto bit = [&]() -> std::uint64_t {
    if (pos >= total_bits) {
      past_end = true;
      return 0;
    }
    const std::uint32_t w = word_at(10 + pos / 32 * 4);
    const std::uint64_t b = (w >> (31 - pos % 32)) & 1;
    ++pos;
    return b;
  };
  auto read = [&](unsigned n) {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < n; ++i) v = v << 1 | bit();
    return v;
  };
  auto gamma = [&]() {
    std::uint64_t v = 1;
    do {
      v = v * 2 + bit();
      if (v > (std::uint64_t{1} << 40)) past_end = true;  // hopeless: give up
    } while (bit() == 1 && !past_end);
    return v;
  };
  std::vector<std::uint8_t>& out = r.out;
  std::uint64_t last = 1;
  unsigned k = 8;
  int w = 0;
  unsigned base = 0;
  auto copy = [&](std::uint64_t offset, std::uint64_t len) {
    if (offset == 0 || offset > out.size() || len > size - out.size()) return false;
    for (std::uint64_t i = 0; i < len; ++i) out.push_back(out[out.size() - offset]);
    return true;
  };
  for (;;) {
    if (past_end) return r;
    if (bit() == 1) {
      if (w == 0 || out.size() >= size) return r;
      out.push_back(static_cast<std::uint8_t>(read(static_cast<unsigned>(w)) + base));
      (w == 8 ? r.counts.literal8 : r.counts.literal7)++;
    } else if (bit() == 1) {
      const std::uint64_t g = gamma();
      std::uint64_t offset, len;
      if (g == 2) {
        offset = last;
        len = gamma();
        r.counts.repeat++;
      } else {
        // An offset beyond 64 bits lies before any start.
        if (k > 0 && (g - 3) > (~std::uint64_t{0} >> k)) return r;
        offset = ((g - 3) << k) + read(k);
        last = offset;
        len = gamma();
        len += offset <= 127     ? 4
               : offset <= 638   ? 0
               : offset <= 14334 ? 1
               : offset <= 65535 ? 2
                                 : 3;
        r.counts.long_match++;
      }
      if (past_end || !copy(offset, len)) return r;
    } else if (bit() == 0) {
      const std::uint64_t o = read(7);
      const std::uint64_t l = read(2);
      if (o != 0) {
        last = o;
        r.counts.short_match++;
        if (past_end || !copy(o, l + 2)) return r;
      } else if (l == 0) {
        r.counts.end++;
        break;
      } else {
        k = static_cast<unsigned>(read(static_cast<unsigned>(l) + 3));
        r.counts.offset_width[l]++;
      }
    } else {
      const std::uint64_t v = read(4);
      if (v == 1) {
        if (out.size() >= size) return r;
        out.push_back(0);
        r.counts.zero++;
      } else if (v >= 2) {
        r.counts.near_copy++;
        if (past_end || !copy(v - 1, 1)) return r;
      } else if (bit() == 0) {
        if (bit() == 1) {
          w = 8;
          base = 0;
          r.counts.width8++;
        } else {
          w = 7;
          base = static_cast<unsigned>(read(8));
          r.counts.width7++;
        }
      } else {
        r.counts.raw_intro++;
        do {
          if (size - out.size() < 256) return r;
          for (int i = 0; i < 256; ++i) out.push_back(static_cast<std::uint8_t>(read(8)));
          r.counts.raw_run++;
        } while (bit() == 1);
      }
    }
  }
  if (past_end || out.size() != size) return r;
  std::uint32_t checksum = 0;
  const std::uint32_t n = word_at(2);
  if (n >= 4 && n <= out.size()) {
    auto le = [&out](std::size_t i) {
      return static_cast<std::uint32_t>(out[i]) | static_cast<std::uint32_t>(out[i + 1]) << 8 |
             static_cast<std::uint32_t>(out[i + 2]) << 16 |
             static_cast<std::uint32_t>(out[i + 3]) << 24;
    };
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
      const std::uint32_t v = le(i);
      checksum += v;
      checksum ^= ((v << 1) | (v >> 31)) + 1;
    }
    if (i < n) {
      const std::uint32_t v = le(n - 4);
      checksum += v;
      checksum ^= ((v << 1) | (v >> 31)) + 1;
    }
  }
  const std::uint32_t stored = word_at(6);
  r.ok = stored == 0 || (n <= out.size() && checksum == stored);
  return r;
}

}  // namespace pack_test
