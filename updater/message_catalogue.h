// The update client's message catalogue: 15 texts by entry number, from the
// language file or from the built-in French texts.
#pragma once

#include <string>

// Fills entries 1 to 15 of message_catalogue (client_state.h) from the file
// at path: line n is entry n, missing lines are empty. A path that is empty,
// names nothing, a folder or an empty file selects the built-in texts. Every
// "|" becomes a tab. Always 0. Called once, before any worker thread starts.
int load_message_catalogue(const std::string& path);

// Text n (1 to 15) of the built-in table, as stored (bars not yet replaced);
// the empty text outside 1 to 15.
std::string default_message(int n);
