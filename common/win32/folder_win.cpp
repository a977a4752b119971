// The current folder on Windows.
#include <windows.h>

#include <string>

#include "system.h"

std::string current_folder() {
  // 255 bytes: room for 254 characters and the terminating zero. A longer
  // folder makes the call report the size it would need instead.
  char buffer[255];
  const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
  if (length == 0 || length >= sizeof buffer) return {};
  return std::string(buffer, length);
}
