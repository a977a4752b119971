// Crash handling on Windows, in process, run under Wine by
// tests/wine/test_fault.py. The resumable faults themselves are
// fault_thread_test's table, which runs as a Windows program too; this
// program covers what is the Windows handler's own:
//
//   fault_win_test.exe run          the process-wide filter: put in by the
//                                   installation, kept and taken back by the
//                                   resume mode, the previous one put back by
//                                   the removal; "ok <name>" or
//                                   "FAIL <name>: <why>" per check,
//                                   "<n> failed" last, exit code 1 when any
//                                   failed
//   fault_win_test.exe end <fault>  installs the handler and commits a fault
//                                   that cannot be resumed: undecodable,
//                                   unreadable (code at an unmapped address)
//                                   or overflow (stack); the process must
//                                   end by it
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fault.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& name, const std::string& detail = {}) {
  if (ok) {
    std::printf("ok %s\n", name.c_str());
  } else {
    ++failures;
    std::printf("FAIL %s: %s\n", name.c_str(), detail.c_str());
  }
  std::fflush(stdout);
}

LONG WINAPI marker_filter(EXCEPTION_POINTERS*) {
  return EXCEPTION_CONTINUE_SEARCH;
}

// The filter in effect, read by putting another one in and back.
LPTOP_LEVEL_EXCEPTION_FILTER current_filter() {
  LPTOP_LEVEL_EXCEPTION_FILTER current = SetUnhandledExceptionFilter(marker_filter);
  SetUnhandledExceptionFilter(current);
  return current;
}

int run() {
  // The filter that the runtime installed, and a marker of ours in its
  // place: after the removal the marker must be back.
  const LPTOP_LEVEL_EXCEPTION_FILTER runtime_filter = SetUnhandledExceptionFilter(marker_filter);
  install_fault_handler();
  const LPTOP_LEVEL_EXCEPTION_FILTER ours = current_filter();
  check(ours != marker_filter && ours != nullptr, "install.replaces_filter");
  set_error_mode_resume();
  check(current_filter() == ours, "resume_mode.keeps_filter");
  // Selecting the resume mode again takes back a filter put in our place.
  SetUnhandledExceptionFilter(runtime_filter);
  set_error_mode_resume();
  check(current_filter() == ours, "resume_mode.takes_back_filter");
  remove_fault_handler();
  check(current_filter() == marker_filter, "remove.restores_previous_filter");
  remove_fault_handler();
  check(current_filter() == marker_filter, "remove.twice_changes_nothing");
  SetUnhandledExceptionFilter(runtime_filter);
  std::printf("%d failed\n", failures);
  std::fflush(stdout);
  return failures == 0 ? 0 : 1;
}

volatile bool stop_recursion = false;

[[gnu::noinline]] int recurse_forever(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (stop_recursion) return frame[0];
  return recurse_forever(depth + 1) + frame[0];
}

int end_by(const std::string& fault) {
  // The process is to end by the fault, without waiting on a crash dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  install_fault_handler();
  set_error_mode_resume();
  std::printf("faulting: %s\n", fault.c_str());
  std::fflush(stdout);
  if (fault == "undecodable") {
    asm volatile(".byte 0x0f, 0x04" ::: "memory");  // no such instruction
  } else if (fault == "unreadable") {
    std::uintptr_t target = 0x1000;
    asm volatile("call *%[t]" : : [t] "r"(target) : "memory");
  } else if (fault == "overflow") {
    recurse_forever(0);
  } else {
    std::printf("unknown fault %s\n", fault.c_str());
    return 2;
  }
  std::printf("still running\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "run") == 0) return run();
  if (argc >= 3 && std::strcmp(argv[1], "end") == 0) return end_by(argv[2]);
  std::printf("usage: fault_win_test run | end undecodable|unreadable|overflow\n");
  return 2;
}
