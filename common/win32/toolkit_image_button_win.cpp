// The toolkit's image button on Windows: an owner-drawn button that shows a
// picture on the face the platform draws, themed where themes are on.
#include "win32/toolkit_win_internal.h"

#include <cstdint>

#include "system_library_win.h"

using namespace toolkit_win;

namespace {

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

}  // namespace

// ---- Image button -------------------------------------------------------------

// The platform draws the button face (themed or classic); the picture goes
// on top, centred on the face, clipped to the face less a margin, greyed and
// embossed while the button is disabled.
void toolkit_win::draw_image_button(const DRAWITEMSTRUCT& item) {
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

ui_handle create_image_button(int number, int x, int y, int width, int height, ui_handle image) {
  control_spec made{control_kind::image_button, "BUTTON", BS_OWNERDRAW | WS_TABSTOP, 0, {}};
  made.image = reinterpret_cast<HANDLE>(image);
  return add_control(number, x, y, width, height, made);
}
