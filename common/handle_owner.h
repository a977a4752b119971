// One move-only owner for every kind of platform handle.
//
// handle_owner<Handle, Close, Invalid> holds one Handle and calls
// Close(handle) exactly once: when the owner is destroyed, reset, or
// assigned another owner's handle. A handle equal to Invalid() is never
// closed. Copying is deleted; moving hands the handle over and leaves the
// source holding Invalid(). An owner is not shared between threads.
//
// Close is a function (or function pointer) taking the handle; its result
// is ignored. Invalid is a function returning the kind's "no handle" value:
// null for most kinds, a value of its own for others (a Windows file handle
// is invalid at -1), which is why it is a function and not a constant.
#pragma once

#include <utility>

template <class Handle>
constexpr Handle null_handle() {
  return Handle{};
}

template <class Handle, auto Close, Handle (*Invalid)() = null_handle<Handle>>
class handle_owner {
 public:
  using handle_type = Handle;

  handle_owner() noexcept : handle_(Invalid()) {}
  explicit handle_owner(Handle handle) noexcept : handle_(handle) {}
  ~handle_owner() { close(); }

  handle_owner(handle_owner&& other) noexcept : handle_(other.release()) {}
  // The handle held before is closed, as if by reset.
  handle_owner& operator=(handle_owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  handle_owner(const handle_owner&) = delete;
  handle_owner& operator=(const handle_owner&) = delete;

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the handle held and takes the given one; the handle already held
  // stays open when it is given again.
  void reset(Handle handle = Invalid()) noexcept {
    const Handle old = std::exchange(handle_, handle);
    if (old != Invalid() && old != handle) Close(old);
  }

  // Gives the handle up without closing it.
  [[nodiscard]] Handle release() noexcept { return std::exchange(handle_, Invalid()); }

 private:
  void close() noexcept { reset(); }

  Handle handle_;
};
