// The definitions version probe where POSIX differs: what the 4 GiB pack
// costs in memory, and a Temp that others share.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "bomb_pack.h"
#include "client_state.h"
#include "definitions_probe.h"

namespace fs = std::filesystem;

namespace {

const std::string info =
    "version_definition = 2005.10.12\r\n"
    "date = 12/10/2005\r\n";

class DefinitionsProbePosix : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(::testing::TempDir()) /
            ("probe_posix_" +
             std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "product");
    fs::create_directories(root_ / "temp");
    old_folder_ = fs::current_path();
    fs::current_path(root_ / "product");
    setenv("Temp", (root_ / "temp").c_str(), 1);
  }
  void TearDown() override {
    fs::current_path(old_folder_);
    fs::remove_all(root_);
  }
  static void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  static std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // A plain pack of one entry.
  static void write_eas(const std::string& entry) {
    std::string pack;
    for (int field = 0; field < 2; ++field) {
      for (int i = 0; i < 4; ++i) pack += static_cast<char>((entry.size() >> (8 * i)) & 0xFF);
    }
    write_file("eas", pack + entry);
  }

  fs::path root_;
  fs::path old_folder_;
};

// A few bytes that declare 4 GiB: refused from the entry's header, so
// neither memory nor Temp grows with the declared size.
TEST_F(DefinitionsProbePosix, EntryDeclaringGigabytesCostsNothing) {
  const std::string bomb = bomb_pack();
  ASSERT_EQ(bomb.size(), 66u);
  write_file(root_ / "product" / "eas", bomb);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  probe_definitions_version();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_EQ(definitions_version, "");
  EXPECT_EQ(definitions_date, "");
  // ru_maxrss is in KiB: the peak grew by less than the reader's own bound.
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 64 * 1024);
  EXPECT_TRUE(fs::is_empty(root_ / "temp"));
}

// A shared Temp on POSIX: a link or a file planted under the copy's name is
// never written through, and the probe reads nothing from it.
TEST_F(DefinitionsProbePosix, PlantedLinkOrFileInTempIsNeverWrittenThrough) {
  write_eas(info);
  const fs::path copy = root_ / "temp" / "DEF000056";
  const fs::path victim = root_ / "victim";
  const std::string planted = "version_definition = planted\r\ndate = planted\r\n";
  for (const char* kind : {"link", "dangling link", "file"}) {
    write_file(victim, planted);
    if (std::string(kind) == "file") {
      write_file(copy, planted);
    } else {
      fs::create_symlink(std::string(kind) == "link" ? victim : root_ / "nowhere", copy);
    }
    probe_definitions_version();
    EXPECT_EQ(definitions_version, "") << kind;
    EXPECT_EQ(definitions_date, "") << kind;
    EXPECT_EQ(read_file(victim), planted) << kind;
    EXPECT_FALSE(fs::exists(root_ / "nowhere")) << kind;
    EXPECT_TRUE(fs::is_symlink(copy) || read_file(copy) == planted) << kind;
    fs::remove(copy);
  }
  probe_definitions_version();
  EXPECT_EQ(definitions_version, "2005.10.12");
}

}  // namespace
