// The update client: start-up, main loop and window hook.
#include "update_client.h"

#include <string>

#include "client_end.h"
#include "client_images.h"
#include "client_state.h"
#include "client_test_seams.h"
#include "definitions_probe.h"
#include "download.h"
#include "fault.h"
#include "files.h"
#include "hand_over.h"
#include "message_catalogue.h"
#include "progress_window.h"
#include "res/program_version.h"
#include "settings.h"
#include "system.h"
#include "update_check.h"

#ifndef UPDATE_SERVER_HOST
#error "UPDATE_SERVER_HOST (host[:port]) must be defined by the build"
#endif

namespace {

constexpr int language_file = 10;

void start_services() {
  toolkit_start();
  install_fault_handler();
  download_service_start();
  set_error_mode_resume();
}

void set_fixed_values() {
  if (next_program_parameter() == "auto") auto_mode = "auto";
  module_check_url =
      std::string("http://") + UPDATE_SERVER_HOST + "/tessarin/version_module_update.php";
  update_check_url = std::string("http://") + UPDATE_SERVER_HOST + "/tessarin/update.php";
  module_version = PROGRAM_VERSION_TEXT;
}

// A click on the update button. The download runs on a worker thread of its
// own: on this thread it would freeze the window and the progress bar, whose
// changes are carried out here.
void start_manual_download() {
  if (offer_download_running()) return;
  disable_control(update_button, 1);  // no second click while it starts
  animation_stop.store(0);
  thread_start(run_progress_animation, 0);
  thread_start(run_manual_download, 0);
}

[[noreturn]] void run_main_loop() {
  quit_requested.store(0);
  for (;;) {
    const int event = wait_window_event();
    if (event == event_close_request) {
      if (event_window() == progress_window) quit_requested.store(1);
    } else if (event == event_control_used) {
      if (event_control() == update_button) start_manual_download();
    }
    if (quit_requested.load() != 0) break;
  }
  close_window(progress_window);
  end_client();
}

}  // namespace

std::intptr_t progress_window_hook(ui_handle, unsigned message, std::uintptr_t first,
                                   std::intptr_t second) {
  if (message == message_colour_static || message == message_colour_edit ||
      message == message_colour_listbox) {
    return lookup_control_colours(static_cast<ui_handle>(second), first);
  }
  return hook_marker;
}

int run_update_client() {
  start_services();
  // Left by an earlier run: its program, and the temporary files of
  // downloads cut off by a process that did not end in order.
  file_delete(module_file);
  file_delete(std::string(module_file) + ".part");
  file_delete(std::string(reply_file) + ".part");
  register_jpeg_decoder();
  set_fixed_values();
  if (const auto after = active_client_test_seams().after_fixed_values) after();
  catch_image(arrow_image, arrow_icon_data, arrow_icon_size);
  catch_image(logo_picture, logo_jpeg_data, logo_jpeg_size);

  if (!file_open_read(language_file, "langue.ini")) {
    message_box("", "Erreur dans la lecture des langues", message_ok);
    end_client();
  }
  language_name = file_read_line();
  file_close(language_file);

  load_message_catalogue("langues\\update\\" + language_name);
  probe_definitions_version();
  if (open_progress_window() == 0) end_client();

  thread_start(run_progress_animation, 0);
  thread_start(run_update_check, 0);
  set_window_hook(progress_window_hook);
  set_control_state(progress_bar, 50);
  run_main_loop();
}
