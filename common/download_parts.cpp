#include "download_parts.h"

#include <mutex>
#include <set>

#include "system.h"
#include "thread_sync.h"

namespace {

struct part_registry {
  sync_mutex lock;
  std::set<std::string> in_flight;
  bool ended = false;
};

part_registry& registry() {
  static part_registry parts;
  return parts;
}

}  // namespace

bool make_part_file(const std::string& part, const std::function<bool()>& create) {
  part_registry& r = registry();
  const std::lock_guard<sync_mutex> hold(r.lock);
  if (r.ended || !create()) return false;
  r.in_flight.insert(part);
  return true;
}

void forget_part_file(const std::string& part) {
  part_registry& r = registry();
  const std::lock_guard<sync_mutex> hold(r.lock);
  r.in_flight.erase(part);
}

void end_part_files() {
  part_registry& r = registry();
  const std::lock_guard<sync_mutex> hold(r.lock);
  r.ended = true;
  // A download still writing keeps its file open: on Windows the file goes
  // when the process's handles close (the downloads open it shared for
  // deletion), on POSIX at once.
  for (const std::string& part : r.in_flight) file_delete(part);
  r.in_flight.clear();
}
