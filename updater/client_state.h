// Process-wide state of the update client, shared by its start-up, the
// progress window, the update check and the download.
//
// Plain data without locks: every text is written before the threads that
// read it start (or, for download_url, before the update button that leads
// to its reader is enabled); the two flags are atomics.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>

#include "settings.h"

#ifndef OFFERED_PROGRAM_MAX_BYTES
#define OFFERED_PROGRAM_MAX_BYTES 1073741824
#endif

// The largest download of each kind: a reply is read as settings, so the
// settings reader's bound is its own; an offered program's bound is a build
// option.
constexpr std::int64_t reply_max_bytes = settings_max_size;
constexpr std::int64_t program_max_bytes = OFFERED_PROGRAM_MAX_BYTES;

// Local file that receives each reply of the server.
inline constexpr const char* reply_file = "vantrel.ini";
// The program that a module check or a download fetched and started.
inline constexpr const char* module_file = "vantrel.exe";

// Written by the start-up (fixed values and the first program parameter).
extern std::string module_check_url;  // "http://" host "/tessarin/version_module_update.php"
extern std::string update_check_url;  // "http://" host "/tessarin/update.php"
extern std::string module_version;    // "1.00"
extern std::string auto_mode;         // "auto" or empty
extern std::string language_name;     // first line of "langue.ini"

// The message catalogue: slots 0 to 16, entries 1 to 15 used.
constexpr int catalogue_slots = 17;
extern std::array<std::string, catalogue_slots> message_catalogue;

// Written by the definitions version probe.
extern std::string definitions_version;
extern std::string definitions_date;

// Written by the update check before it enables the update button; the
// signature only in a build that checks offers (offer_signature.h).
extern std::string download_url;
extern std::string download_signature;

// 1 lets the progress animation end after its current sweep.
extern std::atomic<int> animation_stop;
// Set by the main loop on a close request for the progress window.
extern std::atomic<int> quit_requested;

// Entry n of the message catalogue; the empty text outside 0..16.
const std::string& catalogue_entry(int n);
