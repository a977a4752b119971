// The program's command line on Windows: GetCommandLineA.
#include <windows.h>

#include <string>

#include "system.h"

std::string platform_command_line() {
  const char* line = GetCommandLineA();
  return line ? std::string(line) : std::string();
}

// Windows reads GetCommandLineA itself; argv is not needed.
void record_program_arguments(int, char**) {}
