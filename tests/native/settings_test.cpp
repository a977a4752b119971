// The settings reader over real files: the lookup rules as one table, the
// reader's life cycle, and bad input.
#include "settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "case_names.h"
#include "service_fixtures.h"

namespace {

using service_test::scratch_folder;

struct lookup_case {
  const char* what;
  std::string text;
  std::string key;
  std::string expected;  // with the default "DEF"
};

// A failing row is shown by its description, not its object's bytes.
void PrintTo(const lookup_case& row, std::ostream* out) {
  *out << row.what;
}

const std::string kDefault = "DEF";

std::vector<lookup_case> lookup_cases() {
  using namespace std::string_literals;
  return {
      {"plain line", "version=1.2\n", "version", "1.2"},
      {"blanks around key and value, key case ignored", "  VERSION =   1.2\n", "version", "1.2"},
      {"key given in other case", "version=1.2\n", "VeRsIoN", "1.2"},
      {"trailing blanks belong to the value", "version=1.2  \n", "version", "1.2  "},
      {"no line end at all", "version=1.2", "version", "1.2"},
      {"prefix of the key does not match", "version=1.2\n", "ver", "DEF"},
      {"longer key does not match a shorter one", "ver=1\n", "version", "DEF"},
      {"further equals signs stay in the value", "url=a?b=c\n", "url", "a?b=c"},
      {"group header on the first line hides everything", "[main]\nversion=1\n", "version", "DEF"},
      {"keys below a group header are not found", "a=1\n[g]\nversion=2\n", "version", "DEF"},
      {"keys above a group header are found", "a=1\n[g]\nversion=2\n", "a", "1"},
      {"blanks before the bracket: no group header", "  [g]\nversion=2\n", "version", "2"},
      {"bracket line with = is a value line when indented", " [g]=x\n", "[g]", "x"},
      {"comment line", ";version=1\nversion=2\n", "version", "2"},
      {"comment after leading blanks", "   ;version=1\nversion=2\n", "version", "2"},
      {"no comments at the end of a value", "version=9 ; old\n", "version", "9 ; old"},
      {"first match wins", "date=1\ndate=2\n", "date", "1"},
      {"CR LF line ends: no CR in the value", "a=1\r\nversion=2\r\n", "version", "2"},
      {"CR LF: first key", "a=1\r\nversion=2\r\n", "a", "1"},
      {"lone CR: one single line, first key found", "a=1\rversion=2\r", "a", "1"},
      {"lone CR: later keys are not found", "a=1\rversion=2\r", "version", "DEF"},
      {"empty value is not the default", "version=\nx=1\n", "version", ""},
      {"empty value with CR LF", "version=\r\n", "version", ""},
      {"value of blanks only is empty", "version=   \n", "version", ""},
      {"missing key gives the default", "a=1\n", "version", "DEF"},
      {"line without equals sign is ignored", "version\nversion=3\n", "version", "3"},
      {"byte-order mark sticks to the first key", "\xEF\xBB\xBFversion=1\n", "version", "DEF"},
      {"byte-order mark: second line still found",
       "\xEF\xBB\xBF"
       "a=1\nversion=2\n",
       "version", "2"},
      {"tab is an ordinary character in the key", "\tversion=1\n", "version", "DEF"},
      {"tab is kept in the value", "version=\t1\t\n", "version", "\t1\t"},
      {"tab key matches literally", "\tversion=1\n", "\tversion", "1"},
      {"zero byte ends the usable text", "a=1\0version=2\n"s, "version", "DEF"},
      {"zero byte ends a value",
       "version=1\0"
       "2\n"s,
       "version", "1"},
      {"key with blank inside", "my key=v\n", "my key", "v"},
      {"blank lines are skipped", "\n\n   \nversion=5\n", "version", "5"},
      {"equals sign first: empty key never matches", "=x\nversion=6\n", "version", "6"},
      {"key containing CR does not match", "version\r=1\n", "version", "DEF"},
      {"non-ASCII bytes compare exactly", "cl\xE9=1\n", "CL\xC9", "DEF"},
      {"non-ASCII key found exactly", "cl\xE9=1\n", "cl\xE9", "1"},
      {"empty text", "", "version", "DEF"},
      {"LF only text", "\n", "version", "DEF"},
  };
}

class SettingsLookupTable : public ::testing::TestWithParam<lookup_case> {};

TEST_P(SettingsLookupTable, PureLookupAndReaderAgree) {
  const lookup_case& c = GetParam();
  std::string value;
  const bool found = settings_lookup(c.text, c.key, value);
  EXPECT_EQ(found ? value : kDefault, c.expected) << c.what;

  scratch_folder folder;
  folder.write("s.ini", c.text);
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0) << c.what;
  EXPECT_EQ(settings_read(c.key, kDefault), c.expected) << c.what;
  settings_close();
}

INSTANTIATE_TEST_SUITE_P(Cases, SettingsLookupTable, ::testing::ValuesIn(lookup_cases()),
                         case_name());

TEST(Settings, CrlfAndLfFilesReadTheSame) {
  const std::vector<std::string> keys = {"version", "date", "url", "missing"};
  const std::string lf = "version=1.2\n; note\ndate=2024-01-01\nurl=http://x/y?a=b\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  for (const std::string& key : keys) {
    std::string a, b;
    const bool found_lf = settings_lookup(lf, key, a);
    const bool found_crlf = settings_lookup(crlf, key, b);
    EXPECT_EQ(found_lf, found_crlf) << key;
    EXPECT_EQ(a, b) << key;
  }
}

TEST(Settings, EmptyKeyGivesTheDefault) {
  std::string value = "untouched";
  EXPECT_FALSE(settings_lookup("=x\n", "", value));
  EXPECT_EQ(value, "untouched");
}

TEST(Settings, DefaultAbsentGivesTheEmptyText) {
  scratch_folder folder;
  folder.write("s.ini", "a=1\n");
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
  EXPECT_EQ(settings_read("b"), "");
  EXPECT_EQ(settings_read("a"), "1");
  settings_close();
}

TEST(Settings, ClosedReaderGivesDefaults) {
  scratch_folder folder;
  folder.write("s.ini", "a=1\n");
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
  settings_close();
  EXPECT_EQ(settings_read("a", "DEF"), "DEF");
  settings_close();  // closing twice is harmless
  EXPECT_EQ(settings_read("a", "DEF"), "DEF");
}

TEST(Settings, FailedOpenLeavesThePreviousFileClosed) {
  scratch_folder folder;
  folder.write("s.ini", "a=1\n");
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
  EXPECT_EQ(settings_open(folder.system_path("missing.ini")), 0);
  EXPECT_EQ(settings_read("a", "DEF"), "DEF");
}

TEST(Settings, ReopeningReplacesTheLoadedText) {
  scratch_folder folder;
  folder.write("one.ini", "a=1\n");
  folder.write("two.ini", "b=2\n");
  const int before = service_test::open_descriptors();
  ASSERT_NE(settings_open(folder.system_path("one.ini")), 0);
  ASSERT_NE(settings_open(folder.system_path("two.ini")), 0);
  EXPECT_EQ(settings_read("a", "DEF"), "DEF");
  EXPECT_EQ(settings_read("b", "DEF"), "2");
  EXPECT_EQ(service_test::open_descriptors(), before + 1) << "the first file stays open";
  settings_close();
  EXPECT_EQ(service_test::open_descriptors(), before);
}

TEST(Settings, LoadedTextIsASnapshot) {
  scratch_folder folder;
  folder.write("s.ini", "a=1\n");
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
  folder.write("s.ini", "a=2\n");
  EXPECT_EQ(settings_read("a"), "1");
  settings_close();
}

TEST(Settings, FileCanBeDeletedAfterClose) {
  scratch_folder folder;
  folder.write("s.ini", "a=1\n");
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
  settings_close();
  EXPECT_TRUE(std::filesystem::remove(folder.path() / "s.ini"));
}

// Bad input: each gives a defined result, never a crash or a read beyond
// the loaded text (the suite runs under ASan and UBSan).

TEST(SettingsBadInput, MissingEmptyFolderLongPathOversized) {
  scratch_folder folder;
  folder.write("empty.ini", "");
  std::filesystem::create_directory(folder.path() / "folder.ini");
  // A file bigger than any settings text (sparse where the file system
  // allows): not loaded.
  const auto huge = folder.write("huge.ini", "");
  std::filesystem::resize_file(huge, 65 * 1024 * 1024);
  const std::string long_path = folder.system_path(std::string(1100, 'a'));

  const struct {
    const char* what;
    std::string path;
    bool opens;
  } cases[] = {
      {"missing file", folder.system_path("missing.ini"), false},
      {"empty path", "", false},
      {"empty file", folder.system_path("empty.ini"), true},
      {"a folder", folder.system_path("folder.ini"), false},
      {"a folder with trailing backslash", folder.system_path("folder.ini") + "\\", false},
      {"path of 1,024 characters or more", long_path, false},
      {"oversized file", folder.system_path("huge.ini"), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(settings_open(c.path) != 0, c.opens) << c.what;
    EXPECT_EQ(settings_read("version", "DEF"), "DEF") << c.what;
    EXPECT_EQ(settings_read("version"), "") << c.what;
    settings_close();
  }
}

TEST(SettingsBadInput, TextWithoutFinalLineEndOrWithOnlyBlanks) {
  // Each ends right inside the scan of a key or value.
  const std::string texts[] = {"version",    "version ", "version=", " ",  ";",
                               "[",          "   ;",     "a=1\r",    "\r", std::string(1, '\0'),
                               "version=x\r"};
  for (const std::string& t : texts) {
    std::string value;
    settings_lookup(t, "version", value);
    scratch_folder folder;
    folder.write("s.ini", t);
    ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
    settings_read("version", "DEF");
    settings_close();
  }
  std::string value;
  EXPECT_TRUE(settings_lookup("version=", "version", value));
  EXPECT_EQ(value, "");
  EXPECT_TRUE(settings_lookup("version=x\r", "version", value));
  EXPECT_EQ(value, "x");
}

TEST(SettingsBadInput, LongLinesAreReadWhole) {
  // Longer than a 64,000-byte string work area: the value is kept whole
  // rather than truncated.
  const std::string big(200000, 'v');
  scratch_folder folder;
  folder.write("s.ini", std::string(100000, 'x') + "\nkey=" + big + "\n");
  ASSERT_NE(settings_open(folder.system_path("s.ini")), 0);
  EXPECT_EQ(settings_read("key"), big);
  settings_close();
}

}  // namespace
