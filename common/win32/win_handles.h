// Owners of the Windows backend's handles, and scoped GDI work: a paint
// session, a window's device context, an object selected into a device
// context. Windows backend only; include after <windows.h>.
#pragma once

#include <windows.h>

#include "handle_owner.h"

namespace win {

// Close functions with the owner's signature. The windows and GDI calls are
// wrapped so that each owner calls exactly the function of its kind.
inline void close_kernel_handle(HANDLE handle) {
  CloseHandle(handle);
}
inline void close_find_handle(HANDLE handle) {
  FindClose(handle);
}
inline void delete_gdi_object(HGDIOBJ object) {
  DeleteObject(object);
}
inline void destroy_icon(HICON icon) {
  DestroyIcon(icon);
}
inline void destroy_accelerators(HACCEL table) {
  DestroyAcceleratorTable(table);
}
inline void delete_dc(HDC dc) {
  DeleteDC(dc);
}
// A child window is destroyed with its parent: only a window still alive
// is destroyed again.
inline void destroy_window(HWND hwnd) {
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
}

// File and find handles are invalid at INVALID_HANDLE_VALUE, not at null.
inline HANDLE invalid_handle_value() {
  return INVALID_HANDLE_VALUE;
}

// Processes, threads and other kernel objects: invalid at null.
using unique_kernel_handle = handle_owner<HANDLE, close_kernel_handle>;
// CreateFile results.
using unique_file_handle = handle_owner<HANDLE, close_kernel_handle, invalid_handle_value>;
// FindFirstFile scans.
using unique_find_handle = handle_owner<HANDLE, close_find_handle, invalid_handle_value>;
template <class Object>
using unique_gdi_object = handle_owner<Object, delete_gdi_object>;
using unique_brush = unique_gdi_object<HBRUSH>;
using unique_font = unique_gdi_object<HFONT>;
using unique_bitmap = unique_gdi_object<HBITMAP>;
using unique_icon = handle_owner<HICON, destroy_icon>;
using unique_accelerators = handle_owner<HACCEL, destroy_accelerators>;
// Memory device contexts (CreateCompatibleDC).
using unique_memory_dc = handle_owner<HDC, delete_dc>;
using unique_window = handle_owner<HWND, destroy_window>;

// BeginPaint ... EndPaint for one WM_PAINT.
class paint_session {
 public:
  explicit paint_session(HWND hwnd) : hwnd_(hwnd), dc_(BeginPaint(hwnd, &paint_)) {}
  ~paint_session() { EndPaint(hwnd_, &paint_); }
  paint_session(const paint_session&) = delete;
  paint_session& operator=(const paint_session&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND hwnd_;
  PAINTSTRUCT paint_{};
  HDC dc_;
};

// GetDC ... ReleaseDC; a null window is the screen.
class window_dc {
 public:
  explicit window_dc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~window_dc() {
    if (dc_) ReleaseDC(hwnd_, dc_);
  }
  window_dc(const window_dc&) = delete;
  window_dc& operator=(const window_dc&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// Selects an object into a device context and puts the previous one back at
// the end of the scope. A null object or device context selects nothing.
class gdi_selection {
 public:
  gdi_selection(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(dc && object ? SelectObject(dc, object) : nullptr) {}
  ~gdi_selection() {
    if (previous_) SelectObject(dc_, previous_);
  }
  gdi_selection(const gdi_selection&) = delete;
  gdi_selection& operator=(const gdi_selection&) = delete;
  // False when the selection failed or selected nothing.
  bool selected() const { return previous_ != nullptr; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace win
