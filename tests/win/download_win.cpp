// Under Wine: the Windows download service against the local update server.
//   download_win BASE_URL REFUSED_BASE_URL [SIZE_OF_OK]
// Runs in its current folder and prints one JSON line per case: the result
// of download_to_file, and what is left under the target and beside it.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "download.h"
#include "settings.h"
#include "tools/json_text.h"

namespace {

long long size_of(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return -2;
  return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string contents(const char* path) {
  std::string text;
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
  CloseHandle(file);
  return text;
}

void run(const std::string& name, const std::string& url, const char* target,
         std::int64_t bound = settings_max_size) {
  const int result = download_to_file(url, target, bound);
  const std::string part = std::string(target) + ".part";
  const long long size = size_of(target);
  std::printf(
      "{\"case\": %s, \"result\": %d, \"target_size\": %lld, \"part_left\": %s, \"head\": %s}\n",
      json_text(name).c_str(), result, size, size_of(part.c_str()) == -1 ? "false" : "true",
      json_text(size > 0 ? contents(target).substr(0, 40) : std::string()).c_str());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: download_win BASE_URL REFUSED_BASE_URL\n");
    return 2;
  }
  const std::string base = argv[1];
  const std::string refused = argv[2];
  const std::int64_t ok_size = argc > 3 ? std::atoll(argv[3]) : 0;
  download_service_start();
  run("ok", base + "/ok", "vantrel.exe");
  run("404 keeps the earlier file", base + "/missing", "vantrel.exe");
  run("500 keeps the earlier file", base + "/broken", "vantrel.exe");
  run("cut short keeps the earlier file", base + "/cut", "vantrel.exe");
  run("reset keeps the earlier file", base + "/reset", "vantrel.exe");
  run("404", base + "/missing", "fresh404.exe");
  run("500", base + "/broken", "fresh500.exe");
  run("cut short", base + "/cut", "freshcut.exe");
  run("reset", base + "/reset", "freshreset.exe");
  run("closed without reply", base + "/silent", "freshsilent.exe");
  run("connection refused", refused + "/ok", "refused.exe");
  run("empty URL", "", "empty.exe");
  run("file scheme", "file:///C:/windows/win.ini", "file.exe");
  run("ftp scheme", "ftp://127.0.0.1/ok", "ftp.exe");
  run("huge", base + "/huge", "vantrel.ini");
  run("query as written", base + "/reply?version=&os=windows", "reply.ini");
  // A hostile server or a broken proxy (tools/update_server.py's faults on
  // /hostile/<fault>); bounded at 1 MiB, which the endless body passes.
  const char* hostile[] = {"chunked",   "chunked_cut", "chunked_bad", "length_4g",   "too_long",
                           "no_status", "partial",     "silent_head", "silent_body", "drip",
                           "redirects5", "redirects6", "redirect_loop", "endless", "cut_close"};
  for (const char* fault : hostile) {
    run(std::string("hostile ") + fault, base + "/hostile/" + fault,
        (std::string(fault) + ".exe").c_str(), 1024 * 1024);
  }
  run("bound: exactly the body", base + "/ok", "exact.exe", ok_size);
  run("bound: one byte short", base + "/ok", "short.exe", ok_size - 1);
  CreateDirectoryA("folder.exe", nullptr);
  run("target is a folder", base + "/ok", "folder.exe");
  forget_cached_url(base + "/ok");
  download_service_end();
  run("after the end of the service", base + "/ok", "late.exe");
  return 0;
}
