// The toolkit's plain controls on Windows (texts, frames, progress bars,
// images), what every control shares (creation, texts, state, fonts,
// redrawing), and the painting helpers that window hooks colour them with.
#include "win32/toolkit_win_internal.h"

#include <algorithm>
#include <cstdint>
#include <string>

using namespace toolkit_win;

ui_handle toolkit_win::add_control(int requested, int x, int y, int width, int height,
                                   const control_spec& made) {
  HWND parent = control_parent;
  if (!parent || !IsWindow(parent)) return 0;
  // The old control under the number goes first.
  const int number = replace_in_table(controls, requested);
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
