// The update check: asks the update server for a newer client module and
// for a product update, and acts on the verdict.
#pragma once

#include <string>

// Thread procedure, started once after the progress window has opened.
// Returns 0, or never when it hands over to a downloaded program or ends the
// client in auto mode.
int run_update_check(int unused);

// The two request URLs as sent.
std::string module_check_request();
std::string update_check_request();
