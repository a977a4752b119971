// Image decoding: the three formats and their refusals. Portable: it runs
// natively and as a Windows program (the toolkit's side is in
// image_toolkit_test.cpp).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image_decode.h"
#include "image_fixtures.h"

namespace {

using image_test::bytes;
using image_test::fixture;

void put32(bytes& data, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) data[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void put16_big(bytes& data, std::size_t at, std::uint32_t v) {
  data[at] = static_cast<std::uint8_t>(v >> 8);
  data[at + 1] = static_cast<std::uint8_t>(v);
}

// Blue, green, red of the pixel at x, y (top row 0).
std::vector<int> pixel(const decoded_image& image, int x, int y) {
  const std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 3;
  return {image.pixels[at], image.pixels[at + 1], image.pixels[at + 2]};
}

// Position of the start-of-frame marker's height field in a JPEG.
std::size_t jpeg_frame_sizes(const bytes& data) {
  for (std::size_t i = 2; i + 9 < data.size(); ++i)
    if (data[i] == 0xFF && data[i + 1] == 0xC0) return i + 5;
  ADD_FAILURE() << "no SOF0 marker";
  return 0;
}

}  // namespace

TEST(ImageDecode, BitmapsInTheirVariantsGiveTheSamePicture) {
  for (const char* name : {"rgb24.bmp", "pal4.bmp", "topdown.bmp"}) {
    SCOPED_TRACE(name);
    const bytes data = fixture(name);
    decoded_image image;
    ASSERT_EQ(decode_image(data.data(), data.size(), false, image), decode_result::ok);
    EXPECT_EQ(image.kind, image_kind::bitmap);
    EXPECT_EQ(image.width, 5);
    EXPECT_EQ(image.height, 3);
    ASSERT_EQ(image.pixels.size(), 5u * 3 * 3);
    EXPECT_EQ(pixel(image, 0, 0), (std::vector<int>{255, 0, 0}));  // blue
    EXPECT_EQ(pixel(image, 4, 2), (std::vector<int>{0, 255, 0}));  // green
    EXPECT_EQ(pixel(image, 2, 1), (std::vector<int>{0, 0, 255}));  // red
    EXPECT_EQ(pixel(image, 4, 0), (std::vector<int>{0, 0, 255}));
  }
}

TEST(ImageDecode, IconTakesTheDirectorysFirstImage) {
  const bytes data = fixture("flag.ico");
  decoded_image image;
  ASSERT_EQ(decode_image(data.data(), data.size(), false, image), decode_result::ok);
  EXPECT_EQ(image.kind, image_kind::icon);
  EXPECT_EQ(image.width, 32);
  EXPECT_EQ(image.height, 32);
  EXPECT_EQ(image.icon_offset, 6u + 2 * 16);
  EXPECT_FALSE(image.icon_png);
  EXPECT_EQ(image.icon_bit_count, 32);

  // The same directory reordered so the small image comes first.
  bytes swapped = data;
  std::copy(data.begin() + 6, data.begin() + 22, swapped.begin() + 22);
  std::copy(data.begin() + 22, data.begin() + 38, swapped.begin() + 6);
  ASSERT_EQ(decode_image(swapped.data(), swapped.size(), false, image), decode_result::ok);
  EXPECT_EQ(image.width, 16);
}

TEST(ImageDecode, JpegColourAndGreyScaleGiveColourRows) {
  const bytes colour = fixture("colour.jpg");
  decoded_image image;
  ASSERT_EQ(decode_image(colour.data(), colour.size(), true, image), decode_result::ok);
  EXPECT_EQ(image.kind, image_kind::bitmap);
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(image.height, 8);
  ASSERT_EQ(image.pixels.size(), 16u * 8 * 3);
  const std::vector<int> left = pixel(image, 1, 4), right = pixel(image, 14, 4);
  EXPECT_GT(left[2], 200);  // red on the left
  EXPECT_LT(left[0], 60);
  EXPECT_GT(right[0], 200);  // blue on the right
  EXPECT_LT(right[2], 60);

  const bytes grey = fixture("grey.jpg");
  ASSERT_EQ(decode_image(grey.data(), grey.size(), true, image), decode_result::ok);
  EXPECT_EQ(image.width, 16);
  EXPECT_EQ(image.height, 8);
  ASSERT_EQ(image.pixels.size(), 16u * 8 * 3);
  for (int y : {0, 7}) {
    const std::vector<int> p = pixel(image, 8, y);
    EXPECT_EQ(p[0], p[1]);
    EXPECT_EQ(p[1], p[2]);
  }
  EXPECT_GT(pixel(image, 8, 0)[0], pixel(image, 8, 7)[0] + 100);  // white top, black bottom
}

TEST(ImageDecode, DataOfNoKnownFormatIsRefused) {
  const struct {
    const char* label;
    bytes data;
    bool jpeg_allowed;
  } cases[] = {
      {"empty", {}, true},
      {"GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0}, true},
      {"PNG", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, true},
      {"one byte of BM", {'B'}, true},
      {"cursor directory (type 2)", {0, 0, 2, 0, 1, 0}, true},
      {"JPEG without the decoder", fixture("colour.jpg"), false},
      {"text", {'h', 'e', 'l', 'l', 'o'}, true},
  };
  for (const auto& c : cases) {
    decoded_image image;
    EXPECT_EQ(decode_image(c.data.data(), c.data.size(), c.jpeg_allowed, image),
              decode_result::not_recognised)
        << c.label;
  }
  decoded_image image;
  EXPECT_EQ(decode_image(nullptr, 10, true, image), decode_result::not_recognised);
}

TEST(ImageDecode, EveryStrictPrefixIsRefused) {
  for (const char* name : {"rgb24.bmp", "pal4.bmp", "topdown.bmp", "colour.jpg", "grey.jpg"}) {
    const bytes data = fixture(name);
    for (std::size_t length = 0; length < data.size(); ++length) {
      decoded_image image;
      EXPECT_NE(decode_image(data.data(), length, true, image), decode_result::ok)
          << name << " cut to " << length << " bytes";
    }
  }
}

// An icon file is refused when its cut reaches the first image, and gives
// that image when only later ones are lost.
TEST(ImageDecode, IconCutShortGivesItsFirstImageWhileThatIsWhole) {
  const bytes data = fixture("flag.ico");
  const std::size_t first_end = 6 + 2 * 16 + 4264;  // directory, then the 32 x 32 image
  ASSERT_LT(first_end, data.size());
  for (std::size_t length = 0; length < data.size(); ++length) {
    decoded_image image;
    const decode_result result = decode_image(data.data(), length, true, image);
    if (length < first_end) {
      EXPECT_NE(result, decode_result::ok) << "cut to " << length << " bytes";
    } else {
      EXPECT_EQ(result, decode_result::ok) << "cut to " << length << " bytes";
      EXPECT_EQ(image.width, 32) << "cut to " << length << " bytes";
      EXPECT_EQ(image.icon_offset, 6u + 2 * 16);
    }
  }
}

// Entries after the first are never used: damage there must not cost the
// flag (the platform takes the first image too).
TEST(ImageDecode, IconWithADamagedLaterEntryGivesItsFirstImage) {
  const bytes ico = fixture("flag.ico");
  const std::size_t second = 6 + 16;
  const struct {
    const char* label;
    std::size_t at;
    std::uint32_t value;
  } cases[] = {
      {"second image beyond the end", second + 12, 0xFFFFFF00u},
      {"second image larger than the file", second + 8, 0x7FFFFFFF},
      {"second image of no bytes", second + 8, 0},
      {"second image inside the directory", second + 12, 8},
      {"second image just past the end", second + 12, static_cast<std::uint32_t>(ico.size())},
  };
  for (const auto& c : cases) {
    bytes data = ico;
    put32(data, c.at, c.value);
    decoded_image image;
    ASSERT_EQ(decode_image(data.data(), data.size(), true, image), decode_result::ok) << c.label;
    EXPECT_EQ(image.kind, image_kind::icon) << c.label;
    EXPECT_EQ(image.width, 32) << c.label;
    EXPECT_EQ(image.height, 32) << c.label;
    EXPECT_EQ(image.icon_offset, 6u + 2 * 16) << c.label;
    EXPECT_EQ(image.icon_size, 4264u) << c.label;
  }
}

TEST(ImageDecode, HeadersThatLieAreRefused) {
  const bytes bmp = fixture("rgb24.bmp");
  const bytes ico = fixture("flag.ico");
  const bytes jpeg = fixture("colour.jpg");
  const std::size_t sof = jpeg_frame_sizes(jpeg);

  struct change {
    const char* label;
    bytes data;
    decode_result expected;
  };
  std::vector<change> cases;
  auto edited = [](bytes data, auto edit) {
    edit(data);
    return data;
  };
  cases.push_back({"bitmap width beyond the limit",
                   edited(bmp, [](bytes& d) { put32(d, 18, max_image_side + 1); }),
                   decode_result::too_large});
  cases.push_back({"bitmap taller than its data", edited(bmp, [](bytes& d) { put32(d, 22, 4); }),
                   decode_result::truncated});
  cases.push_back({"bitmap pixel offset past the end",
                   edited(bmp, [](bytes& d) { put32(d, 10, 0x7FFFFFF0); }),
                   decode_result::truncated});
  cases.push_back({"bitmap pixel offset inside the header",
                   edited(bmp, [](bytes& d) { put32(d, 10, 20); }), decode_result::malformed});
  cases.push_back({"bitmap width zero", edited(bmp, [](bytes& d) { put32(d, 18, 0); }),
                   decode_result::malformed});
  cases.push_back({"bitmap height of the smallest int",
                   edited(bmp, [](bytes& d) { put32(d, 22, 0x80000000u); }),
                   decode_result::too_large});
  cases.push_back({"bitmap of 7 bits per pixel", edited(bmp, [](bytes& d) { d[28] = 7; }),
                   decode_result::malformed});
  cases.push_back({"bitmap run-length compressed", edited(bmp, [](bytes& d) { put32(d, 30, 1); }),
                   decode_result::unsupported});
  cases.push_back({"bitmap header size 1000 in a short file",
                   edited(bmp, [](bytes& d) { put32(d, 14, 1000); }), decode_result::truncated});
  cases.push_back({"bitmap palette of 4000 colours",
                   edited(fixture("pal4.bmp"), [](bytes& d) { put32(d, 46, 4000); }),
                   decode_result::malformed});
  cases.push_back({"icon directory of no images", edited(ico, [](bytes& d) { d[4] = 0; }),
                   decode_result::malformed});
  cases.push_back({"icon directory longer than the file",
                   edited(ico, [](bytes& d) { d[4] = 0xFF, d[5] = 0xFF; }),
                   decode_result::truncated});
  cases.push_back({"icon image beyond the end",
                   edited(ico, [](bytes& d) { put32(d, 6 + 12, 0xFFFFFF00u); }),
                   decode_result::truncated});
  cases.push_back({"icon image larger than the file",
                   edited(ico, [](bytes& d) { put32(d, 6 + 8, 0x7FFFFFFF); }),
                   decode_result::truncated});
  cases.push_back({"icon image inside the directory",
                   edited(ico, [](bytes& d) { put32(d, 6 + 12, 8); }), decode_result::malformed});
  cases.push_back({"icon image claiming a height it has no rows for",
                   edited(ico, [](bytes& d) { put32(d, 38 + 8, 2 * 200); }),
                   decode_result::truncated});
  cases.push_back({"icon image of odd double height",
                   edited(ico, [](bytes& d) { put32(d, 38 + 8, 63); }), decode_result::malformed});
  cases.push_back({"JPEG of 65000 x 65000",
                   edited(jpeg,
                          [&](bytes& d) {
                            put16_big(d, sof, 65000);
                            put16_big(d, sof + 2, 65000);
                          }),
                   decode_result::too_large});
  cases.push_back({"JPEG of width zero", edited(jpeg, [&](bytes& d) { put16_big(d, sof + 2, 0); }),
                   decode_result::malformed});
  cases.push_back({"JPEG with garbage after the start marker",
                   edited(jpeg, [](bytes& d) { std::fill(d.begin() + 2, d.begin() + 40, 0x11); }),
                   decode_result::malformed});

  for (const auto& c : cases) {
    decoded_image image;
    EXPECT_EQ(decode_image(c.data.data(), c.data.size(), true, image), c.expected) << c.label;
  }
}

TEST(ImageDecode, CorruptJpegEntropyDataIsRefusedWithoutEndingTheProgram) {
  const bytes jpeg = fixture("colour.jpg");
  // Overwrite the scan data (everything after the start-of-scan header, up
  // to the end marker) with bytes that are no valid Huffman codes.
  std::size_t sos = 0;
  for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) sos = i;
  ASSERT_NE(sos, 0u);
  const std::size_t scan = sos + 2 + (jpeg[sos + 2] << 8 | jpeg[sos + 3]);
  bytes corrupt = jpeg;
  for (std::size_t i = scan; i + 2 < corrupt.size(); ++i) corrupt[i] = 0xFF;
  decoded_image image;
  EXPECT_NE(decode_image(corrupt.data(), corrupt.size(), true, image), decode_result::ok);

  // And a stream that ends in the middle of its scan.
  EXPECT_EQ(decode_image(jpeg.data(), scan + 4, true, image), decode_result::truncated);
}
