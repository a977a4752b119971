// Fuzz target for pack files: arbitrary bytes as a compressed block (the
// decoder checked against the bit-at-a-time reference) and as a whole pack
// file read through the reader.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pack.h"
#include "pack_reference.h"

namespace {

// Outputs above this are skipped: a few bytes may ask for gigabytes, which
// the reader would reserve and the fuzzer would count as running out of
// memory.
constexpr std::uint32_t max_output = 1 << 20;
// The reference decoder is slow; compare only small outputs.
constexpr std::uint32_t max_compared = 1 << 16;

std::uint32_t le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void check_block(const std::uint8_t* data, std::size_t size, std::uint32_t out_size) {
  // Exact sizes on the heap, so that the sanitizer sees any stray access.
  std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[size]);
  if (size > 0) std::memcpy(in.get(), data, size);
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[out_size]);
  const pack_status status = pack_decode(in.get(), size, out.get(), out_size);
  if (out_size > max_compared) return;
  const pack_test::reference_result ref =
      pack_test::reference_decode(std::vector<std::uint8_t>(data, data + size), out_size);
  if ((status == pack_status::ok) != ref.ok ||
      (ref.ok && out_size > 0 && std::memcmp(ref.out.data(), out.get(), out_size) != 0)) {
    std::fprintf(stderr, "decoder (%s) and reference (%s) disagree\n", pack_status_name(status),
                 ref.ok ? "ok" : "failed");
    std::abort();
  }
}

// Whether every entry header of the file asks for at most max_output bytes.
bool sizes_bounded(const std::uint8_t* data, std::size_t size) {
  std::size_t at = 0;
  while (size - at >= 8) {
    const std::uint32_t u = le32(data + at);
    const std::uint32_t p = le32(data + at + 4);
    if (u > max_output) return false;
    if (p > size - at - 8) return true;  // the reader stops here
    at += 8 + p;
  }
  return true;
}

const std::string& temp_path() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_pack." + std::to_string(getpid());
  }();
  return path;
}

void check_file(const std::uint8_t* data, std::size_t size) {
  if (!sizes_bounded(data, size)) return;
  std::FILE* f = std::fopen(temp_path().c_str(), "wb");
  if (!f) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  if (!pack_open(temp_path())) std::abort();
  // Every call consumes an 8-byte header or meets the end of the file; a
  // malformed entry gives nothing, and the entries after it stay readable.
  for (std::size_t call = 0; call <= size / 8 + 1; ++call) {
    const std::uint8_t* entry = pack_next_entry();
    const std::int64_t n = pack_entry_size();
    if (!entry) {
      if (n != -1) std::abort();
      continue;
    }
    if (n < 0 || n > max_output) std::abort();
    // Touch every byte, for the sanitizer.
    volatile std::uint8_t sum = 0;
    for (std::int64_t i = 0; i < n; ++i) sum = static_cast<std::uint8_t>(sum + entry[i]);
  }
  // By then the whole file was read.
  if (pack_next_entry() != nullptr || pack_entry_size() != -1) std::abort();
  pack_close();
  std::remove(temp_path().c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // As a block, for the size its header names (bounded) and for a size
  // taken from the block's length, so that both fit and misfit are met.
  if (size >= 6) check_block(data, size, le32(data + 2) % (max_compared + 1));
  check_block(data, size, static_cast<std::uint32_t>(size * 3 % 4099));
  // As a pack file; its entries' blocks get checked as blocks too.
  check_file(data, size);
  std::size_t at = 0;
  while (size - at >= 8) {
    const std::uint32_t u = le32(data + at);
    const std::uint32_t p = le32(data + at + 4);
    if (p > size - at - 8) break;
    if (p != u && u <= max_compared) check_block(data + at + 8, p, u);
    at += 8 + p;
  }
  return 0;
}
