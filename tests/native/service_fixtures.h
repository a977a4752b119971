// Fixtures of the shared services' tests: a scratch folder on disk, files
// written byte for byte, and the process's open descriptors. Portable but for
// open_descriptors, which each platform counts in its own file.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "temp_folder.h"

namespace service_test {

namespace fs = std::filesystem;

// A fresh folder under the system's temporary folder, removed afterwards.
class scratch_folder {
 public:
  scratch_folder() : path_(make_unique_temp_folder("services")) {
    if (path_.empty()) throw std::runtime_error("no scratch folder could be made");
  }
  ~scratch_folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  scratch_folder(const scratch_folder&) = delete;
  scratch_folder& operator=(const scratch_folder&) = delete;

  const fs::path& path() const { return path_; }
  // The path as the programs spell it: with backslashes.
  std::string system_path(const std::string& name = {}) const {
    std::string p = name.empty() ? path_.string() : (path_ / name).string();
    for (char& c : p) {
      if (c == '/') c = '\\';
    }
    return p;
  }
  fs::path write(const std::string& name, const std::string& bytes) const {
    const fs::path file = path_ / name;
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return file;
  }
  std::string read(const std::string& name) const { return read_bytes(path_ / name); }

  static std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  fs::path path_;
};

// Makes a folder the current one for the scope.
class current_folder_scope {
 public:
  explicit current_folder_scope(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~current_folder_scope() { fs::current_path(previous_); }
  current_folder_scope(const current_folder_scope&) = delete;
  current_folder_scope& operator=(const current_folder_scope&) = delete;

 private:
  fs::path previous_;
};

// Number of descriptors (on Windows: handles) the process has open: shows
// files left open or closed behind the services' backs. Only differences
// count, taken around a single-threaded step.
int open_descriptors();

}  // namespace service_test
