// The chooser's start-up, event loop and end.
#include "language_chooser.h"

#include "fault.h"
#include "files.h"
#include "system.h"
#include "toolkit.h"

std::string start_folder;

namespace {

// Leaves the loop after a confirmed choice or a close request.
void run_event_loop() {
  for (;;) {
    const int last_event = wait_window_event();
    if (last_event == event_close_request) return;
    if (last_event != event_control_used) continue;

    const int last_control = event_control();
    if (last_control == translator_link) {
      run_program("traducteur.exe");
    } else if (last_control == confirm_button) {
      const std::string name = get_control_text(language_list);
      if (name.empty()) {
        message_box("", "Choisissez votre langue\n\nChoose your language", message_stop);
      } else {
        install_language(name);
        return;
      }
    }
  }
}

[[noreturn]] void end_chooser() {
  free_all_images();
  close_all_windows();
  file_close_all();
  remove_fault_handler();
  // The title animation still runs: end the process, not just main.
  process_end(0);
}

}  // namespace

void run_language_chooser() {
  toolkit_start();
  install_fault_handler();
  set_error_mode_resume();

  start_folder = folder_with_backslash(current_folder());
  catch_image(go_icon, go_icon_data, go_icon_size);

  open_language_window();
  // Without its window nothing could ever end the loop.
  if (window_handle(language_window) == 0) end_chooser();

  fill_language_list();
  thread_start(run_title_animation, 0);
  set_icon_list_view(language_list, 0);

  run_event_loop();
  end_chooser();
}

std::string folder_with_backslash(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\') return folder;
  return folder + '\\';
}

std::string language_name_of(const std::string& file_name) {
  if (file_name.size() <= 4) return {};
  return file_name.substr(0, file_name.size() - 4);
}
