// Numbered text files over real files: line reading over tricky line ends,
// the current-file rule, the table of numbers and write results.
#include "files.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "case_names.h"
#include "service_fixtures.h"

namespace {

using service_test::open_descriptors;
using service_test::scratch_folder;

// The next count lines of the current file.
std::vector<std::string> read_lines(std::size_t count) {
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) lines.push_back(file_read_line());
  return lines;
}

struct line_case {
  const char* what;
  std::string bytes;
  std::vector<std::string> lines;  // followed by empty texts
};

// A failing row is shown by its description, not its object's bytes.
void PrintTo(const line_case& row, std::ostream* out) {
  *out << row.what;
}

std::vector<line_case> line_cases() {
  using namespace std::string_literals;
  const std::string long_line(70000, 'x');
  // A CR as the last byte of one 4,096-byte read and its LF as the first of
  // the next: still one line end.
  const std::string before_boundary(4095, 'a');
  return {
      {"CR LF, lone CR, LF and no final line end",
       "one\r\ntwo\rthree\nfour",
       {"one", "two", "three", "four"}},
      {"lone CR at the end yields its line once", "last\r", {"last"}},
      {"CR LF at the end", "last\r\n", {"last"}},
      {"two CRs: an empty line between", "a\r\rb", {"a", "", "b"}},
      {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
      {"LF CR: LF ends, CR ends an empty line", "a\n\rb", {"a", "", "b"}},
      {"empty lines", "\n\nx\n", {"", "", "x"}},
      {"zero byte ends a line and is consumed", "ab\0cd\n"s, {"ab", "cd"}},
      {"zero byte after CR is put back and ends an empty line", "ab\r\0cd"s, {"ab", "", "cd"}},
      {"bytes above 127 are kept", "caf\xE9\r\n\xFF\n", {"caf\xE9", "\xFF"}},
      {"tab kept", "a\tb\n", {"a\tb"}},
      {"empty file", "", {}},
      {"line longer than any buffer", long_line + "\r\nend", {long_line, "end"}},
      {"CR LF across a buffer boundary", before_boundary + "\r\nb", {before_boundary, "b"}},
      {"CR then other byte across a buffer boundary",
       before_boundary + "\rb",
       {before_boundary, "b"}},
  };
}

class LineReadTable : public ::testing::TestWithParam<line_case> {};

TEST_P(LineReadTable, LinesThenEmptyTexts) {
  const line_case& c = GetParam();
  scratch_folder folder;
  folder.write("f.txt", c.bytes);
  ASSERT_NE(file_open_read(1, folder.system_path("f.txt")), 0) << c.what;
  std::vector<std::string> expected = c.lines;
  expected.insert(expected.end(), 3, "");
  EXPECT_EQ(read_lines(expected.size()), expected) << c.what;
  file_close(1);
}

INSTANTIATE_TEST_SUITE_P(Cases, LineReadTable, ::testing::ValuesIn(line_cases()), case_name());

TEST(Files, WriteResultsAndBytes) {
  scratch_folder folder;
  ASSERT_NE(file_create(0, folder.system_path("out.txt")), 0);
  EXPECT_EQ(file_write_line(""), 2u);
  EXPECT_EQ(file_write_text(""), 0u);
  EXPECT_EQ(file_write_line("abc"), 5u);
  EXPECT_EQ(file_write_text("de"), 2u);
  EXPECT_EQ(file_write_bytes("fgh", 3), 1);
  EXPECT_EQ(file_write_bytes(nullptr, 3), 0);
  EXPECT_EQ(file_write_bytes("x", 0), 0);
  EXPECT_EQ(file_write_text(std::string("z\0y", 3)), 3u);
  file_close(0);
  EXPECT_EQ(folder.read("out.txt"), std::string("\r\nabc\r\ndefghz\0y", 15));
}

TEST(Files, CreateEmptiesAnExistingFile) {
  scratch_folder folder;
  folder.write("out.txt", "old contents that are longer\r\n");
  ASSERT_NE(file_create(0, folder.system_path("out.txt")), 0);
  file_write_line("new");
  file_close(0);
  EXPECT_EQ(folder.read("out.txt"), "new\r\n");
}

TEST(Files, WrittenLinesReadBack) {
  scratch_folder folder;
  ASSERT_NE(file_create(10, folder.system_path("round.txt")), 0);
  file_write_line("first");
  file_write_line("");
  file_write_line("third \xE9");
  file_close(10);
  ASSERT_NE(file_open_read(10, folder.system_path("round.txt")), 0);
  EXPECT_EQ(read_lines(4), (std::vector<std::string>{"first", "", "third \xE9", ""}));
  file_close(10);
}

TEST(Files, CurrentFileIsTheMostRecentlyOpened) {
  scratch_folder folder;
  folder.write("a.txt", "a1\na2\n");
  folder.write("b.txt", "b1\nb2\n");
  ASSERT_NE(file_open_read(1, folder.system_path("a.txt")), 0);
  ASSERT_NE(file_open_read(2, folder.system_path("b.txt")), 0);
  EXPECT_EQ(file_read_line(), "b1");
  // Closing a file that is not the current one keeps the current file.
  file_close(1);
  EXPECT_EQ(file_read_line(), "b2");
  file_close(2);
}

TEST(Files, ClosingTheCurrentFileLeavesNoneEvenIfOthersAreOpen) {
  scratch_folder folder;
  folder.write("a.txt", "a1\n");
  ASSERT_NE(file_create(3, folder.system_path("w.txt")), 0);
  ASSERT_NE(file_open_read(4, folder.system_path("a.txt")), 0);
  file_close(4);
  EXPECT_EQ(file_read_line(), "");
  EXPECT_EQ(file_write_line("lost"), 0u);
  EXPECT_EQ(file_write_text("lost"), 0u);
  EXPECT_EQ(file_write_bytes("lost", 4), 0);
  file_close(3);
  EXPECT_EQ(folder.read("w.txt"), "") << "file 3 was not current: nothing written to it";
}

TEST(Files, ReopeningANumberClosesTheFirstFile) {
  scratch_folder folder;
  folder.write("a.txt", "a1\n");
  folder.write("b.txt", "b1\n");
  const int before = open_descriptors();
  ASSERT_NE(file_open_read(1, folder.system_path("a.txt")), 0);
  ASSERT_NE(file_open_read(1, folder.system_path("b.txt")), 0);
  EXPECT_EQ(open_descriptors(), before + 1);
  EXPECT_EQ(file_read_line(), "b1");
  file_close(1);
  EXPECT_EQ(open_descriptors(), before);
}

TEST(Files, FailedOpenKeepsTheTableAndLeavesNoCurrentFile) {
  scratch_folder folder;
  folder.write("a.txt", "a1\na2\n");
  std::filesystem::create_directory(folder.path() / "dir");
  const int before = open_descriptors();
  ASSERT_NE(file_open_read(1, folder.system_path("a.txt")), 0);
  EXPECT_EQ(file_read_line(), "a1");

  const struct {
    const char* what;
    int result;
  } failures[] = {
      {"open of a missing file", file_open_read(1, folder.system_path("missing.txt"))},
      {"open of a folder", file_open_read(1, folder.system_path("dir"))},
      {"create where a folder stands", file_create(1, folder.system_path("dir"))},
      {"create in a missing folder", file_create(1, folder.system_path("no\\such.txt"))},
      {"empty path", file_open_read(1, "")},
      {"negative number", file_open_read(-5, folder.system_path("a.txt"))},
  };
  for (const auto& f : failures) EXPECT_EQ(f.result, 0) << f.what;
  EXPECT_EQ(file_read_line(), "") << "no current file after a failed open";
  EXPECT_EQ(open_descriptors(), before + 1) << "file 1 is still open under its number";
  file_close(1);
  EXPECT_EQ(open_descriptors(), before);
}

TEST(Files, AnyNonNegativeNumberAndANewOne) {
  scratch_folder folder;
  folder.write("a.txt", "high\n");
  folder.write("b.txt", "new\n");
  ASSERT_NE(file_open_read(2000000000, folder.system_path("a.txt")), 0);
  EXPECT_EQ(file_read_line(), "high");
  // -1 asks for a new number, returned (never 0, which means failure).
  const int number = file_open_read(-1, folder.system_path("b.txt"));
  ASSERT_GT(number, 0);
  EXPECT_NE(number, 2000000000);
  EXPECT_EQ(file_read_line(), "new");
  const int other = file_open_read(-1, folder.system_path("b.txt"));
  EXPECT_GT(other, 0);
  EXPECT_NE(other, number);
  file_close(other);
  file_close(number);
  file_close(2000000000);
}

TEST(Files, CloseOfAnUnusedNumberIsIgnored) {
  scratch_folder folder;
  folder.write("a.txt", "a1\na2\n");
  ASSERT_NE(file_open_read(7, folder.system_path("a.txt")), 0);
  file_close(8);
  file_close(-3);
  EXPECT_EQ(file_read_line(), "a1");
  file_close(7);
}

TEST(Files, CloseAllClosesEveryNumber) {
  scratch_folder folder;
  folder.write("a.txt", "a\n");
  const int before = open_descriptors();
  for (int n : {0, 1, 10, 50}) ASSERT_NE(file_open_read(n, folder.system_path("a.txt")), 0);
  EXPECT_EQ(open_descriptors(), before + 4);
  file_close_all();
  EXPECT_EQ(open_descriptors(), before);
  EXPECT_EQ(file_read_line(), "");
}

TEST(Files, ReadingAWrittenFileAndWritingAReadFileDoNothing) {
  scratch_folder folder;
  folder.write("a.txt", "keep\n");
  ASSERT_NE(file_open_read(1, folder.system_path("a.txt")), 0);
  EXPECT_EQ(file_write_line("x"), 0u);
  file_close(1);
  EXPECT_EQ(folder.read("a.txt"), "keep\n");
  ASSERT_NE(file_create(1, folder.system_path("w.txt")), 0);
  file_write_line("x");
  EXPECT_EQ(file_read_line(), "");
  file_close(1);
}

}  // namespace
