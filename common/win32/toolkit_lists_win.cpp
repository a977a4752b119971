// The toolkit's icon list on Windows: a list view whose item icons live in
// two image lists shared by every list, at the small and the large icon size.
#include "win32/toolkit_win_internal.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace toolkit_win;

namespace {

HIMAGELIST small_icons = nullptr, large_icons = nullptr;
int stored_icons = 0;  // slots of the icon lists in use, the same in both

// The icon of a list item, by the item's key (its lParam): made into an icon
// of the lists' storage when a list first asks for it (index >= 0 from then
// on), forgotten when the item is deleted.
struct item_icon {
  std::shared_ptr<const image_source> source;
  int index = -1;
};
std::map<LPARAM, item_icon> item_icons;
LPARAM last_item_key = 0;

void ensure_icon_storage() {
  if (small_icons || !controls_api.images) return;
  small_icons = controls_api.ImageList_Create(
      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), ILC_COLOR32 | ILC_MASK, 8, 8);
  large_icons = controls_api.ImageList_Create(
      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), ILC_COLOR32 | ILC_MASK, 8, 8);
}

// A copy of a bitmap scaled to the given size, for an image list.
HBITMAP scaled_bitmap(HBITMAP source, int source_width, int source_height, int width, int height) {
  const win::window_dc screen(nullptr);
  const win::unique_memory_dc from(CreateCompatibleDC(screen.get()));
  const win::unique_memory_dc to(CreateCompatibleDC(screen.get()));
  HBITMAP scaled = CreateCompatibleBitmap(screen.get(), width, height);
  if (from && to && scaled) {
    const win::gdi_selection from_source(from.get(), source);
    const win::gdi_selection to_scaled(to.get(), scaled);
    SetStretchBltMode(to.get(), HALFTONE);
    SetBrushOrgEx(to.get(), 0, 0, nullptr);
    StretchBlt(to.get(), 0, 0, width, height, from.get(), 0, 0, source_width, source_height,
               SRCCOPY);
  }
  return scaled;
}

// The first unused slot of both icon lists. The platform grows an image list
// by its fixed step and copies all its images each time, so storing many
// icons one by one would take quadratic time; the lists are grown here by
// doubling instead, and the slots beyond the used ones stay blank until an
// icon is stored there.
int free_icon_slot() {
  const int capacity = std::min(controls_api.ImageList_GetImageCount(small_icons),
                                controls_api.ImageList_GetImageCount(large_icons));
  if (stored_icons < capacity) return stored_icons;
  const int wanted = std::max(16, stored_icons * 2);
  if (!controls_api.ImageList_SetImageCount(small_icons, static_cast<UINT>(wanted)) ||
      !controls_api.ImageList_SetImageCount(large_icons, static_cast<UINT>(wanted)))
    return -1;
  return stored_icons;
}

// Copies an image into both icon lists; its index, or -1.
int store_list_icon(HANDLE image, bool icon, int width, int height) {
  ensure_icon_storage();
  if (!small_icons || !large_icons) return -1;
  const int slot = free_icon_slot();
  if (slot < 0) return -1;
  bool stored = true;
  if (icon) {
    // The lists draw the icon at their own sizes.
    for (HIMAGELIST list : {small_icons, large_icons})
      stored = stored &&
               controls_api.ImageList_ReplaceIcon(list, slot, static_cast<HICON>(image)) == slot;
  } else {
    for (HIMAGELIST list : {small_icons, large_icons}) {
      int cx = 0, cy = 0;
      controls_api.ImageList_GetIconSize(list, &cx, &cy);
      const win::unique_bitmap copy(
          stored ? scaled_bitmap(static_cast<HBITMAP>(image), width, height, cx, cy) : nullptr);
      stored = copy && controls_api.ImageList_Replace(list, slot, copy.get(), nullptr);
    }
  }
  // A slot half written stays unused; the next icon takes it.
  if (!stored) return -1;
  return stored_icons++;
}

int store_list_icon(HANDLE image) {
  bool icon = false;
  int width = 0, height = 0;
  if (!image_facts(image, icon, width, height)) return -1;
  return store_list_icon(image, icon, width, height);
}

// The source of one of the toolkit's images, null for any other handle.
std::shared_ptr<const image_source> source_of(HANDLE image) {
  lock guard(tables_mutex);
  const int number = images.find_number([&](const image_record& r) { return r.handle() == image; });
  return number >= 0 ? images.find(number)->source : nullptr;
}

}  // namespace

// Answers a list asking for an item's icon (LVN_GETDISPINFO): the icon is
// stored the first time, and its index given from then on.
void toolkit_win::give_item_icon(HWND list, LVITEMA& asked) {
  if (!(asked.mask & LVIF_IMAGE) || asked.iSubItem != 0) return;
  LVITEMA item{};
  item.mask = LVIF_PARAM;
  item.iItem = asked.iItem;
  auto found = SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))
                   ? item_icons.find(item.lParam)
                   : item_icons.end();
  asked.iImage = I_IMAGENONE;
  if (found != item_icons.end()) {
    item_icon& icon = found->second;
    if (icon.source) {
      const bool is_icon = icon.source->decoded.kind == image_kind::icon;
      const HANDLE image = make_native_image(icon.source->decoded, icon.source->data.data());
      // Owned here: the lists keep copies.
      const win::unique_icon icon_image(is_icon ? static_cast<HICON>(image) : nullptr);
      const win::unique_bitmap bitmap_image(is_icon ? nullptr : static_cast<HBITMAP>(image));
      if (image) {
        icon.index = store_list_icon(image, is_icon, icon.source->decoded.width,
                                     icon.source->decoded.height);
      }
      icon.source.reset();
    }
    if (icon.index >= 0) asked.iImage = icon.index;
  }
  asked.mask |= LVIF_DI_SETITEM;
}

void toolkit_win::forget_item_icon(LPARAM key) {
  item_icons.erase(key);
}

ui_handle create_icon_list(int number, int x, int y, int width, int height,
                           const std::string& column_title, int column_width, unsigned flags) {
  flags = icon_list_flags(flags);
  DWORD style = LVS_REPORT | LVS_SHAREIMAGELISTS | WS_TABSTOP;
  if (!(flags & list_multiple)) style |= LVS_SINGLESEL;
  if (flags & list_keep_selection) style |= LVS_SHOWSELALWAYS;
  const ui_handle result =
      add_control(number, x, y, width, height,
                  {control_kind::icon_list, WC_LISTVIEWA, style, WS_EX_CLIENTEDGE, {}});
  control_view view;
  if (!result || !view_control(number == -1 ? static_cast<int>(result) : number, view))
    return result;
  DWORD extended = 0;
  if (flags & list_full_row) extended |= LVS_EX_FULLROWSELECT;
  if (flags & list_grid) extended |= LVS_EX_GRIDLINES;
  if (flags & list_reorder_columns) extended |= LVS_EX_HEADERDRAGDROP;
  if (flags & list_check_boxes) extended |= LVS_EX_CHECKBOXES;
  SendMessageA(view.hwnd, LVM_SETEXTENDEDLISTVIEWSTYLE, extended, extended);
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_WIDTH;
  column.cx = column_width;
  column.pszText = const_cast<char*>(column_title.c_str());
  SendMessageA(view.hwnd, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
  ensure_icon_storage();
  SendMessageA(view.hwnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(small_icons));
  SendMessageA(view.hwnd, LVM_SETIMAGELIST, LVSIL_NORMAL, reinterpret_cast<LPARAM>(large_icons));
  return result;
}

void add_control_item(int number, int position, const std::string& text, ui_handle image) {
  control_view view;
  if (!view_control(number, view) || view.kind != control_kind::icon_list) return;
  const std::vector<std::string> columns = item_columns(text);
  LVITEMA item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  const LRESULT count = SendMessageA(view.hwnd, LVM_GETITEMCOUNT, 0, 0);
  item.iItem = position < 0 || position > count ? static_cast<int>(count) : position;
  item.pszText = const_cast<char*>(columns[0].c_str());
  std::shared_ptr<const image_source> source =
      image ? source_of(reinterpret_cast<HANDLE>(image)) : nullptr;
  if (source) {
    // One of ours: its icon is stored when the list first shows the item.
    // Storing an icon costs more than all the rest of adding an item, and
    // a long list shows few of its items.
    item.mask |= LVIF_PARAM;
    item.lParam = ++last_item_key;
    item.iImage = I_IMAGECALLBACK;
    item_icons[item.lParam].source = std::move(source);
  } else {
    item.iImage = image ? store_list_icon(reinterpret_cast<HANDLE>(image)) : I_IMAGENONE;
    if (item.iImage < 0) item.iImage = I_IMAGENONE;
  }
  const LRESULT index =
      SendMessageA(view.hwnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
  if (index < 0) {
    if (item.mask & LVIF_PARAM) item_icons.erase(item.lParam);
    return;
  }
  for (std::size_t i = 1; i < columns.size(); ++i) {
    LVITEMA sub{};
    sub.iSubItem = static_cast<int>(i);
    sub.pszText = const_cast<char*>(columns[i].c_str());
    SendMessageA(view.hwnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&sub));
  }
}

void clear_control_items(int number) {
  control_view view;
  if (view_control(number, view) && view.kind == control_kind::icon_list)
    SendMessageA(view.hwnd, LVM_DELETEALLITEMS, 0, 0);
}

void set_icon_list_view(int number, int mode) {
  control_view view;
  if (!view_control(number, view) || view.kind != control_kind::icon_list) return;
  static const DWORD views[] = {LVS_ICON, LVS_SMALLICON, LVS_LIST, LVS_REPORT};
  if (mode < 0 || mode > 3) return;
  const LONG_PTR style = GetWindowLongPtrA(view.hwnd, GWL_STYLE);
  SetWindowLongPtrA(view.hwnd, GWL_STYLE, (style & ~LONG_PTR{LVS_TYPEMASK}) | views[mode]);
  SendMessageA(view.hwnd, LVM_ARRANGE, LVA_DEFAULT, 0);
  InvalidateRect(view.hwnd, nullptr, TRUE);
}
