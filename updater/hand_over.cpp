// Download and hand-over of the offered program.
#include "hand_over.h"

#include <atomic>

#include "client_end.h"
#include "client_state.h"
#include "download.h"
#include "message_catalogue.h"
#include "offer_signature.h"
#include "progress_window.h"
#include "system.h"

namespace {
// One download of the offer at a time: both write "vantrel.exe".
std::atomic<int> download_running{0};
}  // namespace

bool offer_download_running() {
  return download_running.load() != 0;
}

void download_and_hand_over() {
  if (download_running.exchange(1) != 0) return;
  disable_control(update_button, 1);
  // A program that fails its signature check is a failed download.
  const int fetched = download_to_file(download_url, module_file, program_max_bytes,
                                       offer_check(download_signature));
  animation_stop.store(1);
  if (fetched) {
    run_program(module_file);
    end_client();
  }
  show_status(message_error);
  download_running.store(0);
  disable_control(update_button, 0);
}

int run_manual_download(int) {
  download_and_hand_over();
  return 0;
}
