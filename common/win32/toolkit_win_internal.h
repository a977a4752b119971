// What the files of the toolkit's Windows backend share: the owners of the
// native objects, the numbered tables and the look-ups into them.
//
// Numbered tables map numbers to window handles. The operations that worker
// threads may call look a number up under tables_mutex, copy what they need
// and release the lock before sending their one synchronous message, which
// the platform delivers on the window's own thread. The lock is never held
// while a window message may be sent, so the event loop's thread and a
// worker never wait on each other. Everything else runs on the thread of the
// event loop.
#pragma once

#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <shlwapi.h>
#include <uxtheme.h>
#include <vssym32.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "thread_sync.h"
#include "toolkit.h"
#include "toolkit_core.h"
#include "win32/win_handles.h"

namespace toolkit_win {

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

// Tables and the state shared with worker threads, under tables_mutex.
// Recursive, because destroying a record destroys its window, and the
// messages that sends come back into the window procedure on this thread.
extern sync_recursive_mutex tables_mutex;
using lock = std::lock_guard<sync_recursive_mutex>;
extern object_table<window_record> windows;
extern object_table<control_record> controls;
extern object_table<status_record> status_bars;
extern object_table<font_record> fonts;
extern object_table<image_record> images;
extern int creations;
// Its last status bar is under tables_mutex, the rest is the event loop's.
extern toolkit_selection selection;

// The number a new object takes in a table (-1 when refused), the old object
// under it destroyed first, outside the lock: destroying a window sends
// messages that come back into the toolkit.
template <class T>
int replace_in_table(object_table<T>& table, int number) {
  std::unique_ptr<T> old;
  int claimed;
  {
    lock guard(tables_mutex);
    claimed = table.replace(number, old);
  }
  old.reset();
  return claimed;
}

// State of the event loop's thread only.
extern HWND control_parent;

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
};
extern common_controls_api controls_api;

constexpr char link_class[] = "ToolkitLink";

// ---- Look-ups ---------------------------------------------------------------

int window_number_of(HWND hwnd);

// A copy of what a control operation needs, taken under the lock.
struct control_view {
  HWND hwnd = nullptr;
  control_kind kind = control_kind::text;
  int number = -1;
  int minimum = 0, maximum = 0;
  HANDLE image = nullptr;
  int hover_colour = 0;
};

bool view_control(int number, control_view& view);
bool view_control_by_handle(HWND hwnd, control_view& view);
HWND window_hwnd(int number);

inline COLORREF colour_ref(int colour) {
  return static_cast<COLORREF>(colour & 0xFFFFFF);
}

// ---- Between the files ---------------------------------------------------------

void register_classes();
LRESULT CALLBACK link_procedure(HWND hwnd, UINT message, WPARAM first, LPARAM second);
// Draws an image button on WM_DRAWITEM.
void draw_image_button(const DRAWITEMSTRUCT& item);
// Answers a list asking for an item's icon (LVN_GETDISPINFO).
void give_item_icon(HWND list, LVITEMA& asked);
// A list deleted the item with this key.
void forget_item_icon(LPARAM key);
// Lays the status bars of a window out again after it changed size.
void resize_status_bars(HWND window);

// ---- Images -----------------------------------------------------------------

// The native object of a decoded image: a 24-bit DIB section for bitmaps
// and JPEG, an icon for icon files.
HANDLE make_native_image(const decoded_image& decoded, const std::uint8_t* data);

// Size and kind of an image handle, ours or the platform's; false when it
// is no live bitmap or icon.
bool image_facts(HANDLE image, bool& icon, int& width, int& height);

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

// Creates a control in the control parent under the number (the old
// control under it goes first); the handle, or for -1 the new number.
ui_handle add_control(int requested, int x, int y, int width, int height, const control_spec& made);

}  // namespace toolkit_win
