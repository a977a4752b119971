// Fuzz target for the image decoders: arbitrary bytes as a bitmap, an icon
// and a JPEG stream. An accepted image must be consistent with its data.
#include <cstdint>
#include <cstdlib>

#include "image_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  decoded_image image;
  if (decode_image(data, size, true, image) != decode_result::ok) return 0;
  if (image.width <= 0 || image.height <= 0 || image.width > max_image_side ||
      image.height > max_image_side)
    std::abort();
  if (image.kind == image_kind::bitmap) {
    if (image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3)
      std::abort();
  } else if (image.icon_offset > size || image.icon_size > size - image.icon_offset ||
             image.icon_size == 0) {
    std::abort();
  }
  return 0;
}
