// Runs the whole update client on the headless toolkit in a child process.
//
// end_client ends the process, so every flow runs in a forked child: its
// main thread runs run_update_client in the product folder, a driver thread
// plays the user through headless::* and notes what it sees, and the client's
// end seam notes the window as the client leaves it. Notes travel to the
// parent through a pipe; the parent waits for the child's exit code.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "client_state.h"
#include "client_test_seams.h"
#include "posix/headless.h"
#include "progress_window.h"
#include "system.h"
#include "update_client.h"
#include "update_server_harness.h"

namespace flow_test {

using namespace server_test;

// The texts of the built-in catalogue (Windows-1252), as the window must
// show them.
inline const std::map<int, std::string>& french() {
  static const std::map<int, std::string> texts = {
      {1, "Vantrel"},
      {2, "Version disponible : "},
      {3, "Bienvenue"},
      {4, "Version install\xE9 : "},
      {5, ""},
      {6, "Recherche d'une mise \xE0 jour de Vantrel..."},
      {7,
       "T\xE9l\xE9"
       "chargement de la mise \xE0 jour de Vantrel..."},
      {8, "Recherche d'une mise \xE0 jour de Parvisol..."},
      {9, "Connexion Impossible, v\xE9rifiez votre PareFeu..."},
      {10, "Pas de mise \xE0 jour disponible"},
      {11, "Une mise \xE0 jour est disponible"},
      {13, "Une erreur s'est produite"},
  };
  return texts;
}
inline const std::string& entry(int n) {
  return french().at(n);
}

// What a flow's child reported.
struct flow_result {
  bool exited = false;  // ended by itself (not killed at the time limit)
  int exit_code = -1;
  std::vector<std::pair<std::string, std::string>> notes;

  bool has(const std::string& key) const {
    for (const auto& n : notes) {
      if (n.first == key) return true;
    }
    return false;
  }
  // The last value noted under key (empty when none).
  std::string operator[](const std::string& key) const {
    std::string value;
    for (const auto& n : notes) {
      if (n.first == key) value = n.second;
    }
    return value;
  }
  std::string all() const {
    std::string text;
    for (const auto& n : notes) text += n.first + " = " + n.second + "\n";
    return text;
  }
};

// ---- inside the child ---------------------------------------------------------

namespace child {

inline int& note_fd() {
  static int fd = -1;
  return fd;
}
inline std::string& server_base() {
  static std::string base;
  return base;
}
inline std::thread::id& main_thread() {
  static std::thread::id id;
  return id;
}

inline std::string escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out;
}

// One note, written in one piece (below PIPE_BUF, so notes of two threads
// never interleave).
inline void note(const std::string& key, const std::string& value) {
  std::string line = escaped(key) + "\t" + escaped(value) + "\n";
  if (line.size() > 4000) line = line.substr(0, 3999) + "\n";
  [[maybe_unused]] const ssize_t written = write(note_fd(), line.data(), line.size());
}

inline std::string status_text() {
  const auto bar = headless::status_bar(status_bar);
  if (!bar || bar->texts.empty()) return {};
  return bar->texts[0];
}
inline std::string control_text(int number) {
  const auto c = headless::control(number);
  return c ? c->text : std::string("(none)");
}
inline std::string button_state() {
  const auto c = headless::control(update_button);
  if (!c) return "none";
  return c->enabled ? "enabled" : "disabled";
}
inline int progress() {
  const auto c = headless::control(progress_bar);
  return c ? c->state : -1;
}
// The offer is on screen: the button is enabled and the status says so. The
// button alone is not enough: it is briefly enabled between the window's
// showing and its first disabling.
inline bool offer_shown() {
  return button_state() == "enabled" && status_text() == entry(11);
}
inline bool window_open() {
  return headless::window(progress_window).has_value();
}

// Notes the window's state under prefix.
inline void note_window(const std::string& prefix) {
  const auto w = headless::window(progress_window);
  note(prefix + ".window", w ? "open" : "none");
  if (w) note(prefix + ".title", w->title);
  note(prefix + ".status", status_text());
  note(prefix + ".available", control_text(available_version_label));
  note(prefix + ".installed", control_text(installed_version_label));
  note(prefix + ".button", button_state());
  note(prefix + ".progress", std::to_string(progress()));
}

inline bool wait_for(const std::function<bool()>& condition,
                     std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
  return headless::wait_until(condition, timeout);
}
inline bool wait_status(const std::string& text,
                        std::chrono::milliseconds timeout = std::chrono::seconds(15)) {
  return wait_for([&] { return status_text() == text; }, timeout);
}

inline void at_end() {
  note("end.thread", std::this_thread::get_id() == main_thread() ? "ui" : "worker");
  note_window("end");
  note("end.auto_mode", auto_mode);
  note("end.animation_stop", std::to_string(animation_stop.load()));
  note("end.download_url", download_url);
  const auto boxes = headless::message_boxes();
  note("end.boxes", std::to_string(boxes.size()));
  for (const auto& box : boxes) {
    note("end.box",
         "title=" + box.title + "|text=" + box.text + "|flags=" + std::to_string(box.flags));
  }
}

inline void point_at_server() {
  note("fixed.module_check_url", module_check_url);
  note("fixed.update_check_url", update_check_url);
  note("fixed.module_version", module_version);
  note("fixed.auto_mode", auto_mode);
  if (!server_base().empty()) {
    module_check_url = server_base() + "/tessarin/version_module_update.php";
    update_check_url = server_base() + "/tessarin/update.php";
  }
}

}  // namespace child

// The parent's sockets (a port held to refuse connections, say) must not
// stay bound in the child.
inline void close_inherited_sockets() {
  std::vector<int> sockets;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
    const int fd = std::atoi(entry.path().filename().c_str());
    struct stat info {};
    if (fd > 2 && fstat(fd, &info) == 0 && S_ISSOCK(info.st_mode)) sockets.push_back(fd);
  }
  for (const int fd : sockets) close(fd);
}

using driver = std::function<void()>;

// Runs the client in folder with the command line (the program's name
// first) against the server at server_base ("" keeps the compiled-in
// host). The driver runs on its own thread beside the client and returns
// when it is done; the client must end by itself within the time limit.
inline flow_result run_flow(const fs::path& folder, const std::string& command_line,
                            const std::string& server_base, const driver& drive = {},
                            std::chrono::seconds limit = std::chrono::seconds(40)) {
  flow_result result;
  int channel[2];
  if (pipe2(channel, O_CLOEXEC) != 0) return result;
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    close(channel[0]);
    child::note_fd() = channel[1];
    close_inherited_sockets();
    if (chdir(folder.c_str()) != 0) _exit(90);
    fs::create_directories(folder / "temp");
    setenv("Temp", (folder / "temp").c_str(), 1);
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
      unsetenv(name);
    }
    setenv("STANDIN_LOG", (folder / "standin.log").c_str(), 1);
    child::server_base() = server_base;
    child::main_thread() = std::this_thread::get_id();
    set_command_line(command_line);
    client_test_seams seams;
    seams.after_fixed_values = child::point_at_server;
    seams.at_end = child::at_end;
    set_client_test_seams(seams);
    std::thread([drive] {
      if (drive) drive();
      child::note("driver", "done");
    }).detach();
    run_update_client();
    _exit(91);  // run_update_client never returns
  }
  close(channel[1]);
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::string received;
  bool killed = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      killed = true;
      break;
    }
    pollfd p{channel[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 200))) <= 0) continue;
    char buffer[4096];
    const ssize_t got = read(channel[0], buffer, sizeof buffer);
    if (got <= 0) break;  // every writer is gone: the child has ended
    received.append(buffer, static_cast<std::size_t>(got));
  }
  close(channel[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  result.exited = !killed && WIFEXITED(status);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;

  for (const std::string& line : lines_of(received)) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos) continue;
    auto unescape = [](const std::string& text) {
      std::string out;
      for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
          const char c = text[++i];
          out += c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
          out += text[i];
        }
      }
      return out;
    };
    result.notes.emplace_back(unescape(line.substr(0, tab)), unescape(line.substr(tab + 1)));
  }
  return result;
}

// ---- product folders ----------------------------------------------------------

// A definitions file "eas" whose first entry is stored plain.
inline std::string plain_pack(const std::string& first_entry) {
  std::string pack;
  auto u32 = [&](std::size_t v) {
    for (int i = 0; i < 4; ++i) pack += static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  u32(first_entry.size());
  u32(first_entry.size());
  pack += first_entry;
  return pack;
}

struct product_layout {
  std::string language_ini = "francais.txt\r\n";  // empty optional: no langue.ini
  bool has_language_ini = true;
  std::string definitions_version = "2024.05.01";
  std::string definitions_date = "01/05/2024";
  bool has_definitions = true;
};

inline void lay_out(const fs::path& folder, const product_layout& p = {}) {
  if (p.has_language_ini) write_file(folder / "langue.ini", p.language_ini);
  if (p.has_definitions) {
    write_file(folder / "eas", plain_pack("version_definition=" + p.definitions_version +
                                          "\r\ndate=" + p.definitions_date + "\r\n"));
  }
}

// The stand-in program of the build (records its starts in STANDIN_LOG).
inline fs::path standin_program() {
  return fs::path(BUILD_DIR) / "tools" / "standin";
}

struct start_record {
  std::string program, folder, command_line;
};

inline std::vector<start_record> starts(const fs::path& folder) {
  std::vector<start_record> records;
  for (const std::string& line : lines_of(read_file(folder / "standin.log"))) {
    records.push_back({json_field(line, "program"), json_field(line, "folder"),
                       json_field(line, "command_line")});
  }
  return records;
}

// The client does not wait for what it starts: waits until count starts are
// recorded (or a few seconds passed).
inline std::vector<start_record> wait_for_starts(const fs::path& folder, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::vector<start_record> seen;
  while ((seen = starts(folder)).size() < count && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return seen;
}

// Routes of a server that answers both scripts.
inline std::string module_reply(const std::string& version, const std::string& url = {},
                                const std::string& extra = {}) {
  return settings_route({{"version", version}, {"url", url}}, extra);
}
inline std::string update_reply(const std::string& verdict, const std::string& url = {},
                                const std::string& extra = {}) {
  return settings_route(
      {{"update", verdict}, {"url", url}, {"version", "5.2"}, {"date", "12/03/2024"}}, extra);
}

constexpr const char* module_path = "/tessarin/version_module_update.php";
constexpr const char* update_path = "/tessarin/update.php";

}  // namespace flow_test
