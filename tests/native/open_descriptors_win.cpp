#include <windows.h>

#include "service_fixtures.h"

// The process's open disk files, found by asking each handle value what it
// names (GetProcessHandleCount would do, but Wine answers it with 0). Handle
// values are multiples of 4, given out lowest free first: the scan ends after
// a long run of values that name nothing, which a test process that holds a
// few hundred handles at most never has below a live one.
int service_test::open_descriptors() {
  constexpr int longest_gap = 256;
  int count = 0;
  int gap = 0;
  for (ULONG_PTR value = 4; gap < longest_gap; value += 4) {
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    DWORD flags = 0;
    if (!GetHandleInformation(handle, &flags)) {
      ++gap;
      continue;
    }
    gap = 0;
    if (GetFileType(handle) == FILE_TYPE_DISK) ++count;
  }
  return count;
}
