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

#include "json_text.h"


inline std::string standin_record(const std::string& program, const std::string& folder,
                                  const std::string& command_line, unsigned long process_id) {
  return "{\"program\": " + json_text(program) +
         ", \"folder\": " + json_text(folder) +
         ", \"command_line\": " + json_text(command_line) +
         ", \"process_id\": " + std::to_string(process_id) + "}\n";
}
