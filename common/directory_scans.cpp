// Numbered directory scans: the table and its rules, over a backend's
// folder listing.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "folder_listing.h"
#include "system.h"
#include "system_rules.h"
#include "thread_sync.h"

namespace {

struct directory_scan {
  std::unique_ptr<folder_listing> listing;
  std::string name;
};

struct scan_table {
  sync_mutex lock;
  std::map<int, directory_scan> scans;
  int current = -1;
};

scan_table& scans() {
  static scan_table table;
  return table;
}

}  // namespace

int examine_directory(int scan, const std::string& folder, const std::string& pattern) {
  // The folder is read outside the lock; the table only takes the result.
  std::unique_ptr<folder_listing> listing = list_folder(scan_pattern_path(folder, pattern));
  scan_table& t = scans();
  std::lock_guard<sync_mutex> guard(t.lock);
  t.current = scan;
  if (!listing) {
    t.scans.erase(scan);
    return 0;
  }
  t.scans[scan] = directory_scan{std::move(listing), {}};
  return 1;
}

int next_directory_entry() {
  scan_table& t = scans();
  std::lock_guard<sync_mutex> guard(t.lock);
  auto found = t.scans.find(t.current);
  if (found == t.scans.end()) return 0;
  directory_scan& s = found->second;
  bool folder = false;
  if (!s.listing->next(s.name, folder)) {
    t.scans.erase(found);  // at the end the scan is closed
    return 0;
  }
  return folder ? 2 : 1;
}

std::string directory_entry_name() {
  scan_table& t = scans();
  std::lock_guard<sync_mutex> guard(t.lock);
  auto found = t.scans.find(t.current);
  return found == t.scans.end() ? std::string() : found->second.name;
}
