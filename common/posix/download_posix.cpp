// Connections for downloads on POSIX: libcurl connects (and speaks TLS for
// https) and moves raw bytes; the reply is judged by the portable reader.
#include <curl/curl.h>
#include <poll.h>

#include <memory>
#include <mutex>
#include <string>

#include "download.h"
#include "download_transport.h"

namespace {

// Slices of waiting, so a stop is noticed soon.
constexpr int wait_slice_ms = 100;

int stop_requested(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<download_stop*>(user)->stopped() ? 1 : 0;  // non-zero aborts
}

class curl_connection : public download_connection {
 public:
  curl_connection(CURL* handle, download_stop& stop) : curl_(handle), stop_(stop) {}
  ~curl_connection() override { curl_easy_cleanup(curl_); }
  curl_connection(const curl_connection&) = delete;
  curl_connection& operator=(const curl_connection&) = delete;

  bool send_all(const std::string& bytes) override {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      if (stop_.stopped()) return false;
      std::size_t now = 0;
      const CURLcode result = curl_easy_send(curl_, bytes.data() + sent, bytes.size() - sent, &now);
      if (result == CURLE_AGAIN) {
        if (!wait_for(POLLOUT)) return false;
        continue;
      }
      if (result != CURLE_OK) return false;
      sent += now;
    }
    return true;
  }

  long receive(char* buffer, std::size_t size) override {
    for (;;) {
      if (stop_.stopped()) return -1;
      std::size_t got = 0;
      // Asked before waiting: TLS may hold decrypted bytes the socket no
      // longer shows.
      const CURLcode result = curl_easy_recv(curl_, buffer, size, &got);
      if (result == CURLE_OK) return static_cast<long>(got);  // 0: closed
      if (result != CURLE_AGAIN) return -1;
      if (!wait_for(POLLIN)) return -1;
    }
  }

 private:
  // Waits one slice for the socket; false when it is gone.
  bool wait_for(short events) {
    curl_socket_t socket = CURL_SOCKET_BAD;
    if (curl_easy_getinfo(curl_, CURLINFO_ACTIVESOCKET, &socket) != CURLE_OK ||
        socket == CURL_SOCKET_BAD) {
      return false;
    }
    pollfd watched{socket, events, 0};
    poll(&watched, 1, wait_slice_ms);  // an interruption is one more slice
    return true;
  }

  CURL* curl_;
  download_stop& stop_;
};

}  // namespace

void download_backend_start() {
  static std::once_flag once;
  // curl_global_init is not thread-safe in every libcurl; do it once here.
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::unique_ptr<download_connection> download_connect(const http_address& address,
                                                      download_stop& stop) {
  CURL* handle = curl_easy_init();
  if (!handle) return nullptr;
  auto connection = std::make_unique<curl_connection>(handle, stop);
  // Only the connection (and TLS) is libcurl's; the request and the reply
  // are ours, so redirects, framing and bounds follow the portable rules.
  const std::string origin =
      std::string(address.secure ? "https://" : "http://") + address.host_header() + "/";
  curl_easy_setopt(handle, CURLOPT_URL, origin.c_str());
  curl_easy_setopt(handle, CURLOPT_CONNECT_ONLY, 1L);
  curl_easy_setopt(handle, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(handle, CURLOPT_PROXY, "");     // a proxy would need its own protocol
  curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);  // worker threads; no SIGALRM
  curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(download_stall_seconds()) * 1000L);
  curl_easy_setopt(handle, CURLOPT_XFERINFOFUNCTION, stop_requested);
  curl_easy_setopt(handle, CURLOPT_XFERINFODATA, &stop);
  curl_easy_setopt(handle, CURLOPT_NOPROGRESS, 0L);
  if (stop.stopped() || curl_easy_perform(handle) != CURLE_OK) return nullptr;
  return connection;
}

void forget_cached_url(const std::string&) {}
