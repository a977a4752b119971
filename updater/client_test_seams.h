// Seams for the update client's native flow tests; both are null in the
// program.
#pragma once

// after_fixed_values runs right after the start-up has set the fixed values
// (so a test can point the URLs at its own server, the host being compiled
// in); at_end runs first thing in end_client, on the thread that calls it
// (so a test can record the window as the client leaves it).
struct client_test_seams {
  void (*after_fixed_values)() = nullptr;
  void (*at_end)() = nullptr;
};

// Set before run_update_client, on the thread that runs it.
void set_client_test_seams(const client_test_seams& seams);

// The seams in force, for the start-up and the orderly end.
const client_test_seams& active_client_test_seams();
