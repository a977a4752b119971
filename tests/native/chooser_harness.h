// Fixtures of the chooser's native tests: product folders on disk, the POSIX
// stand-in under the names of the programs the chooser starts, what the
// stand-in recorded, and the whole chooser run in a child process.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "language_chooser.h"
#include "posix/headless.h"
#include "temp_folder.h"
#include "toolkit.h"

namespace chooser_test {

namespace fs = std::filesystem;

using ::temp_folder;

// Makes the folder the current one for the scope.
class inside_folder {
 public:
  explicit inside_folder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~inside_folder() { fs::current_path(previous_); }
  inside_folder(const inside_folder&) = delete;
  inside_folder& operator=(const inside_folder&) = delete;

 private:
  fs::path previous_;
};

inline void write_file(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A valid icon file image: the chooser's own go icon.
inline std::string icon_file() {
  return std::string(reinterpret_cast<const char*>(go_icon_data), go_icon_size);
}

// A 2 x 2 bitmap file image, 24 bits per pixel (flags may be bitmaps too).
inline std::string bitmap_file() {
  const int row = 8;  // 2 pixels * 3 bytes, padded to 4
  const int pixels = row * 2;
  std::string b;
  auto u16 = [&](int v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
  };
  auto u32 = [&](int v) {
    u16(v & 0xFFFF);
    u16((v >> 16) & 0xFFFF);
  };
  b += "BM";
  u32(14 + 40 + pixels);
  u32(0);
  u32(14 + 40);
  u32(40);
  u32(2);
  u32(2);
  u16(1);
  u16(24);
  u32(0);
  u32(pixels);
  u32(2835);
  u32(2835);
  u32(0);
  u32(0);
  b += std::string(pixels, '\x7f');
  return b;
}

// The POSIX stand-in of the build, copied as the given program.
inline void install_standin(const fs::path& folder, const std::string& name) {
  const fs::path source = fs::path(BUILD_DIR) / "tools" / "standin";
  fs::copy_file(source, folder / name, fs::copy_options::overwrite_existing);
}

inline void install_standins(const fs::path& folder) {
  install_standin(folder, "tessarin.exe");
  install_standin(folder, "traducteur.exe");
}

// One start recorded by the stand-in.
struct start_record {
  std::string exe;     // the stand-in's file name as started
  std::string folder;  // its working folder
};

inline std::string json_field(const std::string& line, const std::string& key) {
  const std::regex field("\"" + key + "\"\\s*:\\s*\"((?:[^\"\\\\]|\\\\.)*)\"");
  std::smatch match;
  if (!std::regex_search(line, match, field)) return {};
  std::string value;
  const std::string raw = match[1];
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\\' && i + 1 < raw.size()) {
      ++i;
      if (raw[i] == 'u' && i + 4 < raw.size()) {  // \u00XX: one byte
        value += static_cast<char>(std::stoi(raw.substr(i + 3, 2), nullptr, 16));
        i += 4;
        continue;
      }
    }
    value += raw[i];
  }
  return value;
}

// The starts that the stand-ins in folder recorded (standin.log).
inline std::vector<start_record> starts(const fs::path& folder) {
  std::vector<start_record> records;
  std::istringstream lines(read_file(folder / "standin.log"));
  for (std::string line; std::getline(lines, line);) {
    if (line.find('{') == std::string::npos) continue;
    start_record r;
    r.exe = json_field(line, "program");
    r.folder = json_field(line, "folder");
    records.push_back(r);
  }
  return records;
}

inline std::vector<start_record> starts_of(const fs::path& folder, const std::string& exe) {
  std::vector<start_record> all = starts(folder), chosen;
  for (const start_record& r : all) {
    if (r.exe == exe) chosen.push_back(r);
  }
  return chosen;
}

// The chooser does not wait for what it starts: waits until the stand-ins
// recorded at least count starts (or a few seconds passed).
inline std::size_t wait_for_starts(const fs::path& folder, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t seen = 0;
  while ((seen = starts(folder).size()) < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return seen;
}

// Gives a program that should not have been started the time it would have
// needed to record itself.
inline void settle() {
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// ---- Running the whole chooser -----------------------------------------------
//
// run_language_chooser ends the process, so it runs in a forked child, in a
// product folder, while a driver thread in that child acts as the user
// through the headless toolkit and writes what it sees to a pipe.

// ---- The driver's side (in the child) -------------------------------------

// Notes are lines "key<TAB>value"; line feeds and backslashes in values are
// escaped so that message texts survive.
class notes {
 public:
  explicit notes(int fd) : fd_(fd) {}
  void add(const std::string& key, const std::string& value = {}) {
    std::string line = key + '\t';
    for (char c : value) {
      if (c == '\n') {
        line += "\\n";
      } else if (c == '\\') {
        line += "\\\\";
      } else {
        line += c;
      }
    }
    line += '\n';
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
      const ssize_t n = write(fd_, p, left);
      if (n <= 0) return;
      p += n;
      left -= static_cast<std::size_t>(n);
    }
  }
  void add(const std::string& key, long long value) { add(key, std::to_string(value)); }

 private:
  int fd_;
};

using driver = std::function<void(notes&)>;

inline std::vector<std::string> labels() {
  std::vector<std::string> texts;
  if (auto list = headless::control(language_list)) {
    for (const auto& item : list->items) texts.push_back(item.text);
  }
  return texts;
}

// Start-up is over once the list shows large icons (the last step before
// the event loop; events posted from then on wait in the queue).
inline bool wait_ready(notes& n) {
  const bool ready = headless::wait_until([] {
    auto list = headless::control(language_list);
    return list && list->view_mode == 0;
  });
  if (!ready) n.add("failed", "start-up did not finish");
  return ready;
}

inline bool select_label(notes& n, const std::string& label) {
  const auto texts = labels();
  const auto at = std::find(texts.begin(), texts.end(), label);
  if (at == texts.end()) {
    n.add("failed", "no entry " + label);
    return false;
  }
  return headless::select_item(language_list, static_cast<int>(at - texts.begin()));
}

inline void note_labels(notes& n) {
  for (const std::string& label : labels()) n.add("label", label);
}

inline void note_boxes(notes& n) {
  for (const auto& box : headless::message_boxes()) {
    n.add("box.title", box.title);
    n.add("box.text", box.text);
    n.add("box.flags", box.flags);
  }
}

inline bool wait_boxes(notes& n, std::size_t count) {
  const bool seen = headless::wait_until([&] { return headless::message_boxes().size() >= count; });
  if (!seen) n.add("failed", "message box " + std::to_string(count) + " not shown");
  return seen;
}

// ---- The parent's side ----------------------------------------------------

struct run_result {
  bool exited = false;
  int exit_code = -1;
  int signal = 0;
  std::vector<std::pair<std::string, std::string>> lines;

  std::vector<std::string> all(const std::string& key) const {
    std::vector<std::string> values;
    for (const auto& [k, v] : lines) {
      if (k == key) values.push_back(v);
    }
    return values;
  }
  std::string first(const std::string& key) const {
    auto values = all(key);
    return values.empty() ? std::string("<none>") : values.front();
  }
};

inline std::string unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size()) {
      ++i;
      out += text[i] == 'n' ? '\n' : text[i];
    } else {
      out += text[i];
    }
  }
  return out;
}

// The processor-fault handlers in effect, for comparing them at the end
// with those found at the start.
struct fault_handlers {
  static constexpr int signals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
  struct sigaction actions[std::size(signals)] = {};

  static fault_handlers now() {
    fault_handlers h;
    for (std::size_t i = 0; i < std::size(signals); ++i)
      sigaction(signals[i], nullptr, &h.actions[i]);
    return h;
  }
  bool same_as(const fault_handlers& other) const {
    for (std::size_t i = 0; i < std::size(signals); ++i) {
      const struct sigaction &a = actions[i], &b = other.actions[i];
      if ((a.sa_flags & SA_SIGINFO) != (b.sa_flags & SA_SIGINFO)) return false;
      if ((a.sa_flags & SA_SIGINFO) ? a.sa_sigaction != b.sa_sigaction
                                    : a.sa_handler != b.sa_handler)
        return false;
    }
    return true;
  }
};

// Runs the chooser in folder with the driver beside it. The child gets two
// minutes; a chooser that never ends is killed and shows up as a signal.
// Whatever way it ends, the child notes "end.fault handlers" at its very
// end: "previous" when the fault handlers found at its start are back,
// "changed" otherwise.
inline run_result run_chooser(const fs::path& folder, const driver& drive) {
  int fds[2];
  if (pipe(fds) != 0) std::abort();
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    alarm(120);
    if (chdir(folder.c_str()) != 0) _exit(101);
    headless::reset();
    const int fd = fds[1];
    const fault_handlers at_start = fault_handlers::now();
    headless::on_process_end([fd, at_start](int) {
      notes n(fd);
      n.add("end.fault handlers", fault_handlers::now().same_as(at_start) ? "previous" : "changed");
    });
    std::thread([fd, drive] {
      notes n(fd);
      drive(n);
      n.add("driver", "done");
    }).detach();
    run_language_chooser();
  }
  close(fds[1]);
  std::string text;
  char buffer[4096];
  for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) != 0;) {
    if (got < 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);

  run_result result;
  result.exited = WIFEXITED(status);
  result.exit_code = result.exited ? WEXITSTATUS(status) : -1;
  result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = text.substr(start, end - start);
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    result.lines.emplace_back(line.substr(0, tab), unescape(line.substr(tab + 1)));
  }
  return result;
}

}  // namespace chooser_test
