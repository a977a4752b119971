// A fresh folder under the system's temporary folder, removed afterwards.
// Portable: the same tables run natively and as Windows programs.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

// Makes a new, empty folder named prefix-<random> under the temporary folder;
// creating the folder is the claim, so two processes never get the same one.
// An empty path when no name could be claimed.
inline std::filesystem::path make_unique_temp_folder(const std::string& prefix) {
  std::error_code error;
  const std::filesystem::path base = std::filesystem::temp_directory_path(error);
  if (error) return {};
  std::random_device seed;
  std::mt19937_64 random(static_cast<std::uint64_t>(seed()) << 32 | seed());
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix + "-";
    for (int i = 0; i < 8; ++i) name += digits[random() % 36];
    const std::filesystem::path candidate = base / name;
    if (std::filesystem::create_directory(candidate, error)) return candidate;
  }
  return {};
}

class temp_folder {
 public:
  explicit temp_folder(const std::string& prefix = "test")
      : path_(make_unique_temp_folder(prefix)) {
    if (path_.empty()) std::abort();
  }
  ~temp_folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  temp_folder(const temp_folder&) = delete;
  temp_folder& operator=(const temp_folder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
