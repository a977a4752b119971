// Downloads on Windows through WinINet.
//
// URLDownloadToFileA reports success for an HTTP error status and saves the
// server's error page as the target; WinINet lets the status be read
// (HttpQueryInfoA) before a single byte is kept.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <string>

#include "download.h"
#include "download_parts.h"

namespace {

std::atomic<int> service_ended{0};

class internet_handle {
 public:
  explicit internet_handle(HINTERNET handle) : handle_(handle) {}
  ~internet_handle() {
    if (handle_) InternetCloseHandle(handle_);
  }
  internet_handle(const internet_handle&) = delete;
  internet_handle& operator=(const internet_handle&) = delete;
  HINTERNET get() const { return handle_; }

 private:
  HINTERNET handle_;
};

class file_handle {
 public:
  explicit file_handle(HANDLE handle) : handle_(handle) {}
  ~file_handle() { close(); }
  file_handle(const file_handle&) = delete;
  file_handle& operator=(const file_handle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool close() {
    if (handle_ == INVALID_HANDLE_VALUE) return false;
    BOOL closed = CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    return closed != 0;
  }

 private:
  HANDLE handle_;
};

bool http_scheme(const std::string& url) {
  URL_COMPONENTSA parts{};
  parts.dwStructSize = sizeof(parts);
  parts.dwSchemeLength = 1;  // ask for the scheme only
  if (!InternetCrackUrlA(url.c_str(), 0, 0, &parts)) return false;
  return parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
}

bool query_number(HINTERNET request, DWORD what, DWORD& value) {
  DWORD size = sizeof(value);
  return HttpQueryInfoA(request, what | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr) != 0;
}

bool fetch(const std::string& url, HANDLE file) {
  internet_handle session(
      InternetOpenA("Vantrel/1.00", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session.get()) return false;
  DWORD connect_ms = 30000, receive_ms = 60000, send_ms = 30000;
  InternetSetOptionA(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT, &connect_ms,
                     sizeof(connect_ms));
  InternetSetOptionA(session.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &receive_ms,
                     sizeof(receive_ms));
  InternetSetOptionA(session.get(), INTERNET_OPTION_SEND_TIMEOUT, &send_ms, sizeof(send_ms));

  // Always ask the server: a cached reply would hide a new offer.
  const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI |
                      INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_PRAGMA_NOCACHE;
  internet_handle request(InternetOpenUrlA(session.get(), url.c_str(), nullptr, 0, flags, 0));
  if (!request.get()) return false;

  DWORD status = 0;
  if (!query_number(request.get(), HTTP_QUERY_STATUS_CODE, status)) return false;
  if (status < 200 || status > 299) return false;
  DWORD expected = 0;
  const bool has_length = query_number(request.get(), HTTP_QUERY_CONTENT_LENGTH, expected);

  char buffer[16 * 1024];
  unsigned long long total = 0;
  for (;;) {
    if (service_ended.load()) return false;
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buffer, sizeof(buffer), &got)) return false;
    if (got == 0) break;
    DWORD written = 0;
    if (!WriteFile(file, buffer, got, &written, nullptr) || written != got) return false;
    total += got;
  }
  // A connection closed before the announced length is a reply cut short.
  return !has_length || total == expected;
}

}  // namespace

void download_service_start() {}

void download_service_end() {
  service_ended.store(1);
  end_part_files();
}

void forget_cached_url(const std::string& url) {
  DeleteUrlCacheEntryA(url.c_str());
}

int download_to_file(const std::string& url, const std::string& path) {
  if (url.empty() || path.empty() || service_ended.load() || !http_scheme(url)) return 0;
  const std::string temporary = path + ".part";
  // Shared for deletion: the end of the service deletes the file while this
  // thread may still be writing it.
  HANDLE created = INVALID_HANDLE_VALUE;
  if (!make_part_file(temporary, [&] {
        created = CreateFileA(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                              nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        return created != INVALID_HANDLE_VALUE;
      })) {
    return 0;
  }
  file_handle body(created);
  bool ok = fetch(url, body.get());
  ok = body.close() && ok;
  ok = ok && !service_ended.load() &&
       MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
  if (!ok) DeleteFileA(temporary.c_str());
  forget_part_file(temporary);
  return ok ? 1 : 0;
}
