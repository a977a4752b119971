// The shared code's locks and threads (thread_sync.h): the standard
// library's natively, the system's own in the Windows builds, where this
// table runs under Wine. A lock keeps threads out of each other's critical
// sections, a notified waiter wakes, a timed wait ends by itself, a thread
// runs its body and join waits for its end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>

#include "lock_cases.h"
#include "system.h"
#include "thread_sync.h"

namespace {

TEST(ThreadSync, MutexKeepsThreadsApart) {
  sync_mutex lock;
  expect_threads_kept_apart(lock, 1);
}

// Constant-initialised, as the shared code's global locks must be to work
// before any constructor has run: constinit fails the build otherwise.
constinit sync_mutex global_lock;

TEST(ThreadSync, GlobalMutexLocksAndUnlocks) {
  global_lock.lock();
  global_lock.unlock();
  std::lock_guard<sync_mutex> hold(global_lock);
}

TEST(ThreadSync, NotifiedWaiterWakes) {
  sync_mutex lock;
  sync_condition wake;
  bool waiting = false, go = false, woke = false;
  sync_thread waiter([&] {
    std::unique_lock<sync_mutex> hold(lock);
    waiting = true;
    wake.notify_all();
    // Far longer than the test may take: only the notification ends it.
    while (!go) wake.wait_for(hold, std::chrono::hours(1));
    woke = true;
  });
  {
    std::unique_lock<sync_mutex> hold(lock);
    while (!waiting) wake.wait_for(hold, std::chrono::hours(1));
    go = true;
  }
  wake.notify_all();
  waiter.join();
  EXPECT_TRUE(woke);
}

TEST(ThreadSync, TimedWaitEndsWithoutNotification) {
  sync_mutex lock;
  sync_condition never_notified;
  std::unique_lock<sync_mutex> hold(lock);
  struct timeout_case {
    const char* label;
    std::chrono::nanoseconds timeout;
  };
  const timeout_case cases[] = {
      {"negative", -std::chrono::seconds(5)},
      {"zero", std::chrono::nanoseconds(0)},
      {"one nanosecond", std::chrono::nanoseconds(1)},
      {"twenty milliseconds", std::chrono::milliseconds(20)},
  };
  for (const timeout_case& c : cases) {
    never_notified.wait_for(hold, c.timeout);
    EXPECT_TRUE(hold.owns_lock()) << c.label;
  }
  // The lock is held again after the waits: another thread gets it only
  // once this one lets go.
  std::atomic<bool> taken{false};
  sync_thread other([&] {
    std::lock_guard<sync_mutex> again(lock);
    taken = true;
  });
  delay(20);
  EXPECT_FALSE(taken.load());
  hold.unlock();
  other.join();
  EXPECT_TRUE(taken.load());
}

TEST(ThreadSync, JoinWaitsForTheBody) {
  std::atomic<bool> finished{false};
  auto shared = std::make_shared<int>(41);
  sync_thread worker([&finished, shared] {
    delay(30);
    ++*shared;
    finished = true;
  });
  worker.join();
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(*shared, 42);
  // The thread's copy of the body, with its captures, is gone.
  EXPECT_EQ(shared.use_count(), 1);
}

TEST(ThreadSync, ClockIsSteadyAndMoves) {
  const sync_clock::time_point start = sync_clock::now();
  sync_clock::time_point previous = start;
  bool moved = false;
  for (int i = 0; i < 5000 && !moved; ++i) {
    const sync_clock::time_point now = sync_clock::now();
    ASSERT_GE(now, previous);
    previous = now;
    moved = now > start;
    if (!moved) delay(1);
  }
  EXPECT_TRUE(moved);
  EXPECT_TRUE(sync_clock::is_steady);
}

}  // namespace
