// The update client's orderly end.
#include "client_end.h"

#include <atomic>
#include <mutex>

#include "client_test_seams.h"
#include "download.h"
#include "fault.h"
#include "files.h"
#include "pack.h"
#include "settings.h"
#include "system.h"
#include "thread_sync.h"
#include "toolkit.h"

namespace {

std::atomic<int> ending{0};

sync_mutex& settings_lock() {
  static sync_mutex lock;
  return lock;
}

}  // namespace

settings_user::settings_user() {
  settings_lock().lock();
}
settings_user::~settings_user() {
  settings_lock().unlock();
}

void end_client() {
  if (ending.exchange(1) != 0) {
    // Another thread is ending the process already.
    for (;;) delay(1000);
  }
  if (const auto at_end = active_client_test_seams().at_end) at_end();
  download_service_end();
  settings_lock().lock();  // kept: the process ends below
  settings_close();
  pack_close();
  remove_fault_handler();
  free_all_images();
  close_all_windows();
  free_all_fonts();
  file_close_all();
  // The catalogue and the other shared texts stay: worker threads may still
  // read them until the process ends, which releases them.
  process_end(0);
}
