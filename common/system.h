// System services: environment, program parameters, starting programs, files,
// directory scans, message boxes, threads and delays.
//
// Paths are ANSI texts with backslash separators, relative to the current
// folder; the POSIX backend maps backslashes to slashes itself. Every
// operation reports failure only through its result and never shows anything.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Value of an environment variable; the empty text when it is not set.
// At most 254 characters are returned (a longer value yields the empty text).
std::string environment_variable(const std::string& name);

// The next parameter of the program's command line, starting with the first
// one after the program's own name; the empty text after the last one.
// Used from one thread.
std::string next_program_parameter();

// Splits a command line text by the program-parameter rules, the program's
// own name included as the first item. Pure function.
std::vector<std::string> split_command_line(const std::string& command_line);

// Replaces the command line that next_program_parameter reads and restarts
// it at the first parameter. Windows reads GetCommandLineA until this is
// called; the POSIX entry point calls it with argv joined (see
// record_program_arguments), tests call it directly.
void set_command_line(const std::string& command_line);

// Start-up, first thing in main: from here on the process loads DLLs from
// the system folder only, never from the program's folder (which users and
// installers can write to) nor the current one.
void restrict_library_search();

// POSIX entry helper: joins argv into one command line (items holding blanks
// are put in double quotes) and records it. Windows ignores it.
void record_program_arguments(int argc, char** argv);

// The current folder with backslash separators, as the platform gives it:
// only a root ends with a backslash (C:\ on Windows, \ on POSIX). The empty
// text when it cannot be read or is longer than 254 characters.
std::string current_folder();

// Run flags.
constexpr int run_wait = 1;    // wait until the started process has ended
constexpr int run_hidden = 2;  // start it hidden

// Opens the file with the shell's "Open" verb (a program or a document).
// Working folder: the given one when not empty, else the folder part of the
// file's path (up to its last backslash), else the caller's current folder.
// Non-zero when it was started, 0 otherwise.
int run_program(const std::string& file, const std::string& parameters = {},
                const std::string& folder = {}, int flags = 0);

// Non-zero when the file was deleted; 0 when it did not exist or cannot be.
int file_delete(const std::string& path);

// Non-zero on success; an existing destination is overwritten.
int file_copy(const std::string& source, const std::string& destination);

// File size in bytes (low 32 bits, as an unsigned value); -1 when the path is
// empty, longer than 1,023 characters or names nothing; -2 for a folder or a
// drive root. One trailing backslash is removed before the lookup.
std::int64_t file_size(const std::string& path);

// Starts a directory scan under a number (replacing a scan under that
// number) of folder + pattern ("*.*" when the pattern is empty). Wildcards *
// and ? match case-insensitively. Non-zero when at least one entry matches.
int examine_directory(int scan, const std::string& folder, const std::string& pattern = {});

// Next entry of the most recent scan: 1 file, 2 folder, 0 no more (the scan
// is then closed). "." and ".." are folders when the pattern matches them.
int next_directory_entry();

// Name (without folder) of the current entry of the most recent scan.
std::string directory_entry_name();

// Message box flags used by the programs.
constexpr int message_ok = 0;
constexpr int message_stop = 16;

// Shows a message box and waits; returns the code of the button that closed
// it (1 for OK). The POSIX backend records the box (see posix/headless.h)
// and answers 1 at once.
int message_box(const std::string& title, const std::string& text, int flags);

// Starts a thread at once (initial stack commitment 4,096 bytes) running
// procedure(argument). Returns a non-zero handle, 0 on failure. Threads are
// never joined; they end by returning or with the process.
using thread_procedure = int (*)(int argument);
std::uintptr_t thread_start(thread_procedure procedure, int argument);

// Suspends the calling thread.
void delay(int milliseconds);

// Ends the process at once with the exit code, other threads included,
// without running static destructors (worker threads may still be using
// process-wide state).
[[noreturn]] void process_end(int exit_code);
