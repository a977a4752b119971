// Pieces of the toolkit that both backends share: the bounded tables of
// numbered objects, the bookkeeping around them (what closing a window
// takes with it, the default font, current image and last status bar, focus
// order, the event queue), window placement and font arithmetic, and the
// choice of image decoder.
//
// The locking rule of both backends: one mutex guards the tables and the
// selection. An operation looks its number up under the lock, copies what
// it needs (a native handle, a kind, a range) and releases the lock before
// it calls the platform, because the platform may call back into the
// toolkit (a window message, a window hook) on this thread or wait for the
// event loop's thread. Records taken out of a table are destroyed outside
// the lock for the same reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image_decode.h"
#include "toolkit.h"

// The kinds of control both backends make.
enum class control_kind { text, frame, progress_bar, image, image_button, icon_list, link };

// Platform messages through which a control reports its use to its window:
// WM_COMMAND carries the notification code in the high word of its first
// parameter, WM_NOTIFY in the header its second parameter points to.
constexpr unsigned message_command = 273;
constexpr unsigned message_notify = 78;

// Notification codes, as the platform numbers them.
constexpr int notify_clicked = 0;                   // BN_CLICKED, STN_CLICKED
constexpr int notify_static_double_clicked = 1;     // STN_DBLCLK
constexpr int notify_button_double_clicked = 5;     // BN_DOUBLECLICKED
constexpr int notify_list_click = -2;               // NM_CLICK
constexpr int notify_list_double_click = -3;        // NM_DBLCLK
constexpr int notify_list_right_click = -5;         // NM_RCLICK
constexpr int notify_list_right_double_click = -6;  // NM_RDBLCLK
constexpr int notify_list_item_changed = -101;      // LVN_ITEMCHANGED
constexpr int notify_list_item_activated = -114;    // LVN_ITEMACTIVATE

// The header WM_NOTIFY's second parameter points to, laid out as the
// platform's NMHDR.
struct notify_header {
  ui_handle from = 0;     // the control's native handle
  std::uintptr_t id = 0;  // its number
  unsigned code = 0;      // the notification
};

// Whether a control's notification raises a control event (13100). The
// platform reports the second of two clicks within the double-click time
// as a double-click (an owner-drawn button as BN_DOUBLECLICKED, an image as
// STN_DBLCLK); each of them is a click of its own.
bool raises_control_event(control_kind kind, unsigned message, int code);

// Mouse messages of the platform's input queue.
constexpr unsigned message_left_button_down = 513;    // WM_LBUTTONDOWN
constexpr unsigned message_left_button_up = 514;      // WM_LBUTTONUP
constexpr unsigned message_left_double_click = 515;   // WM_LBUTTONDBLCLK
constexpr unsigned message_right_button_up = 517;     // WM_RBUTTONUP
constexpr unsigned message_right_double_click = 518;  // WM_RBUTTONDBLCLK
// The platform tracks a click on the close box while the button is down on
// the window's frame, and asks the window to close from there.
constexpr unsigned message_close_box_down = 161;  // WM_NCLBUTTONDOWN

// The queued input message during whose handling a control sends a
// notification. Controls send their notifications to the window directly,
// so the event loop never receives one: when a notification raises no event
// (or a window hook handles it), wait_window_event returns this message.
unsigned notification_input(control_kind kind, int code);

// Whether a creating operation accepts the number: -1 (a new identifier) or
// one of the numbers the program may choose.
constexpr bool creatable_number(int number) {
  return number == -1 || (number >= 0 && number <= max_object_number);
}

// Numbers the program chooses are 0..max_object_number and live in a vector
// that grows up to the highest number used (at most max_object_number + 1
// slots). Objects created with -1 get identifiers above max_object_number,
// so they never collide with a number the program may choose later; they
// live in a map, so their count, not their value, sets the memory used.
template <class T>
class object_table {
 public:
  static constexpr int first_automatic = max_object_number + 1;

  // The object under a number, nullptr when there is none.
  T* find(int number) const {
    if (number >= 0 && number <= max_object_number) {
      if (static_cast<std::size_t>(number) < fixed_.size()) return fixed_[number].get();
      return nullptr;
    }
    if (number >= first_automatic) {
      auto it = automatic_.find(number);
      return it == automatic_.end() ? nullptr : it->second.get();
    }
    return nullptr;
  }

  // The number a new object will take: the given one when it is a valid
  // number, a fresh identifier for -1, -1 when refused. The caller frees an
  // old object under that number (take) before putting the new one.
  int claim(int number) {
    if (number == -1) {
      // Identifiers run upwards and wrap; freed ones are found again.
      for (int tries = 0; tries < 1 << 20; ++tries) {
        int candidate = next_automatic_;
        next_automatic_ = next_automatic_ >= 0x3FFFFFFF ? first_automatic : next_automatic_ + 1;
        if (!automatic_.count(candidate)) return candidate;
      }
      return -1;
    }
    if (number >= 0 && number <= max_object_number) return number;
    return -1;
  }

  // Stores the object under a claimed number; the previous one, if any, is
  // handed back so the caller decides when to destroy it.
  std::unique_ptr<T> put(int number, std::unique_ptr<T> object) {
    std::unique_ptr<T> old;
    if (number >= 0 && number <= max_object_number) {
      if (static_cast<std::size_t>(number) >= fixed_.size()) fixed_.resize(number + 1);
      old = std::move(fixed_[number]);
      fixed_[number] = std::move(object);
    } else if (number >= first_automatic) {
      auto& slot = automatic_[number];
      old = std::move(slot);
      slot = std::move(object);
    }
    return old;
  }

  // Removes and returns the object under a number.
  std::unique_ptr<T> take(int number) {
    if (number >= 0 && number <= max_object_number) {
      if (static_cast<std::size_t>(number) < fixed_.size()) return std::move(fixed_[number]);
      return nullptr;
    }
    auto it = automatic_.find(number);
    if (it == automatic_.end()) return nullptr;
    std::unique_ptr<T> old = std::move(it->second);
    automatic_.erase(it);
    return old;
  }

  // Calls f(number, object) for every object, numbers in rising order.
  template <class F>
  void for_each(F&& f) const {
    for (std::size_t i = 0; i < fixed_.size(); ++i)
      if (fixed_[i]) f(static_cast<int>(i), *fixed_[i]);
    for (const auto& [number, object] : automatic_) f(number, *object);
  }

  // Number of the first object for which f(object) holds, -1 if none.
  template <class F>
  int find_number(F&& f) const {
    for (std::size_t i = 0; i < fixed_.size(); ++i)
      if (fixed_[i] && f(*fixed_[i])) return static_cast<int>(i);
    for (const auto& [number, object] : automatic_)
      if (f(*object)) return number;
    return -1;
  }

  // Removes everything, handing the objects back in number order.
  std::vector<std::unique_ptr<T>> take_all() {
    std::vector<std::unique_ptr<T>> all;
    for (auto& slot : fixed_)
      if (slot) all.push_back(std::move(slot));
    for (auto& [number, object] : automatic_) all.push_back(std::move(object));
    fixed_.clear();
    fixed_.shrink_to_fit();
    automatic_.clear();
    next_automatic_ = first_automatic;
    return all;
  }

  // The number a new object will take, with the object it replaces moved
  // into old: creating under a number in use frees the old object first,
  // and -1 asks for a fresh identifier. -1 when the number is refused.
  int replace(int number, std::unique_ptr<T>& old) {
    if (!creatable_number(number)) return -1;
    if (number != -1) old = take(number);
    return claim(number);
  }

  // Removes every object for which f(object) holds, handing them back in
  // number order (closing a window takes its controls this way).
  template <class F>
  std::vector<std::unique_ptr<T>> take_if(F&& f) {
    std::vector<int> doomed;
    for_each([&](int number, const T& object) {
      if (f(object)) doomed.push_back(number);
    });
    std::vector<std::unique_ptr<T>> taken;
    for (int number : doomed) taken.push_back(take(number));
    return taken;
  }

  std::size_t slots() const { return fixed_.size(); }

 private:
  std::vector<std::unique_ptr<T>> fixed_;
  std::map<int, std::unique_ptr<T>> automatic_;
  int next_automatic_ = first_automatic;
};

// The choices that outlive the operation that made them: the font new
// controls get, the current image, and the status bar add_status_bar_field
// extends. Freeing the font or image one of them names forgets it, so no
// later operation hands out a freed handle. The backend guards it.
struct toolkit_selection {
  ui_handle default_font = 0;  // 0: the platform's user-interface font
  ui_handle current_image = 0;
  int last_status_bar = -1;

  void font_freed(ui_handle font) {
    if (font && default_font == font) default_font = 0;
  }
  void image_freed(ui_handle image) {
    if (image && current_image == image) current_image = 0;
  }
  void all_fonts_freed() { default_font = 0; }
  void all_images_freed() { current_image = 0; }
};

// Focus navigation (Tab, Shift+Tab): image buttons and lists take the focus,
// the other controls do not.
constexpr bool accepts_focus(control_kind kind) {
  return kind == control_kind::image_button || kind == control_kind::icon_list;
}
// Of count candidates in creation order (those enabled and visible), the
// index the focus moves to from the one at current (-1: the focus is on
// none of them): the next one, wrapping around, or the previous one going
// backwards; from none, the first or the last. -1 when there is none.
int next_focus(int count, int current, bool backwards);

// What the event loop hands out: events noted while the platform handled a
// message, kept in order up to max_pending_events (the oldest go first), and
// the last event returned, which event_window and event_control describe.
// Used on the event loop's thread only.
template <class Window>
class event_queue {
 public:
  static constexpr std::size_t max_pending_events = 1024;

  void note(int code, Window window, int control = -1) {
    if (pending_.size() >= max_pending_events) pending_.pop_front();
    pending_.push_back({code, window, control});
  }
  bool empty() const { return pending_.empty(); }

  // Returns the oldest noted event as the last one; window_number maps its
  // window to the window's number then (-1 once it has closed).
  template <class Number>
  int deliver(Number&& window_number) {
    const pending_event event = pending_.front();
    pending_.pop_front();
    return returned(event.code, window_number(event.window),
                    event.code == event_control_used ? event.control : last_control_);
  }

  // Records a code the loop returns: a message that made no event keeps the
  // control of the last control event.
  int returned(int code, int window, int control) {
    last_window_ = window;
    if (code == event_control_used) last_control_ = control;
    return code;
  }

  int last_window() const { return last_window_; }
  int last_control() const { return last_control_; }

  void clear() { *this = event_queue(); }

 private:
  struct pending_event {
    int code;
    Window window;
    int control;
  };
  std::deque<pending_event> pending_;
  int last_window_ = -1, last_control_ = -1;
};

// Outer position of a centred window along one axis: half the screen minus
// half the outer size limited to the screen, each half rounded down.
int centred_position(int screen_size, int outer_size);

// Pixel height of a font of size points at dpi dots per inch, rounded to
// the nearest integer (halves away from zero).
int font_pixel_height(int size, int dpi);

// The style bits a window gets from open_window's flags: the toolkit's own
// bits removed, a title bar added when nothing is left.
unsigned window_style_bits(unsigned flags);

// The columns of an icon-list item: its text split at line feeds.
std::vector<std::string> item_columns(const std::string& text);

// The process-wide JPEG registration and the decoder choice of catch_image.
void set_jpeg_decoder(jpeg_decoder decoder);
bool jpeg_registered();
decode_result decode_image_data(const void* data, std::size_t size, decoded_image& out);
// Reads a whole file (at most max_image_file_size bytes) and decodes it.
constexpr std::size_t max_image_file_size = 64u << 20;
decode_result decode_image_file(const std::string& path, decoded_image& out,
                                std::vector<std::uint8_t>& contents);

// Longest text get_control_text returns, a list item's first column
// included: the platform's controls are read into a buffer of this size.
constexpr std::size_t max_control_text = 32000;
std::string capped_control_text(std::string text);
// get_control_text of an icon list: the first column of the item's text.
std::string list_item_text(const std::string& item_text);

// Most fields a status bar holds: the platform's control takes no more.
constexpr std::size_t max_status_bar_fields = 255;
// Appends a field of the given width to a status bar's field ends (each the
// running sum of the widths); false, and nothing added, at the cap.
bool add_status_field(std::vector<int>& field_ends, int width);

// The icon list flags the list honours; any other bit is ignored.
constexpr unsigned icon_list_known_flags = list_multiple | list_keep_selection | list_full_row |
                                           list_grid | list_reorder_columns | list_check_boxes;
constexpr unsigned icon_list_flags(unsigned flags) {
  return flags & icon_list_known_flags;
}
