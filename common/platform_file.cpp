// Ownership of a backend file, shared by both backends.
#include "platform_file.h"

platform_file::~platform_file() { close(); }

platform_file::platform_file(platform_file&& other) noexcept : handle_(other.handle_) {
  other.handle_ = invalid;
}

platform_file& platform_file::operator=(platform_file&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = invalid;
  }
  return *this;
}
