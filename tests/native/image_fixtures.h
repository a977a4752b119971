// The image fixtures (tests/fixtures/images) read whole.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace image_test {

using bytes = std::vector<std::uint8_t>;

inline std::string fixture_path(const std::string& name) {
  return std::string(SOURCE_DIR) + "/tests/fixtures/images/" + name;
}

inline bytes fixture(const std::string& name) {
  std::ifstream in(fixture_path(name), std::ios::binary);
  EXPECT_TRUE(in) << name;
  return bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace image_test
