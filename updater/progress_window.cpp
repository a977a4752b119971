// The progress window, the control colour table and the progress animation.
#include "progress_window.h"

#include <utility>
#include <vector>

#include "client_state.h"
#include "handle_owner.h"
#include "message_catalogue.h"
#include "system.h"

namespace {

constexpr int button_face = 15;  // system colour index

// One solid or hollow brush, freed with the toolkit (the hollow stock brush
// is ignored by free_brush).
using brush_owner = handle_owner<ui_handle, free_brush>;

struct colour_entry {
  int control = 0;
  int text_colour = 0;
  int background_colour = -1;
  brush_owner face_brush;        // button face as it was when the entry was made
  brush_owner background_brush;  // hollow for -1, else solid background colour
};

// Entries live until the process ends; the window hook reads them on the
// user-interface thread after they are all made.
std::vector<colour_entry>& colour_table() {
  static auto* table = new std::vector<colour_entry>();
  return *table;
}

}  // namespace

void show_status(int entry) {
  set_status_bar_text(status_bar, 0, catalogue_entry(entry), status_borderless);
}

int control_colour_entries() {
  return static_cast<int>(colour_table().size());
}

int set_control_colours(int control, int text_colour, int background_colour) {
  std::vector<colour_entry>& table = colour_table();
  for (auto it = table.begin(); it != table.end(); ++it) {
    if (it->control == control) {
      table.erase(it);  // releases both brushes
      break;
    }
  }
  colour_entry entry;
  entry.control = control;
  entry.text_colour = text_colour;
  entry.background_colour = background_colour;
  entry.face_brush = brush_owner(create_solid_brush(system_colour(button_face)));
  entry.background_brush =
      brush_owner(background_colour == -1 ? hollow_brush() : create_solid_brush(background_colour));
  table.push_back(std::move(entry));
  return 0;
}

std::intptr_t lookup_control_colours(ui_handle control, std::uintptr_t device_context) {
  std::intptr_t result = hook_marker;
  for (const colour_entry& entry : colour_table()) {
    const ui_handle handle = control_handle(entry.control);
    if (handle == 0 || handle != control) continue;
    set_text_colour(device_context, entry.text_colour);
    if (entry.background_colour > 0) {
      set_background_mode(device_context, true);
      set_background_colour(device_context, entry.background_colour);
      result = static_cast<std::intptr_t>(entry.background_brush.get());
    } else if (entry.background_colour == 0) {
      set_background_mode(device_context, false);
      result = static_cast<std::intptr_t>(entry.face_brush.get());
    } else {
      // No background of its own: the hollow brush lets the window's white
      // show through.
      set_background_mode(device_context, false);
      result = static_cast<std::intptr_t>(entry.background_brush.get());
    }
  }
  return result;
}

ui_handle open_progress_window() {
  const ui_handle window =
      open_window(progress_window, 0, 0, 395, 162,
                  window_hidden | window_title_bar | window_system_menu | window_centred,
                  catalogue_entry(message_window_title));
  if (window == 0) return 0;
  set_window_background(progress_window, colour_white);
  if (!begin_controls(window_handle(progress_window))) return 0;

  create_progress_bar(progress_bar, 10, 55, 375, 25, 0, 100, progress_smooth);

  create_text(available_version_label, 15, 110, 250, 15,
              catalogue_entry(message_available_version));
  set_control_colours(available_version_label, colour_black, -1);

  create_image_button(update_button, 345, 90, 40, 40, image_handle(arrow_image));

  create_text(welcome_label, 60, 10, 310, 20, catalogue_entry(message_welcome), text_centred);
  set_control_colours(welcome_label, colour_black, colour_white);
  set_control_font(welcome_label, load_font(4, "Arial", 10, font_bold));

  create_image(logo_image, 0, 0, 48, 48, image_handle(logo_picture));

  create_text(installed_version_label, 15, 90, 250, 15, catalogue_entry(message_installed_version));
  set_control_colours(installed_version_label, colour_black, -1);

  create_frame(version_frame, 10, 80, 270, 55, catalogue_entry(message_version_frame));

  create_status_bar(status_bar, window_handle(progress_window));
  add_status_bar_field(350);

  show_window(progress_window, 0);
  disable_control(update_button, 1);
  return window_handle(progress_window);
}

int run_progress_animation(int) {
  for (;;) {
    for (int v = 0; v <= 100; ++v) {
      delay(10);
      set_control_state(progress_bar, v);
    }
    if (animation_stop.load() == 1) return 0;
  }
}
