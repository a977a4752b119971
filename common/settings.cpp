// The settings reader: a whole file loaded into memory and searched for
// key = value lines before the first group header.
#include "settings.h"

#include <cstdint>
#include <mutex>
#include <string>

#include "platform_file.h"
#include "thread_sync.h"

namespace {

// A settings file is a few lines (server replies, definitions information).
// A larger one counts as a file whose text cannot be held in memory: not
// loaded, so every read yields its default.

struct reader_state {
  sync_mutex lock;
  platform_file file;  // held open, others may read but not write
  std::string text;    // the loaded bytes; a zero byte ends the usable text
  bool loaded = false;
};

reader_state& reader() {
  static reader_state state;
  return state;
}

bool is_line_end_or_stop(char c) {
  return c == '\n' || c == '\0';
}

char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool settings_lookup(const std::string& text, const std::string& key, std::string& value) {
  if (key.empty()) return false;
  // The usable text ends at the first zero byte or at the end of the string.
  const std::size_t end = text.find('\0') == std::string::npos ? text.size() : text.find('\0');
  auto at = [&](std::size_t i) { return i < end ? text[i] : '\0'; };

  std::size_t line = 0;
  while (line < end) {
    if (at(line) == '[') return false;  // group header: the searched region ends
    std::size_t p = line;
    while (at(p) == ' ') ++p;
    if (at(p) != ';') {
      const std::size_t key_start = p;
      while (at(p) != '=' && !is_line_end_or_stop(at(p))) ++p;
      std::size_t key_end = p;
      while (key_end > key_start && text[key_end - 1] == ' ') --key_end;
      if (at(p) == '=' && key_end - key_start == key.size()) {
        bool same = true;
        for (std::size_t i = 0; i < key.size() && same; ++i) {
          same = ascii_lower(text[key_start + i]) == ascii_lower(key[i]);
        }
        if (same) {
          std::size_t v = p + 1;
          while (at(v) == ' ') ++v;
          std::size_t v_end = v;
          while (at(v_end) != '\r' && !is_line_end_or_stop(at(v_end))) ++v_end;
          value.assign(text, v, v_end - v);
          return true;
        }
      }
    }
    // Next line: past the next line feed, or the end of the text.
    while (!is_line_end_or_stop(at(p))) ++p;
    if (at(p) != '\n') return false;
    line = p + 1;
  }
  return false;
}

int settings_open(const std::string& path) {
  reader_state& r = reader();
  std::lock_guard<sync_mutex> guard(r.lock);
  r.file.close();
  r.text = std::string();
  r.loaded = false;

  platform_file file = platform_file::open(path, platform_file::mode::read_share_read);
  if (!file.valid()) return 0;
  const std::int64_t size = file.size();
  if (size < 0 || size > settings_max_size) return 0;

  // Room for the whole file; fewer bytes may arrive if it shrank meanwhile.
  std::string text(static_cast<std::size_t>(size), '\0');
  std::size_t got = 0;
  while (got < text.size()) {
    const std::size_t n = file.read(text.data() + got, text.size() - got);
    if (n == 0) break;
    got += n;
  }
  text.resize(got);
  r.text = std::move(text);
  r.file = std::move(file);
  r.loaded = true;
  return 1;
}

std::string settings_read(const std::string& key, const std::string& default_text) {
  reader_state& r = reader();
  std::lock_guard<sync_mutex> guard(r.lock);
  if (!r.loaded) return default_text;
  std::string value;
  if (settings_lookup(r.text, key, value)) return value;
  return default_text;
}

void settings_close() {
  reader_state& r = reader();
  std::lock_guard<sync_mutex> guard(r.lock);
  r.file.close();
  r.text = std::string();
  r.loaded = false;
}
