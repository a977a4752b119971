// The toolkit's link on Windows: a window class of its own that draws its
// text in black or in its hover colour, shows the hand pointer and reports
// the release of the left button over it.
#include "win32/toolkit_win_internal.h"

#include <cstdint>
#include <string>

using namespace toolkit_win;

namespace {

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

}  // namespace

LRESULT CALLBACK toolkit_win::link_procedure(HWND hwnd, UINT message, WPARAM first, LPARAM second) {
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

ui_handle create_link(int number, int x, int y, int width, int height, const std::string& text,
                      int hover_colour) {
  register_classes();
  control_spec made{control_kind::link, link_class, 0, 0, text};
  made.hover_colour = hover_colour;
  return add_control(number, x, y, width, height, made);
}
