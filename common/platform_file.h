// The file primitive of each backend, under the portable file services
// (settings reader, numbered files, pack reader). One move-only owner of an
// open file; closes it on destruction.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "handle_owner.h"

class platform_file {
 public:
  enum class mode {
    read_share_read,  // read; others may read but not write (settings)
    read_share_all,   // read; others may read and write (numbered files)
    read_deletable,   // read; others may read and delete, not write (a
                      // download's temporary file, which the end of the
                      // downloads may delete while it is checked)
    create_truncate,  // create or empty for writing; others may read
    open_truncate,    // open an existing file for writing, truncated, attributes kept
    create_download,  // as create_truncate, for a download: startable (POSIX
                      // gives it a linker's execute bits, 0777 less the
                      // umask), and deletable while open (Windows shares it
                      // for deletion: the end of the downloads removes it)
    create_private,   // create a file for writing that only we write, in a
                      // folder others may share: POSIX creates it new (fails
                      // when anything, a link included, is at path; a link
                      // is never followed), owner-only; Windows, whose Temp
                      // is per user, as create_truncate
  };

  platform_file() = default;

  // An invalid file when path cannot be opened in that mode (a folder is
  // never opened as a file).
  static platform_file open(const std::string& path, mode how);

  bool valid() const { return handle_.valid(); }

  // Reads up to size bytes at the file position; the number read, 0 at the
  // end of the file or on an error.
  std::size_t read(void* buffer, std::size_t size);

  // Writes all bytes at the file position; false on an error.
  bool write(const void* data, std::size_t size);

  // Size in bytes, -1 on an error.
  std::int64_t size() const;

  // Moves the file position to offset from the start; false on an error.
  bool seek(std::int64_t offset);

  void close() { handle_.reset(); }

  // Renames from over to (replacing a file there); false on an error, from
  // then unchanged.
  static bool replace(const std::string& from, const std::string& to);

 private:
  // INVALID_HANDLE_VALUE and a closed fd.
  static constexpr std::intptr_t invalid_handle() { return -1; }
  // The backend's close.
  static void close_handle(std::intptr_t handle);
  explicit platform_file(std::intptr_t handle) : handle_(handle) {}
  handle_owner<std::intptr_t, close_handle, invalid_handle> handle_;
};
