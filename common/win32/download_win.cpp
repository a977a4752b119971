// Connections for downloads on Windows.
//
// http: a Winsock connection of our own, so the portable reader sees the
// reply's raw bytes. WinINet cannot be trusted with them under Wine: it
// takes a reply without a status line for HTTP 200, ends a cut chunked body
// with success, follows redirects without limit and never fires its receive
// timeout.
// https: WinINet, for TLS, without its redirects or cache; it hands over the
// body with its chunked framing already removed, so there the framing is
// the platform's, the rest (status, length, redirects, bounds, the
// watchdog) ours. Its blocking calls are broken from outside by closing the
// handles.
//
// Both DLLs are loaded from the system folder when first needed, not
// imported: neither is a known DLL, so the loader would take a copy from
// the program's folder first (system_library_win.h).
#include <windows.h>
#include <wininet.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <memory>
#include <string>

#include "download.h"
#include "download_transport.h"
#include "system_library_win.h"

namespace {

constexpr long wait_slice_us = 100 * 1000;

// The functions used of each DLL, each bound by its exported name.
// clang-format off
#define WINSOCK_FUNCTIONS(F) \
  F(WSAStartup)              \
  F(WSAGetLastError)         \
  F(socket)                  \
  F(ioctlsocket)             \
  F(connect)                 \
  F(getsockopt)              \
  F(send)                    \
  F(recv)                    \
  F(select)                  \
  F(closesocket)             \
  F(getaddrinfo)             \
  F(freeaddrinfo)

#define WININET_FUNCTIONS(F) \
  F(InternetOpenA)           \
  F(InternetConnectA)        \
  F(HttpOpenRequestA)        \
  F(HttpSendRequestA)        \
  F(HttpQueryInfoA)          \
  F(InternetReadFile)        \
  F(InternetCloseHandle)     \
  F(DeleteUrlCacheEntryA)
// clang-format on

// A table's member, named and typed as the function; and its binding as a
// link of a chain: `module LIST(BIND_FUNCTION)` holds when the module is
// loaded and every function of the list found in it (into `api`).
#define DECLARE_FUNCTION(name) decltype(&::name) name = nullptr;
#define BIND_FUNCTION(name) &&bind_function(module, api.name, #name)

// Each table is complete (ready) or not used at all.
struct winsock_api {
  WINSOCK_FUNCTIONS(DECLARE_FUNCTION)
  bool ready = false;
};

struct wininet_api {
  WININET_FUNCTIONS(DECLARE_FUNCTION)
  bool ready = false;
};

// Loaded by download_backend_start, before any connection.
winsock_api ws;

const wininet_api& wininet() {
  static const wininet_api loaded = [] {
    wininet_api api;
    HMODULE module = load_system_library("wininet.dll");
    api.ready = module WININET_FUNCTIONS(BIND_FUNCTION);
    return api;
  }();
  return loaded;
}

bool in_set(SOCKET s, const fd_set& set) {
  for (u_int i = 0; i < set.fd_count; ++i) {
    if (set.fd_array[i] == s) return true;
  }
  return false;
}

class socket_connection : public download_connection {
 public:
  socket_connection(SOCKET s, download_stop& stop) : socket_(s), stop_(stop) {}
  ~socket_connection() override { ws.closesocket(socket_); }
  socket_connection(const socket_connection&) = delete;
  socket_connection& operator=(const socket_connection&) = delete;

  bool send_all(const std::string& bytes) override {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      if (!wait_for(false)) return false;
      const int put =
          ws.send(socket_, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
      if (put == SOCKET_ERROR) {
        if (ws.WSAGetLastError() == WSAEWOULDBLOCK) continue;
        return false;
      }
      sent += static_cast<std::size_t>(put);
    }
    return true;
  }

  long receive(char* buffer, std::size_t size) override {
    const int want = size > 0x10000 ? 0x10000 : static_cast<int>(size);
    for (;;) {
      if (!wait_for(true)) return -1;
      const int got = ws.recv(socket_, buffer, want, 0);
      if (got >= 0) return got;
      if (ws.WSAGetLastError() != WSAEWOULDBLOCK) return -1;
    }
  }

  // Waits in slices until the socket is ready; false once stopped or on an
  // error.
  static bool wait_ready(SOCKET s, download_stop& stop, bool reading, bool connecting) {
    for (;;) {
      if (stop.stopped()) return false;
      fd_set ready, failed;
      FD_ZERO(&ready);
      FD_ZERO(&failed);
      FD_SET(s, &ready);
      FD_SET(s, &failed);
      timeval slice{0, wait_slice_us};
      const int count = ws.select(0, reading ? &ready : nullptr, reading ? nullptr : &ready,
                                  connecting ? &failed : nullptr, &slice);
      if (count == SOCKET_ERROR) return false;
      if (count == 0) continue;
      if (connecting && in_set(s, failed)) return false;
      return true;
    }
  }

 private:
  bool wait_for(bool reading) { return wait_ready(socket_, stop_, reading, false); }

  SOCKET socket_;
  download_stop& stop_;
};

std::unique_ptr<download_connection> socket_connect(const http_address& address,
                                                    download_stop& stop) {
  if (!ws.ready) return nullptr;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  if (ws.getaddrinfo(address.host.c_str(), std::to_string(address.port).c_str(), &hints, &found) !=
      0) {
    return nullptr;
  }
  std::unique_ptr<download_connection> connection;
  for (addrinfo* a = found; a && !connection && !stop.stopped(); a = a->ai_next) {
    SOCKET s = ws.socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) continue;
    u_long non_blocking = 1;
    bool ok = ws.ioctlsocket(s, FIONBIO, &non_blocking) == 0;
    if (ok && ws.connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == SOCKET_ERROR) {
      ok = ws.WSAGetLastError() == WSAEWOULDBLOCK &&
           socket_connection::wait_ready(s, stop, false, true);
      int error = 0;
      int length = sizeof(error);
      ok = ok &&
           ws.getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
           error == 0;
    }
    if (ok) {
      connection = std::make_unique<socket_connection>(s, stop);
    } else {
      ws.closesocket(s);
    }
  }
  ws.freeaddrinfo(found);
  return connection;
}

// ---- https through WinINet ------------------------------------------------------

// Handles that the watchdog may close from its thread while a call waits on
// them; whoever takes a handle first closes it.
class shared_internet_handle {
 public:
  shared_internet_handle() = default;
  ~shared_internet_handle() { close(); }
  shared_internet_handle(const shared_internet_handle&) = delete;
  shared_internet_handle& operator=(const shared_internet_handle&) = delete;
  void reset(HINTERNET handle) { handle_.store(handle); }
  HINTERNET get() const { return handle_.load(); }
  void close() {
    HINTERNET handle = handle_.exchange(nullptr);
    if (handle) wininet().InternetCloseHandle(handle);
  }

 private:
  std::atomic<HINTERNET> handle_{nullptr};
};

class wininet_connection : public download_connection {
 public:
  wininet_connection(const http_address& address, download_stop& stop)
      : address_(address), stop_(stop) {
    stop_.set_breaker([this] {
      request_.close();
      connection_.close();
      session_.close();
    });
  }
  ~wininet_connection() override { stop_.clear_breaker(); }
  wininet_connection(const wininet_connection&) = delete;
  wininet_connection& operator=(const wininet_connection&) = delete;

  bool open() {
    const wininet_api& api = wininet();
    if (!api.ready) return false;
    session_.reset(
        api.InternetOpenA("Vantrel/1.00", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session_.get() || stop_.stopped()) return false;
    connection_.reset(api.InternetConnectA(session_.get(), address_.host.c_str(),
                                           static_cast<INTERNET_PORT>(address_.port), nullptr,
                                           nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    return connection_.get() && !stop_.stopped();
  }

  // The request is ours to send only as WinINet builds it: sent here, its
  // text is not used.
  bool send_all(const std::string&) override {
    const DWORD flags = INTERNET_FLAG_SECURE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                        INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_COOKIES |
                        INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_AUTO_REDIRECT;
    const wininet_api& api = wininet();
    request_.reset(api.HttpOpenRequestA(connection_.get(), "GET", address_.target.c_str(),
                                        "HTTP/1.1", nullptr, nullptr, flags, 0));
    if (!request_.get() || stop_.stopped()) return false;
    if (!api.HttpSendRequestA(request_.get(), nullptr, 0, nullptr, 0)) return false;
    // The head as received, less the framing WinINet has already undone.
    DWORD size = 0;
    api.HttpQueryInfoA(request_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, nullptr, &size, nullptr);
    if (size == 0 || size > 256 * 1024) return false;
    std::string raw(size, '\0');
    if (!api.HttpQueryInfoA(request_.get(), HTTP_QUERY_RAW_HEADERS_CRLF, raw.data(), &size,
                            nullptr)) {
      return false;
    }
    raw.resize(size);
    std::size_t start = 0;
    while (start < raw.size()) {
      std::size_t end = raw.find("\r\n", start);
      if (end == std::string::npos) end = raw.size();
      const std::string line = raw.substr(start, end - start);
      start = end + 2;
      if (line.empty()) continue;
      std::string name = line.substr(0, line.find(':'));
      for (char& c : name) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
      if (name == "transfer-encoding") continue;
      pending_ += line + "\r\n";
    }
    pending_ += "\r\n";
    return true;
  }

  long receive(char* buffer, std::size_t size) override {
    if (stop_.stopped()) return -1;
    if (!pending_.empty()) {
      const std::size_t take = pending_.size() < size ? pending_.size() : size;
      pending_.copy(buffer, take);
      pending_.erase(0, take);
      return static_cast<long>(take);
    }
    const DWORD want = size > 0x10000 ? 0x10000 : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!wininet().InternetReadFile(request_.get(), buffer, want, &got) || stop_.stopped())
      return -1;
    return static_cast<long>(got);
  }

 private:
  http_address address_;
  download_stop& stop_;
  shared_internet_handle session_, connection_, request_;
  std::string pending_;
};

}  // namespace

void download_backend_start() {
  // Once per process; a second caller waits for the first to finish.
  static const bool started = [] {
    winsock_api& api = ws;
    HMODULE module = load_system_library("ws2_32.dll");
    if (!(module WINSOCK_FUNCTIONS(BIND_FUNCTION))) return false;
    WSADATA data;
    api.ready = api.WSAStartup(MAKEWORD(2, 2), &data) == 0;
    return api.ready;
  }();
  static_cast<void>(started);
}

std::unique_ptr<download_connection> download_connect(const http_address& address,
                                                      download_stop& stop) {
  if (stop.stopped()) return nullptr;
  if (!address.secure) return socket_connect(address, stop);
  auto connection = std::make_unique<wininet_connection>(address, stop);
  if (!connection->open()) return nullptr;
  return connection;
}

void forget_cached_url(const std::string& url) {
  if (wininet().ready) wininet().DeleteUrlCacheEntryA(url.c_str());
}
