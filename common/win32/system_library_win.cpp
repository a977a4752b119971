// DLLs from the system folder only (system_library_win.h).
#include "system_library_win.h"

#include <string>

#include "system.h"

namespace {

std::string system_folder_path(const char* name) {
  char folder[MAX_PATH];
  const UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string path(folder, length);
  if (path.back() != '\\') path += '\\';
  return path + name;
}

}  // namespace

void restrict_library_search() {
  // Missing before Windows 8 unless its update is installed; kernel32 is a
  // known DLL, always loaded from the system folder.
  BOOL(WINAPI * set_default_directories)(DWORD) = nullptr;
  if (bind_function(GetModuleHandleA("kernel32.dll"), set_default_directories,
                    "SetDefaultDllDirectories") &&
      set_default_directories(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    return;
  }
  // This takes only the current folder out of the search, not the
  // program's: load_system_library then loads by full path.
  SetDllDirectoryA("");
}

HMODULE load_system_library(const char* name) {
  // A bare name: the manifest's side-by-side redirection applies before any
  // folder is searched. Systems without the search flags refuse them with
  // ERROR_INVALID_PARAMETER.
  if (HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) return module;
  if (GetLastError() != ERROR_INVALID_PARAMETER) return nullptr;
  return load_system_library_by_path(name);
}

HMODULE load_system_library_by_path(const char* name) {
  // With a full path, this flag puts the DLL's own folder in the place of
  // the program's in the search for its imports.
  const std::string path = system_folder_path(name);
  return path.empty() ? nullptr
                      : LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}
