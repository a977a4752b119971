// pack_writer: writes a pack file from files, each entry plain or compressed.
//   pack_writer OUT [--compressed | --plain] FILE ...
// A mode applies to the files after it until the next mode; the first
// files are compressed.
#include <cstdio>
#include <string>
#include <vector>

#include "pack_writer.h"

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: pack_writer OUT [--compressed | --plain] FILE ...\n");
    return 2;
  }
  std::vector<std::uint8_t> pack;
  bool compressed = true;
  int entries = 0;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--compressed" || arg == "--plain") {
      compressed = arg == "--compressed";
      continue;
    }
    std::vector<std::uint8_t> data;
    if (!pack_read_file(arg, data)) {
      std::fprintf(stderr, "pack_writer: cannot read %s\n", arg.c_str());
      return 1;
    }
    const std::size_t before = pack.size();
    if (!pack_append_entry(pack, data.data(), data.size(), compressed)) {
      std::fprintf(stderr, "pack_writer: %s is too large for a pack entry\n", arg.c_str());
      return 1;
    }
    std::fprintf(stderr, "%s: %zu bytes, stored %s in %zu bytes\n", arg.c_str(), data.size(),
                 compressed ? "compressed" : "plain", pack.size() - before - 8);
    ++entries;
  }
  if (entries == 0) {
    std::fprintf(stderr, "pack_writer: no input files\n");
    return 2;
  }
  if (!pack_write_file(argv[1], pack)) {
    std::fprintf(stderr, "pack_writer: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
