// The fault spy and the read-only page of fault_cases.h on Windows: the spy
// is a vectored handler, which sees every fault before the frames and the
// process-wide filter do, and passes it on.
#include <windows.h>

#include <cstdint>
#include <cstring>

#include "fault_cases.h"

namespace fault_test {

namespace {

// The faults of each thread, in a TLS slot: nothing is allocated in the
// handler (a thread_local of this runtime may allocate on first use).
DWORD fault_slot = TlsAlloc();
void* spy_handle = nullptr;

LONG CALLBACK spy(EXCEPTION_POINTERS*) {
  const auto seen = reinterpret_cast<std::uintptr_t>(TlsGetValue(fault_slot));
  TlsSetValue(fault_slot, reinterpret_cast<void*>(seen + 1));
  return EXCEPTION_CONTINUE_SEARCH;
}

}  // namespace

void attach_spy() {
  if (spy_handle == nullptr) spy_handle = AddVectoredExceptionHandler(1, spy);
}

void detach_spy() {
  if (spy_handle != nullptr) RemoveVectoredExceptionHandler(spy_handle);
  spy_handle = nullptr;
}

int faults_seen() {
  return static_cast<int>(reinterpret_cast<std::uintptr_t>(TlsGetValue(fault_slot)));
}

read_only_page::read_only_page() {
  void* memory = VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (memory == nullptr) return;
  std::memset(memory, pattern, size);
  DWORD old = 0;
  VirtualProtect(memory, size, PAGE_READONLY, &old);
  memory_ = static_cast<std::uint8_t*>(memory);
}

read_only_page::~read_only_page() {
  if (memory_ != nullptr) VirtualFree(memory_, 0, MEM_RELEASE);
}

}  // namespace fault_test
