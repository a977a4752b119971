// A DLL that tests put into a program's folder under the name of a system
// DLL (wininet.dll, ws2_32.dll, uxtheme.dll, ...): when any process loads
// it, it appends that process's program path as one line to "<its own
// path>.loaded", so a test sees that the planted copy was loaded, and by
// whom. It exports nothing: a program that calls into it would fail, and
// the test would see that too.
//
// Only kernel32 is used, which the loader never takes from a program's
// folder.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char marker[MAX_PATH + 16];
  const DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return TRUE;
  lstrcpyA(marker + length, ".loaded");
  char line[MAX_PATH + 2];
  DWORD line_length = GetModuleFileNameA(nullptr, line, MAX_PATH);
  if (line_length >= MAX_PATH) line_length = 0;
  line[line_length++] = '\n';
  HANDLE file = CreateFileA(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line, line_length, &written, nullptr);
    CloseHandle(file);
  }
  return TRUE;
}
