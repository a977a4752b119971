// The user-interface toolkit: numbered windows, controls, status bars, fonts
// and images, and one event queue.
//
// Each kind of object has its own space of non-negative numbers chosen by the
// program; creating under a number in use frees the old object first; -1
// asks for a new identifier, which the creating operation returns. Tables
// grow on demand up to max_object_number (a larger number fails with 0), so a
// stray huge number cannot exhaust memory.
//
// Threads: everything runs on the thread of the event loop, except
// set_control_state, set_control_text, get_control_text, set_window_title,
// disable_control and set_status_bar_text, which any thread may call on
// existing objects while the loop runs.
//
// Operations on a number that holds nothing do nothing and return 0 or the
// empty text. Positions and sizes are pixels; control positions are relative
// to the window's inner (client) area.
#pragma once

#include <cstdint>
#include <string>

// A native object (window, control, image, font, brush); 0 is none.
using ui_handle = std::uintptr_t;

constexpr int max_object_number = 65535;

// Colour value: red + green * 256 + blue * 65536.
constexpr int colour_white = 0xFFFFFF;
constexpr int colour_black = 0;

// Event codes returned by wait_window_event.
constexpr int event_close_request = 16;
constexpr int event_control_used = 13100;
constexpr int event_menu = 13101;
constexpr int event_tray = 13102;
constexpr int event_activated = 13104;
constexpr int event_moved = 3;
constexpr int event_resized = 5;

// A window hook returns this to let the toolkit process the message normally;
// any other result becomes the message's result.
constexpr std::intptr_t hook_marker = static_cast<std::int32_t>(0xE0E0E0E1u);

// Messages with which the platform asks how to colour a control: the first
// parameter is the control's device context, the second its native handle.
constexpr unsigned message_colour_edit = 307;
constexpr unsigned message_colour_listbox = 308;
constexpr unsigned message_colour_button = 309;
constexpr unsigned message_colour_static = 312;

using window_hook = std::intptr_t (*)(ui_handle window, unsigned message, std::uintptr_t first,
                                      std::intptr_t second);

// ---- Windows ----------------------------------------------------------------

// open_window flags: the centring and hidden bits are the toolkit's; the
// others are the platform's style bits. With no style bit a title bar is added.
constexpr unsigned window_centred = 0x00000001;
constexpr unsigned window_system_menu = 0x00080000;
constexpr unsigned window_title_bar = 0x00C00000;
constexpr unsigned window_hidden = 0x10000000;

// x, y: top-left corner of the outer frame; width, height: the inner area.
// Centring: x = screen_w/2 - min(outer_w, screen_w)/2, each half rounded down;
// y likewise. Result: the window's handle (for -1 the new number), 0 on failure.
ui_handle open_window(int number, int x, int y, int width, int height, unsigned flags,
                      const std::string& title);
ui_handle window_handle(int number);
// hide 0 shows the window; any other value hides it and activates its owner.
void show_window(int number, int hide);
void close_window(int number);
void close_all_windows();
void set_window_title(int number, const std::string& text);
// Paints the inner area in a solid colour from now on.
void set_window_background(int number, int colour);
void set_window_topmost(int number);

// ---- Controls ---------------------------------------------------------------

// Makes the window the parent of new controls; non-zero on success.
int begin_controls(ui_handle window);

constexpr int text_centred = 1;
ui_handle create_text(int number, int x, int y, int width, int height, const std::string& text,
                      int flags = 0);
ui_handle create_frame(int number, int x, int y, int width, int height, const std::string& title);
constexpr int progress_smooth = 1;
ui_handle create_progress_bar(int number, int x, int y, int width, int height, int minimum,
                              int maximum, int flags = 0);
ui_handle create_image(int number, int x, int y, int width, int height, ui_handle image);
ui_handle create_image_button(int number, int x, int y, int width, int height, ui_handle image);

// Icon list flags.
constexpr unsigned list_multiple = 4;
constexpr unsigned list_keep_selection = 8;
constexpr unsigned list_full_row = 0x40000000;
constexpr unsigned list_grid = 0x10000;
constexpr unsigned list_reorder_columns = 0x10000000;
constexpr unsigned list_check_boxes = 1;
ui_handle create_icon_list(int number, int x, int y, int width, int height,
                           const std::string& column_title, int column_width, unsigned flags);
ui_handle create_link(int number, int x, int y, int width, int height, const std::string& text,
                      int hover_colour);

// Native handle of a control, 0 when the number holds none.
ui_handle control_handle(int number);

// Progress bar: the position, clamped to the range.
void set_control_state(int number, int value);
void set_control_text(int number, const std::string& text);
// Icon list: first-column text of the first selected item, empty when none;
// other controls: their text (at most 32,000 characters).
std::string get_control_text(int number);
// 1 disables, 0 enables.
void disable_control(int number, int state);
// For number -1 the font becomes the default of controls created later.
void set_control_font(int number, ui_handle font);
// Icon list: inserts an item (position -1 appends). The image is copied into
// the shared icon storage, so the caller may free it right after. Text before
// the first line feed is the first column, the rest fills the next columns.
void add_control_item(int number, int position, const std::string& text, ui_handle image);
void clear_control_items(int number);
// 0: the control is not redrawn after each change (while a list is filled
// item by item); 1: it is redrawn as a whole and after each change again.
// A control starts with 1.
void set_control_redraw(int number, int state);
// 0 large icons, 1 small icons, 2 list, 3 report.
void set_icon_list_view(int number, int mode);

// ---- Status bar ---------------------------------------------------------------

ui_handle create_status_bar(int number, ui_handle window);
// Adds a field to the status bar created last; fields end at the running sum
// of the widths.
void add_status_bar_field(int width);
constexpr int status_raised = 1;
constexpr int status_borderless = 2;
constexpr int status_centred = 4;
constexpr int status_right = 8;
void set_status_bar_text(int number, int field, const std::string& text, int flags);

// ---- Fonts --------------------------------------------------------------------

constexpr int font_bold = 0x100;
constexpr int font_italic = 0x200;
constexpr int font_underline = 4;
constexpr int font_strikeout = 8;
constexpr int font_high_quality = 0x10;
// Height: size * vertical dpi / 72, rounded to nearest, as a character height.
ui_handle load_font(int number, const std::string& face, int size, int flags);
void free_all_fonts();

// ---- Images -------------------------------------------------------------------

// Registers the JPEG decoder; until then JPEG data is refused.
void register_jpeg_decoder();
// Accepts a bitmap file image ("BM"), an icon file image (the directory's
// first image) and, once registered, JPEG (FF D8). size bounds every read of
// data. The image handle (for -1 the new number), 0 when not supported.
ui_handle catch_image(int number, const void* data, std::size_t size);
ui_handle load_image(int number, const std::string& path);
ui_handle image_handle(int number);
ui_handle use_image(int number);
ui_handle current_image_handle();
int is_image(int number);
void free_image(int number);
void free_all_images();

// ---- Events -------------------------------------------------------------------

void set_window_hook(window_hook hook);
// Blocks until the next event and returns its code.
int wait_window_event();
// Window of the last event; -1 when it is not one of the toolkit's windows.
int event_window();
// Control of the last control event.
int event_control();

// ---- Painting helpers for window hooks that colour controls ---------------------

// system_colour(15) is the button face.
int system_colour(int index);
ui_handle create_solid_brush(int colour);
ui_handle hollow_brush();
// Frees a brush made by create_solid_brush (the hollow stock brush is ignored).
void free_brush(ui_handle brush);
void set_text_colour(std::uintptr_t device_context, int colour);
// opaque false: transparent background mode.
void set_background_mode(std::uintptr_t device_context, bool opaque);
void set_background_colour(std::uintptr_t device_context, int colour);

// Loads the platform's common controls; called once at start-up.
void toolkit_start();
