// The toolkit's Windows backend under test, driven by tests/wine/test_toolkit.py.
//
//   toolkit_win_test images FOLDER
//     Decodes the image fixtures of FOLDER through catch_image and
//     load_image and checks the native objects (bitmap and icon sizes,
//     pixels) and the refusals. One JSON line per check:
//     {"check": "...", "ok": true|false, "detail": "..."}; the exit code is
//     the number of failed checks.
//
//   toolkit_win_test window FOLDER
//     Opens window 1 ("Toolkit test", flags 0x10C80001: hidden, centred)
//     with every kind of control, prints {"ready": ...} and then one JSON
//     line per event ({"event": code, "window": n, "control": n}) and per
//     control notification ({"command": n, "code": notification}). Reads
//     commands, one per line, from standard input on a second thread:
//       show | hide | open2 | close2 | box | view MODE | quit
//           run on the event loop's thread;
//       disable N | enable N | text N WORDS | progress V | status WORDS |
//       title WORDS | get N | handle on|off | unselect
//           run on the reading thread, as a worker thread would
//     and answers each with {"done": "<command>", ...}.
#include <windows.h>
// After windows.h:
#include <commctrl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "system.h"
#include "thread_sync.h"
#include "toolkit.h"

namespace {

sync_mutex output_mutex;

void say(const std::string& line) {
  std::lock_guard<sync_mutex> guard(output_mutex);
  std::fputs((line + "\n").c_str(), stdout);
  std::fflush(stdout);
}

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);  // bytes as Latin-1
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::vector<unsigned char> read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// ---- images ------------------------------------------------------------------------

int failures = 0;

void check(const std::string& name, bool ok, const std::string& detail = {}) {
  if (!ok) ++failures;
  say("{\"check\": " + quoted(name) + ", \"ok\": " + (ok ? "true" : "false") +
      ", \"detail\": " + quoted(detail) + "}");
}

struct native_facts {
  bool bitmap = false, icon = false;
  int width = 0, height = 0;
};

// An icon is asked for first: under Wine an icon's handle value can also
// name some live GDI bitmap (the two kinds of handle are numbered alike),
// which would pass a bitmap test.
native_facts facts_of(ui_handle handle) {
  native_facts f;
  HANDLE h = reinterpret_cast<HANDLE>(handle);
  if (!h) return f;
  ICONINFO info{};
  if (GetIconInfo(static_cast<HICON>(h), &info)) {
    BITMAP b{};
    GetObject(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof b, &b);
    f.icon = info.fIcon, f.width = b.bmWidth,
    f.height = info.hbmColor ? b.bmHeight : b.bmHeight / 2;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return f;
  }
  if (GetObjectType(h) == OBJ_BITMAP) {
    BITMAP b{};
    GetObject(h, sizeof b, &b);
    f.bitmap = true, f.width = b.bmWidth, f.height = std::abs(b.bmHeight);
  }
  return f;
}

// Where the first image of an icon file's directory ends (0 if unreadable).
std::size_t first_icon_end(const std::vector<unsigned char>& data) {
  if (data.size() < 6 + 16) return 0;
  const auto u32 = [&](std::size_t at) {
    return std::size_t{data[at]} | std::size_t{data[at + 1]} << 8 |
           std::size_t{data[at + 2]} << 16 | std::size_t{data[at + 3]} << 24;
  };
  return u32(6 + 12) + u32(6 + 8);
}

// Red, green, blue of a bitmap's pixel (top row 0).
COLORREF pixel_of(ui_handle handle, int x, int y) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HBITMAP>(handle));
  const COLORREF colour = GetPixel(dc, x, y);
  SelectObject(dc, old);
  DeleteDC(dc);
  return colour;
}

std::string colour_text(COLORREF c) {
  return std::to_string(GetRValue(c)) + "," + std::to_string(GetGValue(c)) + "," +
         std::to_string(GetBValue(c));
}

int run_images(const std::string& folder) {
  const auto path = [&](const char* name) { return folder + "\\" + name; };
  const std::vector<unsigned char> jpeg = read_file(path("colour.jpg"));
  check("fixture read", jpeg.size() > 100, std::to_string(jpeg.size()));

  check("JPEG refused before the decoder is registered",
        catch_image(1, jpeg.data(), jpeg.size()) == 0 && is_image(1) == 0 &&
            load_image(1, path("colour.jpg")) == 0);
  register_jpeg_decoder();

  const struct {
    const char* name;
    bool icon;
    int width, height;
  } cases[] = {{"rgb24.bmp", false, 5, 3},   {"pal4.bmp", false, 5, 3},
               {"topdown.bmp", false, 5, 3}, {"flag.ico", true, 32, 32},
               {"colour.jpg", false, 16, 8}, {"grey.jpg", false, 16, 8}};
  for (const auto& c : cases) {
    const std::vector<unsigned char> data = read_file(path(c.name));
    for (int from_file = 0; from_file < 2; ++from_file) {
      const ui_handle handle =
          from_file ? load_image(2, path(c.name)) : catch_image(2, data.data(), data.size());
      const native_facts f = facts_of(handle);
      const std::string label = std::string(from_file ? "load_image " : "catch_image ") + c.name;
      check(label,
            handle != 0 && image_handle(2) == handle && f.icon == c.icon && f.bitmap == !c.icon &&
                f.width == c.width && f.height == c.height,
            std::to_string(f.width) + "x" + std::to_string(f.height) +
                (f.icon     ? " icon"
                 : f.bitmap ? " bitmap"
                            : " nothing"));
    }
  }

  // Pixels of the bitmaps: blue top-left, green bottom-right, red elsewhere.
  for (const char* name : {"rgb24.bmp", "pal4.bmp", "topdown.bmp"}) {
    const ui_handle handle = load_image(3, path(name));
    const COLORREF top_left = pixel_of(handle, 0, 0), bottom_right = pixel_of(handle, 4, 2),
                   middle = pixel_of(handle, 2, 1);
    check(std::string("pixels of ") + name,
          top_left == RGB(0, 0, 255) && bottom_right == RGB(0, 255, 0) && middle == RGB(255, 0, 0),
          colour_text(top_left) + " " + colour_text(bottom_right) + " " + colour_text(middle));
  }
  {
    const ui_handle handle = load_image(3, path("colour.jpg"));
    const COLORREF left = pixel_of(handle, 1, 4), right = pixel_of(handle, 14, 4);
    check("pixels of colour.jpg",
          GetRValue(left) > 200 && GetBValue(left) < 60 && GetBValue(right) > 200 &&
              GetRValue(right) < 60,
          colour_text(left) + " " + colour_text(right));
    const ui_handle grey = load_image(4, path("grey.jpg"));
    const COLORREF top = pixel_of(grey, 8, 0), bottom = pixel_of(grey, 8, 7);
    check("grey-scale JPEG in colour rows",
          GetRValue(top) == GetGValue(top) && GetGValue(top) == GetBValue(top) &&
              GetRValue(top) > GetRValue(bottom) + 100,
          colour_text(top) + " " + colour_text(bottom));
  }

  // Refusals: every strict prefix of each fixture, data of no known format,
  // files that are missing or empty. The old image under the number goes.
  // An icon file only needs its first image: a cut after it still gives it.
  for (const auto& c : cases) {
    const std::vector<unsigned char> data = read_file(path(c.name));
    const std::size_t whole = c.icon ? first_icon_end(data) : data.size();
    int accepted = 0;
    for (std::size_t length = 0; length < whole; ++length)
      if (catch_image(5, data.data(), length)) ++accepted;
    check(std::string("every prefix refused: ") + c.name, accepted == 0 && is_image(5) == 0,
          std::to_string(accepted) + " accepted");
    if (!c.icon) continue;
    int refused = 0;
    std::string lengths;
    for (std::size_t length = whole; length < data.size(); ++length) {
      const native_facts f = facts_of(catch_image(5, data.data(), length));
      if (!f.icon || f.width != c.width || f.height != c.height) {
        if (++refused <= 5) lengths += " " + std::to_string(length);
      }
    }
    check(std::string("cut after the first image accepted: ") + c.name,
          whole < data.size() && refused == 0, std::to_string(refused) + " refused, at" + lengths);
  }
  // A later directory entry that points past the end of the file, or is
  // larger than it, does not cost the first image.
  {
    const std::vector<unsigned char> ico = read_file(path("flag.ico"));
    for (const std::size_t field : {6 + 16 + 8, 6 + 16 + 12}) {
      std::vector<unsigned char> damaged = ico;
      for (int i = 0; i < 4; ++i) damaged[field + i] = 0xF0;
      const native_facts f = facts_of(catch_image(5, damaged.data(), damaged.size()));
      check("damaged later entry, field " + std::to_string(field) + ": first image taken",
            f.icon && f.width == 32 && f.height == 32,
            std::to_string(f.width) + "x" + std::to_string(f.height));
    }
  }
  const char text[] = "neither a bitmap, an icon nor a JPEG";
  load_image(6, path("rgb24.bmp"));
  check("data of no known format refused", catch_image(6, text, sizeof text) == 0 &&
                                               is_image(6) == 0 &&
                                               catch_image(-1, text, sizeof text) == 0);
  check("missing file refused", load_image(7, path("no_such_file.bmp")) == 0 && is_image(7) == 0);
  check("folder refused", load_image(7, folder) == 0);

  // -1 gives identifiers above the numbers a program chooses.
  const std::vector<unsigned char> ico = read_file(path("flag.ico"));
  const ui_handle id = catch_image(-1, ico.data(), ico.size());
  check("-1 identifier",
        id > static_cast<ui_handle>(max_object_number) && is_image(static_cast<int>(id)) == 1,
        std::to_string(id));
  check("number beyond the table refused",
        catch_image(max_object_number + 1, ico.data(), ico.size()) == 0);

  return failures;
}

// ---- window --------------------------------------------------------------------------

constexpr UINT command_message = WM_APP + 1;
// See colour_hook.
std::atomic<bool> handling{false};
sync_mutex commands_mutex;
std::deque<std::string> commands;

int reader(int ui_thread_id) {
  const DWORD ui_thread = static_cast<DWORD>(ui_thread_id);
  char line[4096];
  while (std::fgets(line, sizeof line, stdin)) {
    std::string command = line;
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
      command.pop_back();
    std::istringstream words(command);
    std::string verb;
    words >> verb;
    int number = 0;
    std::string rest;
    if (verb == "disable" || verb == "enable") {
      words >> number;
      disable_control(number, verb == "disable" ? 1 : 0);
    } else if (verb == "text") {
      words >> number;
      std::getline(words >> std::ws, rest);
      set_control_text(number, rest);
    } else if (verb == "progress") {
      words >> number;
      set_control_state(3, number);
    } else if (verb == "status") {
      std::getline(words >> std::ws, rest);
      set_status_bar_text(0, 0, rest, status_borderless);
    } else if (verb == "title") {
      std::getline(words >> std::ws, rest);
      set_window_title(1, rest);
    } else if (verb == "unselect") {
      // No item selected and none with the focus, as in a list just filled.
      LVITEMA item{};
      item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
      SendMessageA(reinterpret_cast<HWND>(control_handle(6)), LVM_SETITEMSTATE,
                   static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(&item));
    } else if (verb == "handle") {
      std::getline(words >> std::ws, rest);
      handling = rest == "on";
    } else if (verb == "get") {
      words >> number;
      say("{\"done\": " + quoted(command) + ", \"text\": " + quoted(get_control_text(number)) +
          "}");
      continue;
    } else {
      {
        std::lock_guard<sync_mutex> guard(commands_mutex);
        commands.push_back(command);
      }
      PostThreadMessageA(ui_thread, command_message, 0, 0);
      if (verb == "quit") return 0;
      continue;
    }
    say("{\"done\": " + quoted(command) + "}");
  }
  return 0;
}

// The window hook colours control 9 as the update client colours its
// texts: red text, transparent text background, a yellow brush. It also
// reports each notification that a control sends its window as
// {"command": control, "code": notification} (WM_COMMAND) or
// {"notify": control, "code": notification} (the list's WM_NOTIFY), so that
// a test sees what the platform made of its clicks (BN_DOUBLECLICKED for a
// quick second click).
//
// While `handling` is on, the hook answers close requests and the control
// notifications that raise events itself (result 0), as a program's hook
// may; the event loop then prints what wait_window_event returned for the
// message whose handling sent them:
// {"returned": code, "handled": [[message, notification], ...]}.
ui_handle yellow = 0;
std::vector<std::pair<unsigned, int>> handled;  // the event loop's thread only

bool list_notification(int code) {
  for (const UINT raising :
       {NM_CLICK, NM_DBLCLK, NM_RCLICK, NM_RDBLCLK, LVN_ITEMCHANGED, LVN_ITEMACTIVATE})
    if (code == static_cast<int>(raising)) return true;
  return false;
}

std::intptr_t colour_hook(ui_handle, unsigned message, std::uintptr_t first, std::intptr_t second) {
  if (message == WM_COMMAND && second != 0) {
    say("{\"command\": " + std::to_string(LOWORD(first)) +
        ", \"code\": " + std::to_string(HIWORD(first)) + "}");
    if (handling) {
      handled.emplace_back(message, HIWORD(first));
      return 0;
    }
  }
  if (message == WM_NOTIFY && second != 0) {
    const auto* header = reinterpret_cast<const NMHDR*>(second);
    const int code = static_cast<int>(header->code);
    if (list_notification(code) && header->hwndFrom == reinterpret_cast<HWND>(control_handle(6))) {
      say("{\"notify\": " + std::to_string(header->idFrom) + ", \"code\": " + std::to_string(code) +
          "}");
      if (handling) {
        handled.emplace_back(message, code);
        return 0;
      }
    }
  }
  if (message == WM_CLOSE && handling) {
    handled.emplace_back(message, 0);
    return 0;
  }
  if (message == message_colour_static && static_cast<ui_handle>(second) == control_handle(9)) {
    set_text_colour(first, 0x0000FF);
    set_background_mode(first, false);
    return static_cast<std::intptr_t>(yellow);
  }
  return hook_marker;
}

int run_window(const std::string& folder) {
  toolkit_start();
  register_jpeg_decoder();
  const auto path = [&](const char* name) { return folder + "\\" + name; };
  const ui_handle flag = load_image(1, path("flag.ico"));
  const ui_handle picture = load_image(2, path("colour.jpg"));
  const ui_handle list_flag = load_image(-1, path("flag.ico"));
  const ui_handle font = load_font(0, "Arial", 10, font_bold);
  LOGFONTA described{};
  GetObjectA(reinterpret_cast<HFONT>(font), sizeof described, &described);
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);

  yellow = create_solid_brush(0x00FFFF);
  set_window_hook(colour_hook);
  const ui_handle window = open_window(1, 0, 0, 400, 300, 0x10C80001, "Toolkit test");
  if (!window || !begin_controls(window)) {
    say("{\"error\": \"open_window\"}");
    return 1;
  }
  // Creation order differs from number order on purpose: Tab follows
  // creation (8, 6, 5).
  create_text(1, 10, 8, 220, 18, "Version install\xE9 : 1.00");
  set_control_font(1, font);
  create_frame(2, 5, 30, 390, 125, "Frame");
  create_progress_bar(3, 10, 50, 180, 16, 0, 100, progress_smooth);
  set_control_state(3, 40);
  create_image(4, 10, 75, 48, 48, picture);
  create_image_button(8, 70, 75, 48, 48, flag);
  create_icon_list(6, 200, 50, 190, 140, "Language", 150, 0x40000008);
  add_control_item(6, -1,
                   "Fran\xE7"
                   "ais",
                   image_handle(static_cast<int>(list_flag)));
  add_control_item(6, -1, "English", image_handle(static_cast<int>(list_flag)));
  add_control_item(6, -1, "Deutsch\nGerman", 0);
  // The list keeps its own copies of the icons.
  free_image(static_cast<int>(list_flag));
  create_link(7, 10, 165, 150, 18, "Traducteur", 0xFF0000);
  create_image_button(5, 130, 75, 48, 48, flag);
  create_text(9, 10, 190, 180, 18, "plain text");
  create_status_bar(0, window);
  add_status_bar_field(350);
  set_status_bar_text(0, 0, "Connexion", status_borderless);

  say("{\"ready\": true, \"font_height\": " + std::to_string(described.lfHeight) +
      ", \"font_weight\": " + std::to_string(described.lfWeight) +
      ", \"dpi\": " + std::to_string(dpi) + ", \"caption_button\": [" +
      std::to_string(GetSystemMetrics(SM_CXSIZE)) + ", " +
      std::to_string(GetSystemMetrics(SM_CYSIZE)) + "], \"frame\": [" +
      std::to_string(GetSystemMetrics(SM_CXFIXEDFRAME)) + ", " +
      std::to_string(GetSystemMetrics(SM_CYFIXEDFRAME)) + "], \"screen\": [" +
      std::to_string(GetSystemMetrics(SM_CXSCREEN)) + ", " +
      std::to_string(GetSystemMetrics(SM_CYSCREEN)) + "]}");

  thread_start(reader, static_cast<int>(GetCurrentThreadId()));
  for (;;) {
    const int code = wait_window_event();
    if (!handled.empty()) {
      std::string list;
      for (const auto& [message, notification] : handled)
        list += (list.empty() ? "[" : ", [") + std::to_string(message) + ", " +
                std::to_string(notification) + "]";
      handled.clear();
      say("{\"returned\": " + std::to_string(code) + ", \"handled\": [" + list + "]}");
    }
    if (code == static_cast<int>(command_message)) {
      std::string command;
      {
        std::lock_guard<sync_mutex> guard(commands_mutex);
        if (commands.empty()) continue;
        command = commands.front();
        commands.pop_front();
      }
      if (command == "show") {
        show_window(1, 0);
      } else if (command == "hide") {
        show_window(1, 1);
      } else if (command == "open2") {
        open_window(2, 100, 100, 200, 100, window_centred, "Second window");
        set_window_background(2, colour_white);
      } else if (command == "box") {
        // A message box as the programs show one: owned by the window,
        // empty title, stop icon. Answered by the test with the keyboard.
        const int answer = MessageBoxA(reinterpret_cast<HWND>(window_handle(1)),
                                       "Fichier introuvable : langue.ini", "", MB_OK | MB_ICONSTOP);
        say("{\"done\": \"box\", \"answer\": " + std::to_string(answer) + "}");
        continue;
      } else if (command.rfind("view ", 0) == 0) {
        set_icon_list_view(6, std::atoi(command.c_str() + 5));
      } else if (command == "close2") {
        close_window(2);
      } else if (command == "quit") {
        say("{\"done\": \"quit\"}");
        close_all_windows();
        free_all_images();
        free_all_fonts();
        return 0;
      }
      say("{\"done\": " + quoted(command) + "}");
      continue;
    }
    if (code == event_close_request || code == event_control_used)
      say("{\"event\": " + std::to_string(code) +
          ", \"window\": " + std::to_string(event_window()) +
          ", \"control\": " + std::to_string(event_control()) + "}");
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "images") return run_images(argv[2]);
  if (argc == 3 && std::string(argv[1]) == "window") return run_window(argv[2]);
  std::fputs("usage: toolkit_win_test images FOLDER | window FOLDER\n", stderr);
  return 2;
}
