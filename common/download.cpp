// The download rules, the same on both backends: redirects, bounds, the
// watchdog, and the temporary file that becomes the target only when whole.
#include "download.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "download_parts.h"
#include "download_transport.h"
#include "http_reply.h"
#include "platform_file.h"
#include "system.h"
#include "thread_sync.h"

#ifndef DOWNLOAD_STALL_SECONDS
#define DOWNLOAD_STALL_SECONDS 60
#endif

namespace {

constexpr const char* user_agent = "Vantrel/1.00";
// A server that trickles less than this per stall period makes no progress:
// one byte every few seconds would otherwise hold a download for ever.
constexpr std::int64_t progress_bytes = 1024;

std::atomic<int> service_ended{0};

// Downloads in flight, stopped by the service's end.
sync_mutex active_lock;
std::set<download_stop*>& active_downloads() {
  static std::set<download_stop*> stops;
  return stops;
}

class active_download {
 public:
  explicit active_download(download_stop& stop) : stop_(stop) {
    std::lock_guard<sync_mutex> hold(active_lock);
    active_downloads().insert(&stop_);
    if (service_ended.load()) stop_.stop();
  }
  ~active_download() {
    std::lock_guard<sync_mutex> hold(active_lock);
    active_downloads().erase(&stop_);
  }
  active_download(const active_download&) = delete;
  active_download& operator=(const active_download&) = delete;

 private:
  download_stop& stop_;
};

// Stops the download when it makes no progress for the stall deadline. Runs
// on its own thread, so a call that blocks inside the platform (connect,
// a receive that never returns) is ended from outside.
class watchdog {
 public:
  explicit watchdog(download_stop& stop)
      : stop_(stop), mark_(sync_clock::now()), thread_([this] { watch(); }) {}
  ~watchdog() {
    {
      std::lock_guard<sync_mutex> hold(lock_);
      finished_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  watchdog(const watchdog&) = delete;
  watchdog& operator=(const watchdog&) = delete;

  // A step that counts whatever its size (connected, request sent).
  void step() {
    std::lock_guard<sync_mutex> hold(lock_);
    mark_ = sync_clock::now();
    since_mark_ = 0;
  }

  void received(std::int64_t bytes) {
    std::lock_guard<sync_mutex> hold(lock_);
    since_mark_ += bytes;
    if (since_mark_ >= progress_bytes) {
      mark_ = sync_clock::now();
      since_mark_ = 0;
    }
  }

 private:
  void watch() {
    const auto deadline = std::chrono::seconds(download_stall_seconds());
    std::unique_lock<sync_mutex> hold(lock_);
    while (!finished_) {
      const auto until = mark_ + deadline;
      if (sync_clock::now() >= until) {
        hold.unlock();
        stop_.stop();
        return;
      }
      wake_.wait_for(hold, until - sync_clock::now());
    }
  }

  download_stop& stop_;
  sync_mutex lock_;
  sync_condition wake_;
  bool finished_ = false;
  sync_clock::time_point mark_;
  std::int64_t since_mark_ = 0;
  sync_thread thread_;  // last: starts once the rest is in place
};

class file_body : public http_reply_reader::body_sink {
 public:
  explicit file_body(platform_file& file) : file_(file) {}
  bool take(const char* data, std::size_t size) override { return file_.write(data, size); }

 private:
  platform_file& file_;
};

enum class outcome { complete, redirect, failed };

// One request and its reply; on a redirect, next is where it points.
outcome fetch_once(const http_address& address, platform_file& file, std::int64_t max_bytes,
                   download_stop& stop, watchdog& dog, http_address& next) {
  const std::unique_ptr<download_connection> connection = download_connect(address, stop);
  if (!connection || stop.stopped()) return outcome::failed;
  dog.step();
  if (!connection->send_all(http_request(address, user_agent))) return outcome::failed;
  dog.step();
  file_body body(file);
  http_reply_reader reader(max_bytes, body);
  char buffer[16 * 1024];
  http_reply_reader::verdict verdict = reader.state();
  // Read on past a complete body to the close that we asked for: a byte
  // more than the reply declared fails it.
  while (verdict == http_reply_reader::verdict::reading ||
         verdict == http_reply_reader::verdict::complete) {
    const long got = connection->receive(buffer, sizeof buffer);
    if (got < 0 || stop.stopped()) return outcome::failed;
    if (got == 0) {
      verdict = reader.end_of_stream();
      break;
    }
    dog.received(got);
    verdict = reader.feed(buffer, static_cast<std::size_t>(got));
  }
  if (stop.stopped()) return outcome::failed;
  switch (verdict) {
    case http_reply_reader::verdict::complete:
      return outcome::complete;
    case http_reply_reader::verdict::redirect:
      return http_resolve_location(address, reader.location(), next) ? outcome::redirect
                                                                     : outcome::failed;
    default:
      return outcome::failed;
  }
}

bool fetch(const std::string& url, platform_file& file, std::int64_t max_bytes) {
  http_address address;
  if (!http_address::parse(url, address)) return false;
  download_stop stop;
  active_download registered(stop);
  watchdog dog(stop);
  // Our own redirects: the platform's have no limit under Wine.
  for (int hop = 0; hop <= download_max_redirects; ++hop) {
    http_address next;
    switch (fetch_once(address, file, max_bytes, stop, dog, next)) {
      case outcome::complete:
        return true;
      case outcome::failed:
        return false;
      case outcome::redirect:
        address = next;
        dog.step();
        break;
    }
  }
  return false;
}

}  // namespace

int download_stall_seconds() {
  return DOWNLOAD_STALL_SECONDS;
}

void download_stop::stop() {
  std::lock_guard<sync_mutex> hold(lock_);
  if (stopped_.exchange(1) != 0) return;
  if (breaker_) breaker_();
}

void download_stop::set_breaker(std::function<void()> breaker) {
  std::lock_guard<sync_mutex> hold(lock_);
  breaker_ = std::move(breaker);
  if (stopped_.load() && breaker_) breaker_();
}

void download_stop::clear_breaker() {
  std::lock_guard<sync_mutex> hold(lock_);
  breaker_ = nullptr;
}

void download_service_start() {
  download_backend_start();
}

void download_service_end() {
  service_ended.store(1);
  {
    std::lock_guard<sync_mutex> hold(active_lock);
    for (download_stop* stop : active_downloads()) stop->stop();
  }
  end_part_files();
}

int download_to_file(const std::string& url, const std::string& path, std::int64_t max_bytes,
                     const download_check& check) {
  if (url.empty() || path.empty() || max_bytes < 0 || service_ended.load()) return 0;
  download_backend_start();
  const std::string temporary = path + ".part";
  platform_file body;
  if (!make_part_file(temporary, [&] {
        body = platform_file::open(temporary, platform_file::mode::create_download);
        return body.valid();
      })) {
    return 0;
  }
  bool ok = fetch(url, body, max_bytes);
  body.close();
  ok = ok && !service_ended.load() && (!check || check(temporary)) &&
       platform_file::replace(temporary, path);
  if (!ok) file_delete(temporary);
  forget_part_file(temporary);
  return ok ? 1 : 0;
}
