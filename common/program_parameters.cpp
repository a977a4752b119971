// next_program_parameter over the command line text (portable); the text
// itself comes from the backend (platform_command_line).
#include <string>
#include <vector>

#include "system.h"

std::string platform_command_line();

namespace {
struct parameter_state {
  bool loaded = false;
  std::vector<std::string> items;
  std::size_t next = 1;  // item 0 is the program's own name
};
parameter_state& parameters() {
  static parameter_state state;
  return state;
}
}  // namespace

void set_command_line(const std::string& command_line) {
  parameter_state& p = parameters();
  p.items = split_command_line(command_line);
  p.next = 1;
  p.loaded = true;
}

std::string next_program_parameter() {
  parameter_state& p = parameters();
  if (!p.loaded) set_command_line(platform_command_line());
  if (p.next >= p.items.size()) return {};
  return p.items[p.next++];
}
