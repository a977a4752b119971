// A JSON string of the system's bytes: quotes and backslashes escaped, bytes
// below 32 and above 126 written as \u00XX, which readers turn back into the
// same Windows-1252 byte. Shared by the stand-ins and the tests' records.
#pragma once

#include <string>

inline std::string json_text(const std::string& text) {
  static const char hex[] = "0123456789abcdef";
  std::string out = "\"";
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}
