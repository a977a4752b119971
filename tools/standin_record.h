// The one JSON line that a stand-in program appends to its log, shared by
// the Windows and POSIX stand-ins.
//
// {"program": "<own file name>", "folder": "<working folder>",
//  "command_line": "<whole command line>", "process_id": <n>}
//
// Texts are the system's bytes: a byte above 127 is written as \u00XX with
// the byte's value, so a reader gets the exact bytes back by encoding the
// string as Latin-1.
#pragma once

#include <string>

inline std::string standin_json_text(const std::string& text) {
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

inline std::string standin_record(const std::string& program, const std::string& folder,
                                  const std::string& command_line, unsigned long process_id) {
  return "{\"program\": " + standin_json_text(program) +
         ", \"folder\": " + standin_json_text(folder) +
         ", \"command_line\": " + standin_json_text(command_line) +
         ", \"process_id\": " + std::to_string(process_id) + "}\n";
}
