// The toolkit on native Windows controls (user32, gdi32, comctl32).
//
// Numbered tables map numbers to window handles. The operations that worker
// threads may call look a number up under tables_mutex, copy what they need
// and release the lock before sending their one synchronous message, which
// the platform delivers on the window's own thread. The lock is never held
// while a window message may be sent, so the event loop's thread and a
// worker never wait on each other. Everything else runs on the thread of the
// event loop.
#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <shlwapi.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "system_library_win.h"
#include "thread_sync.h"
#include "toolkit.h"
#include "toolkit_core.h"
#include "win32/win_handles.h"

// The shared rule of control events speaks in the platform's numbers.
static_assert(message_command == WM_COMMAND && message_notify == WM_NOTIFY);
static_assert(notify_clicked == BN_CLICKED && notify_clicked == STN_CLICKED);
static_assert(notify_button_double_clicked == BN_DOUBLECLICKED);
static_assert(notify_static_double_clicked == STN_DBLCLK);
static_assert(notify_list_click == static_cast<int>(NM_CLICK) &&
              notify_list_double_click == static_cast<int>(NM_DBLCLK) &&
              notify_list_right_click == static_cast<int>(NM_RCLICK) &&
              notify_list_right_double_click == static_cast<int>(NM_RDBLCLK) &&
              notify_list_item_changed == static_cast<int>(LVN_ITEMCHANGED) &&
              notify_list_item_activated == static_cast<int>(LVN_ITEMACTIVATE));

namespace {

// ---- Owners -----------------------------------------------------------------

// Members are released in reverse order: a window goes before the
// accelerators and the brush it uses.
struct window_record {
  win::unique_brush background;  // null: the class's button-face brush
  win::unique_accelerators shortcuts;
  win::unique_window hwnd;
};

struct control_record {
  win::unique_window hwnd;
  control_kind kind = control_kind::text;
  int number = -1;
  HWND window = nullptr;  // the top-level window holding it
  int creation = 0;       // creation order, for keyboard navigation
  int minimum = 0, maximum = 0;
  HANDLE image = nullptr;  // shown by image controls and image buttons (not owned)
  int hover_colour = 0;
};

struct status_record {
  win::unique_window hwnd;
  std::vector<int> field_ends;
};

struct font_record {
  win::unique_font font;
};

// What a native image was made from: enough to make the same image again
// once its number has been freed (see add_control_item).
struct image_source {
  decoded_image decoded;           // bitmaps: the pixels; icons: kind and size
  std::vector<std::uint8_t> data;  // icons: the first image's bytes (icon_offset 0)
};

// One of the two, by the image's kind.
struct image_record {
  win::unique_icon icon;
  win::unique_bitmap bitmap;
  int width = 0, height = 0;
  std::shared_ptr<const image_source> source;
  HANDLE handle() const {
    return icon ? static_cast<HANDLE>(icon.get()) : static_cast<HANDLE>(bitmap.get());
  }
};

struct pending_event {
  int code = 0;
  HWND window = nullptr;  // top-level window
  int control = -1;
};

// Tables and the state shared with worker threads, under tables_mutex.
// Recursive, because destroying a record destroys its window, and the
// messages that sends come back into the window procedure on this thread.
sync_recursive_mutex tables_mutex;
using lock = std::lock_guard<sync_recursive_mutex>;
object_table<window_record> windows;
object_table<control_record> controls;
object_table<status_record> status_bars;
object_table<font_record> fonts;
object_table<image_record> images;
int creations = 0;
// Its last status bar is under tables_mutex, the rest is the event loop's.
toolkit_selection selection;

// State of the event loop's thread only.
HWND control_parent = nullptr;
window_hook hook = nullptr;
std::deque<pending_event> pending;
int last_code = 0, last_window = -1, last_control = -1;
HIMAGELIST small_icons = nullptr, large_icons = nullptr;
int stored_icons = 0;  // slots of the icon lists in use, the same in both

// The icon of a list item, by the item's key (its lParam): made into an icon
// of the lists' storage when a list first asks for it (index >= 0 from then
// on), forgotten when the item is deleted.
struct item_icon {
  std::shared_ptr<const image_source> source;
  int index = -1;
};
std::map<LPARAM, item_icon> item_icons;
LPARAM last_item_key = 0;
void give_item_icon(HWND list, LVITEMA& asked);

// The common controls are loaded by toolkit_start, not imported: the loader
// would resolve the DLLs that they import (uxtheme) from the program's
// folder first, before restrict_library_search could run.
struct common_controls_api {
  HMODULE module = nullptr;
  decltype(&::InitCommonControlsEx) InitCommonControlsEx = nullptr;
  decltype(&::ImageList_Create) ImageList_Create = nullptr;
  decltype(&::ImageList_ReplaceIcon) ImageList_ReplaceIcon = nullptr;
  decltype(&::ImageList_GetIconSize) ImageList_GetIconSize = nullptr;
  decltype(&::ImageList_Replace) ImageList_Replace = nullptr;
  decltype(&::ImageList_GetImageCount) ImageList_GetImageCount = nullptr;
  decltype(&::ImageList_SetImageCount) ImageList_SetImageCount = nullptr;
  bool images = false;  // every ImageList_ function found
} controls_api;

constexpr char window_class[] = "ToolkitWindow";
constexpr char link_class[] = "ToolkitLink";
constexpr WORD command_next_control = 0xFFF0;
constexpr WORD command_previous_control = 0xFFF1;
// Events noted while nothing reads them are kept up to this many.
constexpr std::size_t max_pending_events = 1024;

// ---- Look-ups ---------------------------------------------------------------

int window_number_of(HWND hwnd) {
  if (!hwnd) return -1;
  lock guard(tables_mutex);
  return windows.find_number([&](const window_record& w) { return w.hwnd.get() == hwnd; });
}

// A copy of what a control operation needs, taken under the lock.
struct control_view {
  HWND hwnd = nullptr;
  control_kind kind = control_kind::text;
  int number = -1;
  int minimum = 0, maximum = 0;
  HANDLE image = nullptr;
  int hover_colour = 0;
};

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

void note_event(int code, HWND window, int control = -1) {
  if (pending.size() >= max_pending_events) pending.pop_front();
  pending.push_back({code, GetAncestor(window, GA_ROOT), control});
}

COLORREF colour_ref(int colour) {
  return static_cast<COLORREF>(colour & 0xFFFFFF);
}

// ---- Images -----------------------------------------------------------------

// The native object of a decoded image: a 24-bit DIB section for bitmaps
// and JPEG, an icon for icon files.
HANDLE make_native_image(const decoded_image& decoded, const std::uint8_t* data) {
  if (decoded.kind == image_kind::icon) {
    // CreateIconFromResourceEx wants a writable, separately held copy.
    std::vector<BYTE> resource(data + decoded.icon_offset,
                               data + decoded.icon_offset + decoded.icon_size);
    return CreateIconFromResourceEx(resource.data(), static_cast<DWORD>(resource.size()), TRUE,
                                    0x00030000, decoded.width, decoded.height, LR_DEFAULTCOLOR);
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = decoded.width;
  info.bmiHeader.biHeight = -decoded.height;  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return bitmap;
  const std::size_t row = static_cast<std::size_t>(decoded.width) * 3;
  const std::size_t stride = (row + 3) & ~std::size_t{3};
  auto* target = static_cast<std::uint8_t*>(bits);
  for (int y = 0; y < decoded.height; ++y)
    std::copy_n(decoded.pixels.data() + y * row, row, target + y * stride);
  GdiFlush();
  return bitmap;
}

ui_handle store_image(int requested, decode_result result, decoded_image decoded,
                      const std::uint8_t* data) {
  if (result != decode_result::ok) return 0;
  auto source = std::make_shared<image_source>();
  if (decoded.kind == image_kind::icon) {
    source->data.assign(data + decoded.icon_offset, data + decoded.icon_offset + decoded.icon_size);
    decoded.icon_offset = 0;
  }
  source->decoded = std::move(decoded);
  auto record = std::make_unique<image_record>();
  const HANDLE handle = make_native_image(source->decoded, source->data.data());
  if (!handle) return 0;
  if (source->decoded.kind == image_kind::icon) {
    record->icon.reset(static_cast<HICON>(handle));
  } else {
    record->bitmap.reset(static_cast<HBITMAP>(handle));
  }
  record->width = source->decoded.width;
  record->height = source->decoded.height;
  record->source = std::move(source);
  lock guard(tables_mutex);
  const int number = images.claim(requested);
  if (number < 0) return 0;
  std::unique_ptr<image_record> old = images.put(number, std::move(record));
  return requested == -1 ? static_cast<ui_handle>(number) : reinterpret_cast<ui_handle>(handle);
}

// Size and kind of an image handle, ours or the platform's; false when it
// is no live bitmap or icon.
bool image_facts(HANDLE image, bool& icon, int& width, int& height) {
  if (!image) return false;
  {
    lock guard(tables_mutex);
    const int number =
        images.find_number([&](const image_record& r) { return r.handle() == image; });
    if (number >= 0) {
      const image_record* r = images.find(number);
      icon = r->icon.valid(), width = r->width, height = r->height;
      return true;
    }
  }
  if (GetObjectType(image) == OBJ_BITMAP) {
    BITMAP bitmap{};
    if (!GetObject(image, sizeof bitmap, &bitmap)) return false;
    icon = false, width = bitmap.bmWidth, height = std::abs(bitmap.bmHeight);
    return true;
  }
  ICONINFO info{};
  if (!GetIconInfo(static_cast<HICON>(image), &info)) return false;
  // Copies made for the caller.
  const win::unique_bitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAP bitmap{};
  if (info.hbmColor) {
    GetObject(info.hbmColor, sizeof bitmap, &bitmap);
  } else if (info.hbmMask) {
    GetObject(info.hbmMask, sizeof bitmap, &bitmap);
    bitmap.bmHeight /= 2;  // the mask holds both halves
  }
  icon = true, width = bitmap.bmWidth, height = bitmap.bmHeight;
  return width > 0 && height > 0;
}

// ---- Themes -----------------------------------------------------------------

// uxtheme is loaded at run time: the programs must start where it is
// missing or themes are off, and then draw classic buttons.
struct theme_api {
  using is_themed_fn = BOOL(WINAPI*)();
  using open_fn = HTHEME(WINAPI*)(HWND, LPCWSTR);
  using close_fn = HRESULT(WINAPI*)(HTHEME);
  using draw_fn = HRESULT(WINAPI*)(HTHEME, HDC, int, int, const RECT*, const RECT*);
  using parent_fn = HRESULT(WINAPI*)(HWND, HDC, const RECT*);
  is_themed_fn is_themed = nullptr;
  open_fn open = nullptr;
  close_fn close = nullptr;
  draw_fn draw = nullptr;
  parent_fn parent_background = nullptr;
  bool common_controls_6 = false;
};

const theme_api& themes() {
  static const theme_api api = [] {
    theme_api a;
    if (HMODULE ux = load_system_library("uxtheme.dll")) {
      bind_function(ux, a.is_themed, "IsAppThemed");
      bind_function(ux, a.open, "OpenThemeData");
      bind_function(ux, a.close, "CloseThemeData");
      bind_function(ux, a.draw, "DrawThemeBackground");
      bind_function(ux, a.parent_background, "DrawThemeParentBackground");
    }
    // Buttons are drawn themed only by version 6 of the common controls.
    if (controls_api.module) {
      HRESULT(CALLBACK * get_version)(DLLVERSIONINFO*) = nullptr;
      if (bind_function(controls_api.module, get_version, "DllGetVersion")) {
        DLLVERSIONINFO version{};
        version.cbSize = sizeof version;
        if (SUCCEEDED(get_version(&version))) a.common_controls_6 = version.dwMajorVersion >= 6;
      }
    }
    return a;
  }();
  return api;
}

// ---- Image button -------------------------------------------------------------

// The platform draws the button face (themed or classic); the picture goes
// on top, centred on the face, clipped to the face less a margin, greyed and
// embossed while the button is disabled.
void draw_image_button(const DRAWITEMSTRUCT& item) {
  control_view view;
  if (!view_control_by_handle(item.hwndItem, view)) return;
  HDC dc = item.hDC;
  RECT face = item.rcItem;
  const bool disabled = item.itemState & ODS_DISABLED;
  const bool pushed = item.itemState & ODS_SELECTED;
  const bool focused = item.itemState & ODS_FOCUS;

  const theme_api& api = themes();
  HTHEME theme = nullptr;
  if (api.common_controls_6 && api.is_themed && api.open && api.draw && api.close &&
      api.is_themed())
    theme = api.open(item.hwndItem, L"BUTTON");
  int margin = 2;
  if (theme) {
    margin = 4;
    const int state = disabled  ? PBS_DISABLED
                      : pushed  ? PBS_PRESSED
                      : focused ? PBS_DEFAULTED
                                : PBS_NORMAL;
    if (api.parent_background) api.parent_background(item.hwndItem, dc, &face);
    api.draw(theme, dc, BP_PUSHBUTTON, state, &face, nullptr);
    api.close(theme);
  } else {
    DrawFrameControl(dc, &face, DFC_BUTTON,
                     DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0) | (disabled ? DFCS_INACTIVE : 0));
  }

  bool icon = false;
  int width = 0, height = 0;
  if (image_facts(view.image, icon, width, height)) {
    const int face_width = face.right - face.left, face_height = face.bottom - face.top;
    const int x = face.left + (face_width - width) / 2;
    const int y = face.top + (face_height - height) / 2;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, face.left + margin, face.top + margin, face.right - margin,
                      face.bottom - margin);
    const UINT flags = (icon ? DST_ICON : DST_BITMAP) | (disabled ? DSS_DISABLED : DSS_NORMAL);
    DrawStateA(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(view.image), 0, x, y, width, height,
               flags);
    RestoreDC(dc, saved);
  }
  if (focused && !disabled && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT focus = face;
    InflateRect(&focus, -(margin + 1), -(margin + 1));
    DrawFocusRect(dc, &focus);
  }
}

// ---- Link ---------------------------------------------------------------------

struct link_state {
  HFONT font = nullptr;
  bool hover = false;
};

link_state* link_of(HWND hwnd) {
  return reinterpret_cast<link_state*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void paint_link(HWND hwnd) {
  const win::paint_session paint(hwnd);
  const HDC dc = paint.dc();
  link_state* state = link_of(hwnd);
  RECT client;
  GetClientRect(hwnd, &client);
  // The background the window gives its static controls (and the hook's
  // background mode); the text colour is the link's own.
  HWND parent = GetParent(hwnd);
  auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
      parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
  if (brush) FillRect(dc, &client, brush);
  control_view view;
  const int hover_colour = view_control_by_handle(hwnd, view) ? view.hover_colour : 0;
  COLORREF colour = RGB(0, 0, 0);
  if (!IsWindowEnabled(hwnd)) {
    colour = GetSysColor(COLOR_GRAYTEXT);
  } else if (state && state->hover) {
    colour = colour_ref(hover_colour);
  }
  SetTextColor(dc, colour);
  const win::gdi_selection font(dc, state ? state->font : nullptr);
  char text[1024];
  const int length = GetWindowTextA(hwnd, text, sizeof text);
  DrawTextA(dc, text, length, &client, DT_LEFT | DT_TOP | DT_NOPREFIX | DT_WORDBREAK);
}

// Repaints the link together with the window's background under it, so a
// hook that paints static controls transparently still gets clean text.
void repaint_link(HWND hwnd) {
  HWND parent = GetParent(hwnd);
  RECT area;
  GetWindowRect(hwnd, &area);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&area), 2);
  RedrawWindow(parent, &area, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

LRESULT CALLBACK link_procedure(HWND hwnd, UINT message, WPARAM first, LPARAM second) {
  link_state* state = link_of(hwnd);
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new link_state));
      break;
    case WM_NCDESTROY:
      delete state;
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      break;
    case WM_SETFONT:
      if (state) state->font = reinterpret_cast<HFONT>(first);
      if (LOWORD(second)) repaint_link(hwnd);
      return 0;
    case WM_GETFONT:
      return state ? reinterpret_cast<LRESULT>(state->font) : 0;
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcA(hwnd, message, first, second);
      repaint_link(hwnd);
      return result;
    }
    case WM_ENABLE:
      repaint_link(hwnd);
      return 0;
    case WM_PAINT:
      paint_link(hwnd);
      return 0;
    case WM_ERASEBKGND:
      return 1;  // painted with the text
    case WM_MOUSEMOVE:
      if (state && !state->hover) {
        state->hover = true;
        TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, hwnd, 0};
        TrackMouseEvent(&track);
        repaint_link(hwnd);
      }
      return 0;
    case WM_MOUSELEAVE:
      if (state) state->hover = false;
      repaint_link(hwnd);
      return 0;
    case WM_SETCURSOR: {
      HCURSOR hand = LoadCursor(nullptr, IDC_HAND);
      SetCursor(hand ? hand : LoadCursor(nullptr, IDC_ARROW));
      return TRUE;
    }
    case WM_LBUTTONUP: {
      RECT client;
      GetClientRect(hwnd, &client);
      const POINT where{static_cast<short>(LOWORD(second)), static_cast<short>(HIWORD(second))};
      if (PtInRect(&client, where)) {
        SendMessageA(GetParent(hwnd), WM_COMMAND,
                     MAKEWPARAM(GetDlgCtrlID(hwnd) & 0xFFFF, STN_CLICKED),
                     reinterpret_cast<LPARAM>(hwnd));
      }
      return 0;
    }
    case WM_GETDLGCODE:
      return DLGC_STATIC;
  }
  return DefWindowProcA(hwnd, message, first, second);
}

// ---- Keyboard navigation ----------------------------------------------------------

bool accepts_focus(control_kind kind) {
  return kind == control_kind::image_button || kind == control_kind::icon_list;
}

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
  const int count = static_cast<int>(order.size());
  int next;
  if (current < 0) {
    next = backwards ? count - 1 : 0;
  } else {
    next = (current + (backwards ? count - 1 : 1)) % count;
  }
  SetFocus(order[next].hwnd);
}

// ---- Window procedure ---------------------------------------------------------------

void resize_status_bars(HWND window) {
  std::vector<HWND> bars;
  {
    lock guard(tables_mutex);
    status_bars.for_each([&](int, const status_record& s) {
      if (GetParent(s.hwnd.get()) == window) bars.push_back(s.hwnd.get());
    });
  }
  for (HWND bar : bars) SendMessageA(bar, WM_SIZE, 0, 0);
}

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
        item_icons.erase(reinterpret_cast<const NMLISTVIEW*>(second)->lParam);
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

void register_classes() {
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

// ---- Controls ---------------------------------------------------------------------

struct control_spec {
  control_kind kind;
  const char* window_class;
  DWORD style;
  DWORD extended_style;
  std::string text;
  int minimum = 0, maximum = 0;
  HANDLE image = nullptr;
  int hover_colour = 0;
};

ui_handle add_control(int requested, int x, int y, int width, int height,
                      const control_spec& made) {
  HWND parent = control_parent;
  if (!parent || !IsWindow(parent)) return 0;
  // The old control under the number goes first.
  std::unique_ptr<control_record> old;
  int number;
  {
    lock guard(tables_mutex);
    number = controls.replace(requested, old);
  }
  old.reset();
  if (number < 0) return 0;
  // The control's number is its identifier, so WM_COMMAND and other
  // processes (the UI probe) see it; identifiers above 16 bits only matter
  // to WM_COMMAND's low word, which the toolkit does not read.
  HWND hwnd = CreateWindowExA(made.extended_style, made.window_class, made.text.c_str(),
                              WS_CHILD | WS_VISIBLE | made.style, x, y, width, height, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(number)),
                              GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return 0;
  SendMessageA(hwnd, WM_SETFONT,
               selection.default_font ? static_cast<WPARAM>(selection.default_font)
                                      : reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)),
               TRUE);
  auto record = std::make_unique<control_record>();
  record->hwnd.reset(hwnd);
  record->kind = made.kind;
  record->number = number;
  record->window = GetAncestor(parent, GA_ROOT);
  record->minimum = made.minimum;
  record->maximum = made.maximum;
  record->image = made.image;
  record->hover_colour = made.hover_colour;
  {
    lock guard(tables_mutex);
    record->creation = ++creations;
    controls.put(number, std::move(record));
  }
  return requested == -1 ? static_cast<ui_handle>(number) : reinterpret_cast<ui_handle>(hwnd);
}

void ensure_icon_storage() {
  if (small_icons || !controls_api.images) return;
  small_icons = controls_api.ImageList_Create(
      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), ILC_COLOR32 | ILC_MASK, 8, 8);
  large_icons = controls_api.ImageList_Create(
      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), ILC_COLOR32 | ILC_MASK, 8, 8);
}

// A copy of a bitmap scaled to the given size, for an image list.
HBITMAP scaled_bitmap(HBITMAP source, int source_width, int source_height, int width, int height) {
  const win::window_dc screen(nullptr);
  const win::unique_memory_dc from(CreateCompatibleDC(screen.get()));
  const win::unique_memory_dc to(CreateCompatibleDC(screen.get()));
  HBITMAP scaled = CreateCompatibleBitmap(screen.get(), width, height);
  if (from && to && scaled) {
    const win::gdi_selection from_source(from.get(), source);
    const win::gdi_selection to_scaled(to.get(), scaled);
    SetStretchBltMode(to.get(), HALFTONE);
    SetBrushOrgEx(to.get(), 0, 0, nullptr);
    StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, source_width, source_height,
               SRCCOPY);
  }
  return scaled;
}

// The first unused slot of both icon lists. The platform grows an image list
// by its fixed step and copies all its images each time, so storing many
// icons one by one would take quadratic time; the lists are grown here by
// doubling instead, and the slots beyond the used ones stay blank until an
// icon is stored there.
int free_icon_slot() {
  const int capacity = std::min(controls_api.ImageList_GetImageCount(small_icons),
                                controls_api.ImageList_GetImageCount(large_icons));
  if (stored_icons < capacity) return stored_icons;
  const int wanted = std::max(16, stored_icons * 2);
  if (!controls_api.ImageList_SetImageCount(small_icons, static_cast<UINT>(wanted)) ||
      !controls_api.ImageList_SetImageCount(large_icons, static_cast<UINT>(wanted)))
    return -1;
  return stored_icons;
}

// Copies an image into both icon lists; its index, or -1.
int store_list_icon(HANDLE image, bool icon, int width, int height) {
  ensure_icon_storage();
  if (!small_icons || !large_icons) return -1;
  const int slot = free_icon_slot();
  if (slot < 0) return -1;
  bool stored = true;
  if (icon) {
    // The lists draw the icon at their own sizes.
    for (HIMAGELIST list : {small_icons, large_icons})
      stored = stored &&
               controls_api.ImageList_ReplaceIcon(list, slot, static_cast<HICON>(image)) == slot;
  } else {
    for (HIMAGELIST list : {small_icons, large_icons}) {
      int cx = 0, cy = 0;
      controls_api.ImageList_GetIconSize(list, &cx, &cy);
      const win::unique_bitmap copy(
          stored ? scaled_bitmap(static_cast<HBITMAP>(image), width, height, cx, cy) : nullptr);
      stored = copy && controls_api.ImageList_Replace(list, slot, copy.get(), nullptr);
    }
  }
  // A slot half written stays unused; the next icon takes it.
  if (!stored) return -1;
  return stored_icons++;
}

int store_list_icon(HANDLE image) {
  bool icon = false;
  int width = 0, height = 0;
  if (!image_facts(image, icon, width, height)) return -1;
  return store_list_icon(image, icon, width, height);
}

// The source of one of the toolkit's images, null for any other handle.
std::shared_ptr<const image_source> source_of(HANDLE image) {
  lock guard(tables_mutex);
  const int number = images.find_number([&](const image_record& r) { return r.handle() == image; });
  return number >= 0 ? images.find(number)->source : nullptr;
}

// Answers a list asking for an item's icon (LVN_GETDISPINFO): the icon is
// stored the first time, and its index given from then on.
void give_item_icon(HWND list, LVITEMA& asked) {
  if (!(asked.mask & LVIF_IMAGE) || asked.iSubItem != 0) return;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = asked.iItem;
  auto found = SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))
                   ? item_icons.find(item.lParam)
                   : item_icons.end();
  asked.iImage = I_IMAGENONE;
  if (found != item_icons.end()) {
    item_icon& icon = found->second;
    if (icon.source) {
      const bool is_icon = icon.source->decoded.kind == image_kind::icon;
      const HANDLE image = make_native_image(icon.source->decoded, icon.source->data.data());
      // Owned here: the lists keep copies.
      const win::unique_icon icon_image(is_icon ? static_cast<HICON>(image) : nullptr);
      const win::unique_bitmap bitmap_image(is_icon ? nullptr : static_cast<HBITMAP>(image));
      if (image) {
        icon.index = store_list_icon(image, is_icon, icon.source->decoded.width,
                                     icon.source->decoded.height);
      }
      icon.source.reset();
    }
    if (icon.index >= 0) asked.iImage = icon.index;
  }
  asked.mask |= LVIF_DI_SETITEM;
}

}  // namespace

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
    std::vector<int> doomed;
    controls.for_each([&](int n, const control_record& c) {
      if (c.window == window->hwnd.get()) doomed.push_back(n);
    });
    for (int n : doomed) window_controls.push_back(controls.take(n));
    doomed.clear();
    status_bars.for_each([&](int n, const status_record& s) {
      if (GetParent(s.hwnd.get()) == window->hwnd.get()) doomed.push_back(n);
    });
    for (int n : doomed) window_bars.push_back(status_bars.take(n));
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

// ---- Controls --------------------------------------------------------------------------

int begin_controls(ui_handle window) {
  HWND hwnd = reinterpret_cast<HWND>(window);
  if (window_number_of(hwnd) < 0) return 0;
  control_parent = hwnd;
  return 1;
}

ui_handle create_text(int number, int x, int y, int width, int height, const std::string& text,
                      int flags) {
  const DWORD align = (flags & text_centred) ? SS_CENTER : SS_LEFT;
  return add_control(number, x, y, width, height,
                     {control_kind::text, "STATIC", align | SS_NOPREFIX, 0, text});
}

ui_handle create_frame(int number, int x, int y, int width, int height, const std::string& title) {
  return add_control(number, x, y, width, height,
                     {control_kind::frame, "BUTTON", BS_GROUPBOX, 0, title});
}

ui_handle create_progress_bar(int number, int x, int y, int width, int height, int minimum,
                              int maximum, int flags) {
  control_spec made{control_kind::progress_bar,
                    PROGRESS_CLASSA,
                    (flags & progress_smooth) ? DWORD{PBS_SMOOTH} : 0,
                    0,
                    {}};
  made.minimum = minimum;
  made.maximum = maximum;
  const ui_handle result = add_control(number, x, y, width, height, made);
  control_view view;
  if (result && view_control(number == -1 ? static_cast<int>(result) : number, view)) {
    SendMessageA(view.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(minimum),
                 static_cast<LPARAM>(maximum));
    SendMessageA(view.hwnd, PBM_SETPOS, static_cast<WPARAM>(minimum), 0);
  }
  return result;
}

ui_handle create_image(int number, int x, int y, int width, int height, ui_handle image) {
  bool icon = false;
  int w = 0, h = 0;
  const HANDLE handle = reinterpret_cast<HANDLE>(image);
  const bool known = image_facts(handle, icon, w, h);
  // The control keeps the size it was given, whatever the picture's size.
  control_spec made{control_kind::image,
                    "STATIC",
                    DWORD{SS_NOTIFY | SS_REALSIZECONTROL} | (icon ? SS_ICON : SS_BITMAP),
                    0,
                    {}};
  made.image = handle;
  const ui_handle result = add_control(number, x, y, width, height, made);
  control_view view;
  if (result && known && view_control(number == -1 ? static_cast<int>(result) : number, view)) {
    SendMessageA(view.hwnd, STM_SETIMAGE, icon ? IMAGE_ICON : IMAGE_BITMAP,
                 reinterpret_cast<LPARAM>(handle));
    SetWindowPos(view.hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return result;
}

ui_handle create_image_button(int number, int x, int y, int width, int height, ui_handle image) {
  control_spec made{control_kind::image_button, "BUTTON", BS_OWNERDRAW | WS_TABSTOP, 0, {}};
  made.image = reinterpret_cast<HANDLE>(image);
  return add_control(number, x, y, width, height, made);
}

ui_handle create_icon_list(int number, int x, int y, int width, int height,
                           const std::string& column_title, int column_width, unsigned flags) {
  flags = icon_list_flags(flags);
  DWORD style = LVS_REPORT | LVS_SHAREIMAGELISTS | WS_TABSTOP;
  if (!(flags & list_multiple)) style |= LVS_SINGLESEL;
  if (flags & list_keep_selection) style |= LVS_SHOWSELALWAYS;
  const ui_handle result =
      add_control(number, x, y, width, height,
                  {control_kind::icon_list, WC_LISTVIEWA, style, WS_EX_CLIENTEDGE, {}});
  control_view view;
  if (!result || !view_control(number == -1 ? static_cast<int>(result) : number, view))
    return result;
  DWORD extended = 0;
  if (flags & list_full_row) extended |= LVS_EX_FULLROWSELECT;
  if (flags & list_grid) extended |= LVS_EX_GRIDLINES;
  if (flags & list_reorder_columns) extended |= LVS_EX_HEADERDRAGDROP;
  if (flags & list_check_boxes) extended |= LVS_EX_CHECKBOXES;
  SendMessageA(view.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = column_width;
  column.pszText = const_cast<char*>(column_title.c_str());
  SendMessageA(view.hwnd, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  ensure_icon_storage();
  SendMessageA(view.hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(small_icons));
  SendMessageA(view.hwnd, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(large_icons));
  return result;
}

ui_handle create_link(int number, int x, int y, int width, int height, const std::string& text,
                      int hover_colour) {
  register_classes();
  control_spec made{control_kind::link, link_class, 0, 0, text};
  made.hover_colour = hover_colour;
  return add_control(number, x, y, width, height, made);
}

ui_handle control_handle(int number) {
  control_view view;
  return view_control(number, view) ? reinterpret_cast<ui_handle>(view.hwnd) : 0;
}

void set_control_state(int number, int value) {
  control_view view;
  if (!view_control(number, view) || view.kind != control_kind::progress_bar) return;
  const int low = std::min(view.minimum, view.maximum);
  const int high = std::max(view.minimum, view.maximum);
  SendMessageA(view.hwnd, PBM_SETPOS, static_cast<WPARAM>(std::clamp(value, low, high)), 0);
}

void set_control_text(int number, const std::string& text) {
  control_view view;
  if (view_control(number, view))
    SendMessageA(view.hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string get_control_text(int number) {
  control_view view;
  if (!view_control(number, view)) return {};
  std::string text(max_control_text + 1, '\0');
  if (view.kind == control_kind::icon_list) {
    const LRESULT item = SendMessageA(view.hwnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                      MAKELPARAM(LVNI_SELECTED, 0));
    if (item < 0) return {};
    LVITEMA request{};
    request.iSubItem = 0;
    request.pszText = text.data();
    request.cchTextMax = static_cast<int>(text.size());
    const LRESULT length = SendMessageA(view.hwnd, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                                        reinterpret_cast<LPARAM>(&request));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
    return list_item_text(text);
  }
  const LRESULT length = SendMessageA(view.hwnd, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                      reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(std::max<LRESULT>(length, 0)));
  return capped_control_text(std::move(text));
}

void disable_control(int number, int state) {
  control_view view;
  if (view_control(number, view)) EnableWindow(view.hwnd, state == 0);
}

void set_control_font(int number, ui_handle font) {
  if (number == -1) {
    selection.default_font = font;
    return;
  }
  control_view view;
  if (view_control(number, view)) SendMessageA(view.hwnd, WM_SETFONT, font, TRUE);
}

void add_control_item(int number, int position, const std::string& text, ui_handle image) {
  control_view view;
  if (!view_control(number, view) || view.kind != control_kind::icon_list) return;
  const std::vector<std::string> columns = item_columns(text);
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  const LRESULT count = SendMessageA(view.hwnd, LVM_GETITEMCOUNT, 0, 0);
  item.iItem = position < 0 || position > count ? static_cast<int>(count) : position;
  item.pszText = const_cast<char*>(columns[0].c_str());
  std::shared_ptr<const image_source> source =
      image ? source_of(reinterpret_cast<HANDLE>(image)) : nullptr;
  if (source) {
    // One of ours: its icon is stored when the list first shows the item.
    // Storing an icon costs more than all the rest of adding an item, and
    // a long list shows few of its items.
    item.mask |= LVIF_PARAM;
    item.lParam = ++last_item_key;
    item.iImage = I_IMAGECALLBACK;
    item_icons[item.lParam].source = std::move(source);
  } else {
    item.iImage = image ? store_list_icon(reinterpret_cast<HANDLE>(image)) : I_IMAGENONE;
    if (item.iImage < 0) item.iImage = I_IMAGENONE;
  }
  const LRESULT index =
      SendMessageA(view.hwnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  if (index < 0) {
    if (item.mask & LVIF_PARAM) item_icons.erase(item.lParam);
    return;
  }
  for (std::size_t i = 1; i < columns.size(); ++i) {
    LVITEMA sub{};
    sub.iSubItem = static_cast<int>(i);
    sub.pszText = const_cast<char*>(columns[i].c_str());
    SendMessageA(view.hwnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&sub));
  }
}

void clear_control_items(int number) {
  control_view view;
  if (view_control(number, view) && view.kind == control_kind::icon_list)
    SendMessageA(view.hwnd, LVM_DELETEALLITEMS, 0, 0);
}

void set_control_redraw(int number, int state) {
  control_view view;
  if (!view_control(number, view)) return;
  SendMessageA(view.hwnd, WM_SETREDRAW, state != 0, 0);
  // Not every control repaints itself, or its children (a list's column
  // heading), when redrawing is turned back on.
  if (state)
    RedrawWindow(view.hwnd, nullptr, nullptr,
                 RDW_ERASE | RDW_FRAME | RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void set_icon_list_view(int number, int mode) {
  control_view view;
  if (!view_control(number, view) || view.kind != control_kind::icon_list) return;
  static const DWORD views[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
  if (mode < 0 || mode > 3) return;
  const LONG_PTR style = GetWindowLongPtrA(view.hwnd, GWL_STYLE);
  SetWindowLongPtrA(view.hwnd, GWL_STYLE, (style & ~LONG_PTR{LVS_TYPEMASK}) | views[mode]);
  SendMessageA(view.hwnd, LVM_ARRANGE, LVA_DEFAULT, 0);
  InvalidateRect(view.hwnd, nullptr, TRUE);
}

// ---- Status bar ----------------------------------------------------------------------

ui_handle create_status_bar(int number, ui_handle window) {
  HWND parent = reinterpret_cast<HWND>(window);
  if (window_number_of(parent) < 0) return 0;
  std::unique_ptr<status_record> old;
  int claimed;
  {
    lock guard(tables_mutex);
    claimed = status_bars.replace(number, old);
  }
  old.reset();
  if (claimed < 0) return 0;
  // Identifier 0: status bars have their own numbers, which must not look
  // like a control's.
  HWND hwnd = CreateWindowExA(0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, parent,
                              nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!hwnd) return 0;
  auto record = std::make_unique<status_record>();
  record->hwnd.reset(hwnd);
  {
    lock guard(tables_mutex);
    status_bars.put(claimed, std::move(record));
    selection.last_status_bar = claimed;
  }
  return number == -1 ? static_cast<ui_handle>(claimed) : reinterpret_cast<ui_handle>(hwnd);
}

void add_status_bar_field(int width) {
  HWND hwnd = nullptr;
  std::vector<int> ends;
  {
    lock guard(tables_mutex);
    status_record* bar = status_bars.find(selection.last_status_bar);
    if (!bar || !add_status_field(bar->field_ends, width)) return;
    hwnd = bar->hwnd.get();
    ends = bar->field_ends;
  }
  SendMessageA(hwnd, SB_SETPARTS, ends.size(), reinterpret_cast<LPARAM>(ends.data()));
}

void set_status_bar_text(int number, int field, const std::string& text, int flags) {
  HWND hwnd = nullptr;
  {
    lock guard(tables_mutex);
    const status_record* bar = status_bars.find(number);
    if (!bar) return;
    const int fields = std::max<int>(1, static_cast<int>(bar->field_ends.size()));
    if (field < 0 || field >= fields) return;
    hwnd = bar->hwnd.get();
  }
  WPARAM type = static_cast<WPARAM>(field);
  if (flags & status_raised) type |= SBT_POPOUT;
  if (flags & status_borderless) type |= SBT_NOBORDERS;
  // The control centres what follows one tab and right-aligns what follows two.
  std::string shown = text;
  if (flags & status_right) {
    shown = "\t\t" + shown;
  } else if (flags & status_centred) {
    shown = "\t" + shown;
  }
  SendMessageA(hwnd, SB_SETTEXTA, type, reinterpret_cast<LPARAM>(shown.c_str()));
}

// ---- Fonts -----------------------------------------------------------------------------

ui_handle load_font(int number, const std::string& face, int size, int flags) {
  if (!creatable_number(number)) return 0;
  int dpi = 96;
  {
    const win::window_dc screen(nullptr);
    if (screen.get()) dpi = GetDeviceCaps(screen.get(), LOGPIXELSY);
  }
  // A negative height asks for the character height, without the leading.
  const int height = -MulDiv(size, dpi, 72);
  win::unique_font font(CreateFontA(
      height, 0, 0, 0, (flags & font_bold) ? FW_BOLD : FW_NORMAL,
      (flags & font_italic) ? TRUE : FALSE, (flags & font_underline) ? TRUE : FALSE,
      (flags & font_strikeout) ? TRUE : FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
      CLIP_DEFAULT_PRECIS, (flags & font_high_quality) ? ANTIALIASED_QUALITY : DEFAULT_QUALITY,
      DEFAULT_PITCH | FF_DONTCARE, face.c_str()));
  std::unique_ptr<font_record> old;
  int claimed;
  {
    lock guard(tables_mutex);
    claimed = fonts.replace(number, old);
  }
  if (old) selection.font_freed(reinterpret_cast<ui_handle>(old->font.get()));
  old.reset();
  if (!font || claimed < 0) return 0;
  const HFONT handle = font.get();
  auto record = std::make_unique<font_record>();
  record->font = std::move(font);
  {
    lock guard(tables_mutex);
    fonts.put(claimed, std::move(record));
  }
  return number == -1 ? static_cast<ui_handle>(claimed) : reinterpret_cast<ui_handle>(handle);
}

void free_all_fonts() {
  std::vector<std::unique_ptr<font_record>> all;
  {
    lock guard(tables_mutex);
    all = fonts.take_all();
  }
  selection.default_font = 0;
}

// ---- Images -------------------------------------------------------------------------

ui_handle catch_image(int number, const void* data, std::size_t size) {
  if (!creatable_number(number)) return 0;
  free_image(number);
  decoded_image decoded;
  const decode_result result = decode_image_data(data, size, decoded);
  return store_image(number, result, std::move(decoded), static_cast<const std::uint8_t*>(data));
}

ui_handle load_image(int number, const std::string& path) {
  if (!creatable_number(number)) return 0;
  free_image(number);
  decoded_image decoded;
  std::vector<std::uint8_t> contents;
  const decode_result result = decode_image_file(path, decoded, contents);
  return store_image(number, result, std::move(decoded), contents.data());
}

ui_handle image_handle(int number) {
  lock guard(tables_mutex);
  const image_record* image = images.find(number);
  return image ? reinterpret_cast<ui_handle>(image->handle()) : 0;
}

ui_handle use_image(int number) {
  const ui_handle handle = image_handle(number);
  if (handle) selection.current_image = handle;
  return handle;
}

ui_handle current_image_handle() {
  return selection.current_image;
}

int is_image(int number) {
  return image_handle(number) ? 1 : 0;
}

void free_image(int number) {
  std::unique_ptr<image_record> image;
  {
    lock guard(tables_mutex);
    image = images.take(number);
  }
  if (image) selection.image_freed(reinterpret_cast<ui_handle>(image->handle()));
}

void free_all_images() {
  std::vector<std::unique_ptr<image_record>> all;
  {
    lock guard(tables_mutex);
    all = images.take_all();
  }
  selection.current_image = 0;
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
  auto deliver = [](const pending_event& event) {
    last_code = event.code;
    last_window = window_number_of(event.window);
    if (event.code == event_control_used) last_control = event.control;
    return event.code;
  };
  if (!pending.empty()) {
    const pending_event event = pending.front();
    pending.pop_front();
    return deliver(event);
  }
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
  if (!pending.empty()) {
    const pending_event event = pending.front();
    pending.pop_front();
    return deliver(event);
  }
  last_code = static_cast<int>(message.message);
  last_window = window_number_of(message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr);
  return last_code;
}

int event_window() {
  return last_window;
}

int event_control() {
  return last_control;
}

// ---- Painting helpers ------------------------------------------------------------------

int system_colour(int index) {
  return static_cast<int>(GetSysColor(index));
}

ui_handle create_solid_brush(int colour) {
  return reinterpret_cast<ui_handle>(CreateSolidBrush(colour_ref(colour)));
}

ui_handle hollow_brush() {
  return reinterpret_cast<ui_handle>(GetStockObject(HOLLOW_BRUSH));
}

void free_brush(ui_handle brush) {
  if (brush && brush != hollow_brush()) DeleteObject(reinterpret_cast<HBRUSH>(brush));
}

void set_text_colour(std::uintptr_t device_context, int colour) {
  SetTextColor(reinterpret_cast<HDC>(device_context), colour_ref(colour));
}

void set_background_mode(std::uintptr_t device_context, bool opaque) {
  SetBkMode(reinterpret_cast<HDC>(device_context), opaque ? OPAQUE : TRANSPARENT);
}

void set_background_colour(std::uintptr_t device_context, int colour) {
  SetBkColor(reinterpret_cast<HDC>(device_context), colour_ref(colour));
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
