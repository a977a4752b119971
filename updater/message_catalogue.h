// The update client's message catalogue: 15 texts by entry number, from the
// language file or from the built-in French texts.
#pragma once

#include <string>

// Entry numbers: line n of a language file is entry n. Entries 12, 14 and 15
// are read but shown nowhere.
constexpr int message_window_title = 1;
constexpr int message_available_version = 2;
constexpr int message_welcome = 3;
constexpr int message_installed_version = 4;
constexpr int message_version_frame = 5;
constexpr int message_checking_module = 6;
constexpr int message_downloading_module = 7;
constexpr int message_checking_product = 8;
constexpr int message_connection_failed = 9;
constexpr int message_no_update = 10;
constexpr int message_update_available = 11;
constexpr int message_downloading_product = 12;
constexpr int message_error = 13;
constexpr int message_update_started = 14;
constexpr int message_close = 15;

// Fills entries 1 to 15 of message_catalogue (client_state.h) from the file
// at path: line n is entry n, missing lines are empty. A path that is empty,
// names nothing, a folder or an empty file selects the built-in texts. Every
// "|" becomes a tab. Always 0. Called once, before any worker thread starts.
int load_message_catalogue(const std::string& path);

// Text n (1 to 15) of the built-in table, as stored (bars not yet replaced);
// the empty text outside 1 to 15.
std::string default_message(int n);
