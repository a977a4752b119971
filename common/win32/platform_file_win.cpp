// The file primitive on Windows: CreateFileA with the sharing modes the
// services promise.
#include <windows.h>

#include <string>

#include "platform_file.h"

namespace {
HANDLE as_handle(std::intptr_t value) {
  return reinterpret_cast<HANDLE>(value);
}
}  // namespace

platform_file platform_file::open(const std::string& path, mode how) {
  if (path.empty()) return {};
  DWORD access = GENERIC_READ;
  DWORD share = FILE_SHARE_READ;
  DWORD disposition = OPEN_EXISTING;
  switch (how) {
    case mode::read_share_read:
      break;
    case mode::read_share_all:
      share = FILE_SHARE_READ | FILE_SHARE_WRITE;
      break;
    case mode::read_deletable:
      share = FILE_SHARE_READ | FILE_SHARE_DELETE;
      break;
    case mode::create_truncate:
    case mode::create_private:
      access = GENERIC_WRITE;
      disposition = CREATE_ALWAYS;
      break;
    case mode::create_download:
      access = GENERIC_WRITE;
      share = FILE_SHARE_READ | FILE_SHARE_DELETE;
      disposition = CREATE_ALWAYS;
      break;
    case mode::open_truncate:
      access = GENERIC_WRITE;
      disposition = TRUNCATE_EXISTING;
      break;
  }
  HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  return platform_file(reinterpret_cast<std::intptr_t>(h));
}

std::size_t platform_file::read(void* buffer, std::size_t size) {
  if (!valid() || size == 0) return 0;
  // ReadFile takes a 32-bit count.
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(as_handle(handle_.get()), buffer, want, &got, nullptr)) return 0;
  return got;
}

bool platform_file::write(const void* data, std::size_t size) {
  if (!valid()) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD put = 0;
    if (!WriteFile(as_handle(handle_.get()), bytes, chunk, &put, nullptr) || put == 0) return false;
    bytes += put;
    size -= put;
  }
  return true;
}

std::int64_t platform_file::size() const {
  LARGE_INTEGER value;
  if (!valid() || !GetFileSizeEx(as_handle(handle_.get()), &value)) return -1;
  return value.QuadPart;
}

bool platform_file::seek(std::int64_t offset) {
  if (!valid() || offset < 0) return false;
  LARGE_INTEGER to;
  to.QuadPart = offset;
  return SetFilePointerEx(as_handle(handle_.get()), to, nullptr, FILE_BEGIN) != 0;
}

void platform_file::close_handle(std::intptr_t handle) {
  CloseHandle(as_handle(handle));
}

bool platform_file::replace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}
