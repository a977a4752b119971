// The shared code's locks and threads on POSIX: the standard library's
// (contract in common/thread_sync.h).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using sync_mutex = std::mutex;
using sync_condition = std::condition_variable;
using sync_clock = std::chrono::steady_clock;
using sync_thread = std::thread;
