// The definitions version probe over real files: a product folder as the
// current folder, and a "Temp" folder named by the environment.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bomb_pack.h"
#include "client_state.h"
#include "definitions_probe.h"
#include "pack_writer.h"
#include "settings.h"
#include "test_environment.h"

namespace fs = std::filesystem;

namespace {

const std::string info =
    "version_definition = 2005.10.12\r\n"
    "date = 12/10/2005\r\n";

class DefinitionsProbe : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ =
        fs::path(::testing::TempDir()) /
        ("probe_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "product");
    fs::create_directories(root_ / "temp");
    old_folder_ = fs::current_path();
    fs::current_path(root_ / "product");
    set_temp((root_ / "temp").string());
    // Values of an earlier run, which the probe must replace.
    definitions_version = "stale version";
    definitions_date = "stale date";
  }
  void TearDown() override {
    // Whatever the case, the probe leaves no copy behind.
    EXPECT_FALSE(fs::exists(root_ / "temp" / "DEF000056") &&
                 !fs::is_directory(root_ / "temp" / "DEF000056"))
        << "a copy was left in Temp";
    fs::current_path(old_folder_);
    fs::remove_all(root_);
  }

  static void set_temp(const std::string& value) { test_environment::set("Temp", value); }

  // Writes "eas" with the given entries, each plain or compressed.
  static void write_eas(const std::vector<std::pair<std::string, bool>>& entries) {
    std::vector<std::uint8_t> pack;
    for (const auto& [data, compressed] : entries) {
      ASSERT_TRUE(pack_append_entry(pack, data, compressed));
    }
    ASSERT_TRUE(pack_write_file("eas", pack));
  }
  static void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path root_;
  fs::path old_folder_;
};

TEST_F(DefinitionsProbe, NoDefinitionsFileLeavesOtherFilesAlone) {
  write_file(root_ / "product" / "DEF000056", "not ours, in the product folder");
  write_file(root_ / "temp" / "DEF000056", "not ours, in Temp");
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "");
  EXPECT_EQ(definitions_date, "");
  EXPECT_EQ(read_file(root_ / "product" / "DEF000056"), "not ours, in the product folder");
  EXPECT_EQ(read_file(root_ / "temp" / "DEF000056"), "not ours, in Temp");
  fs::remove(root_ / "temp" / "DEF000056");
}

TEST_F(DefinitionsProbe, PlainAndCompressedEntriesGiveTheSameValues) {
  for (bool compressed : {false, true}) {
    write_eas({{info, compressed}});
    definitions_version = definitions_date = "stale";
    probe_definitions_version();
    EXPECT_EQ(definitions_version, "2005.10.12") << "compressed " << compressed;
    EXPECT_EQ(definitions_date, "12/10/2005") << "compressed " << compressed;
    EXPECT_FALSE(fs::exists(root_ / "temp" / "DEF000056"));
  }
}

TEST_F(DefinitionsProbe, EntryTexts) {
  struct row {
    const char* name;
    std::string entry;
    std::string version;
    std::string date;
  };
  const row rows[] = {
      {"CR LF after the version", "version_definition = 2005.10.12\r\n", "2005.10.12", ""},
      {"LF only, date first, other keys", "produit = x\ndate = 1 mai\nversion_definition=7\n", "7",
       "1 mai"},
      {"keys below a group header", "[definitions]\r\n" + info, "", ""},
      {"version above, date below a header",
       "version_definition = 3\r\n[x]\r\ndate = 12/10/2005\r\n", "3", ""},
      {"no keys at all", "; nothing here\r\nautre = 1\r\n", "", ""},
      {"empty entry", "", "", ""},
      {"date taken unchanged", "date =  le 12 octobre, 2005 \r\n", "", "le 12 octobre, 2005 "},
  };
  for (const row& r : rows) {
    for (bool compressed : {false, true}) {
      write_eas({{r.entry, compressed}});
      probe_definitions_version();
      EXPECT_EQ(definitions_version, r.version) << r.name << ", compressed " << compressed;
      EXPECT_EQ(definitions_date, r.date) << r.name << ", compressed " << compressed;
      EXPECT_FALSE(fs::exists(root_ / "temp" / "DEF000056")) << r.name;
    }
  }
}

TEST_F(DefinitionsProbe, OnlyTheFirstEntryCounts) {
  write_eas({{"version_definition = 1\r\n", true}, {info, false}});
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "1");
  EXPECT_EQ(definitions_date, "");
}

TEST_F(DefinitionsProbe, UnreadableFirstEntriesGiveEmptyValues) {
  struct row {
    const char* name;
    std::vector<std::uint8_t> eas;
  };
  std::vector<std::uint8_t> bad_block;
  ASSERT_TRUE(pack_append_entry(bad_block, info, true));
  bad_block[8 + 6] ^= 1;  // the block's checksum
  std::vector<std::uint8_t> followed;
  ASSERT_TRUE(pack_append_entry(followed, info, false));
  const row rows[] = {
      {"empty file", {}},
      {"header cut short", {1, 0, 0}},
      {"payload cut short", std::vector<std::uint8_t>(followed.begin(), followed.end() - 1)},
      {"checksum mismatch", bad_block},
  };
  for (const row& r : rows) {
    ASSERT_TRUE(pack_write_file("eas", r.eas));
    probe_definitions_version();
    EXPECT_EQ(definitions_version, "") << r.name;
    EXPECT_EQ(definitions_date, "") << r.name;
    EXPECT_FALSE(fs::exists(root_ / "temp" / "DEF000056")) << r.name;
  }
}

TEST_F(DefinitionsProbe, ValuesAreReplacedOnEveryRun) {
  write_eas({{info, true}});
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "2005.10.12");
  fs::remove("eas");
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "");
  EXPECT_EQ(definitions_date, "");
}

TEST_F(DefinitionsProbe, TempThatNamesNoFolder) {
  write_eas({{info, true}});
  const std::string temps[] = {(root_ / "missing").string(), (root_ / "temp" / "a" / "b").string(),
                               ""};
  for (const std::string& temp : temps) {
    set_temp(temp);
    probe_definitions_version();
    EXPECT_EQ(definitions_version, "") << "Temp=" << temp;
    EXPECT_EQ(definitions_date, "") << "Temp=" << temp;
    EXPECT_FALSE(fs::exists(root_ / "missing")) << "Temp=" << temp;
  }
  test_environment::remove("Temp");
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "");
  EXPECT_FALSE(fs::exists(fs::path("/DEF000056")));
  EXPECT_FALSE(fs::exists(root_ / "product" / "DEF000056"));
}

TEST_F(DefinitionsProbe, CopyThatCannotBeCreatedIsNeitherReadNorDeleted) {
  // A folder in the copy's place: creating the copy fails.
  fs::create_directory(root_ / "temp" / "DEF000056");
  write_file(root_ / "temp" / "DEF000056" / "inside", "x");
  write_eas({{info, true}});
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "");
  EXPECT_EQ(definitions_date, "");
  EXPECT_TRUE(fs::exists(root_ / "temp" / "DEF000056" / "inside"));
  fs::remove_all(root_ / "temp" / "DEF000056");
}

TEST_F(DefinitionsProbe, TempWithATrailingBackslashOrSlash) {
  write_eas({{info, false}});
  for (const char* suffix : {"/", "\\"}) {
    set_temp((root_ / "temp").string() + suffix);
    probe_definitions_version();
    EXPECT_EQ(definitions_version, "2005.10.12") << suffix;
  }
}

TEST_F(DefinitionsProbe, LeavesTheSettingsReaderClosed) {
  write_eas({{info, true}});
  probe_definitions_version();
  EXPECT_EQ(settings_read("date", "closed"), "closed");
}

// A few bytes that declare 4 GiB (tests/fixtures/pack/bomb.eas): refused
// from the entry's header, so the values stay empty and nothing reaches
// Temp. (The memory it costs is measured in updater_probe_posix_test.)
TEST_F(DefinitionsProbe, EntryDeclaringGigabytesIsRefused) {
  const std::string bomb = bomb_pack();
  ASSERT_EQ(bomb.size(), 66u);
  write_file(root_ / "product" / "eas", bomb);
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "");
  EXPECT_EQ(definitions_date, "");
  EXPECT_TRUE(fs::is_empty(root_ / "temp"));
}

}  // namespace
