// Pieces of the toolkit that both backends share: the bounded tables of
// numbered objects, window placement and font arithmetic, and the choice of
// image decoder.
#pragma once

#include <cstddef>
#include <cstdint>
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

// Whether a control's notification raises a control event (13100). The
// platform reports the second of two clicks within the double-click time
// as a double-click (an owner-drawn button as BN_DOUBLECLICKED, an image as
// STN_DBLCLK); each of them is a click of its own.
bool raises_control_event(control_kind kind, unsigned message, int code);

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

  std::size_t slots() const { return fixed_.size(); }

 private:
  std::vector<std::unique_ptr<T>> fixed_;
  std::map<int, std::unique_ptr<T>> automatic_;
  int next_automatic_ = first_automatic;
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
bool jpeg_registered();
decode_result decode_image_data(const void* data, std::size_t size, decoded_image& out);
// Reads a whole file (at most max_image_file_size bytes) and decodes it.
constexpr std::size_t max_image_file_size = 64u << 20;
decode_result decode_image_file(const std::string& path, decoded_image& out,
                                std::vector<std::uint8_t>& contents);

// Longest text get_control_text returns for a control other than a list.
constexpr std::size_t max_control_text = 32000;
