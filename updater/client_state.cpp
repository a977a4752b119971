// Storage of the update client's shared state.
#include "client_state.h"

std::string module_check_url;
std::string update_check_url;
std::string module_version;
std::string auto_mode;
std::string language_name;

std::array<std::string, catalogue_slots> message_catalogue;

std::string definitions_version;
std::string definitions_date;

std::string download_url;
std::string download_signature;

std::atomic<int> animation_stop{0};
std::atomic<int> quit_requested{0};

const std::string& catalogue_entry(int n) {
  static const std::string none;
  if (n < 0 || n >= catalogue_slots) return none;
  return message_catalogue[static_cast<std::size_t>(n)];
}
