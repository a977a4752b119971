// Platform-independent rules of the system services.
#include "system_rules.h"

#include <string>

namespace {
char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Greedy match with one backtracking point (the last *): linear in practice,
// never exponential.
bool match_plain(const std::string& pattern, const std::string& name) {
  std::size_t p = 0, n = 0;
  std::size_t star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() &&
               (pattern[p] == '?' || ascii_lower(pattern[p]) == ascii_lower(name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}
}  // namespace

bool wildcard_match(const std::string& pattern, const std::string& name) {
  if (match_plain(pattern, name)) return true;
  const std::size_t n = pattern.size();
  if (n >= 2 && pattern[n - 2] == '.' && pattern[n - 1] == '*' &&
      name.find('.') == std::string::npos) {
    return match_plain(pattern.substr(0, n - 2), name);
  }
  return false;
}

std::string run_folder(const std::string& file, const std::string& folder) {
  if (!folder.empty()) return folder;
  const std::size_t last = file.rfind('\\');
  if (last == std::string::npos) return {};
  return file.substr(0, last + 1);
}

std::optional<std::string> size_lookup_path(const std::string& path) {
  if (path.empty() || path.size() > max_path_length) return std::nullopt;
  if (path.size() > 1 && path.back() == '\\') return path.substr(0, path.size() - 1);
  return path;
}

bool is_drive_name(const std::string& path) {
  return path.size() == 2 && path[1] == ':' &&
         ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
}

std::string scan_pattern_path(const std::string& folder, const std::string& pattern) {
  std::string wanted = folder;
  if (!wanted.empty() && wanted.back() != '\\') wanted += '\\';
  wanted += pattern.empty() ? std::string("*.*") : pattern;
  return wanted;
}
