// GoogleTest names for the rows of a table of cases: the row's number and
// its description, reduced to the letters, digits and underscores that
// GoogleTest accepts ("03_CR_LF_at_the_end"). Without it a row is named by
// its index and printed as the bytes of its object.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

// For rows with a `what` description.
struct case_name {
  template <class Row>
  std::string operator()(const testing::TestParamInfo<Row>& info) const {
    char number[16];
    std::snprintf(number, sizeof number, "%02zu", info.index);
    std::string name = number;
    bool gap = true;
    for (const char* c = info.param.what; *c != '\0'; ++c) {
      const unsigned char byte = static_cast<unsigned char>(*c);
      if (byte < 128 && std::isalnum(byte)) {
        if (gap) name += '_';
        name += static_cast<char>(byte);
        gap = false;
      } else {
        gap = true;
      }
    }
    return name;
  }
};
