// Crash handling in the resume mode, in process, on x86-64: each faulting
// instruction is written in inline assembly (so the compiler can neither
// drop nor move it) and followed by a store that proves execution went on.
// A spy in front of the handler counts the faults, so that a resumption in
// the middle of an instruction (which faults again, or not) shows.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "fault.h"

// The address sanitizer's own fault handlers would otherwise be the ones in
// place before ours: let our tests see the system's defaults.
extern "C" const char* __asan_default_options() {
  return "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0";
}

namespace {

constexpr int handled_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

#if defined(__x86_64__)

// A page that can be read but not written, holding a known pattern.
class read_only_page {
 public:
  read_only_page() {
    memory_ = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory_ == MAP_FAILED) return;
    std::memset(memory_, 0x5A, size);
    mprotect(memory_, size, PROT_READ);
  }
  ~read_only_page() {
    if (memory_ != MAP_FAILED) munmap(memory_, size);
  }
  read_only_page(const read_only_page&) = delete;
  read_only_page& operator=(const read_only_page&) = delete;

  std::uint8_t* data() const { return static_cast<std::uint8_t*>(memory_); }
  bool unchanged() const {
    for (std::size_t i = 0; i < size; ++i) {
      if (data()[i] != 0x5A) return false;
    }
    return true;
  }
  static constexpr std::size_t size = 4096;

 private:
  void* memory_ = MAP_FAILED;
};

// Values hidden from the optimiser.
volatile std::uintptr_t null_address = 0;
volatile std::uintptr_t non_canonical_address = 0x8000000000000000u;

// Faults seen by this thread, counted by the spy.
thread_local int faults_seen = 0;

// Stands in front of the installed handler: counts, then passes the fault
// on to it with the same arguments.
struct sigaction handler_behind_spy[std::size(handled_signals)];

void spy(int signal_number, siginfo_t* info, void* context) {
  ++faults_seen;
  for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
    if (handled_signals[i] == signal_number)
      handler_behind_spy[i].sa_sigaction(signal_number, info, context);
  }
}

void attach_spy() {
  for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
    sigaction(handled_signals[i], nullptr, &handler_behind_spy[i]);
    struct sigaction action = handler_behind_spy[i];
    action.sa_sigaction = spy;
    sigaction(handled_signals[i], &action, nullptr);
  }
}

void detach_spy() {
  for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
    sigaction(handled_signals[i], &handler_behind_spy[i], nullptr);
  }
}

// Counts the faults of a scope.
class expect_faults {
 public:
  explicit expect_faults(int count) : count_(count), before_(faults_seen) {}
  ~expect_faults() { EXPECT_EQ(faults_seen - before_, count_) << "faults"; }
  expect_faults(const expect_faults&) = delete;
  expect_faults& operator=(const expect_faults&) = delete;

 private:
  int count_;
  int before_;
};

// Each case runs faulting instructions and checks what they left behind.
// `after` is set by the instruction that follows the last faulting one.
struct fault_case {
  const char* name;
  std::function<void()> run;
};

void null_read() {
  expect_faults faults(1);
  std::uint64_t value = 0x1122334455667788u;
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile("movq (%[p]), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  EXPECT_EQ(value, 0x1122334455667788u);
  EXPECT_EQ(after, 1);
}

void read_with_disp32() {
  expect_faults faults(1);
  std::uint32_t value = 0xCAFEu;
  int after = 0;
  std::uintptr_t p = null_address;
  asm volatile("movl 0x12340(%[p],%[p],4), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  EXPECT_EQ(value, 0xCAFEu);
  EXPECT_EQ(after, 1);
}

void read_moffs64() {
  expect_faults faults(1);
  std::uint64_t value = 77;
  int after = 0;
  asm volatile("movabsq 0x10, %%rax\n\tmovl $1, %[after]"
               : "+a"(value), [after] "=m"(after)
               :
               : "memory");
  EXPECT_EQ(value, 77u);
  EXPECT_EQ(after, 1);
}

void read_non_canonical() {
  expect_faults faults(1);
  std::uint64_t value = 5;
  int after = 0;
  std::uintptr_t p = non_canonical_address;
  asm volatile("movq (%[p]), %[v]\n\tmovl $1, %[after]"
               : [v] "+r"(value), [after] "=m"(after)
               : [p] "r"(p)
               : "memory");
  EXPECT_EQ(value, 5u);
  EXPECT_EQ(after, 1);
}

void sse_read() {
  expect_faults faults(1);
  alignas(16) std::uint8_t out[16];
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
  for (std::uint8_t byte : out) EXPECT_EQ(byte, 0x33);
  EXPECT_EQ(after, 1);
}

void write_register() {
  expect_faults faults(1);
  read_only_page page;
  ASSERT_NE(page.data(), MAP_FAILED);
  int after = 0;
  std::uint64_t value = 0;
  asm volatile("movq %[v], 8(%[p])\n\tmovl $1, %[after]"
               : [after] "=m"(after)
               : [p] "r"(page.data()), [v] "r"(value)
               : "memory");
  EXPECT_TRUE(page.unchanged());
  EXPECT_EQ(after, 1);
}

void write_immediates() {
  expect_faults faults(6);
  read_only_page page;
  ASSERT_NE(page.data(), MAP_FAILED);
  int after = 0;
  asm volatile(
      "movl $0x11223344, 0x100(%[p])\n\t"  // C7 /0 with disp32 and imm32
      "movw $0x1234, 0x10(%[p])\n\t"       // 66 C7 /0 imm16
      "movb $1, (%[p])\n\t"                // C6 /0 imm8
      "addq $0x12345678, 0x200(%[p])\n\t"  // REX.W 81 /0 imm32
      "testl $0x12345678, 0x10(%[z])\n\t"  // F7 /0 imm32, a read through null
      "lock incl 0x20(%[p])\n\t"
      "movl $1, %[after]"
      : [after] "=m"(after)
      : [p] "r"(page.data()), [z] "r"(null_address)
      : "memory", "cc");
  EXPECT_TRUE(page.unchanged());
  EXPECT_EQ(after, 1);
}

void divide_by_zero() {
  expect_faults faults(1);
  std::uint64_t rax = 100, rdx = 7;
  std::uint64_t divisor = 0;
  int after = 0;
  asm volatile("divq %[d]\n\tmovl $1, %[after]"
               : "+a"(rax), "+d"(rdx), [after] "=m"(after)
               : [d] "r"(divisor)
               : "cc", "memory");
  EXPECT_EQ(rax, 100u);
  EXPECT_EQ(rdx, 7u);
  EXPECT_EQ(after, 1);
}

void divide_overflow() {
  expect_faults faults(1);
  // INT_MIN / -1 does not fit: the same fault as a division by zero.
  std::uint32_t eax = static_cast<std::uint32_t>(INT_MIN), edx = 0xFFFFFFFFu;
  std::int32_t divisor = -1;
  int after = 0;
  asm volatile("idivl %[d]\n\tmovl $1, %[after]"
               : "+a"(eax), "+d"(edx), [after] "=m"(after)
               : [d] "r"(divisor)
               : "cc", "memory");
  EXPECT_EQ(eax, static_cast<std::uint32_t>(INT_MIN));
  EXPECT_EQ(edx, 0xFFFFFFFFu);
  EXPECT_EQ(after, 1);
}

void breakpoint() {
  expect_faults faults(1);
  std::uint64_t value = 42;
  int after = 0;
  asm volatile("int3\n\tmovl $1, %[after]" : "+r"(value), [after] "=m"(after) : : "memory");
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(after, 1);
}

void undefined_instruction() {
  expect_faults faults(1);
  int after = 0;
  asm volatile("ud2\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  EXPECT_EQ(after, 1);
}

void privileged_instruction() {
  expect_faults faults(1);
  int after = 0;
  asm volatile("hlt\n\tmovl $1, %[after]" : [after] "=m"(after) : : "memory");
  EXPECT_EQ(after, 1);
}

const fault_case fault_cases[] = {
    {"null_read", null_read},
    {"read_with_disp32", read_with_disp32},
    {"read_moffs64", read_moffs64},
    {"read_non_canonical", read_non_canonical},
    {"sse_read", sse_read},
    {"write_register", write_register},
    {"write_immediates", write_immediates},
    {"divide_by_zero", divide_by_zero},
    {"divide_overflow", divide_overflow},
    {"breakpoint", breakpoint},
    {"undefined_instruction", undefined_instruction},
    {"privileged_instruction", privileged_instruction},
};

void run_all_cases() {
  for (const auto& c : fault_cases) {
    SCOPED_TRACE(c.name);
    c.run();
  }
}

class FaultHandler : public testing::Test {
 protected:
  void SetUp() override {
    install_fault_handler();
    attach_spy();
  }
  void TearDown() override {
    detach_spy();
    remove_fault_handler();
  }
};

TEST_F(FaultHandler, EachFaultIsSkipped) {
  run_all_cases();
}

TEST_F(FaultHandler, FaultsAgainAfterSelectingResumeMode) {
  detach_spy();
  set_error_mode_resume();
  attach_spy();
  run_all_cases();
}

TEST_F(FaultHandler, FaultsInAWorkerThread) {
  std::thread worker(run_all_cases);
  worker.join();
}

TEST_F(FaultHandler, TwoThreadsFaultingAtOnce) {
  constexpr int rounds = 200;
  std::latch start(2);
  auto work = [&start] {
    start.arrive_and_wait();
    for (int i = 0; i < rounds; ++i) {
      null_read();
      divide_by_zero();
      breakpoint();
      write_register();
    }
    EXPECT_EQ(faults_seen, rounds * 4);
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
}

// A handler that is not ours, to see it come back.
void marker_handler(int, siginfo_t*, void*) {}

struct saved_actions {
  struct sigaction actions[std::size(handled_signals)];
  saved_actions() {
    for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
      sigaction(handled_signals[i], nullptr, &actions[i]);
    }
  }
  ~saved_actions() {
    for (std::size_t i = 0; i < std::size(handled_signals); ++i) {
      sigaction(handled_signals[i], &actions[i], nullptr);
    }
  }
};

void set_marker(int signal_number) {
  struct sigaction marker {};
  marker.sa_sigaction = marker_handler;
  marker.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&marker.sa_mask);
  sigaddset(&marker.sa_mask, SIGUSR1);
  sigaction(signal_number, &marker, nullptr);
}

bool marker_in_place(int signal_number) {
  struct sigaction current {};
  sigaction(signal_number, nullptr, &current);
  return (current.sa_flags & SA_SIGINFO) != 0 && current.sa_sigaction == marker_handler &&
         (current.sa_flags & SA_RESTART) != 0 && sigismember(&current.sa_mask, SIGUSR1) == 1;
}

TEST(FaultHandlerLifecycle, RemovalPutsThePreviousHandlersBack) {
  saved_actions original;
  for (int s : handled_signals) set_marker(s);
  install_fault_handler();
  for (int s : handled_signals) EXPECT_FALSE(marker_in_place(s)) << strsignal(s);
  remove_fault_handler();
  for (int s : handled_signals) EXPECT_TRUE(marker_in_place(s)) << strsignal(s);
  remove_fault_handler();  // a second removal changes nothing
  for (int s : handled_signals) EXPECT_TRUE(marker_in_place(s)) << strsignal(s);
}

TEST(FaultHandlerLifecycle, ResumeModeTakesBackADisplacedHandler) {
  saved_actions original;
  install_fault_handler();
  set_marker(SIGSEGV);
  set_error_mode_resume();
  EXPECT_FALSE(marker_in_place(SIGSEGV));
  attach_spy();
  null_read();  // resumed by ours, not swallowed by the marker
  detach_spy();
  remove_fault_handler();
  EXPECT_FALSE(marker_in_place(SIGSEGV));  // the one from before the installation
}

TEST(FaultHandlerLifecycle, SecondInstallationKeepsTheFirstPrevious) {
  saved_actions original;
  set_marker(SIGFPE);
  install_fault_handler();
  install_fault_handler();
  attach_spy();
  divide_by_zero();
  detach_spy();
  remove_fault_handler();
  EXPECT_TRUE(marker_in_place(SIGFPE));
}

// Faults that cannot be resumed end the process by the signal, as they
// would without the handler.
using FaultHandlerDeathTest = FaultHandler;

[[gnu::noinline]] void unknown_instruction() {
  asm volatile(".byte 0x0f, 0x04" ::: "memory");  // no such instruction
}

[[gnu::noinline]] void jump_to_unmapped_code() {
  std::uintptr_t target = 0x1000;
  asm volatile("call *%[t]" : : [t] "r"(target) : "memory");
}

volatile bool stop_recursion = false;

[[gnu::noinline]] int recurse_forever(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (stop_recursion) return frame[0];
  return recurse_forever(depth + 1) + frame[0];
}

TEST_F(FaultHandlerDeathTest, UndecodableInstructionEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(unknown_instruction(), testing::KilledBySignal(SIGILL), "");
}

TEST_F(FaultHandlerDeathTest, UnreadableCodeEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(jump_to_unmapped_code(), testing::KilledBySignal(SIGSEGV), "");
}

TEST_F(FaultHandlerDeathTest, StackOverflowEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(recurse_forever(0), testing::KilledBySignal(SIGSEGV), "");
}

TEST_F(FaultHandlerDeathTest, SignalSentByAnotherProcessIsNotSkipped) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(kill(getpid(), SIGSEGV), testing::KilledBySignal(SIGSEGV), "");
  EXPECT_EXIT(raise(SIGTRAP), testing::KilledBySignal(SIGTRAP), "");
}

#else

TEST(FaultHandler, OnlyOnX86_64) {
  GTEST_SKIP() << "the fault tests are written for x86-64";
}

#endif

}  // namespace
