// The update client's start-up, main loop and window hook.
#pragma once

#include <cstdint>

#include "toolkit.h"

// Runs the update client: the start-up, then the main loop until the window
// is closed. Never returns: every way out ends the process through
// end_client with exit code 0.
int run_update_client();

// The window hook of the progress window: colours its text controls.
std::intptr_t progress_window_hook(ui_handle window, unsigned message, std::uintptr_t first,
                                   std::intptr_t second);
