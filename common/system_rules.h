// Rules of the system services that do not depend on the platform, shared
// by both backends (and tested natively).
#pragma once

#include <optional>
#include <string>

// Longest path that file_size looks up.
constexpr std::size_t max_path_length = 1023;

// Case-insensitive (ASCII) match of a file name against a pattern with the
// wildcards * (any run of characters) and ? (exactly one character). As on
// Windows, a pattern ending in ".*" also matches the name without any
// extension, so "*.*" matches every name.
bool wildcard_match(const std::string& pattern, const std::string& name);

// The working folder run_program uses: folder when not empty, else the
// folder part of file up to and including its last backslash, else the empty
// text (the caller's current folder).
std::string run_folder(const std::string& file, const std::string& folder);

// The path file_size looks up: path with one trailing backslash removed (a
// lone backslash, the root, is kept). Nothing when the path is empty or
// longer than max_path_length.
std::optional<std::string> size_lookup_path(const std::string& path);

// True for a drive name such as "C:" (letter and colon, nothing else).
bool is_drive_name(const std::string& path);

// What a directory scan looks for: folder (a backslash added when it lacks
// one) followed by pattern, or "*.*" when pattern is empty.
std::string scan_pattern_path(const std::string& folder, const std::string& pattern);
