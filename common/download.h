// Blocking download of a URL into a file: urlmon/WinINet on Windows, libcurl
// on POSIX. Used by the update client for the server's replies and for the
// programs that the server offers.
//
// Any thread may download; each call is independent. A target is written by
// one download at a time (the callers never download into the same file from
// two threads at once).
#pragma once

#include <string>

// Fetches url (http or https; redirects followed) into the file path
// (relative to the current folder, backslashes as on Windows). Non-zero when
// the whole body of a reply with an HTTP status of 200 to 299 is in path.
// 0 on every failure: an empty or malformed URL, another scheme, a
// connection refused, reset or timed out, an error status (4xx, 5xx, and any
// other status outside 200 to 299), a body cut short, a target that cannot
// be written. The body is received into a temporary file beside the target
// (path + ".part") and renamed over path only when complete, so a failed
// download never leaves an error page or a partial body under path; an
// existing file under path is replaced on success and kept on failure.
int download_to_file(const std::string& url, const std::string& path);

// Removes the URL's entry from the platform's URL cache, if any (POSIX keeps
// no cache). The result is of no interest.
void forget_cached_url(const std::string& url);

// Prepares the network layer; called once at start-up, before any thread
// downloads.
void download_service_start();

// The network layer's part of the orderly end: downloads still running on
// other threads stop at their next chunk and fail, later ones fail at once,
// and the temporary files of those still running are deleted here (the
// process ends right after, before they could delete their own). Safe from
// any thread; nothing is torn down that another thread may still use.
void download_service_end();
