// The language window: its controls, the list of languages and the title
// animation.
#include "language_chooser.h"
#include "system.h"
#include "toolkit.h"

int open_language_window() {
  // Title bar only: no close box, so the window can only be left by a choice
  // (or a close request from the system).
  if (open_window(language_window, 0, 0, 369, 192, window_title_bar | window_centred, "") == 0) {
    return 0;
  }
  set_window_topmost(language_window);
  if (begin_controls(window_handle(language_window))) {
    // One pixel wider than the client area, so that no right edge shows.
    create_icon_list(language_list, 0, 0, 370, 155, "", 100, list_full_row | list_keep_selection);
    create_image_button(confirm_button, 295, 160, 65, 30, image_handle(go_icon));
    // Hover colour black as well: the link text never changes colour.
    create_link(translator_link, 15, 165, 125, 20, "Si vous \xEAtes traducteur", colour_black);
  }
  return 0;
}

void fill_language_list() {
  clear_control_items(language_list);
  const std::string folder = start_folder + "langues\\";
  // A current folder too long for the start folder lists nothing; it is
  // reported like a missing folder rather than scanned by a relative path.
  if (start_folder.empty() || !examine_directory(0, folder, "*.txt")) {
    message_box("", "Pas de dossier langues!", message_ok);
    return;
  }
  // Redrawn once when full: the platform's list redraws itself after each
  // item otherwise, which made a long list take seconds to fill.
  set_control_redraw(language_list, 0);
  for (int kind = next_directory_entry(); kind != 0; kind = next_directory_entry()) {
    if (kind != 1) continue;  // a folder named like a language file
    const std::string name = language_name_of(directory_entry_name());
    const int flag = static_cast<int>(load_image(-1, folder + name + ".ico"));
    if (flag == 0) continue;  // no flag, no entry
    add_control_item(language_list, -1, name, image_handle(flag));
    free_image(flag);
  }
  set_control_redraw(language_list, 1);
}

std::string title_animation::step(const std::string& selected_name) {
  if (indent_.size() >= widest_indent) indent_.clear();
  indent_ += ' ';
  return indent_ + (selected_name.empty() ? std::string("Select Language") : selected_name);
}

int run_title_animation(int) {
  title_animation title;
  for (;;) {
    delay(100);
    set_window_title(language_window, title.step(get_control_text(language_list)));
  }
}
