// The update client's progress window (window 1), its control colour table
// and the progress animation.
#pragma once

#include <cstdint>

#include "toolkit.h"

// Window 1 and its controls.
constexpr int progress_window = 1;
constexpr int progress_bar = 1;
constexpr int available_version_label = 2;
constexpr int update_button = 3;
constexpr int welcome_label = 4;
constexpr int logo_image = 5;
constexpr int installed_version_label = 6;
constexpr int version_frame = 7;
constexpr int status_bar = 1;

// Images carried in the program's data.
constexpr int arrow_image = 1;
constexpr int logo_picture = 2;

// Opens window 1 with all its controls, shows it and disables the update
// button. The window's handle, or 0 when the window or its control list
// cannot be made. User-interface thread only.
ui_handle open_progress_window();

// Enters the colours of a control into the control colour table, replacing
// an earlier entry for it. background -1: no background of its own. Always 0.
// User-interface thread only, before the window hook is installed.
int set_control_colours(int control, int text_colour, int background_colour);

// Number of entries in the control colour table.
int control_colour_entries();

// For the window hook: sets the device context's colours for the control
// with this native handle as the table says and returns the brush that
// paints its background; hook_marker when the table has no entry for it.
std::intptr_t lookup_control_colours(ui_handle control, std::uintptr_t device_context);

// Thread procedure: sweeps the progress bar from 0 to 100 in steps of 10 ms,
// again and again until a sweep ends with animation_stop at 1. Returns 0.
int run_progress_animation(int unused);

// Shows catalogue entry n in the status line, borderless.
void show_status(int entry);
