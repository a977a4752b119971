// Pack files: the block decoder on hand-made streams and on the writer's
// output, malformed blocks, and the reader over real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pack.h"
#include "pack_reference.h"
#include "pack_writer.h"

namespace fs = std::filesystem;
using pack_test::block;
using pack_test::stream;

namespace {

using bytes = std::vector<std::uint8_t>;

bytes to_bytes(const std::string& s) {
  return bytes(s.begin(), s.end());
}

// Decodes into a buffer of exactly out_size bytes on the heap, so that the
// sanitizer sees any write past it.
pack_status decode(const bytes& blk, std::size_t out_size, bytes* out = nullptr) {
  // Copy the block too, to its exact size.
  std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[blk.size() + 1]);
  if (!blk.empty()) std::memcpy(in.get(), blk.data(), blk.size());
  std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[out_size + 1]);
  const pack_status status = pack_decode(in.get(), blk.size(), buffer.get(), out_size);
  if (out) out->assign(buffer.get(), buffer.get() + out_size);
  return status;
}

std::string show(pack_status s) {
  return pack_status_name(s);
}

// ------------------------------------------------------------- checksum

TEST(PackChecksum, KnownValues) {
  struct row {
    std::string data;
    std::uint32_t sum;
  };
  const row rows[] = {
      {"", 0},
      {"abc", 0},  // below four bytes there is nothing to sum
      {"abcd", 0xACA5A6A2u},
      {"abcde", 0xD8C2CCC1u},  // second word is the overlapping "bcde"
  };
  for (const row& r : rows) {
    EXPECT_EQ(pack_checksum(reinterpret_cast<const std::uint8_t*>(r.data.data()), r.data.size()),
              r.sum)
        << r.data;
  }
}

// ------------------------------------------------------------- decoder cases

struct decode_case {
  std::string name;
  bytes blk;
  std::size_t out_size;
  pack_status status;
  std::string expected;  // checked when status is ok
};

// A stream that first makes `size` bytes of 'a' (a literal and a long match
// at offset 1), for matches that need a long history.
stream history_of_a(std::size_t size) {
  stream s;
  s.width8().literal('a');
  if (size > 1) s.long_match(3, 1, 8, size - 1 - 4);  // offset 1 gets 4 more
  return s;
}

std::vector<decode_case> good_cases() {
  std::vector<decode_case> cases;
  auto add = [&cases](std::string name, const bytes& blk, const std::string& expected) {
    cases.push_back({std::move(name), blk, expected.size(), pack_status::ok, expected});
  };

  add("abc", block(stream().width8().literals("abc").end()), "abc");
  add("x then a short match of 5 at offset 1",
      block(stream().width8().literal('x').short_match(1, 5).end()), "xxxxxx");
  add("empty stream", block(stream().end()), "");
  add("checksum field 0 ignores a wrong size field",
      block(stream().width8().literals("abcd").end(), 0xFFFFFFFFu, 0), "abcd");
  add("checksum of abcd", block(stream().width8().literals("abcd").end(), 4, 0xACA5A6A2u), "abcd");
  add("checksum of abcde", block(stream().width8().literals("abcde").end(), 5, 0xD8C2CCC1u),
      "abcde");
  add("checksum over the first n bytes only",
      block(stream().width8().literals("abcdXYZ").end(), 4, 0xACA5A6A2u), "abcdXYZ");
  add("literal width 7 over a base",
      block(stream().width7('a').literal(0, 7).literal(25, 7).literal(127, 7).end()),
      std::string("az") + static_cast<char>('a' + 127));
  add("width 7 base wraps modulo 256",
      block(stream().width7(0xF0).literal(0x0F, 7).literal(0x10, 7).literal(0x7F, 7).end()),
      std::string("\xFF\x00\x6F", 3));
  add("width 8 after width 7 drops the base",
      block(stream().width7(0x40).literal(1, 7).width8().literal('A').end()), "AA");
  add("zero byte code", block(stream().zero().zero().end()), std::string(2, '\0'));
  add("one-byte copies at offsets 1 and 14",
      block(stream().width8().literals("abcdefghijklmn").near_copy(14).near_copy(1).end()),
      "abcdefghijklmnaa");
  add("short match lengths 2..5",
      block(stream()
                .width8()
                .literals("abcdef")
                .short_match(6, 2)
                .short_match(3, 3)
                .short_match(2, 4)
                .short_match(1, 5)
                .end()),
      "abcdefab"
      "fab"
      "abab"
      "bbbbb");
  add("short match overlapping its output",
      block(stream().width8().literals("ab").short_match(2, 5).end()), "abababa");
  add("repeat at the start uses offset 1", block(stream().width8().literal('q').repeat(3).end()),
      "qqqq");
  add("repeat uses the offset of the last short match",
      block(stream().width8().literals("abc").short_match(3, 2).repeat(2).end()), "abcabca");
  add("one-byte copies leave the last offset alone",
      block(stream().width8().literals("abc").short_match(3, 2).near_copy(1).repeat(2).end()),
      "abcabbab");
  add("repeat uses the offset of the last long match",
      block(stream()
                .width8()
                .literals("abcdefgh")
                .long_match(3, 7, 8, 2)
                .near_copy(2)
                .repeat(3)
                .end()),
      "abcdefgh"
      "bcdefg"
      "f"
      "bcd");
  add("offset width 0 makes G - 3 the offset",
      block(stream().width8().literals("abcd").offset_width(1, 0).long_match(3 + 3, 0, 0, 2).end()),
      "abcd"
      "bcdbcd");
  add("offset width 4 splits the offset",
      block(stream()
                .width8()
                .literals("0123456789abcdefghij")
                .offset_width(1, 4)
                .long_match(3 + 1, 4, 4, 2)
                .end()),
      "0123456789abcdefghij"
      "012345");  // offset 1 * 16 + 4 = 20, length 2 + 4
  add("offset width 20 read with 5 bits",
      block(stream().width8().literals("xy").offset_width(2, 20).long_match(3, 2, 20, 2).end()),
      "xy"
      "xyxyxy");
  add("offset width 40 read with 6 bits",
      block(stream().width8().literals("xy").offset_width(3, 40).long_match(3, 1, 40, 3).end()),
      "xy"
      "yyyyyyy");
  add("long gamma length", block(stream().width8().literal('z').long_match(3, 1, 8, 1000).end()),
      std::string(1005, 'z'));
  {
    stream s;
    s.width8().literal('h').raw_run_start();
    std::string expected = "h";
    for (int i = 0; i < 512; ++i) {
      if (i == 256) s.bits("1");  // a second run follows without a new prefix
      s.num(static_cast<std::uint8_t>(i * 7), 8);
      expected += static_cast<char>(static_cast<std::uint8_t>(i * 7));
    }
    s.bits("0").literal('t').end();
    expected += 't';
    add("two raw runs back to back", block(s), expected);
  }
  // The length a long match adds for its offset, at each boundary.
  const std::uint32_t boundaries[][2] = {{1, 4},     {127, 4},   {128, 0},   {638, 0},
                                         {639, 1},   {14334, 1}, {14335, 2}, {65535, 2},
                                         {65536, 3}, {200000, 3}};
  for (const auto& b : boundaries) {
    const std::uint32_t offset = b[0];
    const std::uint32_t bonus = b[1];
    stream s = history_of_a(offset);
    s.long_match(3 + (offset >> 8), offset & 0xFF, 8, 2).end();
    add("offset " + std::to_string(offset) + " adds " + std::to_string(bonus), block(s),
        std::string(offset + 2 + bonus, 'a'));
  }
  return cases;
}

std::vector<decode_case> bad_cases() {
  std::vector<decode_case> cases;
  auto add = [&cases](std::string name, const bytes& blk, std::size_t out_size, pack_status s) {
    cases.push_back({std::move(name), blk, out_size, s, {}});
  };
  const bytes abc = block(stream().width8().literals("abc").end());

  add("no bytes at all", {}, 3, pack_status::no_magic);
  add("header cut short", bytes(abc.begin(), abc.begin() + 9), 3, pack_status::no_magic);
  add(
      "wrong magic",
      [&] {
        bytes b = abc;
        b[0] = 'j';
        return b;
      }(),
      3, pack_status::no_magic);
  add(
      "magic reversed",
      [&] {
        bytes b = abc;
        std::swap(b[0], b[1]);
        return b;
      }(),
      3, pack_status::no_magic);
  add("header without a stream", bytes(abc.begin(), abc.begin() + 10), 3,
      pack_status::stream_overrun);
  // Zero bits that pad the last word read as an end code, so a stream
  // without one must fill its last word: 9 + 31 * 9 bits are 9 words.
  add("stream without end code",
      block(stream().width8().literals("abcdefghijklmnopqrstuvwxyz01234")), 31,
      pack_status::stream_overrun);
  add("last word cut to 3 bytes", bytes(abc.begin(), abc.end() - 1), 3,
      pack_status::stream_overrun);
  add("more than U bytes", abc, 2, pack_status::output_overflow);
  add("end before U bytes", abc, 4, pack_status::output_short);
  add("literal before any width code", block(stream().literal('a').end()), 1,
      pack_status::no_literal_width);
  add("short match before the start", block(stream().width8().literal('a').short_match(2, 2).end()),
      3, pack_status::bad_offset);
  add("repeat with nothing written", block(stream().repeat(2).end()), 2, pack_status::bad_offset);
  add("one-byte copy with nothing written", block(stream().near_copy(1).end()), 1,
      pack_status::bad_offset);
  add("long match with offset 0",
      block(stream().width8().literal('a').long_match(3, 0, 8, 2).end()), 7,
      pack_status::bad_offset);
  add("long match far before the start",
      block(stream().width8().literal('a').long_match(1000, 0, 8, 2).end()), 10,
      pack_status::bad_offset);
  add("offset width 63 with a high part",
      block(stream().width8().literal('a').offset_width(3, 63).long_match(4, 0, 63, 2).end()), 10,
      pack_status::bad_offset);
  add("match longer than the room left",
      block(stream().width8().literal('a').short_match(1, 5).end()), 5,
      pack_status::output_overflow);
  add(
      "gamma length beyond any size",
      [] {
        stream s;
        s.width8().literal('a').bits("01").gamma(3).num(1, 8).bits("01");
        for (int i = 0; i < 200; ++i) s.bits("11");  // never ends on its own
        return block(s.bits("00").end());
      }(),
      10, pack_status::output_overflow);
  add(
      "gamma offset beyond any size",
      [] {
        stream s;
        s.width8().literal('a').bits("01");
        for (int i = 0; i < 200; ++i) s.bits("11");
        return block(s.bits("00").end());
      }(),
      10, pack_status::bad_offset);
  add("zero byte past U", block(stream().zero().zero().end()), 1, pack_status::output_overflow);
  add(
      "raw run with less than 256 bytes of room",
      [] {
        stream s;
        s.raw_run_start();
        for (int i = 0; i < 256; ++i) s.num(1, 8);
        return block(s.bits("0").end());
      }(),
      255, pack_status::output_overflow);
  add(
      "raw run cut short by the end of the block",
      [] {
        stream s;
        s.raw_run_start();
        for (int i = 0; i < 100; ++i) s.num(1, 8);
        return block(s);
      }(),
      256, pack_status::stream_overrun);
  add("checksum mismatch", block(stream().width8().literals("abcd").end(), 4, 0xACA5A6A3u), 4,
      pack_status::checksum_mismatch);
  add("checksum set with fewer than 4 bytes", block(stream().width8().literals("abc").end(), 3, 1),
      3, pack_status::checksum_mismatch);
  add("checksum over more than the output",
      block(stream().width8().literals("abcd").end(), 5, 0xACA5A6A2u), 4,
      pack_status::checksum_mismatch);
  return cases;
}

TEST(PackDecode, WellFormedStreams) {
  for (const decode_case& c : good_cases()) {
    bytes out;
    const pack_status status = decode(c.blk, c.out_size, &out);
    EXPECT_EQ(show(status), show(pack_status::ok)) << c.name;
    EXPECT_EQ(std::string(out.begin(), out.end()), c.expected) << c.name;
    // The one-bit-at-a-time reference agrees.
    const pack_test::reference_result ref = pack_test::reference_decode(c.blk, c.out_size);
    EXPECT_TRUE(ref.ok) << c.name;
    EXPECT_EQ(std::string(ref.out.begin(), ref.out.end()), c.expected) << c.name;
  }
}

TEST(PackDecode, MalformedStreamsFailCleanly) {
  for (const decode_case& c : bad_cases()) {
    EXPECT_EQ(show(decode(c.blk, c.out_size)), show(c.status)) << c.name;
    EXPECT_FALSE(pack_test::reference_decode(c.blk, c.out_size).ok) << c.name;
  }
}

TEST(PackDecode, NullOutputForEmptyData) {
  const bytes blk = block(stream().end());
  EXPECT_EQ(show(pack_decode(blk.data(), blk.size(), nullptr, 0)), show(pack_status::ok));
}

// ------------------------------------------------------------- test inputs

// Text made of words, lines and some Windows-1252 accents.
bytes make_text(std::size_t size, std::uint32_t seed) {
  static const char* const words[] = {"version",
                                      "definition",
                                      "date",
                                      "filtre",
                                      "courrier",
                                      "ind\xE9sirable",
                                      "mise",
                                      "\xE0",
                                      "jour",
                                      "le",
                                      "la",
                                      "des",
                                      "serveur",
                                      "t\xE9l\xE9"
                                      "chargement",
                                      "=",
                                      "2005.10.12",
                                      "et",
                                      "pour",
                                      "une",
                                      "r\xE8gle",
                                      "message"};
  std::mt19937 rng(seed);
  bytes out;
  while (out.size() < size) {
    const std::string w = words[rng() % (sizeof words / sizeof *words)];
    out.insert(out.end(), w.begin(), w.end());
    out.push_back(rng() % 9 == 0 ? '\n' : ' ');
    if (out.back() == '\n' && rng() % 2) out.insert(out.end() - 1, '\r');
  }
  out.resize(size);
  return out;
}

bytes make_random(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

// Records of a binary table: small integers, zeros, a stride.
bytes make_records(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  bytes out;
  std::uint32_t id = 1000;
  while (out.size() < size) {
    id += 1 + rng() % 3;
    const std::uint32_t fields[] = {id, static_cast<std::uint32_t>(rng() % 16), 0, 0x00010000u,
                                    static_cast<std::uint32_t>(rng() % 300)};
    for (std::uint32_t f : fields) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(f >> (8 * i)));
    }
  }
  out.resize(size);
  return out;
}

// Random blocks that come back far apart, for long offsets and wide
// offset widths.
bytes make_far_repeats(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  const bytes pool = make_random(std::min<std::size_t>(size, 1 << 20) / 2 + 64, seed + 1);
  bytes out;
  while (out.size() < size) {
    const std::size_t len = 64 + rng() % 512;
    const std::size_t from = rng() % (pool.size() - std::min(len, pool.size()) + 1);
    const std::size_t n = std::min(len, pool.size() - from);
    out.insert(out.end(), pool.begin() + static_cast<std::ptrdiff_t>(from),
               pool.begin() + static_cast<std::ptrdiff_t>(from + n));
  }
  out.resize(size);
  return out;
}

// Few distinct bytes with runs, zeros and short periods.
bytes make_runs(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  bytes out;
  while (out.size() < size) {
    const std::uint8_t b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : 'a' + rng() % 3);
    const std::size_t len = 1 + rng() % (rng() % 8 == 0 ? 3000 : 6);
    if (rng() % 3 == 0 && out.size() >= 4) {
      for (std::size_t i = 0; i < len; ++i) out.push_back(out[out.size() - 3]);
    } else {
      out.insert(out.end(), len, b);
    }
  }
  out.resize(size);
  return out;
}

struct generator {
  const char* name;
  bytes (*make)(std::size_t, std::uint32_t);
};

const generator generators[] = {{"text", make_text},
                                {"random", make_random},
                                {"records", make_records},
                                {"far", make_far_repeats},
                                {"runs", make_runs}};

// ------------------------------------------------------------- round trip

void expect_round_trip(const bytes& data, const std::string& label) {
  const bytes blk = pack_compress(data.data(), data.size());
  ASSERT_NE(blk.size(), data.size()) << label << ": a block must not look plain";
  bytes out;
  ASSERT_EQ(show(decode(blk, data.size(), &out)), show(pack_status::ok)) << label;
  ASSERT_TRUE(out == data) << label;
  const pack_test::reference_result ref = pack_test::reference_decode(blk, data.size());
  ASSERT_TRUE(ref.ok) << label;
  ASSERT_TRUE(ref.out == data) << label;
}

TEST(PackRoundTrip, ManySizesAndKinds) {
  const std::size_t sizes[] = {0,    1,    2,    3,    4,     5,     7,     8,      15,
                               16,   17,   31,   255,  256,   257,   511,   512,    513,
                               1000, 4095, 4096, 4097, 65535, 65536, 65537, 100003, 300000};
  std::uint32_t seed = 1;
  for (const generator& g : generators) {
    for (std::size_t size : sizes) {
      expect_round_trip(g.make(size, seed++), std::string(g.name) + " " + std::to_string(size));
    }
  }
}

TEST(PackRoundTrip, SeveralMebibytes) {
  // One mixed input of 3 MiB: every kind of content in turn, in pieces.
  bytes data;
  std::uint32_t seed = 77;
  while (data.size() < (3u << 20)) {
    for (const generator& g : generators) {
      const bytes piece = g.make(100000 + seed * 997 % 150000, seed);
      ++seed;
      data.insert(data.end(), piece.begin(), piece.end());
    }
  }
  expect_round_trip(data, "mixed 3 MiB");
  expect_round_trip(make_far_repeats(4u << 20, 5), "far repeats 4 MiB");
}

TEST(PackRoundTrip, EveryByteValueAndEdgePatterns) {
  bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  expect_round_trip(all, "0..255");
  bytes twice = all;
  twice.insert(twice.end(), all.rbegin(), all.rend());
  expect_round_trip(twice, "0..255..0");
  expect_round_trip(bytes(70000, 0), "zeros");
  expect_round_trip(bytes(70000, 0xFF), "0xFF");
  expect_round_trip(to_bytes("JC"), "magic as data");
  // Bytes that all fit 7 bits only across the wrap from 255 to 0.
  bytes wrap;
  std::mt19937 rng(3);
  for (int i = 0; i < 5000; ++i) wrap.push_back(static_cast<std::uint8_t>(0xC0 + rng() % 128));
  expect_round_trip(wrap, "wrapping range");
}

// ------------------------------------------------------------- codes used

TEST(PackWriter, UsesEveryCodeOverAMixedCorpus) {
  pack_test::code_counts total;
  std::uint32_t seed = 11;
  for (const generator& g : generators) {
    for (std::size_t size : {3000u, 70000u, 600000u}) {
      const bytes data = g.make(size, seed++);
      const bytes blk = pack_compress(data.data(), data.size());
      const pack_test::reference_result r = pack_test::reference_decode(blk, data.size());
      ASSERT_TRUE(r.ok && r.out == data) << g.name << " " << size;
      const pack_test::code_counts& c = r.counts;
      total.literal8 += c.literal8;
      total.literal7 += c.literal7;
      total.width8 += c.width8;
      total.width7 += c.width7;
      total.short_match += c.short_match;
      total.long_match += c.long_match;
      total.repeat += c.repeat;
      total.zero += c.zero;
      total.near_copy += c.near_copy;
      total.raw_intro += c.raw_intro;
      total.raw_run += c.raw_run;
      for (int l = 0; l < 4; ++l) total.offset_width[l] += c.offset_width[l];
      total.end += c.end;
    }
  }
  const std::pair<const char*, std::size_t> seen[] = {
      {"8-bit literal", total.literal8},
      {"7-bit literal", total.literal7},
      {"width 8 code", total.width8},
      {"width 7 code with a base", total.width7},
      {"short match", total.short_match},
      {"long match", total.long_match},
      {"last-offset repeat", total.repeat},
      {"zero byte code", total.zero},
      {"one-byte copy", total.near_copy},
      {"raw run code", total.raw_intro},
      {"raw run continued", total.raw_run - total.raw_intro},
      {"offset width, 4 bits", total.offset_width[1]},
      {"offset width, 5 bits", total.offset_width[2]},
      {"end code", total.end},
  };
  for (const auto& [name, count] : seen) {
    EXPECT_GT(count, 0u) << name;
    std::printf("%-28s %zu\n", name, count);
  }
  // Widths of 32 or more (the 6-bit form) never pay off: no offset in a
  // block reaches 2^32, so the writer has no use for them.
  EXPECT_EQ(total.offset_width[3], 0u);
}

// ------------------------------------------------------------- damaged blocks

TEST(PackDecode, EveryStrictPrefixFails) {
  std::vector<std::pair<std::string, bytes>> inputs = {
      {"text", make_text(3000, 1)}, {"random", make_random(1500, 2)},
      {"runs", make_runs(2000, 3)}, {"records", make_records(2500, 4)},
      {"short", to_bytes("abc")},   {"empty", {}}};
  for (const auto& [name, data] : inputs) {
    const bytes blk = pack_compress(data.data(), data.size());
    ASSERT_NE(blk.size(), data.size() + 4) << name << ": unexpected padding word";
    for (std::size_t cut = 0; cut < blk.size(); ++cut) {
      const bytes prefix(blk.begin(), blk.begin() + static_cast<std::ptrdiff_t>(cut));
      const pack_status status = decode(prefix, data.size());
      ASSERT_NE(show(status), show(pack_status::ok)) << name << " cut at " << cut;
    }
  }
}

TEST(PackDecode, DamagedBytesNeverPassForTheData) {
  const bytes data = make_text(2000, 9);
  const bytes blk = pack_compress(data.data(), data.size());
  std::mt19937 rng(5);
  for (std::size_t i = 0; i < blk.size(); ++i) {
    for (int flip : {1, 0x80, 0xFF}) {
      bytes damaged = blk;
      damaged[i] = static_cast<std::uint8_t>(damaged[i] ^ flip);
      bytes out;
      const pack_status status = decode(damaged, data.size(), &out);
      // A flip in the zero padding after the end code changes nothing.
      if (status == pack_status::ok) {
        ASSERT_TRUE(out == data) << "byte " << i << " ^ " << flip;
      }
    }
  }
  // The wrong size either way.
  EXPECT_EQ(show(decode(blk, data.size() - 1)), show(pack_status::output_overflow));
  EXPECT_EQ(show(decode(blk, data.size() + 1)), show(pack_status::output_short));
}

TEST(PackDecode, RandomBytesAfterTheMagic) {
  // Garbage streams: anything but a crash or a read outside the block.
  std::mt19937 rng(8);
  for (int i = 0; i < 3000; ++i) {
    bytes blk = {0x4A, 0x43};
    const std::size_t n = 8 + rng() % 200;
    for (std::size_t k = 0; k < n; ++k) blk.push_back(static_cast<std::uint8_t>(rng()));
    if (i % 2) {
      blk[6] = blk[7] = blk[8] = blk[9] = 0;  // no checksum: more streams get to the end
    }
    decode(blk, rng() % 600);
  }
}

// ------------------------------------------------------------- the reader

class PackReader : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("pack_reader_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    pack_close();
    fs::remove_all(dir_);
  }
  std::string write(const std::string& name, const bytes& content) {
    const std::string path = (dir_ / name).string();
    EXPECT_TRUE(pack_write_file(path, content));
    return path;
  }
  static bytes entry_header(std::uint32_t u, std::uint32_t p) {
    bytes h;
    pack_test::put32(h, u);
    pack_test::put32(h, p);
    return h;
  }
  static bytes next_entry() {
    const std::uint8_t* data = pack_next_entry();
    if (!data) return {};
    return bytes(data, data + pack_entry_size());
  }
  fs::path dir_;
};

TEST_F(PackReader, ReadsEntriesInOrderThenNothing) {
  const bytes plain = to_bytes("version_definition = 2005.10.12\r\n");
  const bytes text = make_text(50000, 4);
  bytes pack;
  ASSERT_TRUE(pack_append_entry(pack, plain.data(), plain.size(), false));
  ASSERT_TRUE(pack_append_entry(pack, text.data(), text.size(), true));
  ASSERT_TRUE(pack_append_entry(pack, nullptr, 0, true));
  ASSERT_TRUE(pack_append_entry(pack, nullptr, 0, false));
  ASSERT_EQ(pack_open(write("eas", pack)), 1);

  EXPECT_EQ(next_entry(), plain);
  EXPECT_EQ(pack_entry_size(), static_cast<std::int64_t>(plain.size()));
  EXPECT_EQ(next_entry(), text);
  EXPECT_EQ(pack_entry_size(), 50000);
  for (const char* what : {"empty compressed", "empty plain"}) {
    EXPECT_NE(pack_next_entry(), nullptr) << what;
    EXPECT_EQ(pack_entry_size(), 0) << what;
  }
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
}

TEST_F(PackReader, PlainEntryStartingWithTheMagicIsReturnedAsIs) {
  // P = U decides: these bytes look like a block header but are data.
  const bytes data = block(stream().width8().literals("zz").end());
  bytes pack = entry_header(static_cast<std::uint32_t>(data.size()),
                            static_cast<std::uint32_t>(data.size()));
  pack.insert(pack.end(), data.begin(), data.end());
  ASSERT_EQ(pack_open(write("eas", pack)), 1);
  EXPECT_EQ(next_entry(), data);
}

TEST_F(PackReader, NothingWithoutAnOpenFile) {
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(pack_open((dir_ / "missing").string()), 0);
  EXPECT_EQ(pack_next_entry(), nullptr);
  fs::create_directory(dir_ / "folder");
  EXPECT_EQ(pack_open((dir_ / "folder").string()), 0);
  EXPECT_EQ(pack_next_entry(), nullptr);
}

TEST_F(PackReader, OpenAndCloseReplaceTheFile) {
  bytes a, b;
  ASSERT_TRUE(pack_append_entry(a, to_bytes("first of a"), false));
  ASSERT_TRUE(pack_append_entry(a, to_bytes("second of a"), false));
  ASSERT_TRUE(pack_append_entry(b, to_bytes("first of b"), true));
  const std::string path_a = write("a", a);
  const std::string path_b = write("b", b);
  ASSERT_EQ(pack_open(path_a), 1);
  EXPECT_EQ(next_entry(), to_bytes("first of a"));
  ASSERT_EQ(pack_open(path_b), 1);  // starts at the first entry of b
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(next_entry(), to_bytes("first of b"));
  ASSERT_EQ(pack_open(path_a), 1);  // the same file again: from its start
  EXPECT_EQ(next_entry(), to_bytes("first of a"));
  pack_close();
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(pack_next_entry(), nullptr);
}

// Malformed entries are reported like a missing one: no data, size -1.
TEST_F(PackReader, MalformedEntriesGiveNothing) {
  const bytes good_block = pack_compress(reinterpret_cast<const std::uint8_t*>("hello hello"), 11);
  auto entry = [](std::uint32_t u, const bytes& payload) {
    bytes e = entry_header(u, static_cast<std::uint32_t>(payload.size()));
    e.insert(e.end(), payload.begin(), payload.end());
    return e;
  };
  bytes no_magic_block = good_block;
  no_magic_block[0] = 'X';
  bytes bad_sum = good_block;
  bad_sum[6] ^= 1;
  struct row {
    const char* name;
    bytes file;
  };
  const row rows[] = {
      {"header of 5 bytes", {1, 0, 0, 0, 1}},
      {"header of 7 bytes", {3, 0, 0, 0, 3, 0, 0}},
      {"plain payload cut short",
       [] {
         bytes e = entry_header(10, 10);
         e.insert(e.end(), 9, 'x');
         return e;
       }()},
      {"compressed payload cut short",
       [&] {
         bytes e = entry(11, good_block);
         e.pop_back();
         return e;
       }()},
      {"packed size beyond any file", entry_header(5, 0xFFFFFFFFu)},
      {"block without magic", entry(11, no_magic_block)},
      {"block for more bytes than U", entry(10, good_block)},
      {"block for fewer bytes than U", entry(12, good_block)},
      {"checksum mismatch", entry(11, bad_sum)},
      {"block of 3 bytes", entry(7, {0x4A, 0x43, 0})},
      {"unpacked size no memory holds", entry(0xFFFFFFFFu, good_block)},
  };
  for (const row& r : rows) {
    ASSERT_EQ(pack_open(write("eas", r.file)), 1) << r.name;
    EXPECT_EQ(pack_next_entry(), nullptr) << r.name;
    EXPECT_EQ(pack_entry_size(), -1) << r.name;
    EXPECT_EQ(pack_next_entry(), nullptr) << r.name << ": nothing after it";
    pack_close();
  }
}

TEST_F(PackReader, EntryAfterACorruptBlockIsStillRead) {
  bytes first = pack_compress(reinterpret_cast<const std::uint8_t*>("abcdefgh"), 8);
  first[first.size() - 1] ^= 0x40;  // damage the stream, keep the sizes
  bytes pack = entry_header(8, static_cast<std::uint32_t>(first.size()));
  pack.insert(pack.end(), first.begin(), first.end());
  ASSERT_TRUE(pack_append_entry(pack, to_bytes("next"), true));
  ASSERT_EQ(pack_open(write("eas", pack)), 1);
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_EQ(next_entry(), to_bytes("next"));
}

// Found by the fuzzer (its harness expected nothing after a malformed
// entry): U = 0 with a 14-byte block whose checksum is set, which no data of
// 0 bytes can match, then the header of an empty plain entry.
TEST_F(PackReader, EmptyBlockWithAChecksumThenAnEmptyEntry) {
  const bytes file = {0x00, 0x00, 0x00, 0x00, 0x0E, 0x00, 0x00, 0x00, 0x4A, 0x43,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x20, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
  ASSERT_EQ(pack_open(write("eas", file)), 1);
  EXPECT_EQ(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), -1);
  EXPECT_NE(pack_next_entry(), nullptr);
  EXPECT_EQ(pack_entry_size(), 0);
  EXPECT_EQ(pack_next_entry(), nullptr);
}

}  // namespace
