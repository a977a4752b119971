// Decoding of the image formats the toolkit accepts: Windows bitmap files,
// icon files (the directory's first image, whatever the other entries say)
// and JPEG/JFIF through libjpeg.
//
// Every read is bounded by the given size; data that is truncated, lies
// about its sizes or is otherwise malformed is refused with a result other
// than ok, never read out of bounds. Nothing throws (a failed allocation of
// the pixel rows is reported as too_large). Pure functions, any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class image_kind { bitmap, icon };

enum class decode_result {
  ok,
  not_recognised,  // none of the formats' signatures
  truncated,       // the data ends before the image does
  malformed,       // inconsistent or impossible header fields, corrupt data
  unsupported,     // a valid variant that is not decoded (RLE, CMYK JPEG, ...)
  too_large,       // sides beyond max_image_side or more than max_image_pixels
};

// Bounds on decoded images, so a header that lies about its size cannot make
// the decoder reserve gigabytes.
constexpr int max_image_side = 16384;
constexpr std::int64_t max_image_pixels = std::int64_t{1} << 25;

struct decoded_image {
  image_kind kind = image_kind::bitmap;
  int width = 0;
  int height = 0;
  // Bitmaps and JPEG: rows from the top, width * 3 bytes each, no padding,
  // in blue-green-red order (the byte order of a 24-bit device-independent
  // bitmap). Empty for icons.
  std::vector<std::uint8_t> pixels;
  // Icons: where the first image's data lies inside the decoded data, and
  // whether it is a PNG stream rather than a device-independent bitmap.
  std::size_t icon_offset = 0;
  std::size_t icon_size = 0;
  bool icon_png = false;
  int icon_bit_count = 0;
};

decode_result decode_bitmap(const std::uint8_t* data, std::size_t size, decoded_image& out);
decode_result decode_icon(const std::uint8_t* data, std::size_t size, decoded_image& out);
// In image_jpeg.cpp, with libjpeg.
decode_result decode_jpeg(const std::uint8_t* data, std::size_t size, decoded_image& out);

bool looks_like_bitmap(const std::uint8_t* data, std::size_t size);
bool looks_like_icon(const std::uint8_t* data, std::size_t size);
bool looks_like_jpeg(const std::uint8_t* data, std::size_t size);

// A JPEG decoder (decode_jpeg), or none.
using jpeg_decoder = decode_result (*)(const std::uint8_t* data, std::size_t size,
                                       decoded_image& out);

// Picks the format by signature: "BM" a bitmap, an icon directory an icon,
// otherwise JPEG (FF D8) when a decoder is given. JPEG streams are refused
// as not recognised without one.
decode_result decode_image_with(const void* data, std::size_t size, jpeg_decoder jpeg,
                                decoded_image& out);
// The same with decode_jpeg when jpeg_allowed (image_jpeg.cpp: it links
// libjpeg).
decode_result decode_image(const void* data, std::size_t size, bool jpeg_allowed,
                           decoded_image& out);

// Shared by the decoders: the bounds above, and the pixel rows reserved
// without throwing (false when memory is short).
bool image_size_acceptable(std::int64_t width, std::int64_t height);
bool allocate_pixels(std::vector<std::uint8_t>& pixels, std::size_t bytes);
