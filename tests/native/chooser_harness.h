// Fixtures of the chooser's native tests: product folders on disk, the POSIX
// stand-in under the names of the programs the chooser starts, and what the
// stand-in recorded.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "language_chooser.h"

namespace chooser_test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
class temp_folder {
 public:
  temp_folder() {
    std::string pattern = (fs::temp_directory_path() / "chooser-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path_ = pattern;
  }
  ~temp_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

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

}  // namespace chooser_test
