// The settings reader: key = value lines of a whole file loaded into memory.
//
// One reader per process, used from one thread at a time. Only the part of
// the file before the first group header ("[" in column one) is searched.
#pragma once

#include <cstdint>
#include <string>

// The largest settings file the reader loads, in bytes; a longer one fails to
// open. Whatever is fetched to be read as settings is bounded by it too.
constexpr std::int64_t settings_max_size = 64 * 1024 * 1024;

// Closes any open settings file, then opens and loads path. Non-zero on
// success, 0 when the file cannot be opened or loaded. The file stays open
// (others may read it, not write it) until settings_close or the next open.
int settings_open(const std::string& path);

// The value of the first line whose key equals key (ASCII case ignored);
// default_text when the reader is closed, the key is empty or not found. An
// empty value is returned as the empty text, not as the default.
std::string settings_read(const std::string& key, const std::string& default_text = {});

// Releases the file and the loaded text.
void settings_close();

// Pure lookup over a loaded text, as settings_read does it. Used by the
// reader and by tests.
bool settings_lookup(const std::string& text, const std::string& key, std::string& value);
