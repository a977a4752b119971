// Blocking download of a URL into a file, with the same rules on both
// backends (the reply is judged by http_reply.h; each backend only moves
// bytes: Winsock or WinINet on Windows, libcurl on POSIX). Used by the update
// client for the server's replies and for the programs that the server
// offers.
//
// Any thread may download; each call is independent. A target is written by
// one download at a time (the callers never download into the same file from
// two threads at once).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A check of a complete download before it takes its target's name: called
// with the temporary file's path (closed, whole); false fails the download,
// and the file is deleted as after any other failure.
using download_check = std::function<bool(const std::string& part)>;

// Fetches url (http or https) into the file path (relative to the current
// folder, backslashes as on Windows). Non-zero only when a reply with the
// status 200 arrived whole (see http_reply_reader: a declared length or
// chunked framing met exactly, nothing malformed) and is in path.
// 0 on every failure: an empty or malformed URL, another scheme, a
// connection refused, reset or cut, no HTTP/1.x status line, any status but
// 200 after redirects, more than 5 redirects (each to http or https), a body
// over max_bytes (stopped as soon as it passes, or at once when its declared
// length does), a download that makes no progress (under 1 KiB received) for
// the stall deadline, a target that cannot be written, the end of the
// service.
// The body is received into a temporary file beside the target (path +
// ".part") and renamed over path only when complete, so a failed download
// never leaves an error page or a partial body under path; an existing file
// under path is replaced on success and kept on failure. A check, when
// given, runs on the whole temporary file before the rename; its false is a
// failure like the others.
int download_to_file(const std::string& url, const std::string& path, std::int64_t max_bytes,
                     const download_check& check = {});

// Redirects followed by one download; one more fails it.
constexpr int download_max_redirects = 5;

// Seconds without progress after which a download is stopped from outside,
// whatever the platform's own timeouts do. A build option
// (DOWNLOAD_STALL_SECONDS): the shipped build waits 60 s, test builds
// compile a short deadline. Nothing at run time changes it.
int download_stall_seconds();

// Removes the URL's entry from the platform's URL cache, if any (POSIX keeps
// no cache). The result is of no interest.
void forget_cached_url(const std::string& url);

// Prepares the network layer; called once at start-up, before any thread
// downloads.
void download_service_start();

// The network layer's part of the orderly end: downloads still running on
// other threads are stopped and fail, later ones fail at once, and the
// temporary files of those still running are deleted here (the process ends
// right after, before they could delete their own). Safe from any thread;
// nothing is torn down that another thread may still use.
void download_service_end();
