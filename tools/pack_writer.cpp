// Pack writer: LZ77 parse over hash chains, then passes that pick the
// cheapest form of every code, and the bit stream.
//
// Passes over one token list:
//   1. parse: greedy with one step of lazy matching; each position becomes
//      a literal, a one-byte short code or a match (offset, length);
//   2. raw runs: long stretches of weak tokens whose literals would cost 9
//      bits each become raw runs of 256 bytes at 8 bits a byte;
//   3. forms: with the decoder's last offset tracked, every match becomes a
//      repeat, a short match or a long match (or literals, when a raw run
//      swallowed the match that set the offset it counted on);
//   4. literal widths: 7 bits over a base where the literals of a stretch
//      fit in 128 values, else 8 bits;
//   5. offset width: per group of long matches, the width that makes their
//      offsets cheapest;
//   6. the bit stream.
#include "pack_writer.h"

#include <algorithm>
#include <array>
#include <bit>
#include <bitset>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

constexpr std::uint32_t none = std::numeric_limits<std::uint32_t>::max();
constexpr unsigned impossible = std::numeric_limits<unsigned>::max() / 2;

// Bit costs of the codes.
unsigned gamma_bits(std::uint64_t v) {
  return 2 * (static_cast<unsigned>(std::bit_width(v)) - 1);
}

std::uint32_t length_bonus(std::uint32_t offset) {
  if (offset <= 127) return 4;
  if (offset <= 638) return 0;
  if (offset <= 14334) return 1;
  if (offset <= 65535) return 2;
  return 3;
}

bool long_valid(std::uint32_t offset, std::uint32_t len) {
  return len >= length_bonus(offset) + 2;
}

unsigned long_cost(std::uint32_t offset, std::uint32_t len, unsigned width) {
  return 2 + gamma_bits((std::uint64_t{offset} >> width) + 3) + width +
         gamma_bits(len - length_bonus(offset));
}

unsigned repeat_cost(std::uint32_t len) {
  return 2 + 2 + gamma_bits(len);
}

bool short_valid(std::uint32_t offset, std::uint32_t len) {
  return offset <= 127 && len >= 2 && len <= 5;
}

constexpr unsigned short_cost = 12;
constexpr unsigned one_byte_cost = 7;
constexpr unsigned literal8_cost = 9;
constexpr unsigned literal7_cost = 8;
constexpr unsigned raw_intro_cost = 8;
constexpr unsigned raw_block_cost = 256 * 8 + 1;
constexpr unsigned literal8_switch_cost = 9;
constexpr unsigned literal7_switch_cost = 17;

unsigned width_switch_cost(unsigned width) {
  return 12 + (width < 16 ? 4 : width < 32 ? 5 : 6);
}

// Cheapest form of a match given the decoder's last offset.
unsigned match_cost(std::uint32_t offset, std::uint32_t len, std::uint32_t last, unsigned width) {
  unsigned best = impossible;
  if (offset == last) best = repeat_cost(len);
  if (short_valid(offset, len)) best = std::min(best, short_cost);
  if (long_valid(offset, len)) best = std::min(best, long_cost(offset, len, width));
  return best;
}

enum class kind : std::uint8_t {
  literal,       // pos
  zero,          // pos: short code for the byte 0
  near_copy,     // pos, arg = offset 1..14
  match,         // pos, len, arg = offset (form not chosen yet)
  repeat,        // match at the last offset
  short_match,   // offset 1..127, length 2..5
  long_match,    // any other match
  raw,           // pos, len = 256 * runs
  literal8,      // literal width 8, base 0
  literal7,      // literal width 7, arg = base
  offset_width,  // arg = K
};

struct token {
  kind what;
  std::uint32_t pos;
  std::uint32_t len;
  std::uint32_t arg;
  unsigned cost;  // bits, as estimated by the parse
};

// ---------------------------------------------------------------- parse

class parser {
 public:
  parser(const std::uint8_t* data, std::size_t size)
      : d_(data),
        n_(size),
        head3_(std::size_t{1} << hash_bits, none),
        prev3_(size, none),
        head2_(std::size_t{1} << 16, none),
        prev2_(size, none) {}

  std::vector<token> run();

 private:
  static constexpr unsigned hash_bits = 17;
  static constexpr int chain_depth = 48;
  static constexpr int near_depth = 16;
  static constexpr std::uint32_t nice_length = 2048;

  struct candidate {
    std::uint32_t offset = 0;
    std::uint32_t len = 0;
    int gain = 0;
    unsigned cost = 0;
  };

  std::uint32_t hash3(std::size_t p) const {
    const std::uint32_t v = d_[p] | d_[p + 1] << 8 | d_[p + 2] << 16;
    return (v * 2654435761u) >> (32 - hash_bits);
  }

  void insert(std::size_t p) {
    if (p + 2 <= n_) {
      const std::uint32_t h = d_[p] | d_[p + 1] << 8;
      prev2_[p] = head2_[h];
      head2_[h] = static_cast<std::uint32_t>(p);
    }
    if (p + 3 <= n_) {
      const std::uint32_t h = hash3(p);
      prev3_[p] = head3_[h];
      head3_[h] = static_cast<std::uint32_t>(p);
    }
  }

  std::uint32_t match_len(std::size_t p, std::size_t q, std::size_t limit) const {
    std::size_t len = 0;
    while (limit - len >= 8) {
      std::uint64_t a;
      std::uint64_t b;
      std::memcpy(&a, d_ + p + len, 8);
      std::memcpy(&b, d_ + q + len, 8);
      if (a != b) {
        // Little- or big-endian alike: find the first differing byte.
        while (d_[p + len] == d_[q + len]) ++len;
        return static_cast<std::uint32_t>(len);
      }
      len += 8;
    }
    while (len < limit && d_[p + len] == d_[q + len]) ++len;
    return static_cast<std::uint32_t>(len);
  }

  void consider(candidate& best, std::uint32_t offset, std::uint32_t len) const {
    const unsigned cost = match_cost(offset, len, last_, width_);
    if (cost >= impossible) return;
    const int gain = static_cast<int>(len * literal8_cost) - static_cast<int>(cost);
    if (gain > best.gain || (gain == best.gain && best.len != 0 && offset < best.offset)) {
      best = {offset, len, gain, cost};
    }
  }

  candidate best_at(std::size_t p) const;
  token single(std::size_t p) const;
  void adapt_width(std::uint32_t offset);

  const std::uint8_t* d_;
  std::size_t n_;
  std::vector<std::uint32_t> head3_, prev3_, head2_, prev2_;
  std::uint32_t last_ = 1;
  unsigned width_ = 8;
  // Offsets of recent long matches, to re-estimate the offset width.
  std::vector<std::uint32_t> recent_;
};

parser::candidate parser::best_at(std::size_t p) const {
  candidate best;
  const std::size_t limit =
      std::min<std::size_t>(n_ - p, std::numeric_limits<std::uint32_t>::max());
  if (limit < 2) return best;
  if (last_ <= p) {
    const std::uint32_t len = match_len(p, p - last_, limit);
    if (len >= 2) consider(best, last_, len);
  }
  std::uint32_t q = head2_[d_[p] | d_[p + 1] << 8];
  for (int i = 0; i < near_depth && q != none && p - q <= 638; ++i, q = prev2_[q]) {
    consider(best, static_cast<std::uint32_t>(p - q), match_len(p, q, limit));
  }
  if (limit >= 3) {
    q = head3_[hash3(p)];
    for (int i = 0; i < chain_depth && q != none; ++i, q = prev3_[q]) {
      const std::uint32_t len = match_len(p, q, limit);
      if (len < 3) continue;
      consider(best, static_cast<std::uint32_t>(p - q), len);
      if (len >= nice_length) break;
    }
  }
  return best;
}

token parser::single(std::size_t p) const {
  const std::uint32_t pos = static_cast<std::uint32_t>(p);
  if (d_[p] == 0) return {kind::zero, pos, 1, 0, one_byte_cost};
  for (std::uint32_t offset = 1; offset <= 14 && offset <= p; ++offset) {
    if (d_[p - offset] == d_[p]) return {kind::near_copy, pos, 1, offset, one_byte_cost};
  }
  return {kind::literal, pos, 1, 0, literal8_cost};
}

// Picks the offset width that is cheapest for the last few hundred long
// matches, so that the parse prices far matches about as the stream will.
void parser::adapt_width(std::uint32_t offset) {
  recent_.push_back(offset);
  if (recent_.size() < 512) return;
  unsigned best_total = impossible;
  for (unsigned width = 0; width < 32; ++width) {
    unsigned total = 0;
    for (std::uint32_t o : recent_) total += gamma_bits((std::uint64_t{o} >> width) + 3) + width;
    if (total < best_total) {
      best_total = total;
      width_ = width;
    }
  }
  recent_.clear();
}

std::vector<token> parser::run() {
  std::vector<token> tokens;
  tokens.reserve(n_ / 4 + 16);
  std::size_t p = 0;
  candidate pending;
  bool have_pending = false;
  while (p < n_) {
    candidate here = have_pending ? pending : best_at(p);
    have_pending = false;
    if (here.len >= 2 && here.gain > 0) {
      // Lazy step: a better match one byte later wins over this one.
      insert(p);
      if (p + 1 < n_) {
        const candidate next = best_at(p + 1);
        const token one = single(p);
        const int one_gain = static_cast<int>(literal8_cost) - static_cast<int>(one.cost);
        if (next.gain + one_gain > here.gain) {
          tokens.push_back(one);
          pending = next;
          have_pending = true;
          ++p;
          continue;
        }
      }
      tokens.push_back(
          {kind::match, static_cast<std::uint32_t>(p), here.len, here.offset, here.cost});
      if (here.offset != last_ && long_valid(here.offset, here.len) &&
          !short_valid(here.offset, here.len)) {
        adapt_width(here.offset);
      }
      last_ = here.offset;
      for (std::size_t i = p + 1; i < p + here.len; ++i) insert(i);
      p += here.len;
      continue;
    }
    tokens.push_back(single(p));
    insert(p);
    ++p;
  }
  return tokens;
}

// ---------------------------------------------------------------- passes

// Whether the byte values fit in 128 consecutive values (modulo 256), and
// the base that starts them: the value after the largest gap.
bool fits_seven_bits(const std::bitset<256>& present, std::uint32_t& base) {
  if (present.none()) {
    base = 0;
    return true;
  }
  unsigned largest_gap = 0;
  unsigned gap = 0;
  // Two turns round the circle so that a gap across 255..0 is measured.
  for (unsigned i = 0; i < 512; ++i) {
    if (present[i & 255]) {
      if (gap > largest_gap) {
        largest_gap = gap;
        base = i & 255;
      }
      gap = 0;
    } else {
      ++gap;
    }
  }
  return largest_gap >= 128;
}

bool covers(std::uint32_t base, const std::bitset<256>& present) {
  for (unsigned v = 0; v < 256; ++v) {
    if (present[v] && ((v - base) & 0xFF) >= 128) return false;
  }
  return true;
}

// Long stretches of weak tokens (literals, one-byte codes, matches that
// save little) become raw runs where that is cheaper.
std::vector<token> make_raw_runs(const std::vector<token>& in, const std::uint8_t* d) {
  std::vector<token> out;
  out.reserve(in.size());
  std::size_t first = 0;  // start of the stretch in `in`
  std::uint64_t bytes = 0;
  std::uint64_t other_cost = 0;
  std::uint64_t literals = 0;
  std::bitset<256> present;

  auto flush = [&](std::size_t end) {
    bool converted = false;
    if (bytes >= 256) {
      std::uint32_t base;
      const unsigned literal_cost = fits_seven_bits(present, base) ? literal7_cost : literal8_cost;
      const std::uint64_t tokens_cost = other_cost + literals * literal_cost;
      const std::uint64_t runs = bytes / 256;
      const std::uint64_t raw_cost =
          raw_intro_cost + runs * raw_block_cost + (bytes % 256) * literal8_cost;
      if (raw_cost < tokens_cost) {
        const std::uint32_t start = in[first].pos;
        const std::uint32_t raw_end = start + static_cast<std::uint32_t>(runs * 256);
        out.push_back({kind::raw, start, static_cast<std::uint32_t>(runs * 256), 0, 0});
        // Bytes up to the next token boundary after the runs as literals;
        // the tokens from there on stay.
        std::size_t i = first;
        while (i < end && in[i].pos < raw_end) ++i;
        const std::uint32_t resume =
            i < end ? in[i].pos : start + static_cast<std::uint32_t>(bytes);
        for (std::uint32_t p = raw_end; p < resume; ++p) {
          out.push_back({kind::literal, p, 1, 0, literal8_cost});
        }
        out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(i),
                   in.begin() + static_cast<std::ptrdiff_t>(end));
        converted = true;
      }
    }
    if (!converted) {
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(first),
                 in.begin() + static_cast<std::ptrdiff_t>(end));
    }
    first = end;
    bytes = other_cost = literals = 0;
    present.reset();
  };

  for (std::size_t i = 0; i < in.size(); ++i) {
    const token& t = in[i];
    const bool strong = t.what == kind::match && t.cost + 16 <= 8 * std::uint64_t{t.len};
    if (strong) {
      flush(i);
      out.push_back(t);
      first = i + 1;
      continue;
    }
    bytes += t.len;
    if (t.what == kind::literal) {
      ++literals;
      present.set(d[t.pos]);
    } else {
      other_cost += t.cost;
    }
  }
  flush(in.size());
  return out;
}

// Chooses the form of every match from the decoder's last offset.
std::vector<token> choose_forms(const std::vector<token>& in) {
  std::vector<token> out;
  out.reserve(in.size());
  std::uint32_t last = 1;
  for (const token& t : in) {
    if (t.what != kind::match) {
      out.push_back(t);
      continue;
    }
    token m = t;
    if (t.arg == last) {
      m.what = kind::repeat;
    } else if (short_valid(t.arg, t.len) &&
               (!long_valid(t.arg, t.len) || short_cost <= long_cost(t.arg, t.len, 8))) {
      m.what = kind::short_match;
    } else if (long_valid(t.arg, t.len)) {
      m.what = kind::long_match;
    } else {
      for (std::uint32_t i = 0; i < t.len; ++i) out.push_back({kind::literal, t.pos + i, 1, 0, 9});
      continue;
    }
    out.push_back(m);
    last = t.arg;
  }
  return out;
}

// Inserts literal-width codes: stretches of literals whose values fit in
// 128 consecutive values get width 7 over a base, the rest width 8.
std::vector<token> choose_literal_widths(const std::vector<token>& in, const std::uint8_t* d) {
  constexpr std::size_t window = 32;
  std::vector<std::size_t> literal_at;  // token indices of literals
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i].what == kind::literal) literal_at.push_back(i);
  }
  const std::size_t windows = (literal_at.size() + window - 1) / window;
  auto window_set = [&](std::size_t w) {
    std::bitset<256> set;
    const std::size_t end = std::min(literal_at.size(), (w + 1) * window);
    for (std::size_t k = w * window; k < end; ++k) set.set(d[in[literal_at[k]].pos]);
    return set;
  };

  // Switch codes to put before token index: (index, token).
  std::vector<std::pair<std::size_t, token>> switches;
  enum class mode { unset, eight, seven } current = mode::unset;
  std::uint32_t current_base = 0;
  std::size_t w = 0;
  while (w < windows) {
    const std::bitset<256> set = window_set(w);
    if (current == mode::seven && covers(current_base, set)) {
      ++w;
      continue;
    }
    // How many literals from here on fit under one base?
    std::bitset<256> run = set;
    std::size_t end = w;
    std::uint32_t base = 0;
    std::uint32_t run_base = 0;
    while (end < windows) {
      const std::bitset<256> next = run | (end == w ? set : window_set(end));
      if (!fits_seven_bits(next, base)) break;
      run = next;
      run_base = base;
      ++end;
    }
    const std::size_t covered = std::min(literal_at.size(), end * window) - w * window;
    const std::size_t needed = current == mode::unset ? literal7_switch_cost - literal8_switch_cost
                                                      : literal7_switch_cost + literal8_switch_cost;
    const std::size_t at = literal_at[w * window];
    if (end > w && covered > needed) {
      switches.push_back({at, {kind::literal7, 0, 0, run_base, literal7_switch_cost}});
      current = mode::seven;
      current_base = run_base;
      w = end;
      continue;
    }
    if (current != mode::eight) {
      switches.push_back({at, {kind::literal8, 0, 0, 0, literal8_switch_cost}});
      current = mode::eight;
    }
    ++w;
  }

  std::vector<token> out;
  out.reserve(in.size() + switches.size());
  std::size_t s = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    while (s < switches.size() && switches[s].first == i) out.push_back(switches[s++].second);
    out.push_back(in[i]);
  }
  return out;
}

// Inserts offset-width codes: each group of long matches gets the width
// that makes its offsets cheapest, when the saving pays for the code.
std::vector<token> choose_offset_widths(const std::vector<token>& in) {
  constexpr std::size_t group = 1024;
  std::vector<std::size_t> long_at;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (in[i].what == kind::long_match) long_at.push_back(i);
  }
  std::vector<std::pair<std::size_t, unsigned>> switches;
  unsigned current = 8;
  for (std::size_t g = 0; g < long_at.size(); g += group) {
    const std::size_t end = std::min(long_at.size(), g + group);
    auto total = [&](unsigned width) {
      std::uint64_t bits = 0;
      for (std::size_t k = g; k < end; ++k) {
        bits += gamma_bits((std::uint64_t{in[long_at[k]].arg} >> width) + 3) + width;
      }
      return bits;
    };
    unsigned best = current;
    std::uint64_t best_bits = total(current);
    for (unsigned width = 0; width < 32; ++width) {
      const std::uint64_t bits = total(width) + width_switch_cost(width);
      if (bits < best_bits) {
        best_bits = bits;
        best = width;
      }
    }
    if (best != current) {
      switches.push_back({long_at[g], best});
      current = best;
    }
  }
  std::vector<token> out;
  out.reserve(in.size() + switches.size());
  std::size_t s = 0;
  for (std::size_t i = 0; i < in.size(); ++i) {
    if (s < switches.size() && switches[s].first == i) {
      out.push_back({kind::offset_width, 0, 0, switches[s++].second, 0});
    }
    out.push_back(in[i]);
  }
  return out;
}

// ---------------------------------------------------------------- stream

class bit_writer {
 public:
  explicit bit_writer(std::vector<std::uint8_t>& out) : out_(out) {}

  // n from 0 to 32.
  void put(std::uint32_t value, unsigned n) {
    if (n == 0) return;
    acc_ = acc_ << n | (value & (n == 32 ? 0xFFFFFFFFu : (1u << n) - 1));
    count_ += n;
    if (count_ >= 32) {
      count_ -= 32;
      word(static_cast<std::uint32_t>(acc_ >> count_));
      acc_ &= (std::uint64_t{1} << count_) - 1;
    }
  }
  void put_wide(std::uint64_t value, unsigned n) {
    if (n > 32) {
      put(static_cast<std::uint32_t>(value >> 32), n - 32);
      n = 32;
    }
    put(static_cast<std::uint32_t>(value), n);
  }
  void gamma(std::uint64_t v) {
    const unsigned digits = static_cast<unsigned>(std::bit_width(v)) - 1;
    for (unsigned i = digits; i-- > 0;) {
      put(static_cast<std::uint32_t>((v >> i) & 1) << 1 | (i > 0 ? 1u : 0u), 2);
    }
  }
  void finish() {
    if (count_ > 0) put(0, 32 - count_);
  }

 private:
  void word(std::uint32_t w) {
    out_.push_back(static_cast<std::uint8_t>(w));
    out_.push_back(static_cast<std::uint8_t>(w >> 8));
    out_.push_back(static_cast<std::uint8_t>(w >> 16));
    out_.push_back(static_cast<std::uint8_t>(w >> 24));
  }
  std::vector<std::uint8_t>& out_;
  std::uint64_t acc_ = 0;
  unsigned count_ = 0;
};

void emit(const std::vector<token>& tokens, const std::uint8_t* d, std::vector<std::uint8_t>& out) {
  bit_writer bits(out);
  unsigned width = 8;
  std::uint32_t base = 0;
  unsigned literal_width = 8;
  for (const token& t : tokens) {
    switch (t.what) {
      case kind::literal:
        bits.put(1, 1);
        bits.put((d[t.pos] - base) & 0xFF, literal_width);
        break;
      case kind::zero:
        bits.put(0b0010001, 7);
        break;
      case kind::near_copy:
        bits.put(0b001, 3);
        bits.put(t.arg + 1, 4);
        break;
      case kind::raw:
        bits.put(0b0010000, 7);
        bits.put(1, 1);
        for (std::uint32_t run = 0; run < t.len / 256; ++run) {
          if (run > 0) bits.put(1, 1);
          for (std::uint32_t i = 0; i < 256; ++i) bits.put(d[t.pos + run * 256 + i], 8);
        }
        bits.put(0, 1);
        break;
      case kind::literal8:
        bits.put(0b001000001, 9);
        literal_width = 8;
        base = 0;
        break;
      case kind::literal7:
        bits.put(0b001000000, 9);
        bits.put(t.arg, 8);
        literal_width = 7;
        base = t.arg;
        break;
      case kind::offset_width: {
        const unsigned l = t.arg < 16 ? 1 : t.arg < 32 ? 2 : 3;
        bits.put(0, 3 + 7);
        bits.put(l, 2);
        bits.put(t.arg, l + 3);
        width = t.arg;
        break;
      }
      case kind::repeat:
        bits.put(0b01, 2);
        bits.gamma(2);
        bits.gamma(t.len);
        break;
      case kind::short_match:
        bits.put(0b000, 3);
        bits.put(t.arg, 7);
        bits.put(t.len - 2, 2);
        break;
      case kind::long_match:
        bits.put(0b01, 2);
        bits.gamma((std::uint64_t{t.arg} >> width) + 3);
        bits.put_wide(t.arg & ((std::uint64_t{1} << width) - 1), width);
        bits.gamma(t.len - length_bonus(t.arg));
        break;
      case kind::match:
        break;  // every match got its form before
    }
  }
  bits.put(0, 12);  // end code
  bits.finish();
}

std::uint32_t checksum(const std::uint8_t* d, std::size_t n) {
  if (n < 4) return 0;
  std::uint32_t sum = 0;
  auto word = [d](std::size_t i) {
    return static_cast<std::uint32_t>(d[i] | d[i + 1] << 8 | d[i + 2] << 16 |
                                      static_cast<std::uint32_t>(d[i + 3]) << 24);
  };
  auto step = [&sum](std::uint32_t w) {
    sum += w;
    sum ^= ((w << 1) | (w >> 31)) + 1;
  };
  std::size_t i = 0;
  for (; n - i >= 4; i += 4) step(word(i));
  if (i < n) step(word(n - 4));
  return sum;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<std::uint8_t> pack_compress(const std::uint8_t* data, std::size_t size) {
  std::vector<token> tokens = parser(data, size).run();
  tokens = make_raw_runs(tokens, data);
  tokens = choose_forms(tokens);
  tokens = choose_literal_widths(tokens, data);
  tokens = choose_offset_widths(tokens);

  std::vector<std::uint8_t> block;
  block.reserve(size / 2 + 64);
  block.push_back(0x4A);
  block.push_back(0x43);
  put32(block, static_cast<std::uint32_t>(size));
  put32(block, checksum(data, size));
  emit(tokens, data, block);
  // Bytes after the end code are ignored by the reader; one more word keeps
  // a block from having the length of its data, which would read as plain.
  if (block.size() == size) put32(block, 0);
  return block;
}

bool pack_append_entry(std::vector<std::uint8_t>& pack, const std::uint8_t* data, std::size_t size,
                       bool compressed) {
  if (size >= std::numeric_limits<std::uint32_t>::max()) return false;
  if (!compressed) {
    put32(pack, static_cast<std::uint32_t>(size));
    put32(pack, static_cast<std::uint32_t>(size));
    pack.insert(pack.end(), data, data + size);
    return true;
  }
  const std::vector<std::uint8_t> block = pack_compress(data, size);
  if (block.size() >= std::numeric_limits<std::uint32_t>::max()) return false;
  put32(pack, static_cast<std::uint32_t>(size));
  put32(pack, static_cast<std::uint32_t>(block.size()));
  pack.insert(pack.end(), block.begin(), block.end());
  return true;
}

bool pack_write_file(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"),
                                                       &std::fclose);
  if (!file) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size())
    return false;
  return std::fclose(file.release()) == 0;
}

bool pack_read_file(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                       &std::fclose);
  if (!file) return false;
  bytes.clear();
  std::uint8_t chunk[65536];
  for (;;) {
    const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) return std::ferror(file.get()) == 0;
  }
}
