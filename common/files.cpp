// Numbered text files over the backend's file primitive.
//
// Lines are read as if byte by byte (a zero byte ends a line, a CR is
// followed by an optional LF that belongs to it); bytes come from a buffer
// so that a long file is not read with one system call per byte.
#include "files.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform_file.h"
#include "thread_sync.h"

namespace {

struct numbered_file {
  platform_file file;
  std::vector<char> buffer;  // bytes read ahead of the line reader
  std::size_t position = 0;  // next unread byte in buffer
  std::size_t filled = 0;

  // The next byte, or -1 at the end of the file (or on a read error).
  int next_byte() {
    if (position == filled) {
      if (buffer.empty()) buffer.resize(4096);
      filled = file.read(buffer.data(), buffer.size());
      position = 0;
      if (filled == 0) return -1;
    }
    return static_cast<unsigned char>(buffer[position++]);
  }
  // Puts back the byte just returned by next_byte.
  void put_back() { --position; }
};

struct file_table {
  sync_mutex lock;
  // Keyed by number: any non-negative number works without reserving room
  // for every smaller one.
  std::map<int, numbered_file> files;
  int current = -1;  // -1: no current file
};

file_table& table() {
  static file_table state;
  return state;
}

// Number under which a request for a new one (-1) is entered: the lowest
// free one from 1 up, so that the result of the open stays non-zero.
int free_number(const file_table& t) {
  int n = 1;
  while (t.files.count(n) != 0) ++n;
  return n;
}

int enter(int number, platform_file file) {
  file_table& t = table();
  std::lock_guard<sync_mutex> guard(t.lock);
  if (number < -1 || !file.valid()) {
    t.current = -1;
    return 0;
  }
  const int result = number == -1 ? free_number(t) : 1;
  if (number == -1) number = result;
  numbered_file entry;
  entry.file = std::move(file);
  t.files[number] = std::move(entry);  // a file under the number is closed first
  t.current = number;
  return result;
}

numbered_file* current_file(file_table& t) {
  if (t.current < 0) return nullptr;
  auto found = t.files.find(t.current);
  return found == t.files.end() ? nullptr : &found->second;
}

bool write_current(const void* block, std::size_t length) {
  file_table& t = table();
  std::lock_guard<sync_mutex> guard(t.lock);
  numbered_file* f = current_file(t);
  if (f == nullptr) return false;
  return f->file.write(block, length);
}

}  // namespace

int file_open_read(int number, const std::string& path) {
  platform_file file;
  if (number >= -1) file = platform_file::open(path, platform_file::mode::read_share_all);
  return enter(number, std::move(file));
}

int file_create(int number, const std::string& path) {
  platform_file file;
  if (number >= -1) {
    file = platform_file::open(path, platform_file::mode::create_truncate);
    // Creating fails on some existing files (hidden or system ones on
    // Windows); emptying the existing file keeps its attributes.
    if (!file.valid()) file = platform_file::open(path, platform_file::mode::open_truncate);
  }
  return enter(number, std::move(file));
}

int file_create_private(int number, const std::string& path) {
  platform_file file;
  if (number >= -1) file = platform_file::open(path, platform_file::mode::create_private);
  return enter(number, std::move(file));
}

void file_close(int number) {
  file_table& t = table();
  std::lock_guard<sync_mutex> guard(t.lock);
  if (t.files.erase(number) != 0 && t.current == number) t.current = -1;
}

void file_close_all() {
  file_table& t = table();
  std::lock_guard<sync_mutex> guard(t.lock);
  t.files.clear();
  t.current = -1;
}

std::string file_read_line() {
  file_table& t = table();
  std::lock_guard<sync_mutex> guard(t.lock);
  std::string line;
  numbered_file* f = current_file(t);
  if (f == nullptr) return line;
  for (;;) {
    const int c = f->next_byte();
    if (c <= 0 || c == '\n') break;  // end of file, zero byte or LF: consumed
    if (c == '\r') {
      // A CR ends the line; an LF right after it belongs to the same line
      // end, any other byte starts the next line.
      const int after = f->next_byte();
      if (after >= 0 && after != '\n') f->put_back();
      break;
    }
    line += static_cast<char>(c);
  }
  return line;
}

int file_write_bytes(const void* block, std::size_t length) {
  if (block == nullptr || length == 0) return 0;
  return write_current(block, length) ? 1 : 0;
}

std::size_t file_write_text(const std::string& text) {
  if (text.empty()) return 0;
  return write_current(text.data(), text.size()) ? text.size() : 0;
}

std::size_t file_write_line(const std::string& text) {
  const std::string line = text + "\r\n";
  return write_current(line.data(), line.size()) ? line.size() : 0;
}
