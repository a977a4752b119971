// The file primitive on POSIX.
//
// POSIX cannot express the Windows sharing modes: a file opened "others may
// read but not write" is not protected from writers here. Nothing in the
// programs relies on that protection; it only keeps other programs from
// changing a file while it is read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform_file.h"

#include "posix/posix_path.h"

namespace {
int open_mode(platform_file::mode how) {
  switch (how) {
    case platform_file::mode::read_share_read:
    case platform_file::mode::read_share_all:
    case platform_file::mode::read_deletable:
      return O_RDONLY;
    case platform_file::mode::create_truncate:
    case platform_file::mode::create_download:
      return O_WRONLY | O_CREAT | O_TRUNC;
    case platform_file::mode::create_private:
      // A shared Temp lets others plant a link or a file under our name.
      return O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
    case platform_file::mode::open_truncate:
      return O_WRONLY | O_TRUNC;
  }
  return O_RDONLY;
}
}  // namespace

platform_file platform_file::open(const std::string& path, mode how) {
  if (path.empty()) return {};
  const std::string native = posix_path(path);
  int fd;
  do {
    fd = ::open(native.c_str(), open_mode(how) | O_CLOEXEC,
                how == mode::create_download  ? 0777
                : how == mode::create_private ? 0600
                                              : 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return {};
  struct stat info;
  // A folder can be opened read-only on POSIX; Windows refuses it.
  if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    return {};
  }
  return platform_file(fd);
}

std::size_t platform_file::read(void* buffer, std::size_t size) {
  if (!valid() || size == 0) return 0;
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_.get()), buffer, size);
    if (got >= 0) return static_cast<std::size_t>(got);
    if (errno != EINTR) return 0;
  }
}

bool platform_file::write(const void* data, std::size_t size) {
  if (!valid()) return false;
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(static_cast<int>(handle_.get()), bytes, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

std::int64_t platform_file::size() const {
  struct stat info;
  if (!valid() || fstat(static_cast<int>(handle_.get()), &info) != 0) return -1;
  return static_cast<std::int64_t>(info.st_size);
}

bool platform_file::seek(std::int64_t offset) {
  if (!valid() || offset < 0) return false;
  return lseek(static_cast<int>(handle_.get()), static_cast<off_t>(offset), SEEK_SET) == offset;
}

bool platform_file::replace(const std::string& from, const std::string& to) {
  if (from.empty() || to.empty()) return false;
  return ::rename(posix_path(from).c_str(), posix_path(to).c_str()) == 0;
}

void platform_file::close_handle(std::intptr_t handle) {
  ::close(static_cast<int>(handle));
}
