// Locks, a timed wake-up, a steady clock and a joinable thread for the
// shared code. Each platform supplies them in thread_sync_platform.h, in its
// own folder (common/posix, common/win32), which CMake puts on the include
// path:
//
//   sync_mutex      lock() and unlock(), for std::lock_guard and
//                   std::unique_lock; not recursive; constant-initialised,
//                   so a global one is usable before any constructor runs
//   sync_condition  notify_all(), and wait_for(held, timeout), which
//                   releases the held std::unique_lock<sync_mutex> while it
//                   waits; it may return early, as any condition wait may
//   sync_clock      a steady clock (std::chrono clock requirements)
//   sync_thread     runs a callable on a new thread; join() waits for its
//                   end, and must be called before the object is destroyed
//
// POSIX uses the standard library's. The Windows programs use the system's
// own primitives: std::thread and std::mutex would bring the runtime's POSIX
// thread emulation into each program (tens of KB), and the MinGW runtime
// without that emulation has neither.
#pragma once

#include "thread_sync_platform.h"
