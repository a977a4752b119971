// The headless toolkit: every window, control, status bar, font and image is
// an in-memory record, its native object; the platform's input is a queue of
// messages that the test injects into. One mutex guards all of it (the
// locking rule of toolkit_core.h), so the operations that worker threads may
// call are safe from any thread; the window hook is never called with it held.
#include <algorithm>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

#include "posix/headless.h"
#include "toolkit.h"
#include "toolkit_core.h"

namespace {

// The platform's close request, through which event 16 reaches the hook.
constexpr unsigned message_close = 16;
constexpr std::chrono::milliseconds default_double_click_time{500};

constexpr int default_screen_width = 1024;
constexpr int default_screen_height = 768;
constexpr int dots_per_inch = 96;

// Style bits that decide the outer frame.
constexpr unsigned style_caption = 0x00C00000;
constexpr unsigned style_border = 0x00800000;
constexpr unsigned style_dialog_frame = 0x00400000;
constexpr unsigned style_thick_frame = 0x00040000;
constexpr int caption_height = headless::frame_height - headless::frame_width;

constexpr ui_handle hollow_brush_handle = 0x10;

struct font_record {
  ui_handle handle = 0;
  headless::font_info info;
};

struct image_record {
  ui_handle handle = 0;
  headless::image_info info;
};

struct device_context {
  int text_colour = colour_black;
  bool opaque = true;
  int background_colour = colour_white;
};

// What the toolkit's window is sent while the platform handles an input
// message: a close request, or a control's notification, which becomes an
// event only by the toolkit's rule.
struct sent_message {
  unsigned message = 0;
  int control = -1;  // -1: a close request
  headless::control_kind kind = headless::control_kind::text;
  int notification = 0;
  ui_handle control_handle = 0;
};

// A message of the platform's input queue on its way to the event loop, with
// what handling it sends the window.
struct queued_message {
  unsigned input = 0;
  int window = -1;
  ui_handle window_handle = 0;
  std::vector<sent_message> sent;
};

struct toolkit_state {
  std::mutex mutex;
  std::condition_variable queued;

  object_table<headless::window_info> windows;
  object_table<headless::control_info> controls;
  object_table<headless::status_bar_info> status_bars;
  object_table<font_record> fonts;
  object_table<image_record> images;

  // The icon lists' shared storage: copies of the images added to them.
  std::map<ui_handle, headless::image_info> list_icons;
  std::map<ui_handle, int> brushes;
  std::map<ui_handle, device_context> device_contexts;
  std::deque<queued_message> input;
  std::vector<headless::message_record> boxes;

  ui_handle next_handle = 0x1000;
  ui_handle control_parent = 0;
  window_hook hook = nullptr;
  event_queue<int> events;  // windows by number
  int screen_width = default_screen_width, screen_height = default_screen_height;
  int focus = -1;
  int active_window = -1;
  int creations = 0;
  toolkit_selection selection;
  // The platform's double-click detection: the control, spot and time of
  // the click before; control -1 when the next click starts afresh.
  int last_click_control = -1;
  int last_click_spot = 0;
  std::chrono::steady_clock::time_point last_click_time;
  std::chrono::milliseconds double_click_time = default_double_click_time;
  std::function<void(int)> end_observer;

  ui_handle new_handle() {
    next_handle += 0x10;
    return next_handle;
  }

  int window_number(ui_handle handle) const {
    if (!handle) return -1;
    return windows.find_number([&](const headless::window_info& w) { return w.handle == handle; });
  }

  void push(queued_message message) {
    input.push_back(std::move(message));
    queued.notify_all();
  }

  // Whether a click on a spot of the control (a list's item, else the
  // control itself) is the second of a double-click.
  bool double_click(int control, int spot) {
    const auto now = std::chrono::steady_clock::now();
    const bool second = control == last_click_control && spot == last_click_spot &&
                        now - last_click_time < double_click_time;
    last_click_control = second ? -1 : control;
    last_click_spot = spot;
    last_click_time = now;
    return second;
  }

  void remove_window(int number) {
    std::unique_ptr<headless::window_info> window = windows.take(number);
    if (!window) return;
    for (const auto& control :
         controls.take_if([&](const headless::control_info& c) { return c.window == number; }))
      forget_control(*control);
    status_bars.take_if([&](const headless::status_bar_info& bar) { return bar.window == number; });
    if (control_parent == window->handle) control_parent = 0;
    if (active_window == number) active_window = -1;
  }

  // What the native objects leave behind when they go: a list's copies of
  // its icons, the focus, the selection's font or image.
  void forget_control(const headless::control_info& control) {
    for (const auto& item : control.items) list_icons.erase(item.icon);
    if (focus == control.number) focus = -1;
  }
  template <class T>
  void forget(const std::unique_ptr<T>& old) {
    if (!old) return;
    if constexpr (std::is_same_v<T, headless::control_info>) forget_control(*old);
    if constexpr (std::is_same_v<T, image_record>) selection.image_freed(old->handle);
    if constexpr (std::is_same_v<T, font_record>) selection.font_freed(old->handle);
  }

  void remove_image(int number) { forget(images.take(number)); }

  // The number a new object takes (the old object under it gone), -1 when
  // refused.
  template <class T>
  int prepare(object_table<T>& table, int number) {
    std::unique_ptr<T> old;
    const int n = table.replace(number, old);
    forget(old);
    return n;
  }

  void clear() {
    windows.take_all();
    controls.take_all();
    status_bars.take_all();
    fonts.take_all();
    images.take_all();
    list_icons.clear();
    brushes.clear();
    device_contexts.clear();
    input.clear();
    boxes.clear();
    control_parent = 0;
    selection = {};
    hook = nullptr;
    events.clear();
    screen_width = default_screen_width, screen_height = default_screen_height;
    focus = active_window = -1;
    creations = 0;
    last_click_control = -1;
    double_click_time = default_double_click_time;
    end_observer = nullptr;
  }
};

// Never destroyed: worker threads that are never joined may still call in
// while the process ends.
toolkit_state& state() {
  static toolkit_state* s = new toolkit_state;
  return *s;
}

using lock = std::lock_guard<std::mutex>;

// The result of a creating operation: the new identifier for -1, else the
// handle.
ui_handle creation_result(int requested, int number, ui_handle handle) {
  return requested == -1 ? static_cast<ui_handle>(number) : handle;
}

ui_handle add_control(int number, headless::control_kind kind, int x, int y, int width, int height,
                      const std::string& text, int flags,
                      void (*fill)(headless::control_info&, const void*), const void* extra) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const int window = s.window_number(s.control_parent);
  if (window < 0) return 0;
  const int n = s.prepare(s.controls, number);
  if (n < 0) return 0;
  auto control = std::make_unique<headless::control_info>();
  control->number = n;
  control->window = window;
  control->handle = s.new_handle();
  control->kind = kind;
  control->where = {x, y, std::max(width, 0), std::max(height, 0)};
  control->flags = flags;
  control->text = text;
  control->font = s.selection.default_font;
  control->creation_index = ++s.creations;
  if (fill) fill(*control, extra);
  const ui_handle handle = control->handle;
  s.controls.put(n, std::move(control));
  return creation_result(number, n, handle);
}

bool raises_events(headless::control_kind kind) {
  using headless::control_kind;
  return kind == control_kind::image || kind == control_kind::image_button ||
         kind == control_kind::link || kind == control_kind::icon_list;
}

// The input message during whose handling the control sends these
// notifications (the first one decides which input that is).
queued_message control_input(toolkit_state& s, const headless::control_info& c,
                             std::initializer_list<int> notifications) {
  queued_message m;
  m.input = notification_input(c.kind, *notifications.begin());
  m.window = c.window;
  if (const headless::window_info* w = s.windows.find(c.window)) m.window_handle = w->handle;
  for (int notification : notifications) {
    sent_message sent;
    sent.message = c.kind == headless::control_kind::icon_list ? message_notify : message_command;
    sent.control = c.number;
    sent.kind = c.kind;
    sent.notification = notification;
    sent.control_handle = c.handle;
    m.sent.push_back(sent);
  }
  return m;
}

// What a click on the control notifies, as the platform's controls do.
int click_notification(headless::control_kind kind, bool double_click) {
  switch (kind) {
    case headless::control_kind::image_button:
      return double_click ? notify_button_double_clicked : notify_clicked;
    case headless::control_kind::image:
      return double_click ? notify_static_double_clicked : notify_clicked;
    case headless::control_kind::icon_list:
      return double_click ? notify_list_double_click : notify_list_click;
    default:
      return notify_clicked;  // the link: the release of the button
  }
}

}  // namespace

// ---- Windows ----------------------------------------------------------------

ui_handle open_window(int number, int x, int y, int width, int height, unsigned flags,
                      const std::string& title) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (number != -1) s.remove_window(number);
  const int n = s.prepare(s.windows, number);
  if (n < 0) return 0;
  auto window = std::make_unique<headless::window_info>();
  window->number = n;
  window->handle = s.new_handle();
  window->flags = flags;
  window->style = window_style_bits(flags);
  window->inner_width = std::max(width, 0);
  window->inner_height = std::max(height, 0);
  int frame_x = 0, frame_y = 0;
  if (window->style & (style_dialog_frame | style_thick_frame)) {
    frame_x = frame_y = headless::frame_width;
  } else if (window->style & style_border) {
    frame_x = frame_y = 2;
  }
  if ((window->style & style_caption) == style_caption) frame_y += caption_height;
  window->outer = {x, y, window->inner_width + frame_x, window->inner_height + frame_y};
  if (flags & window_centred) {
    window->outer.x = centred_position(s.screen_width, window->outer.width);
    window->outer.y = centred_position(s.screen_height, window->outer.height);
  }
  window->title = title;
  window->visible = !(flags & window_hidden);
  if (window->visible) s.active_window = n;
  const ui_handle handle = window->handle;
  s.windows.put(n, std::move(window));
  return creation_result(number, n, handle);
}

ui_handle window_handle(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const headless::window_info* w = s.windows.find(number);
  return w ? w->handle : 0;
}

void show_window(int number, int hide) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (headless::window_info* w = s.windows.find(number)) {
    w->visible = hide == 0;
    if (w->visible) s.active_window = number;
  }
}

void close_window(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.remove_window(number);
}

void close_all_windows() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  std::vector<int> numbers;
  s.windows.for_each([&](int n, const headless::window_info&) { numbers.push_back(n); });
  for (int n : numbers) s.remove_window(n);
}

void set_window_title(int number, const std::string& text) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (headless::window_info* w = s.windows.find(number)) w->title = text;
}

void set_window_background(int number, int colour) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (headless::window_info* w = s.windows.find(number)) w->background = colour & 0xFFFFFF;
}

void set_window_topmost(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (headless::window_info* w = s.windows.find(number)) w->topmost = true;
}

// ---- Controls ---------------------------------------------------------------

int begin_controls(ui_handle window) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (s.window_number(window) < 0) return 0;
  s.control_parent = window;
  return 1;
}

ui_handle create_text(int number, int x, int y, int width, int height, const std::string& text,
                      int flags) {
  return add_control(number, headless::control_kind::text, x, y, width, height, text, flags,
                     nullptr, nullptr);
}

ui_handle create_frame(int number, int x, int y, int width, int height, const std::string& title) {
  return add_control(number, headless::control_kind::frame, x, y, width, height, title, 0, nullptr,
                     nullptr);
}

ui_handle create_progress_bar(int number, int x, int y, int width, int height, int minimum,
                              int maximum, int flags) {
  const int range[2] = {minimum, maximum};
  return add_control(
      number, headless::control_kind::progress_bar, x, y, width, height, {}, flags,
      [](headless::control_info& c, const void* extra) {
        const int* r = static_cast<const int*>(extra);
        c.minimum = r[0];
        c.maximum = r[1];
        c.state = r[0];
      },
      range);
}

namespace {
void fill_image(headless::control_info& c, const void* extra) {
  c.image = *static_cast<const ui_handle*>(extra);
}
}  // namespace

ui_handle create_image(int number, int x, int y, int width, int height, ui_handle image) {
  return add_control(number, headless::control_kind::image, x, y, width, height, {}, 0, fill_image,
                     &image);
}

ui_handle create_image_button(int number, int x, int y, int width, int height, ui_handle image) {
  return add_control(number, headless::control_kind::image_button, x, y, width, height, {}, 0,
                     fill_image, &image);
}

ui_handle create_icon_list(int number, int x, int y, int width, int height,
                           const std::string& column_title, int column_width, unsigned flags) {
  const std::pair<const std::string&, int> column{column_title, column_width};
  return add_control(
      number, headless::control_kind::icon_list, x, y, width, height, {},
      static_cast<int>(icon_list_flags(flags)),
      [](headless::control_info& c, const void* extra) {
        const auto& given = *static_cast<const std::pair<const std::string&, int>*>(extra);
        c.columns = {given.first};
        c.column_widths = {given.second};
        c.view_mode = 3;
      },
      &column);
}

ui_handle create_link(int number, int x, int y, int width, int height, const std::string& text,
                      int hover_colour) {
  return add_control(
      number, headless::control_kind::link, x, y, width, height, text, 0,
      [](headless::control_info& c, const void* extra) {
        c.hover_colour = *static_cast<const int*>(extra) & 0xFFFFFF;
      },
      &hover_colour);
}

ui_handle control_handle(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const headless::control_info* c = s.controls.find(number);
  return c ? c->handle : 0;
}

void set_control_state(int number, int value) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::control_info* c = s.controls.find(number);
  if (!c || c->kind != headless::control_kind::progress_bar) return;
  const int low = std::min(c->minimum, c->maximum), high = std::max(c->minimum, c->maximum);
  c->state = std::clamp(value, low, high);
}

void set_control_text(int number, const std::string& text) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (headless::control_info* c = s.controls.find(number)) c->text = text;
}

std::string get_control_text(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const headless::control_info* c = s.controls.find(number);
  if (!c) return {};
  if (c->kind == headless::control_kind::icon_list) {
    for (const auto& item : c->items)
      if (item.selected) return list_item_text(item.text);
    return {};
  }
  return capped_control_text(c->text);
}

void disable_control(int number, int state_value) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::control_info* c = s.controls.find(number);
  if (!c) return;
  c->enabled = state_value == 0;
  // A disabled control loses the keyboard focus, as on the platform.
  if (!c->enabled && s.focus == number) s.focus = -1;
}

void set_control_font(int number, ui_handle font) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (number == -1) {
    s.selection.default_font = font;
  } else if (headless::control_info* c = s.controls.find(number)) {
    c->font = font;
  }
}

void add_control_item(int number, int position, const std::string& text, ui_handle image) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::control_info* c = s.controls.find(number);
  if (!c || c->kind != headless::control_kind::icon_list) return;
  headless::list_item item;
  item.text = text;
  if (image) {
    // Copied into the shared storage, so the caller may free its image.
    const int source =
        s.images.find_number([&](const image_record& r) { return r.handle == image; });
    if (source >= 0) {
      item.icon = s.new_handle();
      s.list_icons[item.icon] = s.images.find(source)->info;
    }
  }
  if (position < 0 || static_cast<std::size_t>(position) >= c->items.size()) {
    c->items.push_back(std::move(item));
  } else {
    c->items.insert(c->items.begin() + position, std::move(item));
  }
}

void clear_control_items(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::control_info* c = s.controls.find(number);
  if (!c || c->kind != headless::control_kind::icon_list) return;
  for (const auto& item : c->items) s.list_icons.erase(item.icon);
  c->items.clear();
}

void set_control_redraw(int number, int state_value) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  if (headless::control_info* c = s.controls.find(number)) c->redraw = state_value != 0;
}

void set_icon_list_view(int number, int mode) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::control_info* c = s.controls.find(number);
  if (c && c->kind == headless::control_kind::icon_list && mode >= 0 && mode <= 3)
    c->view_mode = mode;
}

// ---- Status bar ---------------------------------------------------------------

ui_handle create_status_bar(int number, ui_handle window) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const int owner = s.window_number(window);
  if (owner < 0) return 0;
  const int n = s.prepare(s.status_bars, number);
  if (n < 0) return 0;
  auto bar = std::make_unique<headless::status_bar_info>();
  bar->number = n;
  bar->window = owner;
  bar->texts = {""};
  bar->text_flags = {0};
  s.status_bars.put(n, std::move(bar));
  s.selection.last_status_bar = n;
  // Status bars are controls of the platform; give them a handle of their own.
  return creation_result(number, n, s.new_handle());
}

void add_status_bar_field(int width) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::status_bar_info* bar = s.status_bars.find(s.selection.last_status_bar);
  if (!bar || !add_status_field(bar->field_ends, width)) return;
  const std::size_t fields = bar->field_ends.size();
  bar->texts.resize(fields);
  bar->text_flags.resize(fields);
}

void set_status_bar_text(int number, int field, const std::string& text, int flags) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  headless::status_bar_info* bar = s.status_bars.find(number);
  if (!bar || field < 0 || static_cast<std::size_t>(field) >= bar->texts.size()) return;
  bar->texts[field] = text;
  bar->text_flags[field] = flags;
}

// ---- Fonts --------------------------------------------------------------------

ui_handle load_font(int number, const std::string& face, int size, int flags) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const int n = s.prepare(s.fonts, number);
  if (n < 0) return 0;
  auto font = std::make_unique<font_record>();
  font->handle = s.new_handle();
  font->info.face = face;
  font->info.height = font_pixel_height(size, dots_per_inch);
  font->info.weight = flags & font_bold ? 700 : 400;
  font->info.italic = flags & font_italic;
  font->info.underline = flags & font_underline;
  font->info.strikeout = flags & font_strikeout;
  font->info.high_quality = flags & font_high_quality;
  const ui_handle handle = font->handle;
  s.fonts.put(n, std::move(font));
  return creation_result(number, n, handle);
}

void free_all_fonts() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.fonts.take_all();
  s.selection.all_fonts_freed();
}

// ---- Images -------------------------------------------------------------------

namespace {
ui_handle store_image(int number, decode_result result, const decoded_image& decoded, int n) {
  toolkit_state& s = state();
  if (result != decode_result::ok) return 0;
  auto image = std::make_unique<image_record>();
  image->handle = s.new_handle();
  image->info.width = decoded.width;
  image->info.height = decoded.height;
  image->info.icon = decoded.kind == image_kind::icon;
  const ui_handle handle = image->handle;
  s.images.put(n, std::move(image));
  return creation_result(number, n, handle);
}
}  // namespace

ui_handle catch_image(int number, const void* data, std::size_t size) {
  toolkit_state& s = state();
  {
    lock guard(s.mutex);
    if (number != -1) s.remove_image(number);
  }
  decoded_image decoded;
  const decode_result result = decode_image_data(data, size, decoded);
  lock guard(s.mutex);
  const int n = s.prepare(s.images, number);
  if (n < 0) return 0;
  return store_image(number, result, decoded, n);
}

ui_handle load_image(int number, const std::string& path) {
  toolkit_state& s = state();
  {
    lock guard(s.mutex);
    if (number != -1) s.remove_image(number);
  }
  decoded_image decoded;
  std::vector<std::uint8_t> contents;
  const decode_result result = decode_image_file(path, decoded, contents);
  lock guard(s.mutex);
  const int n = s.prepare(s.images, number);
  if (n < 0) return 0;
  return store_image(number, result, decoded, n);
}

ui_handle image_handle(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const image_record* image = s.images.find(number);
  return image ? image->handle : 0;
}

ui_handle use_image(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const image_record* image = s.images.find(number);
  if (!image) return 0;
  s.selection.current_image = image->handle;
  return image->handle;
}

ui_handle current_image_handle() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  return s.selection.current_image;
}

int is_image(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  return s.images.find(number) ? 1 : 0;
}

void free_image(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.remove_image(number);
}

void free_all_images() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.images.take_all();
  s.selection.all_images_freed();
}

// ---- Events -------------------------------------------------------------------

void set_window_hook(window_hook hook) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.hook = hook;
}

int wait_window_event() {
  toolkit_state& s = state();
  queued_message message;
  window_hook hook;
  {
    std::unique_lock<std::mutex> guard(s.mutex);
    const auto window_number = [&](int n) { return s.windows.find(n) ? n : -1; };
    if (!s.events.empty()) return s.events.deliver(window_number);
    s.queued.wait(guard, [&] { return !s.input.empty(); });
    message = std::move(s.input.front());
    s.input.pop_front();
    hook = s.hook;
  }
  // Handling the input sends the window its messages: the hook sees each
  // first, and any answer but the marker means it handled it, which then
  // makes no event.
  for (const sent_message& sent : message.sent) {
    if (hook) {
      std::uintptr_t first = 0;
      if (sent.message == message_command) {
        first = (static_cast<std::uintptr_t>(sent.notification & 0xFFFF) << 16) |
                (static_cast<unsigned>(sent.control) & 0xFFFF);
      } else if (sent.message == message_notify) {
        first = static_cast<unsigned>(sent.control);
      }
      // WM_NOTIFY points to its header, WM_COMMAND names the control.
      notify_header header{sent.control_handle, static_cast<std::uintptr_t>(sent.control),
                           static_cast<unsigned>(sent.notification)};
      const std::intptr_t second = sent.message == message_notify
                                       ? reinterpret_cast<std::intptr_t>(&header)
                                       : static_cast<std::intptr_t>(sent.control_handle);
      if (hook(message.window_handle, sent.message, first, second) != hook_marker) continue;
    }
    lock guard(s.mutex);
    if (sent.control < 0) {
      s.events.note(event_close_request, message.window);
    } else if (raises_control_event(sent.kind, sent.message, sent.notification)) {
      s.events.note(event_control_used, message.window, sent.control);
    }
  }
  lock guard(s.mutex);
  const auto window_number = [&](int n) { return s.windows.find(n) ? n : -1; };
  if (!s.events.empty()) return s.events.deliver(window_number);
  return s.events.returned(static_cast<int>(message.input), window_number(message.window), -1);
}

int event_window() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  return s.events.last_window();
}

int event_control() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  return s.events.last_control();
}

// ---- Painting helpers -----------------------------------------------------------

int system_colour(int index) {
  // The platform's default scheme, as colour values.
  switch (index) {
    case 5:
      return 0xFFFFFF;  // window
    case 8:
      return 0x000000;  // window text
    case 15:
      return 0xF0F0F0;  // button face
    case 16:
      return 0xA0A0A0;  // button shadow
    case 17:
      return 0x6D6D6D;  // grey text
    case 18:
      return 0x000000;  // button text
    case 20:
      return 0xFFFFFF;  // button highlight
    default:
      return 0;
  }
}

ui_handle create_solid_brush(int colour) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const ui_handle brush = s.new_handle();
  s.brushes[brush] = colour & 0xFFFFFF;
  return brush;
}

ui_handle hollow_brush() {
  return hollow_brush_handle;
}

void free_brush(ui_handle brush) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.brushes.erase(brush);
}

void set_text_colour(std::uintptr_t device_context, int colour) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  auto it = s.device_contexts.find(device_context);
  if (it != s.device_contexts.end()) it->second.text_colour = colour & 0xFFFFFF;
}

void set_background_mode(std::uintptr_t device_context, bool opaque) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  auto it = s.device_contexts.find(device_context);
  if (it != s.device_contexts.end()) it->second.opaque = opaque;
}

void set_background_colour(std::uintptr_t device_context, int colour) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  auto it = s.device_contexts.find(device_context);
  if (it != s.device_contexts.end()) it->second.background_colour = colour & 0xFFFFFF;
}

void toolkit_start() {}

// ---- The test's window onto the toolkit ----------------------------------------

namespace headless {

void set_screen_size(int width, int height) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.screen_width = width;
  s.screen_height = height;
}

std::optional<window_info> window(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const window_info* w = s.windows.find(number);
  if (!w) return std::nullopt;
  return *w;
}

std::optional<control_info> control(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const control_info* c = s.controls.find(number);
  if (!c) return std::nullopt;
  return *c;
}

std::optional<status_bar_info> status_bar(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const status_bar_info* bar = s.status_bars.find(number);
  if (!bar) return std::nullopt;
  return *bar;
}

std::optional<font_info> font(ui_handle handle) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const int n = s.fonts.find_number([&](const font_record& f) { return f.handle == handle; });
  if (n < 0) return std::nullopt;
  return s.fonts.find(n)->info;
}

std::optional<image_info> image(ui_handle handle) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const int n = s.images.find_number([&](const image_record& r) { return r.handle == handle; });
  if (n >= 0) return s.images.find(n)->info;
  auto it = s.list_icons.find(handle);
  if (it != s.list_icons.end()) return it->second;
  return std::nullopt;
}

void request_close(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const window_info* w = s.windows.find(number);
  if (!w) return;
  queued_message m;
  m.input = message_close_box_down;
  m.window = number;
  m.window_handle = w->handle;
  m.sent.push_back({message_close, -1, control_kind::text, 0, 0});
  s.push(std::move(m));
}

bool click(int number) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const control_info* c = s.controls.find(number);
  if (!c || !c->enabled || !c->visible || !raises_events(c->kind)) {
    s.last_click_control = -1;
    return false;
  }
  s.push(control_input(s, *c, {click_notification(c->kind, s.double_click(number, -1))}));
  return true;
}

bool select_item(int number, int index) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  control_info* c = s.controls.find(number);
  if (!c || c->kind != control_kind::icon_list || !c->enabled || !c->visible) {
    s.last_click_control = -1;
    return false;
  }
  if (index < -1 || index >= static_cast<int>(c->items.size())) return false;
  // The second click on the same spot is a double-click: the list reports
  // it and activates the item under it; nothing changes.
  if (s.double_click(number, index)) {
    s.push(index >= 0 ? control_input(s, *c, {notify_list_double_click, notify_list_item_activated})
                      : control_input(s, *c, {notify_list_double_click}));
    return true;
  }
  // As the button goes down, one item change per change of an item's
  // state: the selection leaves the other items, the focus leaves the item
  // that had it, and the clicked item takes both at once. The click follows
  // as the button comes up.
  queued_message down = control_input(s, *c, {notify_list_item_changed});
  const sent_message change = down.sent.front();
  down.sent.clear();
  for (int i = 0; i < static_cast<int>(c->items.size()); ++i) {
    list_item& item = c->items[i];
    if (i != index && item.selected) {
      item.selected = false;
      down.sent.push_back(change);
    }
  }
  if (index >= 0) {
    for (int i = 0; i < static_cast<int>(c->items.size()); ++i) {
      list_item& item = c->items[i];
      if (i != index && item.focused) {
        item.focused = false;
        down.sent.push_back(change);
      }
    }
    list_item& clicked = c->items[index];
    if (!clicked.selected || !clicked.focused) {
      clicked.selected = clicked.focused = true;
      down.sent.push_back(change);
    }
  }
  if (!down.sent.empty()) s.push(std::move(down));
  s.push(control_input(s, *c, {notify_list_click}));
  return true;
}

void press_tab(bool backwards) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  const control_info* focused = s.controls.find(s.focus);
  const int window = focused ? focused->window : s.active_window;
  std::vector<const control_info*> order;
  s.controls.for_each([&](int, const control_info& c) {
    if (c.window == window && c.enabled && c.visible && accepts_focus(c.kind)) order.push_back(&c);
  });
  std::sort(order.begin(), order.end(), [](const control_info* a, const control_info* b) {
    return a->creation_index < b->creation_index;
  });
  const auto current = std::find(order.begin(), order.end(), focused);
  const int next = next_focus(
      static_cast<int>(order.size()),
      current == order.end() ? -1 : static_cast<int>(current - order.begin()), backwards);
  if (next >= 0) s.focus = order[next]->number;
}

void set_double_click_time(std::chrono::milliseconds time) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.double_click_time = time;
}

int focused_control() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  return s.controls.find(s.focus) ? s.focus : -1;
}

colour_answer paint_colours(int number) {
  toolkit_state& s = state();
  window_hook hook;
  ui_handle window = 0, control = 0, dc = 0;
  unsigned message = 0;
  {
    lock guard(s.mutex);
    const control_info* c = s.controls.find(number);
    if (!c || !s.hook) return {};
    switch (c->kind) {
      case control_kind::text:
      case control_kind::frame:
      case control_kind::image:
      case control_kind::link:
        message = message_colour_static;
        break;
      case control_kind::image_button:
        message = message_colour_button;
        break;
      default:
        return {};  // lists and progress bars ask for no colours
    }
    if (const window_info* w = s.windows.find(c->window)) window = w->handle;
    control = c->handle;
    hook = s.hook;
    dc = s.new_handle();
    s.device_contexts[dc] = device_context{};
  }
  const std::intptr_t result = hook(window, message, dc, static_cast<std::intptr_t>(control));
  lock guard(s.mutex);
  const device_context painted = s.device_contexts[dc];
  s.device_contexts.erase(dc);
  colour_answer answer;
  if (result == hook_marker) return answer;
  answer.hooked = true;
  answer.text_colour = painted.text_colour;
  answer.opaque = painted.opaque;
  answer.background_colour = painted.background_colour;
  auto brush = s.brushes.find(static_cast<ui_handle>(result));
  answer.brush_colour = brush == s.brushes.end() ? -1 : brush->second;
  return answer;
}

std::vector<int> image_numbers() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  std::vector<int> numbers;
  s.images.for_each([&](int n, const image_record&) { numbers.push_back(n); });
  return numbers;
}

void on_process_end(std::function<void(int)> observer) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.end_observer = std::move(observer);
}

void process_ending(int exit_code) {
  toolkit_state& s = state();
  std::function<void(int)> observer;
  {
    lock guard(s.mutex);
    observer = s.end_observer;
  }
  if (observer) observer(exit_code);
}

std::vector<message_record> message_boxes() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  return s.boxes;
}

void record_message_box(const std::string& title, const std::string& text, int flags) {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.boxes.push_back({title, text, flags});
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void reset() {
  toolkit_state& s = state();
  lock guard(s.mutex);
  s.clear();
}

}  // namespace headless
