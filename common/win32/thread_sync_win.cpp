// The Windows side of thread_sync.h: slim reader/writer locks, condition
// variables, the tick count and CreateThread.
#include <windows.h>

#include <cmath>
#include <exception>

#include "thread_sync.h"

static_assert(sizeof(SRWLOCK) == sizeof(void*) && sizeof(CONDITION_VARIABLE) == sizeof(void*),
              "the locks keep an SRWLOCK and a CONDITION_VARIABLE in one pointer");

namespace {

SRWLOCK* srw(void*& state) {
  return reinterpret_cast<SRWLOCK*>(&state);
}

DWORD WINAPI run_body(void* parameter) {
  std::function<void()>* body = static_cast<std::function<void()>*>(parameter);
  (*body)();
  delete body;
  return 0;
}

}  // namespace

void sync_mutex::lock() noexcept {
  AcquireSRWLockExclusive(srw(lock_));
}

void sync_mutex::unlock() noexcept {
  ReleaseSRWLockExclusive(srw(lock_));
}

void sync_recursive_mutex::lock() noexcept {
  const unsigned long self = GetCurrentThreadId();
  // Only this thread ever stores its own identifier, so seeing it means
  // this thread holds the lock.
  if (owner_.load(std::memory_order_relaxed) == self) {
    ++depth_;
    return;
  }
  lock_.lock();
  owner_.store(self, std::memory_order_relaxed);
  depth_ = 1;
}

void sync_recursive_mutex::unlock() noexcept {
  if (--depth_ != 0) return;
  owner_.store(0, std::memory_order_relaxed);
  lock_.unlock();
}

void sync_condition::notify_all() noexcept {
  WakeAllConditionVariable(reinterpret_cast<CONDITION_VARIABLE*>(&condition_));
}

std::uint32_t sync_condition::wait_milliseconds_for(double milliseconds) noexcept {
  constexpr double longest = 0xFFFFFFFE;
  if (!(milliseconds > 0)) return 0;  // also not a number
  if (milliseconds >= longest) return static_cast<std::uint32_t>(longest);
  return static_cast<std::uint32_t>(std::ceil(milliseconds));
}

void sync_condition::wait_milliseconds(std::unique_lock<sync_mutex>& held,
                                       std::uint32_t milliseconds) {
  // Returns with the lock held again, also on a time-out.
  SleepConditionVariableSRW(reinterpret_cast<CONDITION_VARIABLE*>(&condition_),
                            srw(held.mutex()->lock_), milliseconds, 0);
}

sync_clock::time_point sync_clock::now() noexcept {
  return time_point(duration(static_cast<rep>(GetTickCount64())));
}

void sync_thread::start(std::function<void()> body) {
  auto* owned = new std::function<void()>(std::move(body));
  handle_ = CreateThread(nullptr, 0, run_body, owned, 0, nullptr);
  if (!handle_) {
    delete owned;
    std::terminate();
  }
}

void sync_thread::join() {
  if (!handle_) return;
  WaitForSingleObject(handle_, INFINITE);
  CloseHandle(handle_);
  handle_ = nullptr;
}

sync_thread::~sync_thread() {
  join();
}
