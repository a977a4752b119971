// The JPEG decoder, on libjpeg. A file of its own so that only a program
// that registers it (register_jpeg_decoder) links the library.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

#include <jpeglib.h>

#include "image_decode.h"
#include "toolkit_core.h"

namespace {

using byte = std::uint8_t;

// libjpeg reports fatal errors through error_exit, which must not return:
// it jumps back to decode_jpeg. Warnings (a stream cut short, corrupt
// entropy data) are noted, and decode_jpeg refuses the image.
struct jpeg_trap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  bool warned;
};

void trap_error_exit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<jpeg_trap*>(info->err)->jump, 1);
}

void trap_emit_message(j_common_ptr info, int level) {
  if (level < 0) reinterpret_cast<jpeg_trap*>(info->err)->warned = true;
}

void trap_output_message(j_common_ptr) {}

// Runs the decompression; every exit by longjmp comes back here with no C++
// object of this frame left to destroy (the rows belong to the caller).
decode_result run_decompression(jpeg_decompress_struct* info, jpeg_trap* trap, const byte* data,
                                std::size_t size, decoded_image* image) {
  if (setjmp(trap->jump)) return decode_result::malformed;
  jpeg_create_decompress(info);
  jpeg_mem_src(info, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return decode_result::malformed;
  if (info->image_width == 0 || info->image_height == 0) return decode_result::malformed;
  if (!image_size_acceptable(info->image_width, info->image_height)) return decode_result::too_large;
  if (info->jpeg_color_space != JCS_GRAYSCALE && info->jpeg_color_space != JCS_YCbCr &&
      info->jpeg_color_space != JCS_RGB)
    return decode_result::unsupported;
  // Grey-scale streams are converted to colour by the library.
  info->out_color_space = JCS_RGB;
  jpeg_start_decompress(info);
  if (info->output_components != 3 || info->output_width != info->image_width ||
      info->output_height != info->image_height)
    return decode_result::unsupported;
  const std::size_t stride = std::size_t{info->output_width} * 3;
  if (!allocate_pixels(image->pixels, stride * info->output_height)) return decode_result::too_large;
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = image->pixels.data() + stride * info->output_scanline;
    if (jpeg_read_scanlines(info, &row, 1) != 1) return decode_result::truncated;
  }
  jpeg_finish_decompress(info);
  if (trap->warned) return decode_result::truncated;
  image->width = static_cast<int>(info->output_width);
  image->height = static_cast<int>(info->output_height);
  return decode_result::ok;
}

}  // namespace

decode_result decode_jpeg(const byte* data, std::size_t size, decoded_image& out) {
  if (!looks_like_jpeg(data, size)) return decode_result::not_recognised;
  if (size > 0xFFFFFFFFu) return decode_result::too_large;  // libjpeg counts in unsigned long
  jpeg_decompress_struct info;
  jpeg_trap trap;
  std::memset(&info, 0, sizeof info);
  std::memset(&trap, 0, sizeof trap);
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = trap_error_exit;
  trap.manager.emit_message = trap_emit_message;
  trap.manager.output_message = trap_output_message;

  decoded_image image;
  image.kind = image_kind::bitmap;
  const decode_result result = run_decompression(&info, &trap, data, size, &image);
  jpeg_destroy_decompress(&info);
  if (result != decode_result::ok) return result;
  // libjpeg gives red-green-blue; keep rows in the bitmap's byte order.
  for (std::size_t i = 0; i + 2 < image.pixels.size(); i += 3)
    std::swap(image.pixels[i], image.pixels[i + 2]);
  out = std::move(image);
  return decode_result::ok;
}

decode_result decode_image(const void* data, std::size_t size, bool jpeg_allowed,
                           decoded_image& out) {
  return decode_image_with(data, size, jpeg_allowed ? decode_jpeg : nullptr, out);
}

void register_jpeg_decoder() {
  set_jpeg_decoder(decode_jpeg);
}
