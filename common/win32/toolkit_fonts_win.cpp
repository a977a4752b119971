// The toolkit's fonts on Windows.
#include "win32/toolkit_win_internal.h"

#include <string>
#include <vector>

using namespace toolkit_win;

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
  selection.all_fonts_freed();
}
