// Fixtures for tests that talk HTTP: folders and files on disk, and the
// project's local update server (tools/update_server.py) on a free loopback
// port, stopped by its process id.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "temp_folder.h"
#include "tools/json_text.h"

extern char** environ;

namespace server_test {

namespace fs = std::filesystem;

using ::temp_folder;

inline void write_file(const fs::path& path, const std::string& bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

inline std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

using ::json_text;

using key_values = std::vector<std::pair<std::string, std::string>>;

// Route makers; extra is further JSON members (faults), e.g. "\"delay\": 2".
inline std::string with_extra(std::string members, const std::string& extra) {
  if (!extra.empty()) members += (members.empty() ? "" : ", ") + extra;
  return "{" + members + "}";
}
inline std::string settings_route(const key_values& pairs, const std::string& extra = {}) {
  std::string list;
  for (const auto& [key, value] : pairs) {
    if (!list.empty()) list += ", ";
    list += "[" + json_text(key) + ", " + json_text(value) + "]";
  }
  return with_extra("\"settings\": [" + list + "]", extra);
}
inline std::string body_route(const std::string& body, const std::string& extra = {}) {
  return with_extra("\"body\": " + json_text(body), extra);
}
inline std::string file_route(const fs::path& file, const std::string& extra = {}) {
  return with_extra("\"file\": " + json_text(file.string()), extra);
}
inline std::string fault_route(const std::string& extra) {
  return with_extra({}, extra);
}

inline std::string scenario(const key_values& routes) {
  std::string members;
  for (const auto& [path, route] : routes) {
    if (!members.empty()) members += ",\n  ";
    members += json_text(path) + ": " + route;
  }
  return "{\"routes\": {\n  " + members + "\n}}\n";
}

// The JSON string field key of one line of the server's log (or of a
// stand-in's record), with \u00XX turned back into its byte.
inline std::string json_field(const std::string& line, const std::string& key) {
  const std::string head = "\"" + key + "\": ";
  std::size_t at = line.find(head);
  if (at == std::string::npos) return {};
  at += head.size();
  if (at >= line.size() || line[at] != '"') return {};
  std::string value;
  for (std::size_t i = at + 1; i < line.size(); ++i) {
    char c = line[i];
    if (c == '"') return value;
    if (c == '\\' && i + 1 < line.size()) {
      c = line[++i];
      if (c == 'u' && i + 4 < line.size()) {
        value += static_cast<char>(std::stoi(line.substr(i + 1, 4), nullptr, 16) & 0xFF);
        i += 4;
        continue;
      }
      if (c == 'n') c = '\n';
      if (c == 'r') c = '\r';
      if (c == 't') c = '\t';
    }
    value += c;
  }
  return value;
}

inline std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The local update server, started on a free port with the scenario given;
// set_scenario may change it while the server runs (it reads the file on
// every request).
class update_server {
 public:
  // port 0 picks a free one; options go to the server's command line.
  explicit update_server(const std::string& scenario_json, int port = 0,
                         const std::vector<std::string>& options = {}) {
    set_scenario(scenario_json);
    const std::string script = std::string(SOURCE_DIR) + "/tools/update_server.py";
    const std::string scenario_path = (folder_.path() / "scenario.json").string();
    const std::string log_path = log().string();
    const std::string port_path = (folder_.path() / "port").string();
    // The system's Python starts in a tenth of the time of a version
    // manager's shim; the server needs nothing but the standard library.
    const std::string python =
        access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
    std::vector<std::string> args = {
        python,        script,        "--port",      std::to_string(port),
        "--scenario",  scenario_path, "--log",       log_path,
        "--port-file", port_path,     "--bind-wait", "10"};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (posix_spawnp(&pid_, python.c_str(), &actions, nullptr, argv.data(), environ) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
      const std::string text = read_file(port_path);
      if (!text.empty()) {
        port_ = std::atoi(text.c_str());
        break;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~update_server() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
    }
  }
  update_server(const update_server&) = delete;
  update_server& operator=(const update_server&) = delete;

  bool running() const { return pid_ > 0 && port_ > 0; }
  int port() const { return port_; }
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
  std::string url(const std::string& path) const { return base() + path; }

  void set_scenario(const std::string& scenario_json) {
    write_scenario(scenario_file(), scenario_json);
  }
  // Replaces a scenario file in one step, so that the server never reads
  // half of it (usable where the server object is not at hand).
  static void write_scenario(const fs::path& file, const std::string& scenario_json) {
    const fs::path partial = file.string() + ".partial";
    write_file(partial, scenario_json);
    fs::rename(partial, file);
  }
  fs::path scenario_file() const { return folder_.path() / "scenario.json"; }
  pid_t pid() const { return pid_; }
  const fs::path& folder() const { return folder_.path(); }

  fs::path log() const { return folder_.path() / "requests.jsonl"; }

  // Request targets (path and query as sent) in the order they came.
  std::vector<std::string> targets() const {
    std::vector<std::string> result;
    for (const std::string& line : lines_of(read_file(log()))) {
      result.push_back(json_field(line, "target"));
    }
    return result;
  }

 private:
  temp_folder folder_{"update-server"};
  pid_t pid_ = -1;
  int port_ = 0;
};

// A loopback port that was free a moment ago (nothing listens on it now).
inline int unused_port() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
  socklen_t size = sizeof(address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

// A loopback port on which nothing listens, held for the owner's lifetime:
// the socket is bound but never listens, so connections are refused.
class refused_port {
 public:
  refused_port() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    socklen_t size = sizeof(address);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
    port_ = ntohs(address.sin_port);
  }
  ~refused_port() { release(); }
  // Frees the port, for a server to take it.
  void release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  int port() const { return port_; }
  refused_port(const refused_port&) = delete;
  refused_port& operator=(const refused_port&) = delete;
  std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

}  // namespace server_test
