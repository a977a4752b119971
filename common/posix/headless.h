// The headless toolkit's window onto its in-memory objects, for tests: read
// any window, control, status bar, font or image back, inject the user's
// actions, and read the recorded message boxes. Thread-safe.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "toolkit.h"
#include "toolkit_core.h"

namespace headless {

struct rect {
  int x = 0, y = 0, width = 0, height = 0;
};

using control_kind = ::control_kind;

struct list_item {
  std::string text;  // whole item text (columns separated by line feeds)
  ui_handle icon = 0;
  bool selected = false;
  bool focused = false;  // the list's focus item (the one a click went to last)
};

struct window_info {
  int number = -1;
  ui_handle handle = 0;
  rect outer;           // screen position and outer size
  int inner_width = 0;  // client area
  int inner_height = 0;
  unsigned flags = 0;  // as given to open_window
  unsigned style = 0;  // style bits the window got (title bar added when none)
  std::string title;
  bool visible = false;
  bool topmost = false;
  int background = -1;  // -1: the system's button face
};

struct control_info {
  int number = -1;
  int window = -1;
  ui_handle handle = 0;
  control_kind kind = control_kind::text;
  rect where;
  int flags = 0;  // icon list: the flags it honours (icon_list_flags)
  std::string text;
  int state = 0;  // progress position
  int minimum = 0, maximum = 0;
  bool enabled = true;
  bool visible = true;
  bool redraw = true;  // set_control_redraw
  ui_handle font = 0;
  ui_handle image = 0;
  int hover_colour = 0;
  int view_mode = 3;  // icon list
  std::vector<list_item> items;
  std::vector<std::string> columns;  // icon list column titles
  std::vector<int> column_widths;    // and their widths
  int creation_index = 0;            // creation order, for focus navigation
};

struct status_bar_info {
  int number = -1;
  int window = -1;
  std::vector<int> field_ends;
  std::vector<std::string> texts;
  std::vector<int> text_flags;
};

struct font_info {
  std::string face;
  int height = 0;  // character height in pixels
  int weight = 400;
  bool italic = false, underline = false, strikeout = false, high_quality = false;
};

struct image_info {
  int width = 0, height = 0;
  bool icon = false;  // an icon rather than a bitmap
};

// What the window hook answered when asked to colour a control.
struct colour_answer {
  bool hooked = false;  // false: the hook returned the marker (default colours)
  int text_colour = 0;
  bool opaque = false;
  int background_colour = 0;
  int brush_colour = -1;  // colour of the returned brush; -1 for the hollow brush
};

struct message_record {
  std::string title, text;
  int flags = 0;
};

// Screen size for centring; 1024 x 768 unless set. Dots per inch: 96.
void set_screen_size(int width, int height);
// Outer size added to the inner area by a window with a title bar.
constexpr int frame_width = 6;
constexpr int frame_height = 29;

std::optional<window_info> window(int number);
std::optional<control_info> control(int number);
std::optional<status_bar_info> status_bar(int number);
std::optional<font_info> font(ui_handle handle);
std::optional<image_info> image(ui_handle handle);

// User actions. Each posts what the platform would: the input message and
// what handling it sends the window. A close request is a click on the close
// box (the button going down on it, WM_NCLBUTTONDOWN, during which the
// window is asked to close); a click on a control that raises control events
// and is enabled and visible is the button going down or up on it, during
// which the control notifies (false, and nothing posted, otherwise).
// select_item clicks an item (-1: none): as the button goes down, one item
// change per change of an item's state (the selection leaving the other
// items, the focus leaving the item that had it, the clicked item taking
// both), then, as it comes up, the click.
//
// As on the platform, a click on the same control (a list: the same item) as
// the click before, within the double-click time of it, is a double-click:
// the button going down again is WM_LBUTTONDBLCLK; an image button notifies
// BN_DOUBLECLICKED, an image STN_DBLCLK, a list NM_DBLCLK and then activates
// the item, with no click after (a link reports the release of the button,
// the same for both). The click after a double-click starts afresh.
// wait_window_event turns each notification into an event by the toolkit's
// rule (raises_control_event); a window hook sees WM_COMMAND with the
// control's number in the low and the notification in the high word of its
// first parameter. When the hook handles everything an input message sent,
// wait_window_event returns that input message's number.
void request_close(int window);
bool click(int control);
bool select_item(int control, int index);
// The double-click time; 500 ms (the platform's default) unless set. A long
// time makes a test's second click a double-click for certain, 0 never.
void set_double_click_time(std::chrono::milliseconds time);
// Focus navigation as Tab / Shift+Tab would move it; the focused control.
void press_tab(bool backwards);
int focused_control();

// Asks the installed window hook how to colour a control, as the platform
// would when it paints it.
colour_answer paint_colours(int control);

// Numbers that hold an image (identifiers made for -1 included), rising.
std::vector<int> image_numbers();

// Message boxes shown so far (the backend answers each with 1 at once).
std::vector<message_record> message_boxes();
// Called by the POSIX message_box to add a box to that record.
void record_message_box(const std::string& title, const std::string& text, int flags);

// Runs the function on the thread that ends the process, just before the
// POSIX process_end ends it (the process ends without running anything
// else); nullptr removes it. For a test that checks what the program put
// back before its end.
void on_process_end(std::function<void(int exit_code)> observer);
// Called by the POSIX process_end.
void process_ending(int exit_code);

// Polls until the condition holds or the time is up; true when it held.
bool wait_until(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Frees every object and forgets events, hook, message boxes and the click
// before; the double-click time goes back to 500 ms.
void reset();

}  // namespace headless
