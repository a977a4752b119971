// Crash handling on Windows: a top-level exception filter that moves the
// continuation point past the faulting instruction and continues.
//
// The filter sees only what nothing else handled: a frame's own handler or
// a vectored handler that deals with an exception keeps it from us, and
// under a debugger the system hands unhandled exceptions to the debugger
// and never calls the filter.
//
// Only the processor's faults are resumed. Software exceptions (C++ throws,
// RaiseException) have no faulting instruction and go to the filter that
// was installed before ours, as do faults we cannot resume: an instruction
// we cannot decode, code that cannot be read, a stack overflow, a fault
// inside the filter itself. The process then ends the system's way.
#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fault.h"

namespace {

std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> previous_filter{nullptr};
std::atomic<int> installed{0};

// Platform family, noted at installation: NT reports a breakpoint at the
// int3 itself, the older family after it.
std::atomic<int> nt_family{1};

// Marks the threads that are inside the filter, without any allocation
// (the fault may have happened inside the heap).
std::atomic<DWORD> inside_filter{TLS_OUT_OF_INDEXES};

#if defined(_M_X64) || defined(__x86_64__)
constexpr bool long_mode = true;
std::uintptr_t instruction_pointer(const CONTEXT* context) {
  return context->Rip;
}
void set_instruction_pointer(CONTEXT* context, std::uintptr_t ip) {
  context->Rip = ip;
}
#else
constexpr bool long_mode = false;
std::uintptr_t instruction_pointer(const CONTEXT* context) {
  return context->Eip;
}
void set_instruction_pointer(CONTEXT* context, std::uintptr_t ip) {
  context->Eip = static_cast<DWORD>(ip);
}
#endif

bool processor_fault(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case 0xC00002B4:  // STATUS_FLOAT_MULTIPLE_FAULTS (SSE)
    case 0xC00002B5:  // STATUS_FLOAT_MULTIPLE_TRAPS (SSE)
      return true;
    default:
      return false;
  }
}

// Bytes of the instruction at pc that can be read: an access violation
// whose address lies inside them was the instruction fetch itself.
std::size_t readable_code(const EXCEPTION_RECORD* record, std::uintptr_t pc) {
  std::size_t available = 15;
  if (record->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record->NumberParameters >= 2) {
    const std::uintptr_t address = record->ExceptionInformation[1];
    if (address >= pc && address - pc < available) available = address - pc;
  }
  return available;
}

bool resume(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* record = info->ExceptionRecord;
  if ((record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) != 0) return false;
  CONTEXT* context = info->ContextRecord;
  switch (record->ExceptionCode) {
    case EXCEPTION_BREAKPOINT:
      if (nt_family.load() != 0) set_instruction_pointer(context, instruction_pointer(context) + 1);
      return true;
    case EXCEPTION_SINGLE_STEP:
      return true;  // a trap: already after the instruction
    default:
      break;
  }
  if (!processor_fault(record->ExceptionCode)) return false;
  const auto pc = reinterpret_cast<std::uintptr_t>(record->ExceptionAddress);
  const std::size_t available = readable_code(record, pc);
  if (available == 0) return false;
  const std::size_t length =
      instruction_length(reinterpret_cast<const std::uint8_t*>(pc), available, long_mode);
  if (length == 0) return false;
  set_instruction_pointer(context, pc + length);
  return true;
}

LONG pass_on(EXCEPTION_POINTERS* info) {
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = previous_filter.load();
  if (previous != nullptr) return previous(info);
  return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI resume_filter(EXCEPTION_POINTERS* info) {
  const DWORD slot = inside_filter.load();
  if (slot == TLS_OUT_OF_INDEXES) return pass_on(info);
  if (TlsGetValue(slot) != nullptr) return EXCEPTION_CONTINUE_SEARCH;  // a fault in here
  TlsSetValue(slot, reinterpret_cast<void*>(1));
  const bool resumed = resume(info);
  TlsSetValue(slot, nullptr);
  return resumed ? EXCEPTION_CONTINUE_EXECUTION : pass_on(info);
}

}  // namespace

void install_fault_handler() {
  if (installed.exchange(1) != 0) return;  // keep the first previous filter
  // The high bit of GetVersion is clear on the NT family.
  nt_family.store((GetVersion() & 0x80000000u) == 0 ? 1 : 0);
  if (inside_filter.load() == TLS_OUT_OF_INDEXES) inside_filter.store(TlsAlloc());
  previous_filter.store(SetUnhandledExceptionFilter(resume_filter));
}

// Resume is the only mode there is, and there is no handler procedure to
// clear; what selecting it again can change is a filter that somebody put
// in our place since the installation: ours is made the one in effect.
void set_error_mode_resume() {
  if (installed.load() == 0) return;
  SetUnhandledExceptionFilter(resume_filter);
}

void remove_fault_handler() {
  if (installed.exchange(0) == 0) return;
  SetUnhandledExceptionFilter(previous_filter.load());
}
