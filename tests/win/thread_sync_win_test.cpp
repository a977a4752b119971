// The Windows side of thread_sync.h on its own: the recursive lock of the
// toolkit's tables, and how a condition's timeout becomes the system's
// milliseconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>

#include "lock_cases.h"
#include "system.h"
#include "thread_sync.h"

namespace {

TEST(ThreadSyncWin, RecursiveMutexIsHeldUntilTheLastUnlock) {
  sync_recursive_mutex lock;
  int value = 0;
  std::atomic<bool> trying{false};
  int seen = -1;
  lock.lock();
  lock.lock();
  lock.lock();
  sync_thread other([&] {
    trying = true;
    std::lock_guard<sync_recursive_mutex> hold(lock);
    seen = value;
  });
  while (!trying.load()) delay(1);
  lock.unlock();
  lock.unlock();
  // Still held once: the other thread must not have got in meanwhile.
  delay(30);
  value = 1;
  lock.unlock();
  other.join();
  EXPECT_EQ(seen, 1);
}

TEST(ThreadSyncWin, RecursiveMutexKeepsThreadsApart) {
  sync_recursive_mutex lock;
  expect_threads_kept_apart(lock, 2, 2000);
}

TEST(ThreadSyncWin, TimeoutsBecomeSystemMilliseconds) {
  constexpr std::uint32_t longest = 0xFFFFFFFE;  // below INFINITE
  const double infinity = std::numeric_limits<double>::infinity();
  struct timeout_case {
    const char* label;
    double milliseconds;
    std::uint32_t expected;
  };
  const timeout_case cases[] = {
      {"negative", -5.0, 0},
      {"zero", 0.0, 0},
      {"a nanosecond rounds up", 1e-6, 1},
      {"one", 1.0, 1},
      {"a fraction rounds up", 1.5, 2},
      {"the longest", 4294967294.0, longest},
      {"beyond the longest", 4294967295.0, longest},
      {"beyond 32 bits", 5e12, longest},
      {"infinite", infinity, longest},
      {"negative infinite", -infinity, 0},
      {"not a number", std::nan(""), 0},
  };
  for (const timeout_case& c : cases)
    EXPECT_EQ(sync_condition::wait_milliseconds_for(c.milliseconds), c.expected) << c.label;
}

TEST(ThreadSyncWin, LongestTimeoutsWaitWithoutOverflow) {
  // Durations whose milliseconds do not fit 64 bits: a wait that overflowed
  // to a negative count would return at once, over and over; these must
  // wait until notified.
  sync_mutex lock;
  sync_condition wake;
  bool go = false, waiting = false;
  int wakeups = 0;
  sync_thread waiter([&] {
    std::unique_lock<sync_mutex> hold(lock);
    waiting = true;
    wake.notify_all();
    while (!go) {
      wake.wait_for(hold, std::chrono::hours::max());
      ++wakeups;
    }
  });
  {
    std::unique_lock<sync_mutex> hold(lock);
    while (!waiting) wake.wait_for(hold, std::chrono::seconds::max());
  }
  delay(50);
  {
    std::lock_guard<sync_mutex> hold(lock);
    go = true;
  }
  wake.notify_all();
  waiter.join();
  // One wake-up for the notification; early returns are allowed, but not
  // one per spin.
  EXPECT_LT(wakeups, 5);
}

}  // namespace
