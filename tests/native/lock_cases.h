// A check shared by the lock tests: threads that take a lock around a
// read-modify-write never overlap, and no update is lost.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "thread_sync.h"

// Four threads each run rounds critical sections under lock, taken nesting
// times over (more than once for a recursive lock).
template <class Lockable>
void expect_threads_kept_apart(Lockable& lock, int nesting, int rounds = 3000) {
  constexpr int threads = 4;
  std::atomic<bool> inside{false};
  std::atomic<int> overlaps{0}, ready{0};
  long counter = 0;
  {
    std::vector<std::unique_ptr<sync_thread>> workers;
    for (int t = 0; t < threads; ++t) {
      workers.push_back(std::make_unique<sync_thread>([&] {
        // All start together, or each could be done before the next began.
        ready.fetch_add(1);
        while (ready.load() < threads) {
        }
        for (int i = 0; i < rounds; ++i) {
          for (int n = 0; n < nesting; ++n) lock.lock();
          if (inside.exchange(true)) overlaps.fetch_add(1);
          const long seen = counter;
          // Gives the processor away inside the section: without a working
          // lock another thread gets in, even on a single busy core.
          std::this_thread::yield();
          counter = seen + 1;
          inside.store(false);
          for (int n = 0; n < nesting; ++n) lock.unlock();
        }
      }));
    }
    for (auto& worker : workers) worker->join();
  }
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(counter, long{threads} * rounds);
}
