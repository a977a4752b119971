// Under Wine: opens the update client's progress window with the real
// toolkit, installs the client's window hook, and reports as JSON what the
// platform gets when it asks how to colour each text control, and the
// colours actually painted inside the labels.
#include <windows.h>

#include <cstdio>
#include <string>

#include "client_images.h"
#include "message_catalogue.h"
#include "progress_window.h"
#include "toolkit.h"
#include "update_client.h"

namespace {

std::string hex(COLORREF colour) {
  char text[16];
  std::snprintf(text, sizeof text, "%06lX",
                static_cast<unsigned long>(GetRValue(colour) << 16 | GetGValue(colour) << 8 |
                                           GetBValue(colour)));
  return text;
}

void pump(DWORD milliseconds) {
  const DWORD end = GetTickCount() + milliseconds;
  while (GetTickCount() < end) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(10);
  }
}

// A window colour that no label of the client uses (blue 0xDC, green 0x8C,
// red 0x28).
constexpr int other_window_colour = 0xDC8C28;

// What the window answers for a control's colours.
std::string asked(HWND window, int number) {
  HWND control = reinterpret_cast<HWND>(control_handle(number));
  HDC dc = GetDC(control);
  SetBkMode(dc, OPAQUE);
  SetTextColor(dc, RGB(1, 2, 3));
  const LRESULT answer = SendMessageA(window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                      reinterpret_cast<LPARAM>(control));
  std::string brush = "null";
  if (answer == reinterpret_cast<LRESULT>(GetStockObject(HOLLOW_BRUSH))) {
    brush = "\"hollow\"";
  } else if (answer != 0) {
    LOGBRUSH description{};
    if (GetObjectA(reinterpret_cast<HBRUSH>(answer), sizeof description, &description)) {
      brush = "\"" + hex(description.lbColor) + "\"";
    } else {
      brush = "\"other\"";
    }
  }
  std::string result = "{\"text_colour\": \"" + hex(GetTextColor(dc)) + "\", \"opaque\": " +
                       (GetBkMode(dc) == OPAQUE ? "true" : "false") + ", \"background\": \"" +
                       hex(GetBkColor(dc)) + "\", \"brush\": " + brush + "}";
  ReleaseDC(control, dc);
  return result;
}

// The colour painted at the control's right end, middle height (no text
// there in these labels).
std::string painted(HWND window, int number) {
  HWND control = reinterpret_cast<HWND>(control_handle(number));
  RECT area;
  GetWindowRect(control, &area);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&area), 2);
  HDC dc = GetDC(window);
  const COLORREF colour = GetPixel(dc, area.right - 3, (area.top + area.bottom) / 2);
  ReleaseDC(window, dc);
  return "\"" + hex(colour) + "\"";
}

}  // namespace

int main() {
  toolkit_start();
  load_message_catalogue("");
  register_jpeg_decoder();
  catch_image(arrow_image, arrow_icon_data, arrow_icon_size);
  catch_image(logo_picture, logo_jpeg_data, logo_jpeg_size);
  if (open_progress_window() == 0) {
    std::printf("{\"error\": \"no window\"}\n");
    return 1;
  }
  // As in the client: the window is shown (and painted) before the hook is
  // installed; what is painted must still be the hook's colours.
  set_window_hook(progress_window_hook);
  HWND window = reinterpret_cast<HWND>(window_handle(progress_window));
  pump(500);
  std::printf("{\"asked\": {");
  const int labels[] = {available_version_label, welcome_label, installed_version_label,
                        version_frame};
  const char* names[] = {"available", "welcome", "installed", "frame"};
  for (int i = 0; i < 4; ++i) {
    std::printf("%s\"%s\": %s", i ? ", " : "", names[i], asked(window, labels[i]).c_str());
  }
  std::printf("}, \"painted\": {");
  for (int i = 0; i < 3; ++i) {
    std::printf("%s\"%s\": %s", i ? ", " : "", names[i], painted(window, labels[i]).c_str());
  }
  // On white a label without a background of its own looks like an opaque
  // white one; on another window colour only the opaque one stays white.
  set_window_background(progress_window, other_window_colour);
  RedrawWindow(window, nullptr, nullptr, RDW_ERASE | RDW_INVALIDATE | RDW_ALLCHILDREN);
  pump(500);
  std::printf("}, \"window_colour\": \"%s\", \"painted_on_colour\": {",
              hex(static_cast<COLORREF>(other_window_colour)).c_str());
  for (int i = 0; i < 3; ++i) {
    std::printf("%s\"%s\": %s", i ? ", " : "", names[i], painted(window, labels[i]).c_str());
  }
  std::printf("}}\n");
  std::fflush(stdout);
  close_all_windows();
  return 0;
}
