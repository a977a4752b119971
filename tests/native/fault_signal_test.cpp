// Crash handling on POSIX: installing and removing the signal handlers,
// and the faults that cannot be resumed, which end the process by their
// signal as they would without the handler. (The resumable faults are in
// fault_thread_test.cpp, which runs on both platforms.)
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <iterator>

#include "fault.h"
#include "fault_cases.h"

namespace {

using namespace fault_test;

#if defined(__x86_64__)

constexpr int handled_signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

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
