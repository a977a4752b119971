// The instruction-length decoder against an independent disassembler
// (Capstone) on the code of real binaries: a linear sweep over every code
// section, asking Capstone for one instruction at each step and comparing
// its length with ours; where Capstone refuses the bytes (data between
// functions, padding) the sweep moves on by one byte.
//
// On random bytes Capstone 4 is itself wrong in a few rare classes (ud1
// without its ModR/M byte, a byte too many after EVEX static rounding, the
// SIB byte of EVEX under 67 dropped, 66 ignored on branches behind F2/F3);
// fault_decode_test pins our lengths there. Of them only ud1 turns up in the
// code swept here, where the linear sweep reads 0F B9 out of the bytes of
// other instructions: it is counted as Capstone's error, not as ours.
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "fault.h"

namespace {

namespace fs = std::filesystem;
using bytes = std::vector<std::uint8_t>;

bytes read_whole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  bytes data(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
  if (!in) return {};
  return data;
}

std::uint64_t little(const bytes& data, std::size_t at, int width) {
  if (at > data.size() || data.size() - at < static_cast<std::size_t>(width)) return 0;
  std::uint64_t value = 0;
  for (int i = width - 1; i >= 0; --i) value = value << 8 | data[at + static_cast<std::size_t>(i)];
  return value;
}

// A code section: which bytes of which file, decoded in which mode.
struct code_range {
  std::string origin;
  bytes code;
  bool long_mode = false;
};

void add_range(std::vector<code_range>& out, const std::string& origin, const bytes& data,
               std::uint64_t offset, std::uint64_t size, bool long_mode) {
  if (offset > data.size() || size > data.size() - offset || size == 0) return;
  const auto first = data.begin() + static_cast<std::ptrdiff_t>(offset);
  out.push_back({origin, bytes(first, first + static_cast<std::ptrdiff_t>(size)), long_mode});
}

// Executable PROGBITS sections of a 64-bit little-endian ELF file.
void elf_code(const std::string& origin, const bytes& data, std::vector<code_range>& out) {
  if (data.size() < 64 || std::memcmp(data.data(),
                                      "\x7F"
                                      "ELF",
                                      4) != 0)
    return;
  if (data[4] != 2 || data[5] != 1 || little(data, 0x12, 2) != 62)
    return;  // ELFCLASS64, LE, x86-64
  const std::uint64_t table = little(data, 0x28, 8);
  const std::uint64_t entry = little(data, 0x3A, 2);
  const std::uint64_t count = little(data, 0x3C, 2);
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t header = static_cast<std::size_t>(table + i * entry);
    const std::uint64_t type = little(data, header + 4, 4);
    const std::uint64_t flags = little(data, header + 8, 8);
    if (type == 1 && (flags & 4) != 0) {  // SHT_PROGBITS, SHF_EXECINSTR
      add_range(out, origin, data, little(data, header + 0x18, 8), little(data, header + 0x20, 8),
                true);
    }
  }
}

// Code sections of a COFF header at `coff` (an object file, or the COFF
// header of a PE image). Only i386 and x86-64 machines are taken.
void coff_code(const std::string& origin, const bytes& data, std::size_t coff, bool image,
               std::vector<code_range>& out) {
  const std::uint64_t machine = little(data, coff, 2);
  if (machine != 0x14C && machine != 0x8664) return;
  const std::uint64_t count = little(data, coff + 2, 2);
  const std::size_t table = coff + 20 + static_cast<std::size_t>(little(data, coff + 16, 2));
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::size_t section = table + static_cast<std::size_t>(i) * 40;
    const std::uint64_t characteristics = little(data, section + 36, 4);
    if ((characteristics & 0x20) == 0 && (characteristics & 0x20000000) == 0) continue;
    std::uint64_t size = little(data, section + 16, 4);
    const std::uint64_t virtual_size = little(data, section + 8, 4);
    if (image && virtual_size != 0 && virtual_size < size) size = virtual_size;  // padding
    add_range(out, origin, data, little(data, section + 20, 4), size, machine == 0x8664);
  }
}

void pe_code(const std::string& origin, const bytes& data, std::vector<code_range>& out) {
  if (data.size() < 0x40 || data[0] != 'M' || data[1] != 'Z') return;
  const std::size_t pe = static_cast<std::size_t>(little(data, 0x3C, 4));
  if (little(data, pe, 4) != 0x4550) return;  // "PE\0\0"
  coff_code(origin, data, pe + 4, true, out);
}

// COFF objects inside an ar archive (import-library short members and
// other formats are passed over by the machine check).
void archive_code(const std::string& origin, const bytes& data, std::vector<code_range>& out) {
  if (data.size() < 8 || std::memcmp(data.data(), "!<arch>\n", 8) != 0) return;
  std::size_t at = 8;
  while (at + 60 <= data.size()) {
    const std::string size_text(reinterpret_cast<const char*>(&data[at + 48]), 10);
    const std::size_t size =
        static_cast<std::size_t>(std::strtoull(size_text.c_str(), nullptr, 10));
    const std::size_t member = at + 60;
    if (size > data.size() - member) break;
    const bytes object(data.begin() + static_cast<std::ptrdiff_t>(member),
                       data.begin() + static_cast<std::ptrdiff_t>(member + size));
    coff_code(origin, object, 0, false, out);
    at = member + size + (size & 1);
  }
}

std::vector<code_range> code_of(const fs::path& path) {
  std::vector<code_range> out;
  const bytes data = read_whole(path);
  const std::string origin = path.string();
  elf_code(origin, data, out);
  pe_code(origin, data, out);
  archive_code(origin, data, out);
  coff_code(origin, data, 0, false, out);  // a bare object file
  return out;
}

struct sweep_result {
  std::size_t files = 0;
  std::size_t bytes_swept = 0;
  std::size_t compared = 0;
  std::size_t refused = 0;  // offsets Capstone does not decode
  std::size_t oracle_errors = 0;
  std::map<std::string, std::pair<std::size_t, std::string>>
      disagreements;  // class -> count, example
  std::map<std::string, std::size_t> oracle_classes;
  std::size_t disagreeing() const {
    std::size_t total = 0;
    for (const auto& [name, entry] : disagreements) total += entry.first;
    return total;
  }
};

// Capstone 4 decodes ud1 (0F B9 /r) without its ModR/M byte: its length
// ends right after the opcode where ours goes on. Ours must then be that of
// the same bytes as imul r, r/m (0F AF /r), which has the same form.
bool capstone_ud1_fault(csh handle, const std::uint8_t* code, std::size_t available, bool long_mode,
                        std::size_t capstone_size, std::size_t ours) {
  std::size_t at = 0;
  auto prefix = [&](std::uint8_t b) {
    switch (b) {
      case 0x66:
      case 0x67:
      case 0xF0:
      case 0xF2:
      case 0xF3:
      case 0x2E:
      case 0x36:
      case 0x3E:
      case 0x26:
      case 0x64:
      case 0x65:
        return true;
      default:
        return long_mode && (b & 0xF0) == 0x40;  // REX
    }
  };
  while (at < available && prefix(code[at])) ++at;
  if (at + 2 > available || code[at] != 0x0F || code[at + 1] != 0xB9 || capstone_size != at + 2)
    return false;
  std::uint8_t same_form[15] = {};
  const std::size_t length = std::min(available, sizeof same_form);
  std::memcpy(same_form, code, length);
  same_form[at + 1] = 0xAF;
  cs_insn* insn = nullptr;
  const std::size_t count = cs_disasm(handle, same_form, length, 0, 1, &insn);
  const bool same = count == 1 && insn[0].size == ours;
  if (count > 0) cs_free(insn, count);
  return same;
}

std::string hex(const std::uint8_t* code, std::size_t count) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += digits[code[i] >> 4];
    text += digits[code[i] & 15];
    text += ' ';
  }
  return text;
}

void sweep(const code_range& range, sweep_result& result) {
  csh handle = 0;
  ASSERT_EQ(cs_open(CS_ARCH_X86, range.long_mode ? CS_MODE_64 : CS_MODE_32, &handle), CS_ERR_OK);
  cs_insn* insn = cs_malloc(handle);
  const std::uint8_t* base = range.code.data();
  const std::size_t end = range.code.size();
  std::size_t at = 0;
  while (at < end) {
    const std::uint8_t* p = base + at;
    std::size_t left = end - at;
    std::uint64_t address = at;
    if (!cs_disasm_iter(handle, &p, &left, &address, insn)) {
      ++result.refused;
      ++at;
      continue;
    }
    ++result.compared;
    const std::size_t ours = instruction_length(base + at, end - at, range.long_mode);
    if (ours != insn->size &&
        capstone_ud1_fault(handle, base + at, end - at, range.long_mode, insn->size, ours)) {
      ++result.oracle_errors;
      ++result.oracle_classes["ud1 without its ModR/M byte"];
    } else if (ours != insn->size) {
      const std::string name = std::string(insn->mnemonic) + " (capstone " +
                               std::to_string(insn->size) + ", ours " + std::to_string(ours) + ")";
      auto& entry = result.disagreements[name];
      if (entry.first++ == 0) {
        entry.second = hex(base + at, insn->size > ours ? insn->size : ours) + insn->op_str +
                       " at " + range.origin + " +" + std::to_string(at);
      }
    }
    at += insn->size;
  }
  result.bytes_swept += end;
  cs_free(insn, 1);
  cs_close(&handle);
}

sweep_result sweep_files(const std::vector<fs::path>& files) {
  sweep_result result;
  for (const auto& file : files) {
    const auto ranges = code_of(file);
    if (ranges.empty()) continue;
    ++result.files;
    for (const auto& range : ranges) sweep(range, result);
  }
  return result;
}

void report(const std::string& what, const sweep_result& result) {
  std::ostringstream text;
  text << what << ": " << result.files << " files, " << result.bytes_swept << " code bytes, "
       << result.compared << " instructions compared, " << result.refused
       << " offsets Capstone refused, " << result.disagreeing() << " disagreements, "
       << result.oracle_errors << " of Capstone's known errors";
  for (const auto& [name, count] : result.oracle_classes) {
    text << "\n  " << count << " x Capstone: " << name;
  }
  for (const auto& [name, entry] : result.disagreements) {
    text << "\n  " << entry.first << " x " << name << ": " << entry.second;
  }
  std::printf("%s\n", text.str().c_str());
  testing::Test::RecordProperty(what + "_compared", std::to_string(result.compared));
}

bool has_extension(const fs::path& path, std::initializer_list<const char*> extensions) {
  const std::string name = path.filename().string();
  for (const char* extension : extensions) {
    const std::size_t length = std::strlen(extension);
    if (name.size() > length && name.compare(name.size() - length, length, extension) == 0) {
      return true;
    }
  }
  return false;
}

// Files of a folder (and, when recursive, its subfolders other than CMake's
// own) whose names end in one of the extensions, sorted.
std::vector<fs::path> files_with_extension(const fs::path& folder,
                                           std::initializer_list<const char*> extensions,
                                           bool recursive) {
  std::vector<fs::path> out;
  std::error_code error;
  if (!fs::is_directory(folder, error)) return out;
  auto visit = [&](const fs::directory_entry& entry) {
    if (entry.is_regular_file(error) && has_extension(entry.path(), extensions)) {
      out.push_back(entry.path());
    }
  };
  if (recursive) {
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
      if (entry.path().string().find("CMakeFiles") == std::string::npos) visit(entry);
    }
  } else {
    for (const auto& entry : fs::directory_iterator(folder, error)) visit(entry);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The version folders of a GCC target, e.g. /usr/lib/gcc/i686-w64-mingw32/12-posix.
std::vector<fs::path> gcc_version_folders(const fs::path& triplet_folder) {
  std::vector<fs::path> out;
  std::error_code error;
  if (!fs::is_directory(triplet_folder, error)) return out;
  for (const auto& entry : fs::directory_iterator(triplet_folder, error)) {
    if (entry.is_directory(error)) out.push_back(entry.path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// A build folder named by the environment (the test driver's way) or, failing
// that, by the build configuration.
fs::path build_folder(const char* variable, const char* configured) {
  const char* value = std::getenv(variable);
  if (value != nullptr && *value != 0) return value;
  return configured;
}

void expect_agreement(const std::string& what, const std::vector<fs::path>& files) {
  const sweep_result result = sweep_files(files);
  report(what, result);
  EXPECT_GT(result.compared, 0u) << what << ": no code found";
  EXPECT_EQ(result.disagreeing(), 0u) << what;
}

}  // namespace

#ifndef WIN32_BUILD_DIR
#define WIN32_BUILD_DIR ""
#endif
#ifndef WIN64_BUILD_DIR
#define WIN64_BUILD_DIR ""
#endif

TEST(FaultCapstone32, OwnWindowsPrograms) {
  const fs::path folder = build_folder("WIN32_BUILD_DIR", WIN32_BUILD_DIR);
  const auto files = files_with_extension(folder, {".exe"}, true);
  if (files.empty()) GTEST_SKIP() << "no win32 build at '" << folder.string() << "'";
  expect_agreement("own i686 programs", files);
}

// The MinGW runtime's DLLs, static libraries and start-up objects (import
// libraries hold a little code too: their jump stubs).
TEST(FaultCapstone32, MingwRuntimeLibraries) {
  std::vector<fs::path> files;
  for (const auto& version : gcc_version_folders("/usr/lib/gcc/i686-w64-mingw32")) {
    for (auto& file : files_with_extension(version, {".dll", ".a", ".o"}, false)) {
      files.push_back(file);
    }
  }
  for (auto& file : files_with_extension("/usr/i686-w64-mingw32/lib", {".a", ".o"}, false)) {
    files.push_back(file);
  }
  ASSERT_FALSE(files.empty()) << "the i686 MinGW runtime is not installed";
  expect_agreement("i686 MinGW runtime", files);
}

TEST(FaultCapstone64, SystemCLibrary) {
  expect_agreement("C library", {"/lib/x86_64-linux-gnu/libc.so.6"});
}

TEST(FaultCapstone64, OwnNativePrograms) {
  // This program itself holds the decoder, the services and the test
  // framework; the programs of the native build are added when present.
  std::vector<fs::path> files{fs::read_symlink("/proc/self/exe")};
  for (const char* program : {"updater/update_client", "chooser/language_chooser"}) {
    const fs::path path = fs::path(BUILD_DIR) / program;
    if (fs::exists(path)) files.push_back(path);
  }
  expect_agreement("own x86-64 programs", files);
}

TEST(FaultCapstone64, OwnWindowsPrograms) {
  const fs::path folder = build_folder("WIN64_BUILD_DIR", WIN64_BUILD_DIR);
  const auto files = files_with_extension(folder, {".exe"}, true);
  if (files.empty()) GTEST_SKIP() << "no win64 build at '" << folder.string() << "'";
  expect_agreement("own x86-64 Windows programs", files);
}
