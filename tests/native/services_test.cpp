// The system services' portable tables over real files: the pure rules,
// file size and delete, directory scans, threads and the environment. It
// runs natively and as a Windows program; what only the POSIX backend has
// (its command line, copy, processes, message boxes) is in system_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <utility>

#include "platform_file.h"
#include "service_fixtures.h"
#include "system.h"
#include "system_rules.h"
#include "test_environment.h"

namespace {

namespace fs = std::filesystem;
using service_test::current_folder_scope;
using service_test::scratch_folder;

// ---- pure rules -----------------------------------------------------------

TEST(Wildcards, Table) {
  const struct {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"*.txt", "a.txt", true},
      {"*.txt", "A.TXT", true},
      {"*.TXT", "b.txt", true},
      {"*.txt", "a.txt.bak", false},
      {"*.txt", "txt", false},
      {"?.txt", "a.txt", true},
      {"?.txt", "ab.txt", false},
      {"??.txt", "ab.txt", true},
      {"a*", "A", true},
      {"*", "", true},
      {"*.*", "noextension", true},
      {"*.*", "a.b", true},
      {"*.*", ".", true},
      {"*.*", "..", true},
      {"abc.*", "abc", true},
      {"abc.*", "ABC.def", true},
      {"abc.*", "abcd", false},
      {"*a*b*", "xxaxxbxx", true},
      {"*a*b*", "xxbxxaxx", false},
      {"fran\xE7"
       "ais.txt",
       "FRAN\xE7"
       "AIS.TXT",
       true},
      {"\xE9*", "\xC9t\xE9", false},
      {"*.ico", "fr.ico", true},
      {"", "a", false},
      {"*?", "", false},
      {"a?c", "abc", true},
      {"a?c", "ac", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(wildcard_match(c.pattern, c.name), c.match) << c.pattern << " vs " << c.name;
  }
  // Many stars against a long non-matching name end quickly.
  EXPECT_FALSE(wildcard_match("*a*a*a*a*a*a*a*a*b", std::string(5000, 'a')));
}

TEST(RunFolderRule, Table) {
  const struct {
    const char* file;
    const char* folder;
    const char* expected;
  } cases[] = {
      {"vantrel.exe", "", ""},
      {"vantrel.exe", "D:\\work", "D:\\work"},
      {"app\\vantrel.exe", "", "app\\"},
      {"C:\\vantrel.exe", "", "C:\\"},
      {"C:\\a\\b\\vantrel.exe", "", "C:\\a\\b\\"},
      {"C:\\a\\b\\vantrel.exe", "other", "other"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run_folder(c.file, c.folder), c.expected) << c.file << " / " << c.folder;
  }
}

TEST(ScanPatternPathRule, Table) {
  EXPECT_EQ(scan_pattern_path("langues", "*.txt"), "langues\\*.txt");
  EXPECT_EQ(scan_pattern_path("langues\\", "*.txt"), "langues\\*.txt");
  EXPECT_EQ(scan_pattern_path("langues", ""), "langues\\*.*");
  EXPECT_EQ(scan_pattern_path("", ""), "*.*");
  EXPECT_EQ(scan_pattern_path("", "*.ico"), "*.ico");
}

// ---- file size, delete ----------------------------------------------------

TEST(FileSize, Table) {
  scratch_folder folder;
  folder.write("empty.txt", "");
  folder.write("five.txt", "12345");
  fs::create_directories(folder.path() / "sub dir");
  const struct {
    const char* what;
    std::string path;
    std::int64_t size;
  } cases[] = {
      {"empty file", folder.system_path("empty.txt"), 0},
      {"five bytes", folder.system_path("five.txt"), 5},
      {"missing file", folder.system_path("missing.txt"), -1},
      {"empty path", "", -1},
      {"folder", folder.system_path("sub dir"), -2},
      {"folder with trailing backslash", folder.system_path("sub dir") + "\\", -2},
      {"folder with two trailing backslashes: one removed, the rest looked up",
       folder.system_path("sub dir") + "\\\\", -2},
      {"root", "\\", -2},
      {"file in a missing folder", folder.system_path("none\\five.txt"), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(file_size(c.path), c.size) << c.what;
}

TEST(FileSize, Low32BitsOfALargeFile) {
  scratch_folder folder;
  const fs::path big = folder.write("big.bin", "");
  fs::resize_file(big, (std::int64_t{1} << 32) + 7);  // sparse where the file system allows
  EXPECT_EQ(file_size(folder.system_path("big.bin")), 7);
}

TEST(FileDelete, Table) {
  scratch_folder folder;
  folder.write("a.txt", "x");
  fs::create_directory(folder.path() / "dir");
  EXPECT_NE(file_delete(folder.system_path("a.txt")), 0);
  EXPECT_FALSE(fs::exists(folder.path() / "a.txt"));
  EXPECT_EQ(file_delete(folder.system_path("a.txt")), 0) << "no longer there";
  EXPECT_EQ(file_delete(folder.system_path("dir")), 0);
  EXPECT_TRUE(fs::is_directory(folder.path() / "dir"));
  EXPECT_EQ(file_delete(""), 0);
}

// A download's temporary file stays deletable while it is read for its
// signature check: the end of the downloads removes it whatever reads it.
TEST(file_delete, a_file_read_as_deletable_can_be_deleted) {
  scratch_folder folder;
  folder.write("vantrel.exe.part", "whole body");
  platform_file reading = platform_file::open(folder.system_path("vantrel.exe.part"),
                                              platform_file::mode::read_deletable);
  ASSERT_TRUE(reading.valid());
  EXPECT_NE(file_delete(folder.system_path("vantrel.exe.part")), 0);
  char buffer[5];
  EXPECT_EQ(reading.read(buffer, sizeof buffer), sizeof buffer) << "the reader reads on";
  reading.close();
  EXPECT_FALSE(fs::exists(folder.path() / "vantrel.exe.part"));
}

// ---- directory scans ------------------------------------------------------

using listing = std::set<std::pair<std::string, int>>;

listing scan_all() {
  listing seen;
  for (int kind; (kind = next_directory_entry()) != 0;) {
    EXPECT_TRUE(seen.insert({directory_entry_name(), kind}).second) << directory_entry_name();
  }
  return seen;
}

class DirectoryScan : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_.write("langues/fr.txt", "");
    folder_.write("langues/EN.TXT", "");
    folder_.write("langues/fr.ico", "");
    folder_.write("langues/notes.txt.bak", "");
    fs::create_directories(folder_.path() / "langues/update");
  }
  scratch_folder folder_;
};

TEST_F(DirectoryScan, PatternTable) {
  const std::string langues = folder_.system_path("langues");
  const struct {
    const char* what;
    std::string folder, pattern;
    listing expected;
  } cases[] = {
      {"case-insensitive extension", langues, "*.txt", {{"fr.txt", 1}, {"EN.TXT", 1}}},
      {"pattern in capitals", langues, "*.TXT", {{"fr.txt", 1}, {"EN.TXT", 1}}},
      {"trailing backslash on the folder", langues + "\\", "*.txt", {{"fr.txt", 1}, {"EN.TXT", 1}}},
      {"question mark", langues, "f?.*", {{"fr.txt", 1}, {"fr.ico", 1}}},
      {"folder entries match", langues, "up*", {{"update", 2}}},
      {"no pattern: everything, dot entries as folders",
       langues,
       "",
       {{".", 2},
        {"..", 2},
        {"fr.txt", 1},
        {"EN.TXT", 1},
        {"fr.ico", 1},
        {"notes.txt.bak", 1},
        {"update", 2}}},
      {"dot entries only", langues, ".*", {{".", 2}, {"..", 2}}},
      {"folder part in the pattern", folder_.system_path(""), "langues\\*.ico", {{"fr.ico", 1}}},
  };
  for (const auto& c : cases) {
    EXPECT_NE(examine_directory(0, c.folder, c.pattern), 0) << c.what;
    EXPECT_EQ(scan_all(), c.expected) << c.what;
    EXPECT_EQ(next_directory_entry(), 0) << c.what << ": closed at the end";
  }
}

TEST_F(DirectoryScan, RelativeFolderAndCurrentFolder) {
  current_folder_scope inside(folder_.path());
  EXPECT_NE(examine_directory(1, "langues", "*.ico"), 0);
  EXPECT_EQ(scan_all(), (listing{{"fr.ico", 1}}));
  EXPECT_NE(examine_directory(1, "", "lang*"), 0);
  EXPECT_EQ(scan_all(), (listing{{"langues", 2}}));
}

TEST_F(DirectoryScan, NothingMatches) {
  const std::string langues = folder_.system_path("langues");
  const struct {
    const char* what;
    std::string folder, pattern;
  } cases[] = {
      {"no matching file", langues, "*.chm"},
      {"missing folder", folder_.system_path("missing"), "*.*"},
      {"a file as folder", folder_.system_path("langues\\fr.txt"), "*"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(examine_directory(2, c.folder, c.pattern), 0) << c.what;
    EXPECT_EQ(next_directory_entry(), 0) << c.what;
    EXPECT_EQ(directory_entry_name(), "") << c.what;
  }
}

TEST_F(DirectoryScan, ANewScanUnderTheSameNumberReplacesTheOld) {
  const std::string langues = folder_.system_path("langues");
  ASSERT_NE(examine_directory(3, langues, "*.txt"), 0);
  ASSERT_NE(next_directory_entry(), 0);
  ASSERT_NE(examine_directory(3, langues, "*.ico"), 0);
  EXPECT_EQ(next_directory_entry(), 1);
  EXPECT_EQ(directory_entry_name(), "fr.ico");
  EXPECT_EQ(next_directory_entry(), 0);
}

// ---- threads, environment -------------------------------------------------

std::atomic<int> thread_sum{0};
int add_argument(int argument) {
  thread_sum += argument;
  return 0;
}

TEST(ThreadStart, RunsEachProcedureWithItsArgument) {
  thread_sum = 0;
  int expected = 0;
  for (int i = 1; i <= 20; ++i) {
    EXPECT_NE(thread_start(add_argument, i), 0u);
    expected += i;
  }
  for (int i = 0; i < 1000 && thread_sum != expected; ++i) delay(5);
  EXPECT_EQ(thread_sum.load(), expected);
  EXPECT_EQ(thread_start(nullptr, 1), 0u);
}

TEST(EnvironmentVariable, ValuesAndLimits) {
  test_environment::set("SERVICES_TEST_VALUE", "C:\\Temp");
  EXPECT_EQ(environment_variable("SERVICES_TEST_VALUE"), "C:\\Temp");
  test_environment::set("SERVICES_TEST_VALUE", std::string(254, 't'));
  EXPECT_EQ(environment_variable("SERVICES_TEST_VALUE"), std::string(254, 't'));
  test_environment::set("SERVICES_TEST_VALUE", std::string(255, 't'));
  EXPECT_EQ(environment_variable("SERVICES_TEST_VALUE"), "");
  test_environment::remove("SERVICES_TEST_VALUE");
  EXPECT_EQ(environment_variable("SERVICES_TEST_VALUE"), "");
  EXPECT_EQ(environment_variable(""), "");
  EXPECT_EQ(environment_variable("A=B"), "");
}

}  // namespace
