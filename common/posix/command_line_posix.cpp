// The program's command line on POSIX: argv joined as Windows would pass it.
#include <string>

#include "system.h"

namespace {
std::string& recorded_line() {
  static std::string line;
  return line;
}
}  // namespace

std::string platform_command_line() { return recorded_line(); }

void record_program_arguments(int argc, char** argv) {
  std::string line;
  for (int i = 0; i < argc; ++i) {
    std::string item = argv[i] ? argv[i] : "";
    if (i > 0) line += ' ';
    // Items holding blanks (or nothing) are quoted so that they split back
    // into the same items.
    if (item.empty() || item.find(' ') != std::string::npos) {
      line += '"' + item + '"';
    } else {
      line += item;
    }
  }
  recorded_line() = line;
}
