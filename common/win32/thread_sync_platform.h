// The shared code's locks and threads on Windows, on the system's slim
// reader/writer locks, condition variables and threads (contract in
// common/thread_sync.h). No <windows.h> here: each lock holds the one
// pointer that an SRWLOCK or a CONDITION_VARIABLE is, zero when unused.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>  // std::lock_guard and std::unique_lock work with these locks
#include <utility>

class sync_mutex {
 public:
  constexpr sync_mutex() noexcept = default;
  sync_mutex(const sync_mutex&) = delete;
  sync_mutex& operator=(const sync_mutex&) = delete;

  void lock() noexcept;
  void unlock() noexcept;

 private:
  friend class sync_condition;
  void* lock_ = nullptr;
};

// Lockable again by the thread that holds it; unlocked after as many
// unlock() calls as lock() calls. Used by the Windows toolkit, whose window
// procedure re-enters it.
class sync_recursive_mutex {
 public:
  constexpr sync_recursive_mutex() noexcept = default;
  sync_recursive_mutex(const sync_recursive_mutex&) = delete;
  sync_recursive_mutex& operator=(const sync_recursive_mutex&) = delete;

  void lock() noexcept;
  void unlock() noexcept;

 private:
  sync_mutex lock_;
  // The holder's thread identifier, 0 (never a thread's) when free.
  std::atomic<unsigned long> owner_{0};
  unsigned long depth_ = 0;
};

class sync_condition {
 public:
  constexpr sync_condition() noexcept = default;
  sync_condition(const sync_condition&) = delete;
  sync_condition& operator=(const sync_condition&) = delete;

  void notify_all() noexcept;

  template <class Rep, class Period>
  void wait_for(std::unique_lock<sync_mutex>& held,
                const std::chrono::duration<Rep, Period>& timeout) {
    // In floating point, so that no timeout overflows on the way.
    wait_milliseconds(held, wait_milliseconds_for(
                                std::chrono::duration<double, std::milli>(timeout).count()));
  }

  // A timeout in milliseconds as the system waits it: rounded up, 0 for none
  // left, and below the system's "infinite" (0xFFFFFFFF), so that a very
  // long wait ends early and the caller looks again, as after any early
  // return.
  static std::uint32_t wait_milliseconds_for(double milliseconds) noexcept;

 private:
  void wait_milliseconds(std::unique_lock<sync_mutex>& held, std::uint32_t milliseconds);
  void* condition_ = nullptr;
};

// Milliseconds since the system started (GetTickCount64): steady, unlike the
// runtime's steady_clock, which on this runtime follows the wall clock.
struct sync_clock {
  using rep = std::int64_t;
  using period = std::milli;
  using duration = std::chrono::duration<rep, period>;
  using time_point = std::chrono::time_point<sync_clock>;
  static constexpr bool is_steady = true;
  static time_point now() noexcept;
};

class sync_thread {
 public:
  // Starts body on a new thread. A thread that cannot be started ends the
  // program, as std::thread's uncaught exception does.
  template <class Body>
  explicit sync_thread(Body&& body) {
    start(std::function<void()>(std::forward<Body>(body)));
  }
  ~sync_thread();
  sync_thread(const sync_thread&) = delete;
  sync_thread& operator=(const sync_thread&) = delete;

  void join();

 private:
  void start(std::function<void()> body);
  void* handle_ = nullptr;
};
