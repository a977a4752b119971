// The toolkit's catch_image / load_image over the image decoders, on the
// headless backend, whose test view shows what an image handle holds.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "image_fixtures.h"
#include "posix/headless.h"
#include "toolkit.h"

namespace {

using image_test::bytes;
using image_test::fixture;
using image_test::fixture_path;

class temporary_file {
 public:
  explicit temporary_file(const bytes& contents)
      : path_(std::filesystem::temp_directory_path() /
              ("image_test_" + std::to_string(counter_++) + "_" +
               std::to_string(reinterpret_cast<std::uintptr_t>(this)))) {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(contents.data()),
               static_cast<std::streamsize>(contents.size()));
  }
  ~temporary_file() { std::filesystem::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  static inline int counter_ = 0;
  std::filesystem::path path_;
};

}  // namespace

// Must stay the first test of this program: the decoder registration is
// process-wide and cannot be undone.
TEST(ImageToolkit, JpegRefusedUntilTheDecoderIsRegistered) {
  headless::reset();
  const bytes jpeg = fixture("colour.jpg");
  EXPECT_EQ(catch_image(1, jpeg.data(), jpeg.size()), 0u);
  EXPECT_EQ(is_image(1), 0);
  EXPECT_EQ(load_image(2, fixture_path("colour.jpg")), 0u);
  register_jpeg_decoder();
  const ui_handle handle = catch_image(1, jpeg.data(), jpeg.size());
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(is_image(1), 1);
  ASSERT_TRUE(headless::image(handle));
  EXPECT_EQ(headless::image(handle)->width, 16);
  EXPECT_FALSE(headless::image(handle)->icon);
  EXPECT_NE(load_image(2, fixture_path("colour.jpg")), 0u);
}

TEST(ImageToolkit, LoadImageRefusesMissingEmptyAndTruncatedFilesAndKeepsNothing) {
  headless::reset();
  register_jpeg_decoder();
  const bytes bmp = fixture("rgb24.bmp");
  temporary_file empty(bytes{});
  temporary_file truncated(bytes(bmp.begin(), bmp.end() - 1));
  const std::string folder = std::filesystem::temp_directory_path().string();
  for (const std::string& path :
       {std::string(), fixture_path("no_such_file.bmp"), empty.path(), truncated.path(), folder}) {
    ASSERT_NE(load_image(3, fixture_path("rgb24.bmp")), 0u);
    EXPECT_EQ(load_image(3, path), 0u) << path;
    EXPECT_EQ(is_image(3), 0) << "the old image under the number is freed: " << path;
    EXPECT_EQ(image_handle(3), 0u);
  }
}

TEST(ImageToolkit, LoadImageTakesEachFormatWithItsSize) {
  headless::reset();
  register_jpeg_decoder();
  const struct {
    const char* name;
    int width, height;
    bool icon;
  } cases[] = {{"rgb24.bmp", 5, 3, false},
               {"pal4.bmp", 5, 3, false},
               {"flag.ico", 32, 32, true},
               {"colour.jpg", 16, 8, false},
               {"grey.jpg", 16, 8, false}};
  int number = 0;
  for (const auto& c : cases) {
    const ui_handle handle = load_image(number, fixture_path(c.name));
    ASSERT_NE(handle, 0u) << c.name;
    EXPECT_EQ(image_handle(number), handle);
    const auto info = headless::image(handle);
    ASSERT_TRUE(info) << c.name;
    EXPECT_EQ(info->width, c.width) << c.name;
    EXPECT_EQ(info->height, c.height) << c.name;
    EXPECT_EQ(info->icon, c.icon) << c.name;
    ++number;
  }
}

TEST(ImageToolkit, CatchImageOfAnIconInMemoryAndRefusalOfOtherData) {
  headless::reset();
  const bytes ico = fixture("flag.ico");
  const ui_handle icon = catch_image(-1, ico.data(), ico.size());
  ASSERT_NE(icon, 0u);
  const int number = static_cast<int>(icon);
  EXPECT_GT(number, max_object_number);  // -1 gives a new identifier
  EXPECT_EQ(is_image(number), 1);
  ASSERT_TRUE(headless::image(image_handle(number)));
  EXPECT_TRUE(headless::image(image_handle(number))->icon);

  const char text[] = "not an image at all";
  EXPECT_EQ(catch_image(4, text, sizeof text), 0u);
  EXPECT_EQ(is_image(4), 0);
  EXPECT_EQ(catch_image(-1, text, sizeof text), 0u);
}
