// Splitting of a command line into program parameters (portable).
#include <string>
#include <vector>

#include "system.h"

std::vector<std::string> split_command_line(const std::string& command_line) {
  std::vector<std::string> items;
  std::size_t i = 0;
  const std::size_t n = command_line.size();
  for (;;) {
    while (i < n && command_line[i] == ' ') ++i;
    if (i >= n) break;
    std::string item;
    if (command_line[i] == '"') {
      // A quoted item runs to the next quote (consumed) or the end; what
      // follows the closing quote directly starts the next item.
      ++i;
      while (i < n && command_line[i] != '"') item += command_line[i++];
      if (i < n) ++i;
    } else {
      while (i < n && command_line[i] != ' ') item += command_line[i++];
    }
    items.push_back(std::move(item));
  }
  return items;
}
