// ui_probe: prints a window of another process, with its controls, as JSON.
// A Windows console program, run under the same Wine as the program under
// test; the Wine tests read its output.
//
// Usage:
//   ui_probe [--title TEXT] [--pid PID] [--exe NAME] [--visible] [--wait MS]
//   ui_probe --handle HANDLE
//   ui_probe --boxes [--pid PID] [--exe NAME] [--wait MS]
//   ui_probe --list-count N [--title TEXT] [--pid PID] [--exe NAME] [--visible] [--wait MS]
//   ui_probe --modules [--pid PID] [--exe NAME]
//
//   --title TEXT  a top-level window whose title contains TEXT (bytes,
//                 case-sensitive; the argument is taken as Windows-1252).
//   --pid PID     a top-level window of that process (decimal id, as
//                 Windows sees it: under Wine, not the Linux pid).
//   --exe NAME    a top-level window of a process whose executable file
//                 name is NAME, compared without case ("update_client.exe").
//   --visible     only windows that are visible.
//   --wait MS     retry every 100 ms for up to MS milliseconds until a
//                 matching window (or, with --boxes, a message box) exists.
//   --handle H    the window of that handle (decimal, as "handle" in the
//                 output), described again; no search.
//   --boxes       list the message boxes (class "#32770") of the process
//                 named by --pid or --exe (of every process when neither is
//                 given) instead of describing one window.
//   --list-count N  instead of describing the window, wait (within --wait)
//                 until its first list control holds at least N items and
//                 print {"list_count": n}. Only the count is asked for, so
//                 a long list costs one message per try; a window busy
//                 filling its list answers once it reads messages again.
//   --modules     list the file of each module (program and DLLs) loaded in
//                 the processes named by --pid or --exe, as
//                 {"modules": [{"pid": 56, "path": "C:\\...\\comctl32.dll"}]}:
//                 which common controls a manifest brought in, for example.
// The filters combine. Among several matches the first visible one in
// z-order is taken, else the first one. Message boxes (class "#32770") are
// never taken as "the window" unless --title names one.
//
// Exit code: 0 found, 1 nothing found (the JSON is then {"error": "..."}),
// 2 bad arguments. A window that ends while it is being read is reported as
// {"error": "the window has gone", "gone": true}, never half described.
//
// Output of a window (one JSON object; rectangles are [left, top, right,
// bottom]; texts are converted from Windows-1252 to JSON strings):
// {
//   "window": {
//     "handle": 1234, "pid": 56, "class": "...", "title": "...",
//     "rect": [l, t, r, b],            outer frame, screen coordinates
//     "client": [width, height],       inner area size
//     "client_origin": [x, y],         inner area's top-left on the screen
//     "visible": true, "enabled": true, "minimised": false,
//     "style": 281542656, "exstyle": 256,  (decimal)
//     "caption": true,                 (style & WS_CAPTION) == WS_CAPTION
//     "system_menu": true,             style & WS_SYSMENU
//     "topmost": false,                exstyle & WS_EX_TOPMOST
//     "foreground": true               it is GetForegroundWindow()
//   },
//   "focus": 3,              control id of the focused child, null if none
//   "controls": [            every descendant window, in creation order
//     {                      (EnumChildWindows order)
//       "handle": 1240, "id": 3,    id = GetDlgCtrlID (the toolkit gives
//                                   each control its number as its id)
//       "class": "Button", "text": "...",
//       "rect": [l, t, r, b],       screen coordinates
//       "client_rect": [x, y, w, h] relative to the window's inner area
//       "enabled": true, "visible": true, "focused": false,
//       "style": 1342177280, "exstyle": 0,
//       // only for class msctls_progress32:
//       "progress": {"pos": 40, "min": 0, "max": 100},
//       // only for class msctls_statusbar32:
//       "fields": ["text of field 0", "..."], "field_ends": [350, -1],
//       // only for class SysListView32:
//       "view": 0,                  LVS_TYPEMASK of the style: 0 icon,
//                                   1 report, 2 small icon, 3 list
//       "list_exstyle": 32,         LVM_GETEXTENDEDLISTVIEWSTYLE (decimal)
//       "headings": [{"text": "", "width": 100}]   the columns' headings
//       "items": [{"text": "first column", "columns": ["first", "second"],
//                  "selected": true, "focused": false, "rect": [l, t, r, b]}]
//                                   item rect in screen coordinates
//                                   (LVIR_BOUNDS), for clicking it
//     }
//   ],
//   "message_box": null or a box as below: the foreground window when it
//                  is a message box of the same process
// }
//
// Output of --boxes:
// {"boxes": [{"handle": 1300, "pid": 56, "title": "", "text": "...",
//             "icon": "stop" | "information" | "warning" | "question" |
//                     "none" | "other",
//             "buttons": ["OK"], "rect": [l, t, r, b], "visible": true,
//             "owner": 1234 (handle of the owner window, 0 if none)}]}

#include <windows.h>
// After windows.h:
#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "win32/win_handles.h"

namespace {

struct options {
  std::string title;
  DWORD pid = 0;
  bool by_pid = false;
  std::string exe;
  bool visible_only = false;
  int wait_ms = 0;
  bool boxes = false;
  HWND handle = nullptr;
  int list_count = -1;  // -1: describe the window instead
  bool modules = false;
};

// ---- JSON output -------------------------------------------------------------

std::string json_text(const std::string& text) {
  // Windows-1252 bytes to UTF-16, written as \u escapes where not ASCII.
  std::string out = "\"";
  if (text.empty()) return out + "\"";
  const int count =
      MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(count), L'\0');
  MultiByteToWideChar(1252, 0, text.data(), static_cast<int>(text.size()), wide.data(), count);
  for (wchar_t c : wide) {
    if (c == L'"' || c == L'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    }
  }
  return out + "\"";
}

std::string json_rect(const RECT& r) {
  return "[" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
         std::to_string(r.right) + ", " + std::to_string(r.bottom) + "]";
}

const char* json_bool(bool value) {
  return value ? "true" : "false";
}

std::string handle_number(HWND hwnd) {
  return std::to_string(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(hwnd)));
}

std::string window_text(HWND hwnd) {
  // WM_GETTEXT rather than GetWindowText, which does not ask other
  // processes' controls for their text.
  std::string text(65536, '\0');
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                           SMTO_ABORTIFHUNG, 2000, &length))
    return {};
  text.resize(std::min<std::size_t>(length, text.size()));
  return text;
}

std::string class_name(HWND hwnd) {
  char name[256] = {};
  GetClassNameA(hwnd, name, sizeof name);
  return name;
}

// ---- Memory in the target process -------------------------------------------

// A block of memory in another process, for messages whose parameters are
// pointers (status-bar and list-view texts).
class remote_block {
 public:
  remote_block(DWORD pid, std::size_t size)
      : process_(
            OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid)),
        size_(size) {
    if (process_)
      address_ =
          VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  }
  ~remote_block() {
    if (address_) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  remote_block(const remote_block&) = delete;
  remote_block& operator=(const remote_block&) = delete;

  bool valid() const { return address_ != nullptr; }
  char* address(std::size_t offset = 0) const { return static_cast<char*>(address_) + offset; }
  bool write(std::size_t offset, const void* data, std::size_t size) const {
    SIZE_T done = 0;
    return WriteProcessMemory(process_.get(), address(offset), data, size, &done) && done == size;
  }
  bool read(std::size_t offset, void* data, std::size_t size) const {
    SIZE_T done = 0;
    return ReadProcessMemory(process_.get(), address(offset), data, size, &done) && done == size;
  }

 private:
  win::unique_kernel_handle process_;
  void* address_ = nullptr;
  std::size_t size_;
};

DWORD process_of(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

LRESULT send(HWND hwnd, UINT message, WPARAM first, LPARAM second) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(hwnd, message, first, second, SMTO_ABORTIFHUNG, 2000, &result)) return 0;
  return static_cast<LRESULT>(result);
}

// ---- Controls ---------------------------------------------------------------------

std::string status_fields(HWND bar) {
  const int count = static_cast<int>(send(bar, SB_GETPARTS, 0, 0));
  std::string out;
  constexpr std::size_t text_size = 4096;
  remote_block block(process_of(bar), text_size + 256 * sizeof(int));
  if (!block.valid()) return ", \"fields\": null";
  std::vector<int> ends(static_cast<std::size_t>(std::max(count, 0)));
  if (count > 0) {
    send(bar, SB_GETPARTS, static_cast<WPARAM>(count),
         reinterpret_cast<LPARAM>(block.address(text_size)));
    block.read(text_size, ends.data(), ends.size() * sizeof(int));
  }
  out += ", \"fields\": [";
  for (int i = 0; i < count; ++i) {
    std::string text(text_size, '\0');
    const char zero[1] = {0};
    block.write(0, zero, 1);
    const LRESULT result =
        send(bar, SB_GETTEXTA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(block.address()));
    const std::size_t length = std::min<std::size_t>(LOWORD(result), text_size - 1);
    block.read(0, text.data(), length);
    text.resize(length);
    out += (i ? ", " : "") + json_text(text);
  }
  out += "], \"field_ends\": [";
  for (int i = 0; i < count; ++i) out += (i ? ", " : "") + std::to_string(ends[i]);
  return out + "]";
}

std::string list_items(HWND list) {
  const int count = static_cast<int>(send(list, LVM_GETITEMCOUNT, 0, 0));
  HWND header = reinterpret_cast<HWND>(send(list, LVM_GETHEADER, 0, 0));
  int columns = header ? static_cast<int>(send(header, HDM_GETITEMCOUNT, 0, 0)) : 1;
  if (columns < 1) columns = 1;
  const LONG_PTR style = GetWindowLongPtrA(list, GWL_STYLE);
  std::string out =
      ", \"view\": " + std::to_string(style & LVS_TYPEMASK) + ", \"list_exstyle\": " +
      std::to_string(static_cast<DWORD>(send(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0)));
  constexpr std::size_t text_size = 4096;
  remote_block block(process_of(list), sizeof(LVITEMA) + sizeof(RECT) + text_size);
  if (!block.valid()) return out + ", \"headings\": [], \"items\": []";
  const std::size_t text_at = sizeof(LVITEMA) + sizeof(RECT);
  static_assert(sizeof(LVCOLUMNA) <= sizeof(LVITEMA) + sizeof(RECT));
  out += ", \"headings\": [";
  for (int column = 0; column < columns; ++column) {
    LVCOLUMNA heading{};
    heading.mask = LVCF_TEXT | LVCF_WIDTH;
    heading.pszText = block.address(text_at);
    heading.cchTextMax = static_cast<int>(text_size);
    const char zero[1] = {0};
    block.write(text_at, zero, 1);
    block.write(0, &heading, sizeof heading);
    if (!send(list, LVM_GETCOLUMNA, static_cast<WPARAM>(column),
              reinterpret_cast<LPARAM>(block.address())))
      break;
    block.read(0, &heading, sizeof heading);
    std::string text(text_size, '\0');
    block.read(text_at, text.data(), text.size());
    text.resize(std::min(text.find('\0'), text.size()));
    out += std::string(column ? ", " : "") + "{\"text\": " + json_text(text) +
           ", \"width\": " + std::to_string(heading.cx) + "}";
  }
  out += "], \"items\": [";
  for (int i = 0; i < count; ++i) {
    std::vector<std::string> texts;
    for (int column = 0; column < columns; ++column) {
      LVITEMA item{};
      item.iSubItem = column;
      item.pszText = block.address(text_at);
      item.cchTextMax = static_cast<int>(text_size);
      block.write(0, &item, sizeof item);
      const LRESULT length = send(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(i),
                                  reinterpret_cast<LPARAM>(block.address()));
      std::string text(static_cast<std::size_t>(std::clamp<LRESULT>(length, 0, text_size - 1)),
                       '\0');
      block.read(text_at, text.data(), text.size());
      texts.push_back(text);
    }
    const LRESULT state =
        send(list, LVM_GETITEMSTATE, static_cast<WPARAM>(i), LVIS_SELECTED | LVIS_FOCUSED);
    RECT bounds{LVIR_BOUNDS, 0, 0, 0};
    block.write(sizeof(LVITEMA), &bounds, sizeof bounds);
    if (send(list, LVM_GETITEMRECT, static_cast<WPARAM>(i),
             reinterpret_cast<LPARAM>(block.address(sizeof(LVITEMA)))))
      block.read(sizeof(LVITEMA), &bounds, sizeof bounds);
    else
      bounds = RECT{};
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&bounds), 2);
    out += (i ? ", " : "");
    out += "{\"text\": " + json_text(texts[0]) + ", \"columns\": [";
    for (std::size_t c = 0; c < texts.size(); ++c) out += (c ? ", " : "") + json_text(texts[c]);
    out += "], \"selected\": " + std::string(json_bool(state & LVIS_SELECTED)) +
           ", \"focused\": " + json_bool(state & LVIS_FOCUSED) +
           ", \"rect\": " + json_rect(bounds) + "}";
  }
  return out + "]";
}

HWND focused_window(HWND top) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!GetGUIThreadInfo(GetWindowThreadProcessId(top, nullptr), &info)) return nullptr;
  return info.hwndFocus;
}

// Empty when the control no longer exists.
std::string describe_control(HWND top, HWND control, HWND focus) {
  RECT screen{};
  if (!GetWindowRect(control, &screen)) return {};
  RECT relative = screen;
  MapWindowPoints(nullptr, top, reinterpret_cast<POINT*>(&relative), 2);
  const std::string name = class_name(control);
  std::string out =
      "{\"handle\": " + handle_number(control) +
      ", \"id\": " + std::to_string(GetDlgCtrlID(control)) + ", \"class\": " + json_text(name) +
      ", \"text\": " + json_text(window_text(control)) + ", \"rect\": " + json_rect(screen) +
      ", \"client_rect\": [" + std::to_string(relative.left) + ", " + std::to_string(relative.top) +
      ", " + std::to_string(relative.right - relative.left) + ", " +
      std::to_string(relative.bottom - relative.top) + "]" +
      ", \"enabled\": " + json_bool(IsWindowEnabled(control)) +
      ", \"visible\": " + json_bool(IsWindowVisible(control)) +
      ", \"focused\": " + json_bool(control == focus) +
      ", \"style\": " + std::to_string(static_cast<DWORD>(GetWindowLongPtrA(control, GWL_STYLE))) +
      ", \"exstyle\": " +
      std::to_string(static_cast<DWORD>(GetWindowLongPtrA(control, GWL_EXSTYLE)));
  if (lstrcmpiA(name.c_str(), PROGRESS_CLASSA) == 0) {
    const LRESULT pos = send(control, PBM_GETPOS, 0, 0);
    const LRESULT low = send(control, PBM_GETRANGE, TRUE, 0);
    const LRESULT high = send(control, PBM_GETRANGE, FALSE, 0);
    out += ", \"progress\": {\"pos\": " + std::to_string(pos) +
           ", \"min\": " + std::to_string(low) + ", \"max\": " + std::to_string(high) + "}";
  } else if (lstrcmpiA(name.c_str(), STATUSCLASSNAMEA) == 0) {
    out += status_fields(control);
  } else if (lstrcmpiA(name.c_str(), WC_LISTVIEWA) == 0) {
    out += list_items(control);
  }
  return out + "}";
}

// ---- Message boxes ------------------------------------------------------------------

bool is_message_box(HWND hwnd) {
  return class_name(hwnd) == "#32770";
}

// Which system icon the box shows: its icon control's pixels on the screen
// compared with each system icon drawn on the dialog's face colour (icon
// handles of another process cannot be read).
std::string box_icon(HWND box) {
  HWND icon_control = nullptr;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (class_name(child) == "Static" &&
        (GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      icon_control = child;
      break;
    }
  }
  if (!icon_control || !IsWindowVisible(icon_control)) return "none";
  // Wine leaves the icon control visible (under the text) in a box without
  // an icon: ask for its icon handle, a value that crosses processes.
  DWORD_PTR icon_handle = 0;
  const bool answered =
      SendMessageTimeoutA(icon_control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, 2000, &icon_handle);
  if (answered && icon_handle == 0) {
    return "none";
  }
  RECT rect{};
  if (!GetWindowRect(icon_control, &rect)) return "none";
  const int width = GetSystemMetrics(SM_CXICON), height = GetSystemMetrics(SM_CYICON);
  const win::window_dc screen_dc(nullptr);
  const HDC screen = screen_dc.get();
  const win::unique_memory_dc shot_dc(CreateCompatibleDC(screen));
  const win::unique_memory_dc drawn_dc(CreateCompatibleDC(screen));
  const HDC shot = shot_dc.get(), drawn = drawn_dc.get();
  const win::unique_bitmap shot_bitmap(CreateCompatibleBitmap(screen, width, height));
  const win::unique_bitmap drawn_bitmap(CreateCompatibleBitmap(screen, width, height));
  const win::gdi_selection shot_selection(shot, shot_bitmap.get());
  const win::gdi_selection drawn_selection(drawn, drawn_bitmap.get());
  BitBlt(shot, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
  const struct {
    const char* name;
    LPCSTR id;
  } candidates[] = {{"stop", MAKEINTRESOURCEA(32513)},
                    {"question", MAKEINTRESOURCEA(32514)},
                    {"warning", MAKEINTRESOURCEA(32515)},
                    {"information", MAKEINTRESOURCEA(32516)}};
  std::string best = "other";
  double best_difference = 1e18;
  RECT all{0, 0, width, height};
  HBRUSH face = GetSysColorBrush(COLOR_3DFACE);
  for (const auto& candidate : candidates) {
    FillRect(drawn, &all, face);
    DrawIconEx(drawn, 0, 0, LoadIconA(nullptr, candidate.id), width, height, 0, nullptr, DI_NORMAL);
    double difference = 0;
    for (int y = 0; y < height; y += 2)
      for (int x = 0; x < width; x += 2) {
        const COLORREF a = GetPixel(shot, x, y), b = GetPixel(drawn, x, y);
        difference += std::abs(GetRValue(a) - GetRValue(b)) +
                      std::abs(GetGValue(a) - GetGValue(b)) + std::abs(GetBValue(a) - GetBValue(b));
      }
    if (difference < best_difference) {
      best_difference = difference;
      best = candidate.name;
    }
  }
  // More than a quarter of full difference on average: none of them.
  if (best_difference / ((width / 2) * (height / 2)) > 3 * 64) best = "other";
  return best;
}

std::string describe_box(HWND box) {
  std::string text;
  std::string buttons;
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    const std::string name = class_name(child);
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    if (name == "Button") {
      buttons += (buttons.empty() ? "" : ", ") + json_text(window_text(child));
    } else if (name == "Static" && (style & SS_TYPEMASK) != SS_ICON) {
      const std::string t = window_text(child);
      if (!t.empty()) text += (text.empty() ? "" : "\n") + t;
    }
  }
  RECT rect{};
  GetWindowRect(box, &rect);
  return "{\"handle\": " + handle_number(box) + ", \"pid\": " + std::to_string(process_of(box)) +
         ", \"title\": " + json_text(window_text(box)) + ", \"text\": " + json_text(text) +
         ", \"icon\": " + json_text(box_icon(box)) + ", \"buttons\": [" + buttons +
         "], \"rect\": " + json_rect(rect) + ", \"visible\": " + json_bool(IsWindowVisible(box)) +
         ", \"owner\": " + handle_number(GetWindow(box, GW_OWNER)) + "}";
}

// ---- Finding windows ----------------------------------------------------------------

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::vector<DWORD> processes_named(const std::string& exe) {
  std::vector<DWORD> found;
  const win::unique_file_handle owner(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!owner) return found;
  const HANDLE snapshot = owner.get();
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    std::string name = entry.szExeFile;
    const std::size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos) name = name.substr(slash + 1);
    if (lower(name) == lower(exe)) found.push_back(entry.th32ProcessID);
  }
  return found;
}

struct search {
  const options* wanted;
  std::vector<DWORD> pids;  // empty: any process
  std::vector<HWND> found;
};

BOOL CALLBACK collect_window(HWND hwnd, LPARAM context) {
  auto* s = reinterpret_cast<search*>(context);
  const options& o = *s->wanted;
  if (!s->pids.empty() &&
      std::find(s->pids.begin(), s->pids.end(), process_of(hwnd)) == s->pids.end())
    return TRUE;
  if (o.visible_only && !IsWindowVisible(hwnd)) return TRUE;
  if (o.boxes) {
    if (is_message_box(hwnd)) s->found.push_back(hwnd);
    return TRUE;
  }
  if (!o.title.empty()) {
    if (window_text(hwnd).find(o.title) == std::string::npos) return TRUE;
  } else if (is_message_box(hwnd)) {
    return TRUE;
  }
  // Wine's own helper windows have no title and are of no process of ours.
  if (o.title.empty() && s->pids.empty()) return TRUE;
  s->found.push_back(hwnd);
  return TRUE;
}

bool pick_processes(const options& o, std::vector<DWORD>& pids) {
  if (o.by_pid) pids.push_back(o.pid);
  if (!o.exe.empty()) {
    std::vector<DWORD> named = processes_named(o.exe);
    if (named.empty()) return false;
    if (o.by_pid) {
      if (std::find(named.begin(), named.end(), o.pid) == named.end()) return false;
    } else {
      pids = named;
    }
  }
  return true;
}

std::vector<HWND> find_windows(const options& o) {
  search s{&o, {}, {}};
  if (!pick_processes(o, s.pids)) return {};
  EnumWindows(collect_window, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

BOOL CALLBACK collect_child(HWND hwnd, LPARAM context) {
  reinterpret_cast<std::vector<HWND>*>(context)->push_back(hwnd);
  return TRUE;
}

// Nothing when the window is gone: it may end between being found and
// being read, and a gone window's rectangles are never filled in.
std::optional<std::string> describe_window(HWND top) {
  RECT rect{}, client{};
  POINT origin{0, 0};
  if (!GetWindowRect(top, &rect) || !GetClientRect(top, &client) || !ClientToScreen(top, &origin))
    return std::nullopt;
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrA(top, GWL_STYLE));
  const DWORD exstyle = static_cast<DWORD>(GetWindowLongPtrA(top, GWL_EXSTYLE));
  HWND focus = focused_window(top);
  if (focus && focus != top && !IsChild(top, focus)) focus = nullptr;
  std::vector<HWND> children;
  EnumChildWindows(top, collect_child, reinterpret_cast<LPARAM>(&children));

  std::string out =
      "{\n  \"window\": {\"handle\": " + handle_number(top) +
      ", \"pid\": " + std::to_string(process_of(top)) +
      ", \"class\": " + json_text(class_name(top)) + ", \"title\": " + json_text(window_text(top)) +
      ", \"rect\": " + json_rect(rect) + ", \"client\": [" + std::to_string(client.right) + ", " +
      std::to_string(client.bottom) + "], \"client_origin\": [" + std::to_string(origin.x) + ", " +
      std::to_string(origin.y) + "]" + ", \"visible\": " + json_bool(IsWindowVisible(top)) +
      ", \"enabled\": " + json_bool(IsWindowEnabled(top)) +
      ", \"minimised\": " + json_bool(IsIconic(top)) + ", \"style\": " + std::to_string(style) +
      ", \"exstyle\": " + std::to_string(exstyle) +
      ", \"caption\": " + json_bool((style & WS_CAPTION) == WS_CAPTION) +
      ", \"system_menu\": " + json_bool(style & WS_SYSMENU) +
      ", \"topmost\": " + json_bool(exstyle & WS_EX_TOPMOST) +
      ", \"foreground\": " + json_bool(GetForegroundWindow() == top) + "},\n";
  out += "  \"focus\": " +
         (focus && focus != top ? std::to_string(GetDlgCtrlID(focus)) : std::string("null")) +
         ",\n  \"controls\": [";
  bool any_control = false;
  for (HWND child : children) {
    const std::string control = describe_control(top, child, focus);
    if (control.empty()) continue;
    out += std::string(any_control ? ",\n    " : "\n    ") + control;
    any_control = true;
  }
  out += any_control ? "\n  ],\n" : "],\n";
  HWND foreground = GetForegroundWindow();
  if (foreground && is_message_box(foreground) && process_of(foreground) == process_of(top))
    out += "  \"message_box\": " + describe_box(foreground) + "\n}";
  else
    out += "  \"message_box\": null\n}";
  // Texts of a window that ended while it was read come back empty: report
  // it as gone rather than describe it half.
  if (!IsWindow(top)) return std::nullopt;
  return out;
}

HWND choose(const std::vector<HWND>& found) {
  for (HWND hwnd : found)
    if (IsWindowVisible(hwnd)) return hwnd;
  return found.empty() ? nullptr : found.front();
}

// The window's description, or that it has gone; the exit code.
int print_window(HWND top) {
  const std::optional<std::string> description = describe_window(top);
  if (!description) {
    std::fputs("{\"error\": \"the window has gone\", \"gone\": true}\n", stdout);
    return 1;
  }
  std::fputs((*description + "\n").c_str(), stdout);
  return 0;
}

BOOL CALLBACK find_list(HWND hwnd, LPARAM context) {
  if (lstrcmpiA(class_name(hwnd).c_str(), WC_LISTVIEWA) != 0) return TRUE;
  *reinterpret_cast<HWND*>(context) = hwnd;
  return FALSE;
}

// Waits until the window's first list holds at least wanted items, asking
// until the deadline; the exit code.
int print_list_count(HWND top, int wanted, DWORD start, int wait_ms) {
  int count = -1;
  for (;;) {
    HWND list = nullptr;
    EnumChildWindows(top, find_list, reinterpret_cast<LPARAM>(&list));
    const int left = wait_ms - static_cast<int>(GetTickCount() - start);
    if (list) {
      // No SMTO_ABORTIFHUNG: a window that does not read its messages while
      // it fills the list is what is being waited for.
      DWORD_PTR result = 0;
      if (SendMessageTimeoutA(list, LVM_GETITEMCOUNT, 0, 0, SMTO_NORMAL,
                              static_cast<UINT>(std::max(left, 1)), &result))
        count = static_cast<int>(result);
    }
    if (count >= wanted || !IsWindow(top) || static_cast<int>(GetTickCount() - start) >= wait_ms)
      break;
    Sleep(10);
  }
  std::printf("{\"list_count\": %d}\n", count);
  return count >= wanted ? 0 : 1;
}

int print_modules(const std::vector<DWORD>& pids) {
  std::string out = "{\"modules\": [";
  bool first = true;
  for (DWORD pid : pids) {
    const win::unique_file_handle owner(
        CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, pid));
    if (!owner) continue;
    MODULEENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(owner.get(), &entry); more;
         more = Module32Next(owner.get(), &entry)) {
      out += (first ? "\n  " : ",\n  ");
      out += "{\"pid\": " + std::to_string(pid) + ", \"path\": " + json_text(entry.szExePath) + "}";
      first = false;
    }
  }
  out += first ? "]}\n" : "\n]}\n";
  std::fputs(out.c_str(), stdout);
  return first ? 1 : 0;
}

int usage() {
  std::fputs(
      "usage: ui_probe [--title TEXT] [--pid PID] [--exe NAME] [--visible] [--wait MS]\n"
      "       ui_probe --handle HANDLE\n"
      "       ui_probe --boxes [--pid PID] [--exe NAME] [--wait MS]\n"
      "       ui_probe --list-count N [--title TEXT] [--pid PID] [--exe NAME] [--visible]"
      " [--wait MS]\n"
      "       ui_probe --modules [--pid PID] [--exe NAME]\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--title" && has_value) {
      o.title = argv[++i];
    } else if (arg == "--pid" && has_value) {
      o.pid = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
      o.by_pid = true;
    } else if (arg == "--exe" && has_value) {
      o.exe = argv[++i];
    } else if (arg == "--wait" && has_value) {
      o.wait_ms = std::atoi(argv[++i]);
    } else if (arg == "--visible") {
      o.visible_only = true;
    } else if (arg == "--boxes") {
      o.boxes = true;
    } else if (arg == "--modules") {
      o.modules = true;
    } else if (arg == "--list-count" && has_value) {
      o.list_count = std::atoi(argv[++i]);
      if (o.list_count < 0) return usage();
    } else if (arg == "--handle" && has_value) {
      o.handle = reinterpret_cast<HWND>(
          static_cast<std::uintptr_t>(std::strtoull(argv[++i], nullptr, 10)));
      if (!o.handle) return usage();
    } else {
      return usage();
    }
  }
  if (o.handle && (o.boxes || o.modules || !o.title.empty() || o.by_pid || !o.exe.empty())) return usage();
  if (!o.handle && !o.boxes && o.title.empty() && !o.by_pid && o.exe.empty()) return usage();

  if (o.handle && o.list_count >= 0) return usage();
  if (o.boxes && o.list_count >= 0) return usage();
  if (o.handle) return print_window(o.handle);
  if (o.modules) {
    if (o.boxes || o.list_count >= 0 || (!o.by_pid && o.exe.empty())) return usage();
    std::vector<DWORD> pids;
    if (!pick_processes(o, pids)) {
      std::fputs("{\"modules\": []}\n", stdout);
      return 1;
    }
    return print_modules(pids);
  }

  const DWORD start = GetTickCount();
  std::vector<HWND> found;
  for (;;) {
    found = find_windows(o);
    if (!found.empty() || static_cast<int>(GetTickCount() - start) >= o.wait_ms) break;
    Sleep(100);
  }
  if (o.boxes) {
    std::string out = "{\"boxes\": [";
    for (std::size_t i = 0; i < found.size(); ++i)
      out += (i ? ",\n  " : "\n  ") + describe_box(found[i]);
    out += found.empty() ? "]}\n" : "\n]}\n";
    std::fputs(out.c_str(), stdout);
    return found.empty() ? 1 : 0;
  }
  HWND top = choose(found);
  if (!top) {
    std::fputs("{\"error\": \"no matching window\"}\n", stdout);
    return 1;
  }
  if (o.list_count >= 0) return print_list_count(top, o.list_count, start, o.wait_ms);
  return print_window(top);
}
