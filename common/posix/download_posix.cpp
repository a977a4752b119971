// Downloads on POSIX through libcurl.
#include <curl/curl.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>

#include "download.h"
#include "download_parts.h"
#include "posix/posix_path.h"

namespace {

std::atomic<int> service_ended{0};

void start_once() {
  static std::once_flag once;
  // curl_global_init is not thread-safe in every libcurl; do it once here.
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct curl_easy_owner {
  CURL* handle = curl_easy_init();
  ~curl_easy_owner() {
    if (handle) curl_easy_cleanup(handle);
  }
  curl_easy_owner() = default;
  curl_easy_owner(const curl_easy_owner&) = delete;
  curl_easy_owner& operator=(const curl_easy_owner&) = delete;
};

struct file_owner {
  FILE* file = nullptr;
  ~file_owner() {
    if (file) fclose(file);
  }
  // Closes now; false when buffered data could not be written.
  bool close() {
    FILE* f = file;
    file = nullptr;
    return f && fclose(f) == 0;
  }
};

size_t write_body(char* data, size_t size, size_t count, void* user) {
  FILE* file = static_cast<FILE*>(user);
  // A short count makes libcurl fail the transfer (CURLE_WRITE_ERROR).
  return fwrite(data, size, count, file) * size;
}

int progress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return service_ended.load() ? 1 : 0;  // non-zero aborts the transfer
}

bool fetch(const std::string& url, FILE* file) {
  curl_easy_owner curl;
  if (!curl.handle) return false;
  CURL* c = curl.handle;
  curl_easy_setopt(c, CURLOPT_URL, url.c_str());
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L);  // 4xx and 5xx fail, no body kept
  curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);     // worker threads; no SIGALRM
  curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, 30L);
  // A transfer that stalls (under 1 byte/s for a minute) fails; a slow but
  // moving one may take as long as it needs.
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
  curl_easy_setopt(c, CURLOPT_USERAGENT, "Vantrel/1.00");
  curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, write_body);
  curl_easy_setopt(c, CURLOPT_WRITEDATA, file);
  curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, progress);
  curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
  if (curl_easy_perform(c) != CURLE_OK) return false;
  long status = 0;
  curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
  return status >= 200 && status <= 299;
}

}  // namespace

void download_service_start() {
  start_once();
}

void download_service_end() {
  service_ended.store(1);
  end_part_files();
}

void forget_cached_url(const std::string&) {}

int download_to_file(const std::string& url, const std::string& path) {
  if (url.empty() || path.empty() || service_ended.load()) return 0;
  start_once();
  const std::string target = posix_path(path);
  const std::string temporary = target + ".part";
  const std::string part = path + ".part";  // the same file, in the system's terms
  // Windows starts any downloaded program; here the file needs the execute
  // bits for run_program to start it, so it is created as a linker's output
  // is (0777 less the umask).
  int fd = -1;
  if (!make_part_file(part, [&] {
        fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0777);
        return fd >= 0;
      })) {
    return 0;
  }
  file_owner body;
  body.file = fdopen(fd, "wb");
  bool ok = body.file != nullptr;
  if (!ok) close(fd);
  ok = ok && fetch(url, body.file);
  ok = body.close() && ok;
  ok = ok && !service_ended.load() && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) unlink(temporary.c_str());
  forget_part_file(part);
  return ok ? 1 : 0;
}
