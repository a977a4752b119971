// The toolkit's status bars on Windows.
#include "win32/toolkit_win_internal.h"

#include <algorithm>
#include <string>
#include <vector>

using namespace toolkit_win;

void toolkit_win::resize_status_bars(HWND window) {
  std::vector<HWND> bars;
  {
    lock guard(tables_mutex);
    status_bars.for_each([&](int, const status_record& s) {
      if (GetParent(s.hwnd.get()) == window) bars.push_back(s.hwnd.get());
    });
  }
  for (HWND bar : bars) SendMessageA(bar, WM_SIZE, 0, 0);
}

// ---- Status bar ----------------------------------------------------------------------

ui_handle create_status_bar(int number, ui_handle window) {
  HWND parent = reinterpret_cast<HWND>(window);
  if (window_number_of(parent) < 0) return 0;
  const int claimed = replace_in_table(status_bars, number);
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
