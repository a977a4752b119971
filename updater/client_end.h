// The update client's orderly end, and the lock that keeps the settings
// reader in place until it.
#pragma once

// The orderly end: releases the runtime services and ends the process with
// exit code 0, the other threads included. Callable from any thread; a
// second caller waits for the first one's end of the process.
[[noreturn]] void end_client();

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
