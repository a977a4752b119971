// Stand-in for the programs that the system only starts (vantrel.exe,
// tessarin.exe, traducteur.exe): appends one JSON line with its own file
// name, working folder and command line to %STANDIN_LOG% (standin.log in the
// working folder when unset) and ends with exit code 0.
//
// %STANDIN_DELAY_MS% makes it wait that long before writing, so a test can
// tell whether its starter waited for it.
//
// A GUI-subsystem program, so that starting it opens no console window over
// the windows that a test looks at.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "standin_record.h"

namespace {
std::string variable(const char* name) {
  char value[32768];
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return (length == 0 || length >= sizeof value) ? std::string() : std::string(value, length);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  char module[MAX_PATH];
  const DWORD module_length = GetModuleFileNameA(nullptr, module, sizeof module);
  std::string program(module, module_length < sizeof module ? module_length : 0);
  const std::size_t slash = program.find_last_of("\\/");
  if (slash != std::string::npos) program.erase(0, slash + 1);

  char folder[MAX_PATH];
  const DWORD folder_length = GetCurrentDirectoryA(sizeof folder, folder);
  const std::string working(folder, folder_length < sizeof folder ? folder_length : 0);

  const std::string delay = variable("STANDIN_DELAY_MS");
  if (!delay.empty()) Sleep(static_cast<DWORD>(std::strtoul(delay.c_str(), nullptr, 10)));

  std::string log = variable("STANDIN_LOG");
  if (log.empty()) log = "standin.log";
  const char* line_start = GetCommandLineA();
  const std::string line =
      standin_record(program, working, line_start ? line_start : "", GetCurrentProcessId());

  // Appends; several stand-ins may share one log.
  HANDLE file = CreateFileA(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  const BOOL ok = WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == line.size() ? 0 : 1;
}
