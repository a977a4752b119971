// Loads each DLL named on the command line and prints, one line each, the
// path of the module it got, or "-" when none loaded. The Wine tests run it
// in a folder where they planted copies of system DLLs.
//
//   load_library_probe.exe NAME...            the platform's default search
//                                             order, as a program that does
//                                             not restrict it: the planted
//                                             copies are taken
//   load_library_probe.exe --by-path NAME...  what the programs do where the
//                                             search flags are missing (old
//                                             systems): only the current
//                                             folder taken out of the
//                                             search, each DLL loaded by its
//                                             path in the system folder
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win32/system_library_win.h"

int main(int argc, char** argv) {
  int first = 1;
  const bool by_path = argc > 1 && std::strcmp(argv[1], "--by-path") == 0;
  if (by_path) {
    SetDllDirectoryA("");
    first = 2;
  }
  for (int i = first; i < argc; ++i) {
    HMODULE module = by_path ? load_system_library_by_path(argv[i]) : LoadLibraryA(argv[i]);
    char path[MAX_PATH];
    const DWORD length = module ? GetModuleFileNameA(module, path, MAX_PATH) : 0;
    std::printf("%s\n", length > 0 && length < MAX_PATH ? path : "-");
  }
  return 0;
}
