// The update client's start-up, main loop, window hook and orderly end.
#pragma once

#include <cstdint>
#include <mutex>

#include "toolkit.h"

// Runs the update client: the start-up, then the main loop until the window
// is closed. Never returns: every way out ends the process through
// end_client with exit code 0.
int run_update_client();

// The orderly end: releases the runtime services and ends the process with
// exit code 0, the other threads included. Callable from any thread; a
// second caller waits for the first one's end of the process.
[[noreturn]] void end_client();

// The window hook of the progress window: colours its text controls.
std::intptr_t progress_window_hook(ui_handle window, unsigned message, std::uintptr_t first,
                                   std::intptr_t second);

// Held while a thread uses the process-wide settings reader. end_client
// takes it before it releases the reader, so that a close of the window
// while the update check reads a reply cannot pull the reader away
// mid-read.
class settings_user {
 public:
  settings_user();
  ~settings_user();
  settings_user(const settings_user&) = delete;
  settings_user& operator=(const settings_user&) = delete;
};

// Seams for the native flow tests; both are null in the program.
// after_fixed_values runs right after the start-up has set the fixed values
// (so a test can point the URLs at its own server, the host being compiled
// in); at_end runs first thing in end_client, on the thread that calls it
// (so a test can record the window as the client leaves it).
struct client_test_seams {
  void (*after_fixed_values)() = nullptr;
  void (*at_end)() = nullptr;
};
void set_client_test_seams(const client_test_seams& seams);
