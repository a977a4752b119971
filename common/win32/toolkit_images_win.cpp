// The toolkit's images on Windows: decoded pictures as native bitmaps
// (24-bit DIB sections) and icons.
#include "win32/toolkit_win_internal.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using namespace toolkit_win;

HANDLE toolkit_win::make_native_image(const decoded_image& decoded, const std::uint8_t* data) {
  if (decoded.kind == image_kind::icon) {
    // CreateIconFromResourceEx wants a writable, separately held copy.
    std::vector<BYTE> resource(data + decoded.icon_offset,
                               data + decoded.icon_offset + decoded.icon_size);
    return CreateIconFromResourceEx(resource.data(), static_cast<DWORD>(resource.size()), TRUE,
                                    0x00030000, decoded.width, decoded.height, LR_DEFAULTCOLOR);
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = decoded.width;
  info.bmiHeader.biHeight = -decoded.height;  // rows from the top
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bitmap || !bits) return bitmap;
  const std::size_t row = static_cast<std::size_t>(decoded.width) * 3;
  const std::size_t stride = (row + 3) & ~std::size_t{3};
  auto* target = static_cast<std::uint8_t*>(bits);
  for (int y = 0; y < decoded.height; ++y)
    std::copy_n(decoded.pixels.data() + y * row, row, target + y * stride);
  GdiFlush();
  return bitmap;
}

namespace {

ui_handle store_image(int requested, decode_result result, decoded_image decoded,
                      const std::uint8_t* data) {
  if (result != decode_result::ok) return 0;
  auto source = std::make_shared<image_source>();
  if (decoded.kind == image_kind::icon) {
    source->data.assign(data + decoded.icon_offset, data + decoded.icon_offset + decoded.icon_size);
    decoded.icon_offset = 0;
  }
  source->decoded = std::move(decoded);
  auto record = std::make_unique<image_record>();
  const HANDLE handle = make_native_image(source->decoded, source->data.data());
  if (!handle) return 0;
  if (source->decoded.kind == image_kind::icon) {
    record->icon.reset(static_cast<HICON>(handle));
  } else {
    record->bitmap.reset(static_cast<HBITMAP>(handle));
  }
  record->width = source->decoded.width;
  record->height = source->decoded.height;
  record->source = std::move(source);
  lock guard(tables_mutex);
  const int number = images.claim(requested);
  if (number < 0) return 0;
  std::unique_ptr<image_record> old = images.put(number, std::move(record));
  return requested == -1 ? static_cast<ui_handle>(number) : reinterpret_cast<ui_handle>(handle);
}

}  // namespace

bool toolkit_win::image_facts(HANDLE image, bool& icon, int& width, int& height) {
  if (!image) return false;
  {
    lock guard(tables_mutex);
    const int number =
        images.find_number([&](const image_record& r) { return r.handle() == image; });
    if (number >= 0) {
      const image_record* r = images.find(number);
      icon = r->icon.valid(), width = r->width, height = r->height;
      return true;
    }
  }
  if (GetObjectType(image) == OBJ_BITMAP) {
    BITMAP bitmap{};
    if (!GetObject(image, sizeof bitmap, &bitmap)) return false;
    icon = false, width = bitmap.bmWidth, height = std::abs(bitmap.bmHeight);
    return true;
  }
  ICONINFO info{};
  if (!GetIconInfo(static_cast<HICON>(image), &info)) return false;
  // Copies made for the caller.
  const win::unique_bitmap colour(info.hbmColor), mask(info.hbmMask);
  BITMAP bitmap{};
  if (info.hbmColor) {
    GetObject(info.hbmColor, sizeof bitmap, &bitmap);
  } else if (info.hbmMask) {
    GetObject(info.hbmMask, sizeof bitmap, &bitmap);
    bitmap.bmHeight /= 2;  // the mask holds both halves
  }
  icon = true, width = bitmap.bmWidth, height = bitmap.bmHeight;
  return width > 0 && height > 0;
}

// ---- Images -------------------------------------------------------------------------

ui_handle catch_image(int number, const void* data, std::size_t size) {
  if (!creatable_number(number)) return 0;
  free_image(number);
  decoded_image decoded;
  const decode_result result = decode_image_data(data, size, decoded);
  return store_image(number, result, std::move(decoded), static_cast<const std::uint8_t*>(data));
}

ui_handle load_image(int number, const std::string& path) {
  if (!creatable_number(number)) return 0;
  free_image(number);
  decoded_image decoded;
  std::vector<std::uint8_t> contents;
  const decode_result result = decode_image_file(path, decoded, contents);
  return store_image(number, result, std::move(decoded), contents.data());
}

ui_handle image_handle(int number) {
  lock guard(tables_mutex);
  const image_record* image = images.find(number);
  return image ? reinterpret_cast<ui_handle>(image->handle()) : 0;
}

ui_handle use_image(int number) {
  const ui_handle handle = image_handle(number);
  if (handle) selection.current_image = handle;
  return handle;
}

ui_handle current_image_handle() {
  return selection.current_image;
}

int is_image(int number) {
  return image_handle(number) ? 1 : 0;
}

void free_image(int number) {
  std::unique_ptr<image_record> image;
  {
    lock guard(tables_mutex);
    image = images.take(number);
  }
  if (image) selection.image_freed(reinterpret_cast<ui_handle>(image->handle()));
}

void free_all_images() {
  std::vector<std::unique_ptr<image_record>> all;
  {
    lock guard(tables_mutex);
    all = images.take_all();
  }
  selection.all_images_freed();
}
