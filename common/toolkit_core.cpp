#include "toolkit_core.h"

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "platform_file.h"

int centred_position(int screen_size, int outer_size) {
  return screen_size / 2 - std::min(outer_size, screen_size) / 2;
}

int font_pixel_height(int size, int dpi) {
  const std::int64_t product = std::int64_t{size} * dpi;
  const std::int64_t rounded = product >= 0 ? (product + 36) / 72 : -((-product + 36) / 72);
  return static_cast<int>(rounded);
}

unsigned window_style_bits(unsigned flags) {
  unsigned style = flags & ~(window_centred | window_hidden);
  return style ? style : window_title_bar;
}

bool raises_control_event(control_kind kind, unsigned message, int code) {
  switch (kind) {
    case control_kind::image_button:
      return message == message_command &&
             (code == notify_clicked || code == notify_button_double_clicked);
    case control_kind::image:
      return message == message_command &&
             (code == notify_clicked || code == notify_static_double_clicked);
    case control_kind::link:
      // The link reports the release of the button, which ends a
      // double-click too.
      return message == message_command && code == notify_clicked;
    case control_kind::icon_list:
      return message == message_notify &&
             (code == notify_list_item_changed || code == notify_list_item_activated ||
              code == notify_list_click || code == notify_list_right_click ||
              code == notify_list_double_click || code == notify_list_right_double_click);
    default:
      return false;
  }
}

unsigned notification_input(control_kind kind, int code) {
  switch (code) {
    case notify_clicked:
      // A static control notifies when the button goes down, a button and
      // the link when it comes up again over them.
      return kind == control_kind::image ? message_left_button_down : message_left_button_up;
    case notify_list_item_changed:
      return message_left_button_down;  // the list selects as the button goes down
    case notify_list_click:
      return message_left_button_up;
    case notify_list_right_click:
      return message_right_button_up;
    case notify_list_right_double_click:
      return message_right_double_click;
    default:  // the double-clicks and the activation they bring
      return message_left_double_click;
  }
}

int next_focus(int count, int current, bool backwards) {
  if (count <= 0) return -1;
  if (current < 0 || current >= count) return backwards ? count - 1 : 0;
  return (current + (backwards ? count - 1 : 1)) % count;
}

std::vector<std::string> item_columns(const std::string& text) {
  std::vector<std::string> columns;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    columns.push_back(text.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return columns;
}

std::string capped_control_text(std::string text) {
  if (text.size() > max_control_text) text.resize(max_control_text);
  return text;
}

std::string list_item_text(const std::string& item_text) {
  return capped_control_text(item_text.substr(0, item_text.find('\n')));
}

bool add_status_field(std::vector<int>& field_ends, int width) {
  if (field_ends.size() >= max_status_bar_fields) return false;
  field_ends.push_back((field_ends.empty() ? 0 : field_ends.back()) + width);
  return true;
}

namespace {
// Set by register_jpeg_decoder (image_jpeg.cpp), so that a program that never
// registers the decoder links no JPEG code.
std::atomic<jpeg_decoder> registered_jpeg{nullptr};
}  // namespace

void set_jpeg_decoder(jpeg_decoder decoder) {
  registered_jpeg = decoder;
}
bool jpeg_registered() {
  return registered_jpeg.load() != nullptr;
}

decode_result decode_image_data(const void* data, std::size_t size, decoded_image& out) {
  return decode_image_with(data, size, registered_jpeg.load(), out);
}

decode_result decode_image_file(const std::string& path, decoded_image& out,
                                std::vector<std::uint8_t>& contents) {
  contents.clear();
  if (path.empty()) return decode_result::not_recognised;
  platform_file file = platform_file::open(path, platform_file::mode::read_share_read);
  if (!file.valid()) return decode_result::not_recognised;
  const std::int64_t size = file.size();
  if (size <= 0) return decode_result::not_recognised;
  if (static_cast<std::uint64_t>(size) > max_image_file_size) return decode_result::too_large;
  contents.resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < contents.size()) {
    std::size_t got = file.read(contents.data() + done, contents.size() - done);
    if (got == 0) break;
    done += got;
  }
  contents.resize(done);
  return decode_image_with(contents.data(), contents.size(), registered_jpeg.load(), out);
}
