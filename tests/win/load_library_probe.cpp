// Loads each DLL named on the command line with the platform's default
// search order (as a program that does not restrict it would) and prints,
// one line each, the path of the module it got, or "-" when none loaded.
// The Wine tests run it to show that a DLL they planted in a folder is
// taken from there when nothing prevents it.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    HMODULE module = LoadLibraryA(argv[i]);
    char path[MAX_PATH];
    const DWORD length = module ? GetModuleFileNameA(module, path, MAX_PATH) : 0;
    std::printf("%s\n", length > 0 && length < MAX_PATH ? path : "-");
  }
  return 0;
}
