// The current folder on POSIX, spelled with backslashes like the programs'
// own paths (the file services map them back).
#include <unistd.h>

#include <climits>
#include <string>

#include "system.h"

std::string current_folder() {
  char buffer[PATH_MAX];
  if (getcwd(buffer, sizeof buffer) == nullptr) return {};
  std::string folder = buffer;
  if (folder.size() > 254) return {};
  for (char& c : folder) {
    if (c == '/') c = '\\';
  }
  return folder;
}
