// Prints the names that the platform's own directory search delivers for a
// folder and pattern, one per line, in its order, marking folders with a
// trailing backslash. The Wine tests compare the chooser's list with it: the
// list keeps the search's order and never sorts.
//
// Usage: chooser_scan_order FOLDER PATTERN
#include <windows.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: chooser_scan_order FOLDER PATTERN\n");
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '\\') folder += '\\';
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + argv[2]).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 1;
  do {
    const bool is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::printf("%s%s\n", found.cFileName, is_folder ? "\\" : "");
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return 0;
}
