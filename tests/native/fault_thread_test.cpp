// Crash handling in the resume mode, in process, on x86-64: every resumable
// fault of fault_cases.h is skipped, in the main thread, after the resume
// mode is selected again, in a worker thread and in two threads at once.
// Portable: it runs natively and as a Windows program; the POSIX handler's
// installation and the faults that end the process are in
// fault_signal_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fault.h"
#include "fault_cases.h"

namespace {

using namespace fault_test;

#if defined(__x86_64__)

void run_all_cases() {
  for (const auto& c : fault_cases()) {
    SCOPED_TRACE(c.name);
    c.run();
  }
}

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
  // Both start together. A spin, not std::latch: MinGW's latch (atomic
  // wait) hung about one run in three under Wine.
  std::atomic<int> start{0};
  auto work = [&start] {
    start.fetch_add(1);
    while (start.load() < 2) std::this_thread::yield();
    for (int i = 0; i < rounds; ++i) {
      null_read();
      divide_by_zero();
      breakpoint();
      write_register();
    }
    EXPECT_EQ(faults_seen(), rounds * 4);
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
}

#else

TEST(FaultHandler, OnlyOnX86_64) {
  GTEST_SKIP() << "the fault tests are written for x86-64";
}

#endif

}  // namespace
