// Hand-picked x86 encodings whose length is easy to get wrong. The sweep
// over real binaries (fault_capstone_test) covers the common instructions;
// these pin the corners, in both modes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fault.h"

namespace {

std::vector<std::uint8_t> parse_hex(const std::string& text) {
  std::vector<std::uint8_t> out;
  int high = -1;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) continue;
    if (high < 0) {
      high = digit;
    } else {
      out.push_back(static_cast<std::uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  return out;
}

// Length not checked in that mode: the bytes would need more to make up
// the other mode's instruction.
constexpr std::size_t unchecked = ~std::size_t{0};

struct encoding {
  const char* label;
  const char* hex;       // exactly one instruction in at least one mode
  std::size_t length32;  // 0: invalid (or cut short) in that mode
  std::size_t length64;
};

// Lengths by the processor manuals; where the vendors differ, the one noted.
// Some rows are where Capstone 4 (the oracle of fault_capstone_test) is
// wrong: it decodes ud1 without its ModR/M byte, reads a byte too many after
// EVEX static rounding, and drops the SIB byte of EVEX under 67.
const encoding encodings[] = {
    // Prefix runs.
    {"nop", "90", 1, 1},
    {"segment, size and rep prefixes", "2e 3e 26 64 65 36 66 67 f3 90", 10, 10},
    {"fourteen prefixes make 15 bytes", "66 66 66 66 66 66 66 66 66 66 66 66 66 66 90", 15, 15},
    {"fifteen prefixes make 16 bytes", "66 66 66 66 66 66 66 66 66 66 66 66 66 66 66 90", 0, 0},
    {"lock add", "f0 01 08", 3, 3},
    {"prefixes alone", "66 f3 2e", 0, 0},
    // ModR/M, SIB, displacements.
    {"[esp+8]: SIB, disp8", "8b 44 24 08", 4, 4},
    {"[esp+100h]: SIB, disp32", "8b 84 24 00 01 00 00", 7, 7},
    {"SIB without base: disp32", "8b 04 25 00 10 00 00", 7, 7},
    {"SIB without base under mod 01: disp8 only", "8b 44 25 08", 4, 4},
    {"[ebp-8]", "8b 45 f8", 3, 3},
    {"[disp32] / [rip+disp32]", "8b 05 00 10 00 00", 6, 6},
    {"register form", "8b c1", 2, 2},
    {"67: 16-bit [disp16]", "67 8b 06 34 12", 5, 3},
    {"67: 16-bit [bx+si]", "67 8b 00", 3, 3},
    {"67: 16-bit [si] takes no SIB", "67 8b 04", 3, unchecked},
    {"67: 16-bit [bp+disp8]", "67 8b 46 08", 4, 4},
    {"67: 16-bit [bp+disp16]", "67 8b 86 34 12", 5, unchecked},
    {"67 in 64-bit mode: 32-bit addressing keeps SIB", "67 8b 04 24", 3, 4},
    // Immediates by operand size.
    {"add eax, imm32", "05 78 56 34 12", 5, 5},
    {"66: add ax, imm16", "66 05 34 12", 4, 4},
    {"push imm32", "68 78 56 34 12", 5, 5},
    {"66: push imm16", "66 68 34 12", 4, 4},
    {"push imm8", "6a 01", 2, 2},
    {"imul r, r/m, imm32", "69 c0 78 56 34 12", 6, 6},
    {"imul r, r/m, imm8", "6b c0 01", 3, 3},
    {"81 /0 imm32", "81 c1 78 56 34 12", 6, 6},
    {"66 81 /0 imm16", "66 81 c1 34 12", 5, 5},
    {"83 /0 imm8", "83 c1 01", 3, 3},
    {"82 /0 imm8 (no longer in 64-bit mode)", "82 c1 01", 3, 0},
    {"test [esp+100h], imm32", "f7 84 24 00 01 00 00 78 56 34 12", 11, 11},
    {"F6 /0 imm8", "f6 00 12", 3, 3},
    {"F6 /1 imm8", "f6 08 12", 3, 3},
    {"F6 /2 without immediate", "f6 10", 2, 2},
    {"F7 /0 imm32", "f7 00 78 56 34 12", 6, 6},
    {"66 F7 /0 imm16", "66 f7 00 34 12", 5, 5},
    {"F7 /1 imm32", "f7 c8 78 56 34 12", 6, 6},
    {"F7 /3 without immediate", "f7 d8", 2, 2},
    {"C6 /0 imm8", "c6 00 01", 3, 3},
    {"C7 /0 imm32", "c7 00 78 56 34 12", 6, 6},
    {"66 C7 /0 imm16", "66 c7 00 34 12", 5, 5},
    {"C6 /1 is undefined", "c6 08 01", 0, 0},
    {"xabort imm8", "c6 f8 01", 3, 3},
    {"xbegin rel32", "c7 f8 00 00 00 00", 6, 6},
    {"ret imm16", "c2 08 00", 3, 3},
    {"66 ret imm16: the immediate stays 16 bits", "66 c2 08 00", 4, 4},
    {"retf imm16", "ca 08 00", 3, 3},
    {"enter imm16, imm8", "c8 10 00 01", 4, 4},
    {"66 enter", "66 c8 10 00 01", 5, 5},
    {"int 80h", "cd 80", 2, 2},
    {"aam imm8", "d4 0a", 2, 0},
    // Relative branches.
    {"call rel32", "e8 00 00 00 00", 5, 5},
    {"66 call rel16 (64-bit mode as AMD decodes it)", "66 e8 00 00", 4, 4},
    {"jz rel32", "0f 84 00 00 00 00", 6, 6},
    {"jmp rel8", "eb fe", 2, 2},
    {"jecxz / 67 jcxz", "67 e3 00", 3, 3},
    // Memory offsets.
    {"mov eax, [moffs]", "a1 44 33 22 11", 5, unchecked},
    {"67 mov al, [moffs16]", "67 a0 34 12", 4, unchecked},
    {"66 does not change moffs", "66 a3 44 33 22 11", 6, unchecked},
    {"mov rax, [moffs64]", "a1 88 77 66 55 44 33 22 11", 5, 9},
    {"67 mov eax, [moffs32]", "67 a1 44 33 22 11", 4, 6},
    {"REX.W mov [moffs64], rax", "48 a3 88 77 66 55 44 33 22 11", 1, 10},
    // Far pointers: gone in 64-bit mode.
    {"jmp far ptr16:32", "ea 78 56 34 12 34 12", 7, 0},
    {"66 jmp far ptr16:16", "66 ea 34 12 00 10", 6, 0},
    {"call far ptr16:32", "9a 78 56 34 12 34 12", 7, 0},
    // REX.
    {"mov eax, imm32", "b8 78 56 34 12", 5, 5},
    {"66 mov ax, imm16", "66 b8 34 12", 4, 4},
    {"REX.B mov r8d, imm32 (inc ecx in 32-bit mode)", "41 b8 78 56 34 12", 1, 6},
    {"REX.W mov rax, imm64", "48 b8 88 77 66 55 44 33 22 11", 1, 10},
    {"REX.WB mov r11, imm64", "49 bb 88 77 66 55 44 33 22 11", 1, 10},
    {"REX.W beats 66", "66 48 b8 88 77 66 55 44 33 22 11", 2, 11},
    {"REX before a legacy prefix is ignored", "48 66 b8 34 12", 1, 5},
    {"the last of two REX counts", "40 48 b8 88 77 66 55 44 33 22 11", 1, 11},
    {"REX.W keeps imm32 sign-extended", "48 81 c1 78 56 34 12", 1, 7},
    {"RIP-relative with imm32", "48 c7 05 00 10 00 00 78 56 34 12", 1, 11},
    {"movsxd", "48 63 c1", 1, 3},
    {"inc eax (a REX prefix in 64-bit mode)", "40", 1, unchecked},
    {"push es", "06", 1, 0},
    {"pusha", "60", 1, 0},
    {"into", "ce", 1, 0},
    // Two-byte map.
    {"ud2", "0f 0b", 2, 2},
    {"ud1 has a ModR/M byte", "0f b9 04 24", 4, 4},
    {"cpuid", "0f a2", 2, 2},
    {"nop r/m", "0f 1f 44 00 00", 5, 5},
    {"66 nop r/m disp32", "66 0f 1f 84 00 00 00 00 00", 9, 9},
    {"endbr64", "f3 0f 1e fa", 4, 4},
    {"mov cr0, eax: ModR/M names registers only", "0f 22 04", 3, 3},
    {"bt r/m, imm8", "0f ba e0 05", 4, 4},
    {"shld r/m, r, imm8", "0f a4 c2 04", 4, 4},
    {"shld r/m, r, cl", "0f a5 c2", 3, 3},
    {"cmpps imm8", "0f c2 c1 01", 4, 4},
    {"66 shufpd imm8", "66 0f c6 c1 1b", 5, 5},
    {"66 psrldq imm8", "66 0f 73 d8 04", 5, 5},
    {"pshufw imm8", "0f 70 c1 1b", 4, 4},
    {"66 0F 78: extrq with two immediates", "66 0f 78 c0 04 08", 6, 6},
    {"F2 0F 78: insertq with two immediates", "f2 0f 78 c1 04 08", 6, 6},
    {"0F 78: vmread", "0f 78 c1", 3, 3},
    {"xcryptecb", "f3 0f a7 c8", 4, 4},
    {"padlock without register form", "0f a7 00", 0, 0},
    {"jmpe is not implemented", "0f b8 c0", 0, 0},
    {"popcnt", "f3 0f b8 c1", 4, 4},
    {"lock cmpxchg", "f0 0f b1 0a", 4, 4},
    // Three-byte maps.
    {"0F 38: pshufb xmm", "66 0f 38 00 c1", 5, 5},
    {"0F 38: pshufb xmm, [esp]", "66 0f 38 00 04 24", 6, 6},
    {"0F 38: crc32", "f2 0f 38 f1 c1", 5, 5},
    {"0F 3A: palignr imm8", "66 0f 3a 0f c1 08", 6, 6},
    {"0F 3A: palignr [esp+10h], imm8", "66 0f 3a 0f 44 24 10 08", 8, 8},
    // 3DNow!
    {"pfmul", "0f 0f c1 b4", 4, 4},
    {"pfadd mm0, [esp+8]", "0f 0f 44 24 08 9e", 6, 6},
    {"3DNow! with an unknown suffix", "0f 0f c1 00", 0, 0},
    // x87.
    {"fld st0", "d9 c0", 2, 2},
    {"fld qword [disp32]", "dd 05 00 10 00 00", 6, 6},
    {"fnstsw ax", "df e0", 2, 2},
    {"wait is an instruction of its own", "9b", 1, 1},
    // VEX, EVEX, XOP.
    {"vzeroupper: no ModR/M", "c5 f8 77", 3, 3},
    {"vmovaps ymm", "c5 fc 28 c1", 4, 4},
    {"vpshufd imm8", "c5 f9 70 c1 08", 5, 5},
    {"vbroadcastss [esp+8]", "c4 e2 79 18 44 24 08", 7, 7},
    {"vpalignr imm8", "c4 e3 79 0f c1 08", 6, 6},
    {"VEX map 0 does not exist", "c4 e0 79 0f c1", 0, 0},
    {"lds in 32-bit mode (mod != 11)", "c5 06", 2, unchecked},
    {"les [esp+8] in 32-bit mode", "c4 44 24 08", 4, 0},
    {"bound in 32-bit mode", "62 04 24", 3, 0},
    {"REX before VEX", "48 c5 f8 77", 1, 0},
    {"vaddps zmm", "62 f1 7c 48 58 c1", 6, 6},
    {"vaddps zmm with static rounding", "62 f1 7c 18 58 c1", 6, 6},
    {"vmovups zmm, [esp+40h] (disp8 scaled)", "62 f1 7c 48 10 44 24 01", 8, 8},
    {"67 with EVEX: 16-bit [si+disp8] / SIB + disp8", "67 62 f1 7c 48 58 44 24 01", 8, 9},
    {"vinsertf32x4 imm8", "62 f3 7d 48 18 c1 01", 7, 7},
    {"EVEX with P0 bit 2 set", "62 f5 7c 48 58 c1", 0, 0},
    {"EVEX with P1 bit 2 clear", "62 f1 78 48 58 c1", 0, 0},
    {"XOP map 8: vprotb imm8", "8f e8 78 c0 c1 08", 6, 6},
    {"XOP map 9: vfrczpd", "8f e9 78 81 c1", 5, 5},
    {"XOP map A: bextr imm32", "8f ea 78 10 c0 78 56 34 12", 9, 9},
    {"pop [eax]", "8f 00", 2, 2},
    {"8F /4 is neither pop nor XOP", "8f 20", 0, 0},
    // Breakpoints and the like.
    {"int3", "cc", 1, 1},
    {"int1", "f1", 1, 1},
    {"hlt", "f4", 1, 1},
};

void expect_length(const encoding& e, const std::vector<std::uint8_t>& code, bool long_mode) {
  const std::size_t expected = long_mode ? e.length64 : e.length32;
  if (expected == unchecked) return;
  EXPECT_EQ(instruction_length(code.data(), code.size(), long_mode), expected)
      << e.label << " [" << e.hex << "], " << (long_mode ? "64-bit" : "32-bit");
}

TEST(InstructionLength, BothModes) {
  for (const encoding& e : encodings) {
    const auto code = parse_hex(e.hex);
    expect_length(e, code, false);
    expect_length(e, code, true);
  }
}

// Bytes after the instruction do not change its length; more readable bytes
// than 15 are fine.
TEST(InstructionLength, FollowingBytesIgnored) {
  for (const encoding& e : encodings) {
    auto code = parse_hex(e.hex);
    code.insert(code.end(), 32, 0x0F);
    expect_length(e, code, false);
    expect_length(e, code, true);
  }
}

// An instruction cut short is never given a length. The cut copies are of
// exact size, so the address sanitizer sees any read past them.
TEST(InstructionLength, EveryStrictPrefixIsRefused) {
  for (const encoding& e : encodings) {
    const auto code = parse_hex(e.hex);
    for (bool long_mode : {false, true}) {
      const std::size_t length = long_mode ? e.length64 : e.length32;
      if (length == unchecked) continue;
      for (std::size_t n = 0; n < length; ++n) {
        const std::vector<std::uint8_t> cut(code.begin(),
                                            code.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_EQ(instruction_length(cut.data(), cut.size(), long_mode), 0u)
            << e.label << " [" << e.hex << "], " << (long_mode ? "64-bit, " : "32-bit, ") << n
            << " bytes";
      }
    }
  }
}

TEST(InstructionLengthEdges, NothingReadable) {
  const std::uint8_t nop = 0x90;
  EXPECT_EQ(instruction_length(&nop, 0, false), 0u);
  EXPECT_EQ(instruction_length(nullptr, 16, true), 0u);
}

// Every byte string gives a length of at most 15 and never reads past what
// is available: a sweep over all two-byte starts with the rest cut at each
// length, checked by the address sanitizer on exact-size copies.
TEST(InstructionLengthEdges, ShortBuffersStayInBounds) {
  for (int first = 0; first < 256; ++first) {
    for (int second = 0; second < 256; ++second) {
      for (std::size_t size = 1; size <= 3; ++size) {
        std::vector<std::uint8_t> code(size);
        code[0] = static_cast<std::uint8_t>(first);
        if (size > 1) code[1] = static_cast<std::uint8_t>(second);
        if (size > 2) code[2] = 0x04;  // a SIB follows, wanting more bytes
        for (bool long_mode : {false, true}) {
          const std::size_t length = instruction_length(code.data(), code.size(), long_mode);
          ASSERT_LE(length, size) << first << " " << second << " size " << size;
        }
      }
    }
  }
}

}  // namespace
