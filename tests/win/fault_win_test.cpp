// Crash handling on Windows, in process, run under Wine by
// tests/wine/test_fault.py.
//
//   fault_win_test.exe run          every resumable fault, in the main thread,
//                                   in a worker thread and in two threads at
//                                   once, and the filter put back at the
//                                   end; "ok <name>" or "FAIL <name>: <why>"
//                                   per check, "<n> failed" last, exit code 1
//                                   when any failed
//   fault_win_test.exe end <fault>  installs the handler and commits a fault
//                                   that cannot be resumed: undecodable,
//                                   unreadable (code at an unmapped address)
//                                   or overflow (stack); the process must
//                                   end by it
//
// Each faulting instruction is inline assembly (the compiler can neither
// drop nor move it) followed by a store that shows execution went on. A
// vectored handler counts the faults on their way to the filter, so that
// a resumption inside an instruction (which faults again, or not) shows.
#include <windows.h>

#include <climits>
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

// Faults seen by the current thread, kept in a TLS slot (no allocation in
// the handler).
DWORD fault_slot = TLS_OUT_OF_INDEXES;

std::uintptr_t faults_seen() {
  return reinterpret_cast<std::uintptr_t>(TlsGetValue(fault_slot));
}

LONG CALLBACK count_fault(EXCEPTION_POINTERS*) {
  TlsSetValue(fault_slot, reinterpret_cast<void*>(faults_seen() + 1));
  return EXCEPTION_CONTINUE_SEARCH;  // on to the frames and the filter
}

// Values hidden from the optimiser.
volatile std::uintptr_t null_address = 0;

struct outcome {
  bool ok = true;
  std::string why;
  void expect(bool condition, const char* what) {
    if (!condition) {
      ok = false;
      why += std::string(why.empty() ? "" : "; ") + what;
    }
  }
};

// Runs one case and checks the number of faults it produced.
template <typename Case>
outcome counted(Case run, std::uintptr_t expected_faults) {
  const std::uintptr_t before = faults_seen();
  outcome result = run();
  const std::uintptr_t seen = faults_seen() - before;
  if (seen != expected_faults) {
    result.expect(false, ("faults seen " + std::to_string(seen) + ", expected " +
                          std::to_string(expected_faults))
                             .c_str());
  }
  return result;
}

outcome null_read() {
  outcome r;
  std::uintptr_t value = 0x11223344;
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile("mov (%[p]), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  r.expect(value == 0x11223344, "destination changed");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome read_with_disp32() {
  outcome r;
  std::uint32_t value = 0xCAFE;
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile("movl 0x12340(%[p],%[p],4), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  r.expect(value == 0xCAFE, "destination changed");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome read_moffs() {
  outcome r;
  std::uintptr_t value = 77;
  int after = 0;
#if defined(__x86_64__)
  asm volatile("movabsq 0x10, %%rax\n\tmovl $1, %[after]"
               : "+a"(value), [after] "=m"(after)
               :
               : "memory");
#else
  asm volatile("movl 0x10, %%eax\n\tmovl $1, %[after]"
               : "+a"(value), [after] "=m"(after)
               :
               : "memory");
#endif
  r.expect(value == 77, "destination changed");
  r.expect(after == 1, "did not go on");
  return r;
}

// The 32-bit build targets processors without SSE; this case needs it.
[[gnu::target("sse2")]] outcome sse_read() {
  outcome r;
  alignas(16) unsigned char out[16];
  std::memset(out, 0x33, sizeof out);
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile(
      "movdqu %[out], %%xmm0\n\t"
      "movdqu (%[p]), %%xmm0\n\t"
      "movl $1, %[after]\n\t"
      "movdqu %%xmm0, %[out]"
      : [out] "+m"(out), [after] "=m"(after)
      : [p] "r"(p)
      : "xmm0", "memory");
  for (unsigned char byte : out) r.expect(byte == 0x33, "xmm0 changed");
  r.expect(after == 1, "did not go on");
  return r;
}

// A page that can be read but not written.
class read_only_page {
 public:
  read_only_page() {
    memory_ = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (memory_ == nullptr) return;
    std::memset(memory_, 0x5A, size);
    DWORD old = 0;
    VirtualProtect(memory_, size, PAGE_READONLY, &old);
  }
  ~read_only_page() {
    if (memory_ != nullptr) VirtualFree(memory_, 0, MEM_RELEASE);
  }
  read_only_page(const read_only_page&) = delete;
  read_only_page& operator=(const read_only_page&) = delete;

  unsigned char* data() const { return memory_; }
  bool unchanged() const {
    for (std::size_t i = 0; i < size; ++i) {
      if (memory_[i] != 0x5A) return false;
    }
    return true;
  }
  static constexpr std::size_t size = 4096;

 private:
  unsigned char* memory_ = nullptr;
};

outcome write_register() {
  outcome r;
  read_only_page page;
  r.expect(page.data() != nullptr, "no page");
  if (page.data() == nullptr) return r;
  int after = 0;
  std::uintptr_t value = 0;
  asm volatile("mov %[v], 8(%[p])\n\tmovl $1, %[after]"
               : [after] "=m"(after)
               : [p] "r"(page.data()), [v] "r"(value)
               : "memory");
  r.expect(page.unchanged(), "page written");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome write_immediates() {
  outcome r;
  read_only_page page;
  r.expect(page.data() != nullptr, "no page");
  if (page.data() == nullptr) return r;
  int after = 0;
  asm volatile(
      "movl $0x11223344, 0x100(%[p])\n\t"  // C7 /0 with disp32 and imm32
      "movw $0x1234, 0x10(%[p])\n\t"       // 66 C7 /0 imm16
      "movb $1, (%[p])\n\t"                // C6 /0 imm8
      "addl $0x12345678, 0x200(%[p])\n\t"  // 81 /0 imm32
      "testl $0x12345678, 0x10(%[z])\n\t"  // F7 /0 imm32, a read through null
      "lock incl 0x20(%[p])\n\t"
      "movl $1, %[after]"
      : [after] "=m"(after)
      : [p] "r"(page.data()), [z] "r"(null_address)
      : "memory", "cc");
  r.expect(page.unchanged(), "page written");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome divide_by_zero() {
  outcome r;
  std::uintptr_t ax = 100, dx = 7;
  std::uintptr_t divisor = 0;
  int after = 0;
  asm volatile("div %[d]\n\tmovl $1, %[after]"
               : "+a"(ax), "+d"(dx), [after] "=m"(after)
               : [d] "r"(divisor)
               : "cc", "memory");
  r.expect(ax == 100 && dx == 7, "registers changed");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome divide_overflow() {
  outcome r;
  std::uint32_t eax = static_cast<std::uint32_t>(INT_MIN), edx = 0xFFFFFFFFu;
  std::int32_t divisor = -1;
  int after = 0;
  asm volatile("idivl %[d]\n\tmovl $1, %[after]"
               : "+a"(eax), "+d"(edx), [after] "=m"(after)
               : [d] "r"(divisor)
               : "cc", "memory");
  r.expect(eax == static_cast<std::uint32_t>(INT_MIN) && edx == 0xFFFFFFFFu, "registers changed");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome breakpoint() {
  outcome r;
  int after = 0;
  asm volatile("int3\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome undefined_instruction() {
  outcome r;
  int after = 0;
  asm volatile("ud2\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  r.expect(after == 1, "did not go on");
  return r;
}

outcome privileged_instruction() {
  outcome r;
  int after = 0;
  asm volatile("hlt\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  r.expect(after == 1, "did not go on");
  return r;
}

struct fault_case {
  const char* name;
  outcome (*run)();
  std::uintptr_t faults;
};

const fault_case fault_cases[] = {
    {"null_read", null_read, 1},
    {"read_with_disp32", read_with_disp32, 1},
    {"read_moffs", read_moffs, 1},
    {"sse_read", sse_read, 1},
    {"write_register", write_register, 1},
    {"write_immediates", write_immediates, 6},
    {"divide_by_zero", divide_by_zero, 1},
    {"divide_overflow", divide_overflow, 1},
    {"breakpoint", breakpoint, 1},
    {"undefined_instruction", undefined_instruction, 1},
    {"privileged_instruction", privileged_instruction, 1},
};

// Every case in the calling thread; the failures' text, empty when all passed.
std::string run_cases(const char* where) {
  std::string failed;
  for (const auto& c : fault_cases) {
    const outcome r = counted(c.run, c.faults);
    if (!r.ok) failed += std::string(where) + " " + c.name + ": " + r.why + "\n";
  }
  return failed;
}

void report_cases(const char* where) {
  for (const auto& c : fault_cases) {
    const outcome r = counted(c.run, c.faults);
    check(r.ok, std::string(where) + "." + c.name, r.why);
  }
}

struct worker_result {
  std::string failed;
  HANDLE start = nullptr;  // both workers wait on it, to fault at once
  int rounds = 1;
};

DWORD WINAPI worker(void* parameter) {
  auto* result = static_cast<worker_result*>(parameter);
  if (result->start != nullptr) WaitForSingleObject(result->start, INFINITE);
  for (int i = 0; i < result->rounds && result->failed.empty(); ++i) {
    result->failed = run_cases("worker");
  }
  return 0;
}

void check_worker_thread() {
  worker_result result;
  HANDLE thread = CreateThread(nullptr, 0, worker, &result, 0, nullptr);
  check(thread != nullptr, "worker.started");
  if (thread == nullptr) return;
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  check(result.failed.empty(), "worker.all_cases", result.failed);
}

void check_two_threads_at_once() {
  HANDLE start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  worker_result results[2];
  HANDLE threads[2] = {};
  for (int i = 0; i < 2; ++i) {
    results[i].start = start;
    results[i].rounds = 50;
    threads[i] = CreateThread(nullptr, 0, worker, &results[i], 0, nullptr);
  }
  check(threads[0] != nullptr && threads[1] != nullptr, "two_threads.started");
  SetEvent(start);
  for (HANDLE t : threads) {
    if (t != nullptr) {
      WaitForSingleObject(t, INFINITE);
      CloseHandle(t);
    }
  }
  CloseHandle(start);
  check(results[0].failed.empty() && results[1].failed.empty(), "two_threads.all_cases",
        results[0].failed + results[1].failed);
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
  fault_slot = TlsAlloc();
  AddVectoredExceptionHandler(1, count_fault);

  // The filter that the runtime installed, and a marker of ours in its
  // place: after the removal the marker must be back.
  const LPTOP_LEVEL_EXCEPTION_FILTER runtime_filter = SetUnhandledExceptionFilter(marker_filter);
  install_fault_handler();
  const LPTOP_LEVEL_EXCEPTION_FILTER ours = current_filter();
  check(ours != marker_filter && ours != nullptr, "install.replaces_filter");
  set_error_mode_resume();
  check(current_filter() == ours, "resume_mode.keeps_filter");

  report_cases("main");
  check_worker_thread();
  check_two_threads_at_once();

  // Selecting the resume mode again takes back a filter put in our place.
  SetUnhandledExceptionFilter(runtime_filter);
  set_error_mode_resume();
  check(current_filter() == ours, "resume_mode.takes_back_filter");
  report_cases("again");

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
