// Length decoder for x86 machine instructions, 32-bit and 64-bit modes.
//
// The crash handler needs only the length of the faulting instruction, not
// its meaning, so the opcode maps below record per opcode just whether a
// ModR/M byte follows and what kind of immediate ends the instruction.
// Encodings that no processor accepts give 0, and so does an instruction
// that would run past the readable bytes or past 15 bytes.
#include <array>
#include <cstddef>
#include <cstdint>

#include "fault.h"

namespace {

constexpr std::size_t max_instruction = 15;

// What follows the opcode byte(s).
enum op : std::uint8_t {
  bad,        // undefined encoding
  none,       // nothing
  modrm,      // ModR/M (+ SIB, displacement)
  modrm_ib,   // ModR/M, then an 8-bit immediate
  modrm_iz,   // ModR/M, then a 16/32-bit immediate by operand size
  ib,         // 8-bit immediate or displacement
  iw,         // 16-bit immediate
  iz,         // 16/32-bit immediate or displacement by operand size
  iv,         // 16/32/64-bit immediate by operand size (mov reg, imm)
  moffs,      // address-sized memory offset (A0-A3)
  far_ptr,    // segment:offset, 4 or 6 bytes (EA, 9A)
  enter,      // imm16 + imm8 (C8)
  group3,     // F6/F7: /0 and /1 carry an immediate
  group11,    // C6/C7: /0 immediate; F8 xabort/xbegin
  modrm_reg,  // ModR/M that always names registers (mov to/from CR/DR)
  amd3dnow,   // ModR/M, then the opcode suffix byte
  sse4a,      // 0F 78 (vmread, extrq, insertq)
  padlock,    // 0F A6/A7: fixed register forms only
  popcnt,     // 0F B8: only with F3 (otherwise the IA-64 jmpe)
};

using opcode_map = std::array<op, 256>;

// Builds a map from 16 rows of 16 letters, one per opcode; the letter's
// place in `letters` is its kind:
//   x bad  . none  m modrm  B modrm_ib  Z modrm_iz  b ib  w iw  z iz  v iv
//   a moffs  f far_ptr  e enter  g group3  c group11  r modrm_reg
//   3 amd3dnow  4 sse4a  p padlock  P popcnt
// Prefix and escape bytes are handled before the map is consulted; their
// entries are never read.
constexpr char letters[] = "x.mBZbwzvafegcr34pP";

constexpr opcode_map make_map(const char (&rows)[257]) {
  opcode_map map{};
  for (std::size_t i = 0; i < map.size(); ++i) {
    for (std::size_t kind = 0; letters[kind] != 0; ++kind) {
      if (letters[kind] == rows[i]) map[i] = static_cast<op>(kind);
    }
  }
  return map;
}

// One-byte map. 0F, 26, 2E, 36, 3E, 64-67, F0, F2, F3 are prefixes or
// escapes; 40-4F are REX in 64-bit mode; C4, C5, 62 and 8F may start a
// VEX, EVEX or XOP prefix.
constexpr opcode_map one_byte = make_map(
    // 0123456789ABCDEF
    "mmmmbz..mmmmbz.x"  // 0
    "mmmmbz..mmmmbz.."  // 1
    "mmmmbz..mmmmbz.."  // 2
    "mmmmbz..mmmmbz.."  // 3
    "................"  // 4
    "................"  // 5
    "..mm....zZbB...."  // 6
    "bbbbbbbbbbbbbbbb"  // 7
    "BZBBmmmmmmmmmmmm"  // 8
    "..........f....."  // 9
    "aaaa....bz......"  // A
    "bbbbbbbbvvvvvvvv"  // B
    "BBw.mmcce.w..b.."  // C
    "mmmmbb..mmmmmmmm"  // D
    "bbbbbbbbzzfb...."  // E
    "......gg......mm"  // F
);

// Opcodes of the one-byte map that do not exist in 64-bit mode.
constexpr std::uint8_t removed_in_long_mode[] = {0x06, 0x07, 0x0E, 0x16, 0x17, 0x1E, 0x1F,
                                                 0x27, 0x2F, 0x37, 0x3F, 0x60, 0x61, 0x82,
                                                 0x9A, 0xCE, 0xD4, 0xD5, 0xD6, 0xEA};

bool invalid_in_long_mode(std::uint8_t opcode) {
  for (std::uint8_t removed : removed_in_long_mode) {
    if (removed == opcode) return true;
  }
  return false;
}

// Two-byte map (after 0F). 38 and 3A escape to the three-byte maps. ud1
// (B9) has a ModR/M byte; ud0 (FF) has none as AMD decodes it (Intel reads
// one), which only matters for an instruction that always faults anyway.
constexpr opcode_map two_byte = make_map(
    // 0123456789ABCDEF
    "mmmmx.....x.xm.3"  // 0
    "mmmmmmmmmmmmmmmm"  // 1
    "rrrrxxxxmmmmmmmm"  // 2
    "........xxxxxxxx"  // 3
    "mmmmmmmmmmmmmmmm"  // 4
    "mmmmmmmmmmmmmmmm"  // 5
    "mmmmmmmmmmmmmmmm"  // 6
    "BBBBmmm.4mxxmmmm"  // 7
    "zzzzzzzzzzzzzzzz"  // 8
    "mmmmmmmmmmmmmmmm"  // 9
    "...mBmpp...mBmmm"  // A
    "mmmmmmmmPmBmmmmm"  // B
    "mmBmBBBm........"  // C
    "mmmmmmmmmmmmmmmm"  // D
    "mmmmmmmmmmmmmmmm"  // E
    "mmmmmmmmmmmmmmm."  // F
);

// The opcode suffixes (the last byte) of the 3DNow! instructions. 0E is
// not one, but common disassemblers accept it as femms; any length we give
// an invalid encoding is as good as another.
constexpr std::uint8_t amd3dnow_suffixes[] = {0x0C, 0x0E, 0x0D, 0x1C, 0x1D, 0x8A, 0x8E, 0x90, 0x94,
                                              0x96, 0x97, 0x9A, 0x9E, 0xA0, 0xA4, 0xA6, 0xA7, 0xAA,
                                              0xAE, 0xB0, 0xB4, 0xB6, 0xB7, 0xBB, 0xBF};

bool amd3dnow_suffix(std::uint8_t suffix) {
  for (std::uint8_t known : amd3dnow_suffixes) {
    if (known == suffix) return true;
  }
  return false;
}

// Reads forward through the instruction without ever looking past the
// readable bytes.
class cursor {
 public:
  cursor(const std::uint8_t* code, std::size_t available)
      : code_(code), end_(available < max_instruction ? available : max_instruction) {}

  bool peek(std::uint8_t& byte) const {
    if (pos_ >= end_) return false;
    byte = code_[pos_];
    return true;
  }
  bool next(std::uint8_t& byte) {
    if (!peek(byte)) return false;
    ++pos_;
    return true;
  }
  bool skip(std::size_t count) {
    if (end_ - pos_ < count) return false;
    pos_ += count;
    return true;
  }
  std::size_t position() const { return pos_; }

 private:
  const std::uint8_t* code_;
  std::size_t end_;
  std::size_t pos_ = 0;
};

struct prefixes {
  bool operand16 = false;     // 66
  bool address = false;       // 67
  std::uint8_t last_rep = 0;  // the later of F2/F3, which selects the form
  std::uint8_t rex = 0;       // REX in effect (the one right before the opcode)
};

// Consumes ModR/M, SIB and displacement.
bool skip_modrm(cursor& in, const prefixes& p, bool long_mode) {
  std::uint8_t m = 0;
  if (!in.next(m)) return false;
  const int mod = m >> 6;
  const int rm = m & 7;
  if (mod == 3) return true;
  if (!long_mode && p.address) {
    // 16-bit addressing: no SIB; [disp16] replaces [bp].
    if (mod == 0) return rm == 6 ? in.skip(2) : true;
    return in.skip(mod == 1 ? 1 : 2);
  }
  if (rm == 4) {
    std::uint8_t sib = 0;
    if (!in.next(sib)) return false;
    if (mod == 0 && (sib & 7) == 5) return in.skip(4);
  }
  if (mod == 0) return rm == 5 ? in.skip(4) : true;  // disp32 (RIP-relative in 64-bit mode)
  return in.skip(mod == 1 ? 1 : 4);
}

// Size of an operand-size dependent immediate (16 or 32 bits; REX.W keeps
// 32 bits, as sign-extended immediates do). Relative branches follow it
// too: 66 makes them rel16 also in 64-bit mode, as AMD processors (and the
// disassemblers) decode them; Intel's ignore the prefix there.
std::size_t immediate_z(const prefixes& p) {
  if (p.rex & 8) return 4;
  return p.operand16 ? 2 : 4;
}

// Decodes what follows the opcode according to its map entry.
bool finish(cursor& in, op kind, std::uint8_t opcode, const prefixes& p, bool long_mode) {
  std::uint8_t m = 0;
  switch (kind) {
    case bad:
      return false;
    case none:
      return true;
    case modrm:
      return skip_modrm(in, p, long_mode);
    case modrm_ib:
      return skip_modrm(in, p, long_mode) && in.skip(1);
    case modrm_iz:
      return skip_modrm(in, p, long_mode) && in.skip(immediate_z(p));
    case ib:
      return in.skip(1);
    case iw:
      return in.skip(2);
    case iz:
      return in.skip(immediate_z(p));
    case iv:
      if (p.rex & 8) return in.skip(8);
      return in.skip(p.operand16 ? 2 : 4);
    case moffs:
      if (long_mode) return in.skip(p.address ? 4 : 8);
      return in.skip(p.address ? 2 : 4);
    case far_ptr:
      return in.skip(p.operand16 ? 4 : 6);
    case enter:
      return in.skip(3);
    case group3:
      if (!in.peek(m)) return false;
      if (!skip_modrm(in, p, long_mode)) return false;
      if (((m >> 3) & 7) >= 2) return true;
      return in.skip(opcode == 0xF6 ? 1 : immediate_z(p));
    case group11:
      if (!in.peek(m)) return false;
      if (m == 0xF8) {
        // xabort imm8 / xbegin rel16/32
        in.skip(1);
        return in.skip(opcode == 0xC6 ? 1 : immediate_z(p));
      }
      if (((m >> 3) & 7) != 0) return false;
      if (!skip_modrm(in, p, long_mode)) return false;
      return in.skip(opcode == 0xC6 ? 1 : immediate_z(p));
    case modrm_reg:
      return in.skip(1);
    case amd3dnow: {
      if (!skip_modrm(in, p, long_mode)) return false;
      std::uint8_t suffix = 0;
      return in.next(suffix) && amd3dnow_suffix(suffix);
    }
    case sse4a:
      // 66 0F 78 /0 ib ib (extrq) and F2 0F 78 /r ib ib (insertq) are
      // register-only and take two immediates; every other form is vmread.
      if (!in.peek(m)) return false;
      if ((m >> 6) == 3 && (p.last_rep == 0xF2 || (p.last_rep == 0 && p.operand16))) {
        return skip_modrm(in, p, long_mode) && in.skip(2);
      }
      return skip_modrm(in, p, long_mode);
    case padlock:
      // Only the register forms exist; the ModR/M byte selects the operation.
      if (!in.next(m)) return false;
      if (opcode == 0xA6) return m == 0xC0 || m == 0xC8 || m == 0xD0;
      return m == 0xC0 || m == 0xC8 || m == 0xD0 || m == 0xD8 || m == 0xE0 || m == 0xE8;
    case popcnt:
      return p.last_rep == 0xF3 && skip_modrm(in, p, long_mode);
  }
  return false;
}

// VEX, EVEX and XOP: `map` is the opcode map they select (1 = 0F, 2 = 0F 38,
// 3 = 0F 3A; 8, 9, 10 the XOP maps).
bool finish_vector(cursor& in, int map, const prefixes& p, bool long_mode) {
  std::uint8_t opcode = 0;
  if (!in.next(opcode)) return false;
  switch (map) {
    case 1:
      if (opcode == 0x77) return true;  // vzeroupper / vzeroall
      switch (opcode) {
        case 0x70:
        case 0x71:
        case 0x72:
        case 0x73:
        case 0xC2:
        case 0xC4:
        case 0xC5:
        case 0xC6:
          return skip_modrm(in, p, long_mode) && in.skip(1);
        default:
          return skip_modrm(in, p, long_mode);
      }
    case 2:
    case 9:
      return skip_modrm(in, p, long_mode);
    case 3:
    case 8:
      return skip_modrm(in, p, long_mode) && in.skip(1);
    case 10:
      return skip_modrm(in, p, long_mode) && in.skip(4);
    default:
      return false;
  }
}

bool decode(cursor& in, bool long_mode) {
  prefixes p;
  std::uint8_t byte = 0;
  for (;;) {
    if (!in.next(byte)) return false;
    switch (byte) {
      case 0x26:
      case 0x2E:
      case 0x36:
      case 0x3E:
      case 0x64:
      case 0x65:
      case 0xF0:
        p.rex = 0;
        continue;
      case 0x66:
        p.operand16 = true;
        p.rex = 0;
        continue;
      case 0x67:
        p.address = true;
        p.rex = 0;
        continue;
      case 0xF2:
      case 0xF3:
        p.last_rep = byte;
        p.rex = 0;
        continue;
      default:
        break;
    }
    // A REX prefix counts only when the opcode follows it directly.
    if (long_mode && (byte & 0xF0) == 0x40) {
      p.rex = byte;
      continue;
    }
    break;
  }

  // Vector extension prefixes. In 32-bit mode C4, C5 and 62 are les, lds and
  // bound unless the next byte has ModR/M mod 11, which those cannot use.
  // A REX prefix before them is invalid; 66, F2 and F3 are too, but they are
  // counted like any prefix, as disassemblers do.
  std::uint8_t b1 = 0;
  if (byte == 0xC4 || byte == 0xC5 || byte == 0x62 || byte == 0x8F) {
    if (!in.peek(b1)) return false;
    const bool register_form = (b1 & 0xC0) == 0xC0;
    if (byte == 0xC5 && (long_mode || register_form)) {
      if (p.rex) return false;
      in.skip(1);
      return finish_vector(in, 1, p, long_mode);
    }
    if (byte == 0xC4 && (long_mode || register_form)) {
      if (p.rex) return false;
      in.skip(1);
      std::uint8_t b2 = 0;
      if (!in.next(b2)) return false;
      const int map = b1 & 0x1F;
      if (map < 1 || map > 3) return false;
      return finish_vector(in, map, p, long_mode);
    }
    if (byte == 0x62 && (long_mode || register_form)) {
      if (p.rex) return false;
      in.skip(1);
      std::uint8_t b2 = 0;
      std::uint8_t b3 = 0;
      if (!in.next(b2) || !in.next(b3)) return false;
      // Fixed bits: P0[3:2] = 00, P1[2] = 1.
      if ((b1 & 0x0C) != 0 || (b2 & 0x04) == 0) return false;
      const int map = b1 & 0x03;
      if (map == 0) return false;
      return finish_vector(in, map, p, long_mode);
    }
    if (byte == 0x8F && (b1 & 0x38) != 0) {
      // XOP: pop has reg field 0; the XOP maps start at 8.
      if (p.rex) return false;
      in.skip(1);
      std::uint8_t b2 = 0;
      if (!in.next(b2)) return false;
      const int map = b1 & 0x1F;
      if (map < 8 || map > 10) return false;
      return finish_vector(in, map, p, long_mode);
    }
  }

  if (byte != 0x0F) {
    if (long_mode && invalid_in_long_mode(byte)) return false;
    return finish(in, one_byte[byte], byte, p, long_mode);
  }

  if (!in.next(byte)) return false;
  if (byte == 0x38) {
    if (!in.next(byte)) return false;
    return skip_modrm(in, p, long_mode);
  }
  if (byte == 0x3A) {
    if (!in.next(byte)) return false;
    return skip_modrm(in, p, long_mode) && in.skip(1);
  }
  return finish(in, two_byte[byte], byte, p, long_mode);
}

}  // namespace

std::size_t instruction_length(const std::uint8_t* code, std::size_t available, bool long_mode) {
  if (code == nullptr || available == 0) return 0;
  cursor in(code, available);
  if (!decode(in, long_mode)) return 0;
  return in.position();
}
