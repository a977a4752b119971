// The toolkit's windows on Windows: the window class and procedure, which
// turns the platform's messages into the toolkit's events, the window
// operations, keyboard navigation between controls and the event loop.
#include "win32/toolkit_win_internal.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "system_library_win.h"

// The shared rule of control events speaks in the platform's numbers.
static_assert(message_command == WM_COMMAND && message_notify == WM_NOTIFY);
static_assert(message_close_box_down == WM_NCLBUTTONDOWN);
static_assert(sizeof(notify_header) == sizeof(NMHDR) &&
              offsetof(notify_header, from) == offsetof(NMHDR, hwndFrom) &&
              offsetof(notify_header, id) == offsetof(NMHDR, idFrom) &&
              offsetof(notify_header, code) == offsetof(NMHDR, code));
static_assert(notify_clicked == BN_CLICKED && notify_clicked == STN_CLICKED);
static_assert(notify_button_double_clicked == BN_DOUBLECLICKED);
static_assert(notify_static_double_clicked == STN_DBLCLK);
static_assert(notify_list_click == static_cast<int>(NM_CLICK) &&
              notify_list_double_click == static_cast<int>(NM_DBLCLK) &&
              notify_list_right_click == static_cast<int>(NM_RCLICK) &&
              notify_list_right_double_click == static_cast<int>(NM_RDBLCLK) &&
              notify_list_item_changed == static_cast<int>(LVN_ITEMCHANGED) &&
              notify_list_item_activated == static_cast<int>(LVN_ITEMACTIVATE));

namespace toolkit_win {

sync_recursive_mutex tables_mutex;
object_table<window_record> windows;
object_table<control_record> controls;
object_table<status_record> status_bars;
object_table<font_record> fonts;
object_table<image_record> images;
int creations = 0;
toolkit_selection selection;
HWND control_parent = nullptr;
common_controls_api controls_api;

int window_number_of(HWND hwnd) {
  if (!hwnd) return -1;
  lock guard(tables_mutex);
  return windows.find_number([&](const window_record& w) { return w.hwnd.get() == hwnd; });
}

bool view_control(int number, control_view& view) {
  lock guard(tables_mutex);
  const control_record* c = controls.find(number);
  if (!c) return false;
  view = {c->hwnd.get(), c->kind, c->number, c->minimum, c->maximum, c->image, c->hover_colour};
  return true;
}

bool view_control_by_handle(HWND hwnd, control_view& view) {
  if (!hwnd) return false;
  lock guard(tables_mutex);
  const int number =
      controls.find_number([&](const control_record& c) { return c.hwnd.get() == hwnd; });
  return number >= 0 && view_control(number, view);
}

HWND window_hwnd(int number) {
  lock guard(tables_mutex);
  const window_record* w = windows.find(number);
  return w ? w->hwnd.get() : nullptr;
}

}  // namespace toolkit_win

using namespace toolkit_win;

namespace {

// State of the event loop's thread only.
window_hook hook = nullptr;
event_queue<HWND> events;  // windows: the top-level window of each event

constexpr char window_class[] = "ToolkitWindow";
constexpr WORD command_next_control = 0xFFF0;
constexpr WORD command_previous_control = 0xFFF1;

void note_event(int code, HWND window, int control = -1) {
  events.note(code, GetAncestor(window, GA_ROOT), control);
}

// ---- Keyboard navigation ----------------------------------------------------------

// Moves the focus to the next (or previous) control of the window, in
// creation order, that is enabled, visible and accepts the focus.
void move_focus(HWND window, bool backwards) {
  struct candidate {
    int creation;
    HWND hwnd;
  };
  std::vector<candidate> order;
  {
    lock guard(tables_mutex);
    controls.for_each([&](int, const control_record& c) {
      if (c.window == window && accepts_focus(c.kind)) order.push_back({c.creation, c.hwnd.get()});
    });
  }
  std::sort(order.begin(), order.end(),
            [](const candidate& a, const candidate& b) { return a.creation < b.creation; });
  order.erase(std::remove_if(order.begin(), order.end(),
                             [](const candidate& c) {
                               return !IsWindowEnabled(c.hwnd) || !IsWindowVisible(c.hwnd);
                             }),
              order.end());
  if (order.empty()) return;
  // The focus may sit in a part of a control (a list's header or editor).
  HWND focus = GetFocus();
  int current = -1;
  for (std::size_t i = 0; i < order.size(); ++i)
    if (focus && (order[i].hwnd == focus || IsChild(order[i].hwnd, focus)))
      current = static_cast<int>(i);
  SetFocus(order[next_focus(static_cast<int>(order.size()), current, backwards)].hwnd);
}

// ---- Window procedure ---------------------------------------------------------------

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM first, LPARAM second) {
  if (hook) {
    const std::intptr_t answer =
        hook(reinterpret_cast<ui_handle>(hwnd), message, static_cast<std::uintptr_t>(first),
             static_cast<std::intptr_t>(second));
    if (answer != hook_marker) return static_cast<LRESULT>(answer);
  }
  switch (message) {
    case WM_CLOSE:
      // The program decides; the window stays.
      note_event(event_close_request, hwnd);
      return 0;
    case WM_COMMAND: {
      if (second == 0) {
        const WORD id = LOWORD(first);
        if (HIWORD(first) == 1 && (id == command_next_control || id == command_previous_control)) {
          move_focus(hwnd, id == command_previous_control);
          return 0;
        }
        note_event(event_menu, hwnd);
        return 0;
      }
      control_view view;
      if (!view_control_by_handle(reinterpret_cast<HWND>(second), view)) break;
      // The image buttons are owner-drawn, so the second of two quick clicks
      // comes as BN_DOUBLECLICKED; the rule counts it as the click it is.
      if (raises_control_event(view.kind, WM_COMMAND, HIWORD(first)))
        note_event(event_control_used, hwnd, view.number);
      return 0;
    }
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(second);
      if (header && (header->code == LVN_GETDISPINFOA || header->code == LVN_GETDISPINFOW)) {
        // The item part of both kinds of the notification is laid out alike.
        give_item_icon(header->hwndFrom, reinterpret_cast<NMLVDISPINFOA*>(second)->item);
        return 0;
      }
      if (header && header->code == LVN_DELETEITEM)
        forget_item_icon(reinterpret_cast<const NMLISTVIEW*>(second)->lParam);
      control_view view;
      if (header && view_control_by_handle(header->hwndFrom, view) &&
          raises_control_event(view.kind, WM_NOTIFY, static_cast<int>(header->code)))
        note_event(event_control_used, hwnd, view.number);
      break;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(second);
      if (item && item->CtlType == ODT_BUTTON) {
        draw_image_button(*item);
        return TRUE;
      }
      break;
    }
    case WM_MOVE:
      note_event(event_moved, hwnd);
      break;
    case WM_SIZE:
      resize_status_bars(hwnd);
      if (first != SIZE_MINIMIZED) note_event(event_resized, hwnd);
      break;
    case WM_ACTIVATE:
      if (LOWORD(first) != WA_INACTIVE) note_event(event_activated, hwnd);
      break;
    case WM_ERASEBKGND: {
      HBRUSH background = nullptr;
      {
        lock guard(tables_mutex);
        const int number =
            windows.find_number([&](const window_record& w) { return w.hwnd.get() == hwnd; });
        if (number >= 0) background = windows.find(number)->background.get();
      }
      if (!background) break;
      RECT client;
      GetClientRect(hwnd, &client);
      FillRect(reinterpret_cast<HDC>(first), &client, background);
      return 1;
    }
  }
  return DefWindowProcA(hwnd, message, first, second);
}

}  // namespace

void toolkit_win::register_classes() {
  static bool registered = false;
  if (registered) return;
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA window{};
  window.cbSize = sizeof window;
  window.style = CS_DBLCLKS;
  window.lpfnWndProc = window_procedure;
  window.hInstance = instance;
  window.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
  window.hCursor = LoadCursor(nullptr, IDC_ARROW);
  window.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window.lpszClassName = window_class;
  RegisterClassExA(&window);

  WNDCLASSEXA link{};
  link.cbSize = sizeof link;
  link.style = CS_DBLCLKS;
  link.lpfnWndProc = link_procedure;
  link.hInstance = instance;
  link.hCursor = nullptr;  // set on WM_SETCURSOR
  link.lpszClassName = link_class;
  RegisterClassExA(&link);
  registered = true;
}

// ---- Windows ------------------------------------------------------------------------

ui_handle open_window(int number, int x, int y, int width, int height, unsigned flags,
                      const std::string& title) {
  if (!creatable_number(number)) return 0;
  register_classes();
  close_window(number);
  int claimed;
  {
    lock guard(tables_mutex);
    claimed = windows.claim(number);
  }
  if (claimed < 0) return 0;

  const DWORD style = window_style_bits(flags);
  RECT outer{0, 0, std::max(width, 0), std::max(height, 0)};
  AdjustWindowRectEx(&outer, style, FALSE, 0);
  const int outer_width = outer.right - outer.left, outer_height = outer.bottom - outer.top;
  if (flags & window_centred) {
    x = centred_position(GetSystemMetrics(SM_CXSCREEN), outer_width);
    y = centred_position(GetSystemMetrics(SM_CYSCREEN), outer_height);
  }
  HWND hwnd = CreateWindowExA(0, window_class, title.c_str(), style, x, y, outer_width,
                              outer_height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return 0;

  // Tab and Shift+Tab of this window move the focus between its controls.
  ACCEL keys[2] = {{FVIRTKEY, VK_TAB, command_next_control},
                   {FVIRTKEY | FSHIFT, VK_TAB, command_previous_control}};
  auto record = std::make_unique<window_record>();
  record->hwnd.reset(hwnd);
  record->shortcuts.reset(CreateAcceleratorTableA(keys, 2));
  {
    lock guard(tables_mutex);
    windows.put(claimed, std::move(record));
  }
  if (!(flags & window_hidden)) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
  }
  return number == -1 ? static_cast<ui_handle>(claimed) : reinterpret_cast<ui_handle>(hwnd);
}

ui_handle window_handle(int number) {
  return reinterpret_cast<ui_handle>(window_hwnd(number));
}

void show_window(int number, int hide) {
  HWND hwnd = window_hwnd(number);
  if (!hwnd) return;
  if (hide == 0) {
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);
    return;
  }
  HWND owner = GetWindow(hwnd, GW_OWNER);
  ShowWindow(hwnd, SW_HIDE);
  if (owner) SetActiveWindow(owner);
}

void close_window(int number) {
  std::unique_ptr<window_record> window;
  std::vector<std::unique_ptr<control_record>> window_controls;
  std::vector<std::unique_ptr<status_record>> window_bars;
  {
    lock guard(tables_mutex);
    window = windows.take(number);
    if (!window) return;
    const HWND closing = window->hwnd.get();
    window_controls =
        controls.take_if([&](const control_record& c) { return c.window == closing; });
    window_bars = status_bars.take_if(
        [&](const status_record& s) { return GetParent(s.hwnd.get()) == closing; });
  }
  if (control_parent == window->hwnd.get()) control_parent = nullptr;
  HWND owner = GetWindow(window->hwnd.get(), GW_OWNER);
  // The window takes its child windows with it.
  for (auto& c : window_controls) static_cast<void>(c->hwnd.release());
  for (auto& s : window_bars) static_cast<void>(s->hwnd.release());
  window.reset();
  if (owner) SetActiveWindow(owner);
}

void close_all_windows() {
  std::vector<int> numbers;
  {
    lock guard(tables_mutex);
    windows.for_each([&](int n, const window_record&) { numbers.push_back(n); });
  }
  for (int n : numbers) close_window(n);
}

void set_window_title(int number, const std::string& text) {
  if (HWND hwnd = window_hwnd(number))
    SendMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void set_window_background(int number, int colour) {
  HWND hwnd = window_hwnd(number);
  if (!hwnd) return;
  // A brush of the window's own, painted on WM_ERASEBKGND: the class's
  // brush would repaint every window of the toolkit.
  LOGBRUSH description{BS_SOLID, colour_ref(colour), 0};
  win::unique_brush brush(CreateBrushIndirect(&description));
  if (!brush) return;
  win::unique_brush old;  // deleted once the window no longer paints with it
  {
    lock guard(tables_mutex);
    window_record* w = windows.find(number);
    if (!w) return;
    old = std::move(w->background);
    w->background = std::move(brush);
  }
  InvalidateRect(hwnd, nullptr, TRUE);
}

void set_window_topmost(int number) {
  if (HWND hwnd = window_hwnd(number))
    SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// ---- Events ----------------------------------------------------------------------------

void set_window_hook(window_hook procedure) {
  hook = procedure;
  // Windows shown before the hook was installed were painted without it
  // (show_window paints at once): repaint them, controls included, so the
  // hook colours them from the next paint on.
  std::vector<HWND> open;
  {
    lock guard(tables_mutex);
    windows.for_each([&](int, const window_record& w) { open.push_back(w.hwnd.get()); });
  }
  for (HWND hwnd : open) {
    RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
  }
}

int wait_window_event() {
  if (!events.empty()) return events.deliver(window_number_of);
  MSG message;
  const BOOL got = GetMessageA(&message, nullptr, 0, 0);
  if (got == -1) return 0;
  bool translated = false;
  if (got) {
    HWND active = GetActiveWindow();
    HACCEL shortcuts = nullptr;
    {
      lock guard(tables_mutex);
      const int number =
          windows.find_number([&](const window_record& w) { return w.hwnd.get() == active; });
      if (number >= 0) shortcuts = windows.find(number)->shortcuts.get();
    }
    translated = shortcuts && TranslateAcceleratorA(active, shortcuts, &message);
  }
  if (!translated) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  if (!events.empty()) return events.deliver(window_number_of);
  return events.returned(
      static_cast<int>(message.message),
      window_number_of(message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr), -1);
}

int event_window() {
  return events.last_window();
}

int event_control() {
  return events.last_control();
}

void toolkit_start() {
  // On the main thread, whose activation context (the manifest) gives
  // version 6.
  common_controls_api& api = controls_api;
  if (!api.module) {
    api.module = load_system_library("comctl32.dll");
    bind_function(api.module, api.InitCommonControlsEx, "InitCommonControlsEx");
    api.images =
        bind_function(api.module, api.ImageList_Create, "ImageList_Create") &&
        bind_function(api.module, api.ImageList_ReplaceIcon, "ImageList_ReplaceIcon") &&
        bind_function(api.module, api.ImageList_GetIconSize, "ImageList_GetIconSize") &&
        bind_function(api.module, api.ImageList_Replace, "ImageList_Replace") &&
        bind_function(api.module, api.ImageList_GetImageCount, "ImageList_GetImageCount") &&
        bind_function(api.module, api.ImageList_SetImageCount, "ImageList_SetImageCount");
  }
  INITCOMMONCONTROLSEX controls_wanted{
      sizeof controls_wanted,
      ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  if (api.InitCommonControlsEx) api.InitCommonControlsEx(&controls_wanted);
  register_classes();
}
