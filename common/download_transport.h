// The seam between the portable download rules (download.cpp) and each
// backend's way of moving bytes: a connection that sends the request and
// hands back the reply's raw bytes, and the stop that ends it from another
// thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "http_reply.h"
#include "thread_sync.h"

// Set once, from the watchdog or the service's end; read by the backend's
// loops, which wait in slices short enough to notice it soon. A backend
// whose calls may block for good (WinINet under Wine) also registers a
// breaker that makes them return, run once by stop() on the stopping thread.
class download_stop {
 public:
  bool stopped() const { return stopped_.load() != 0; }
  void stop();
  // Registers the breaker; runs it at once when already stopped.
  void set_breaker(std::function<void()> breaker);
  void clear_breaker();

 private:
  std::atomic<int> stopped_{0};
  sync_mutex lock_;
  std::function<void()> breaker_;
};

// One connection to address. Used from one thread; stop may come from any.
class download_connection {
 public:
  virtual ~download_connection() = default;
  // The whole request; false on an error or once stopped.
  virtual bool send_all(const std::string& bytes) = 0;
  // Received bytes: a count above 0, 0 at the end of the stream, -1 on an
  // error or once stopped.
  virtual long receive(char* buffer, std::size_t size) = 0;
};

// Connects to address (TLS for https). nullptr on failure or once stopped.
std::unique_ptr<download_connection> download_connect(const http_address& address,
                                                      download_stop& stop);

// Backend set-up, called before the first connection (and at start-up).
void download_backend_start();
