// Bounded decoders for bitmap files and icon files, and the choice of format.
#include "image_decode.h"

#include <cstring>
#include <new>
#include <utility>

namespace {

using byte = std::uint8_t;

std::uint32_t u16(const byte* p) {
  return p[0] | (p[1] << 8);
}
std::uint32_t u32(const byte* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::int32_t s32(const byte* p) {
  return static_cast<std::int32_t>(u32(p));
}
std::uint32_t u32_big(const byte* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

// Bytes of one row of a device-independent bitmap: padded to 32 bits.
std::uint64_t dib_stride(std::uint64_t width, std::uint64_t bits) {
  return (width * bits + 31) / 32 * 4;
}

bool valid_bit_count(std::uint32_t bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// One colour channel described by a bit mask, scaled to 8 bits.
struct channel {
  std::uint32_t mask = 0;
  int shift = 0;
  std::uint32_t max = 0;

  bool set(std::uint32_t m) {
    mask = m;
    if (m == 0) return false;
    shift = 0;
    while (!((m >> shift) & 1)) ++shift;
    std::uint32_t v = m >> shift;
    if (v & (v + 1)) return false;  // not one run of bits
    max = v;
    return true;
  }
  byte get(std::uint32_t pixel) const {
    std::uint32_t v = (pixel & mask) >> shift;
    return static_cast<byte>((static_cast<std::uint64_t>(v) * 255 + max / 2) / max);
  }
};


}  // namespace

bool image_size_acceptable(std::int64_t width, std::int64_t height) {
  return width <= max_image_side && height <= max_image_side && width * height <= max_image_pixels;
}

bool allocate_pixels(std::vector<std::uint8_t>& pixels, std::size_t bytes) {
  try {
    pixels.assign(bytes, 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool looks_like_bitmap(const byte* data, std::size_t size) {
  return data && size >= 2 && data[0] == 'B' && data[1] == 'M';
}

bool looks_like_icon(const byte* data, std::size_t size) {
  return data && size >= 4 && data[0] == 0 && data[1] == 0 && data[2] == 1 && data[3] == 0;
}

bool looks_like_jpeg(const byte* data, std::size_t size) {
  return data && size >= 2 && data[0] == 0xFF && data[1] == 0xD8;
}

decode_result decode_bitmap(const byte* data, std::size_t size, decoded_image& out) {
  if (!looks_like_bitmap(data, size)) return decode_result::not_recognised;
  if (size < 14 + 12) return decode_result::truncated;
  const std::uint32_t pixel_offset = u32(data + 10);
  const std::uint32_t header_size = u32(data + 14);

  std::int64_t width = 0, height = 0;
  std::uint32_t planes = 0, bits = 0, compression = 0, colours_used = 0;
  std::size_t palette_entry = 4;
  if (header_size == 12) {
    width = u16(data + 18);
    height = u16(data + 20);
    planes = u16(data + 22);
    bits = u16(data + 24);
    palette_entry = 3;
  } else if (header_size >= 40 && header_size <= 1024) {
    if (size < 14 + std::size_t{header_size}) return decode_result::truncated;
    width = s32(data + 18);
    height = s32(data + 22);
    planes = u16(data + 26);
    bits = u16(data + 28);
    compression = u32(data + 30);
    colours_used = u32(data + 46);
  } else {
    return decode_result::malformed;
  }
  if (planes != 1 || !valid_bit_count(bits)) return decode_result::malformed;
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height <= 0) return decode_result::malformed;
  if (!image_size_acceptable(width, height)) return decode_result::too_large;

  // Masks of 16- and 32-bit pixels: given explicitly (bit fields) or the
  // defaults 5-5-5 and 8-8-8.
  std::size_t palette_start = 14 + std::size_t{header_size};
  channel red, green, blue;
  if (compression == 3) {
    if (bits != 16 && bits != 32) return decode_result::malformed;
    std::size_t masks = 14 + 40;
    if (header_size == 40) palette_start += 12;
    if (size < masks + 12) return decode_result::truncated;
    if (!red.set(u32(data + masks)) || !green.set(u32(data + masks + 4)) ||
        !blue.set(u32(data + masks + 8)))
      return decode_result::malformed;
  } else if (compression == 0) {
    if (bits == 16) {
      red.set(0x7C00), green.set(0x03E0), blue.set(0x001F);
    } else if (bits == 32) {
      red.set(0xFF0000), green.set(0xFF00), blue.set(0xFF);
    }
  } else {
    return decode_result::unsupported;  // run-length or embedded compression
  }

  std::size_t palette_count = 0;
  if (bits <= 8) {
    palette_count = colours_used ? colours_used : (1u << bits);
    if (palette_count > 256) return decode_result::malformed;
    if (palette_start + palette_count * palette_entry > size) return decode_result::truncated;
  }

  const std::uint64_t stride = dib_stride(width, bits);
  if (pixel_offset < palette_start + palette_count * palette_entry) return decode_result::malformed;
  if (pixel_offset > size || stride * height > size - pixel_offset) return decode_result::truncated;

  decoded_image image;
  image.kind = image_kind::bitmap;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  if (!allocate_pixels(image.pixels, static_cast<std::size_t>(width * height * 3)))
    return decode_result::too_large;

  const byte* palette = data + palette_start;
  for (std::int64_t y = 0; y < height; ++y) {
    const std::int64_t source_row = top_down ? y : height - 1 - y;
    const byte* row = data + pixel_offset + source_row * stride;
    byte* target = image.pixels.data() + y * width * 3;
    for (std::int64_t x = 0; x < width; ++x, target += 3) {
      std::uint32_t index = 0;
      switch (bits) {
        case 1:
          index = (row[x / 8] >> (7 - x % 8)) & 1;
          break;
        case 4:
          index = (row[x / 2] >> (x % 2 ? 0 : 4)) & 15;
          break;
        case 8:
          index = row[x];
          break;
        case 16: {
          std::uint32_t p = u16(row + x * 2);
          target[0] = blue.get(p), target[1] = green.get(p), target[2] = red.get(p);
          continue;
        }
        case 24:
          std::memcpy(target, row + x * 3, 3);
          continue;
        case 32: {
          std::uint32_t p = u32(row + x * 4);
          target[0] = blue.get(p), target[1] = green.get(p), target[2] = red.get(p);
          continue;
        }
      }
      // An index beyond a short palette shows black, as the platform does.
      if (index < palette_count) std::memcpy(target, palette + index * palette_entry, 3);
    }
  }
  out = std::move(image);
  return decode_result::ok;
}

decode_result decode_icon(const byte* data, std::size_t size, decoded_image& out) {
  if (!looks_like_icon(data, size)) return decode_result::not_recognised;
  if (size < 6) return decode_result::truncated;
  const std::size_t count = u16(data + 4);
  if (count == 0) return decode_result::malformed;
  const std::size_t directory_end = 6 + count * 16;
  if (size < directory_end) return decode_result::truncated;

  // Only the directory's first image is used: the other entries are never
  // read, so one that is damaged or points past the end costs nothing.
  const byte* entry = data + 6;
  const std::uint64_t bytes = u32(entry + 8);
  const std::uint64_t offset = u32(entry + 12);
  if (bytes == 0 || offset < directory_end) return decode_result::malformed;
  if (offset > size || bytes > size - offset) return decode_result::truncated;
  const byte* image_data = data + offset;

  decoded_image image;
  image.kind = image_kind::icon;
  image.icon_offset = static_cast<std::size_t>(offset);
  image.icon_size = static_cast<std::size_t>(bytes);

  static const byte png_signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (bytes >= 8 && std::memcmp(image_data, png_signature, 8) == 0) {
    // The signature, then the IHDR chunk: length, type, width, height.
    if (bytes < 8 + 8 + 13) return decode_result::truncated;
    if (u32_big(image_data + 8) != 13 || std::memcmp(image_data + 12, "IHDR", 4) != 0)
      return decode_result::malformed;
    const std::uint32_t width = u32_big(image_data + 16), height = u32_big(image_data + 20);
    if (width == 0 || height == 0) return decode_result::malformed;
    if (!image_size_acceptable(width, height)) return decode_result::too_large;
    image.icon_png = true;
    image.icon_bit_count = 32;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    out = std::move(image);
    return decode_result::ok;
  }

  // A device-independent bitmap twice the icon's height: the colour rows,
  // then the transparency mask of one bit per pixel.
  if (bytes < 40) return decode_result::truncated;
  const std::uint32_t header_size = u32(image_data);
  if (header_size < 40 || header_size > bytes) return decode_result::malformed;
  const std::int64_t width = s32(image_data + 4);
  const std::int64_t double_height = s32(image_data + 8);
  const std::uint32_t planes = u16(image_data + 12);
  const std::uint32_t bits = u16(image_data + 14);
  const std::uint32_t compression = u32(image_data + 16);
  const std::uint32_t colours_used = u32(image_data + 32);
  if (width <= 0 || double_height <= 0 || double_height % 2 != 0 || planes > 1 ||
      !valid_bit_count(bits))
    return decode_result::malformed;
  if (compression != 0) return decode_result::unsupported;
  const std::int64_t height = double_height / 2;
  if (!image_size_acceptable(width, height)) return decode_result::too_large;
  std::uint64_t palette_count = 0;
  if (bits <= 8) {
    palette_count = colours_used ? colours_used : (1u << bits);
    if (palette_count > 256) return decode_result::malformed;
  }
  const std::uint64_t needed = header_size + palette_count * 4 + dib_stride(width, bits) * height +
                               dib_stride(width, 1) * height;
  if (needed > bytes) return decode_result::truncated;
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.icon_bit_count = static_cast<int>(bits);
  out = std::move(image);
  return decode_result::ok;
}

decode_result decode_image_with(const void* data, std::size_t size, jpeg_decoder jpeg,
                                decoded_image& out) {
  const byte* bytes = static_cast<const byte*>(data);
  if (!bytes || size == 0) return decode_result::not_recognised;
  if (looks_like_bitmap(bytes, size)) return decode_bitmap(bytes, size, out);
  if (looks_like_icon(bytes, size)) return decode_icon(bytes, size, out);
  if (jpeg && looks_like_jpeg(bytes, size)) return jpeg(bytes, size, out);
  return decode_result::not_recognised;
}
