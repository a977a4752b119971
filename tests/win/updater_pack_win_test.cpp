// The pack reader and the definitions version probe on the Windows backend,
// run under Wine by tests/wine/test_pack_probe.py, which writes the pack
// files with the native pack writer and checks what this program prints.
//
//   updater_pack_win_test.exe read PATH    "entry <size> <fnv-1a>" per entry read,
//                                          then "end <size>" for the first
//                                          call that gives nothing
//   updater_pack_win_test.exe probe TEMP   sets "Temp" to TEMP (or removes
//                                          it when TEMP is "-"), runs the
//                                          probe in the current folder and
//                                          prints "version [..]", "date [..]"
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "client_state.h"
#include "definitions_probe.h"
#include "pack.h"

namespace {

std::uint32_t fnv1a(const std::uint8_t* data, std::int64_t size) {
  std::uint32_t h = 2166136261u;
  for (std::int64_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

int read_all(const char* path) {
  if (!pack_open(path)) {
    std::printf("cannot open\n");
    return 1;
  }
  for (int i = 0; i < 1000; ++i) {
    const std::uint8_t* data = pack_next_entry();
    const std::int64_t size = pack_entry_size();
    if (!data) {
      std::printf("end %lld\n", static_cast<long long>(size));
      break;
    }
    std::printf("entry %lld %08x\n", static_cast<long long>(size),
                static_cast<unsigned>(fnv1a(data, size)));
  }
  pack_close();
  return 0;
}

int probe(const char* temp) {
  SetEnvironmentVariableA("Temp", std::strcmp(temp, "-") == 0 ? nullptr : temp);
  definitions_version = "stale";
  definitions_date = "stale";
  probe_definitions_version();
  std::printf("version [%s]\ndate [%s]\n", definitions_version.c_str(), definitions_date.c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "read") == 0) return read_all(argv[2]);
  if (argc == 3 && std::strcmp(argv[1], "probe") == 0) return probe(argv[2]);
  std::fprintf(stderr, "usage: updater_pack_win_test read PATH | probe TEMP\n");
  return 2;
}
