// Fuzz target for the settings reader: arbitrary text searched in memory
// and through a file, for fixed keys and for a key taken from the input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "settings.h"

namespace {

const std::string& temp_path() {
  static const std::string path = [] {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/fuzz_settings." + std::to_string(getpid());
  }();
  return path;
}

const char* const fixed_keys[] = {
    "version_definition", "date", "version", "url", "reponse", "", "=", "[", " "};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Up to the first 0xFF byte: a key of the caller's; the rest: the text.
  const std::size_t cut = input.find('\xFF');
  const std::string key = cut == std::string::npos ? std::string() : input.substr(0, cut);
  const std::string text = cut == std::string::npos ? input : input.substr(cut + 1);

  std::string value;
  for (const char* k : fixed_keys) {
    value.clear();
    if (settings_lookup(text, k, value) && value.size() > text.size()) std::abort();
  }
  value.clear();
  if (settings_lookup(text, key, value) && value.size() > text.size()) std::abort();

  std::FILE* f = std::fopen(temp_path().c_str(), "wb");
  if (!f) std::abort();
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) std::abort();
  std::fclose(f);
  if (settings_open(temp_path())) {
    // A default no line can hold, to tell "not found" from any value.
    const std::string absent("\n", 1);
    // The file reader and the in-memory lookup agree.
    for (const std::string& k : {std::string("version_definition"), std::string("date"), key}) {
      std::string expected;
      const bool found = settings_lookup(text, k, expected);
      const std::string got = settings_read(k, absent);
      if (found ? got != expected : got != absent) std::abort();
    }
  }
  settings_close();
  std::remove(temp_path().c_str());
  return 0;
}
