// The chooser's parts that run to an end on their own: the start folder, the
// language names, the title steps and install_language with its files and
// messages (called in this process, so its message boxes can be read back).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chooser_harness.h"
#include "language_chooser.h"
#include "posix/headless.h"
#include "system.h"

namespace {

using namespace chooser_test;

TEST(StartFolder, GetsExactlyOneTrailingBackslash) {
  struct row {
    std::string folder, expected;
  } rows[] = {
      {"C:\\", "C:\\"},
      {"C:\\Program Files\\Tessarin", "C:\\Program Files\\Tessarin\\"},
      {"\\\\server\\share\\", "\\\\server\\share\\"},
      {"\\", "\\"},
      {"\\tmp\\x", "\\tmp\\x\\"},
      {"", ""},  // no usable folder stays unusable
  };
  for (const row& r : rows) {
    EXPECT_EQ(folder_with_backslash(r.folder), r.expected) << "folder: " << r.folder;
  }
}

TEST(StartFolder, CurrentFolderIsSpelledWithBackslashes) {
  temp_folder dir;
  fs::create_directory(dir.path() / "sub");
  {
    inside_folder inside(dir.path() / "sub");
    std::string expected = (dir.path() / "sub").string();
    for (char& c : expected) {
      if (c == '/') c = '\\';
    }
    EXPECT_EQ(current_folder(), expected);
  }
  {
    inside_folder inside("/");
    EXPECT_EQ(current_folder(), "\\");
    EXPECT_EQ(folder_with_backslash(current_folder()), "\\");
  }
}

TEST(StartFolder, FolderOf254CharactersIsTheLongestUsable) {
  temp_folder dir;
  const std::size_t base = dir.path().string().size();
  ASSERT_LT(base, 200u);
  const fs::path at_limit = dir.path() / std::string(254 - base - 1, 'b');
  const fs::path too_long = dir.path() / std::string(254 - base, 'c');
  fs::create_directory(at_limit);
  fs::create_directory(too_long);
  {
    inside_folder inside(at_limit);
    EXPECT_EQ(current_folder().size(), 254u);
  }
  inside_folder inside(too_long);
  EXPECT_EQ(current_folder(), "");
}

TEST(LanguageName, DropsTheLastFourCharacters) {
  struct row {
    std::string file, name;
  } rows[] = {
      {"English.txt", "English"},
      {"Fran\xE7"
       "ais.txt",
       "Fran\xE7"
       "ais"},
      {"a.b.txt", "a.b"},
      {"Deutsch.TXT", "Deutsch"},
      {"x.txt", "x"},
      {".txt", ""},
      {"txt", ""},
      {"", ""},
  };
  for (const row& r : rows) EXPECT_EQ(language_name_of(r.file), r.name) << "file: " << r.file;
}

TEST(TitleAnimation, IndentRunsFromOneTo84SpacesThenStartsAgain) {
  title_animation title;
  for (int round = 0; round < 2; ++round) {
    for (std::size_t spaces = 1; spaces <= 84; ++spaces) {
      const std::string text = title.step("");
      ASSERT_EQ(text, std::string(spaces, ' ') + "Select Language") << "round " << round;
    }
  }
  EXPECT_EQ(title.step("English"), " English");
  EXPECT_EQ(title.step(""), "  Select Language");
  EXPECT_EQ(title.step("Fran\xE7"
                       "ais"),
            "   Fran\xE7"
            "ais");
}

// install_language in a product folder with the stand-in as the product.
class InstallLanguage : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::reset();
    install_standins(dir.path());
    write_file(dir.path() / "English.chm", "english help");
    write_file(dir.path() / "English.htm", "<p>english page</p>");
    write_file(dir.path() / "aide.chm", "old help");
    write_file(dir.path() / "bon.htm", "old page");
  }
  fs::path at(const std::string& name) const { return dir.path() / name; }
  temp_folder dir;
};

TEST_F(InstallLanguage, WritesTheChoiceOverLongerOldContentCopiesHelpAndStartsProduct) {
  write_file(at("langue.ini"), "Nederlands-uitgebreid.txt\r\nsecond line\r\n");
  {
    inside_folder inside(dir.path());
    install_language("English");
  }
  EXPECT_EQ(read_file(at("langue.ini")), "English.txt\r\n");
  EXPECT_EQ(read_file(at("aide.chm")), "english help");
  EXPECT_EQ(read_file(at("bon.htm")), "<p>english page</p>");
  EXPECT_TRUE(headless::message_boxes().empty());
  ASSERT_EQ(wait_for_starts(dir.path(), 1), 1u);
  settle();
  const auto started = starts(dir.path());
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].exe, "tessarin.exe");
}

TEST_F(InstallLanguage, MissingHelpFilesLeaveTheOldOnesAndStillRecordTheChoice) {
  fs::remove(at("English.chm"));
  {
    inside_folder inside(dir.path());
    install_language("English");
  }
  EXPECT_EQ(read_file(at("langue.ini")), "English.txt\r\n");
  EXPECT_EQ(read_file(at("aide.chm")), "old help");
  EXPECT_EQ(read_file(at("bon.htm")), "<p>english page</p>");
  EXPECT_TRUE(headless::message_boxes().empty());
  EXPECT_EQ(wait_for_starts(dir.path(), 1), 1u);
}

// langue.ini that cannot be made (a folder in its place; runs as root, so
// permissions would not stop it) or that cannot take the line (a full
// device): the message, nothing copied, the product started all the same.
TEST_F(InstallLanguage, ChoiceThatCannotBeRecordedIsReportedAndNothingIsCopied) {
  struct row {
    const char* what;
    void (*make)(const fs::path& ini);
  } rows[] = {
      {"folder named langue.ini", [](const fs::path& ini) { fs::create_directory(ini); }},
      {"langue.ini on a full device",
       [](const fs::path& ini) { fs::create_symlink("/dev/full", ini); }},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.what);
    headless::reset();
    fs::remove_all(at("langue.ini"));
    fs::remove(at("standin.log"));
    r.make(at("langue.ini"));
    {
      inside_folder inside(dir.path());
      install_language("English");
    }
    const auto boxes = headless::message_boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].title, "");
    EXPECT_EQ(boxes[0].text,
              "Erreur cr\xE9"
              "ation fichier langue.ini");
    EXPECT_EQ(boxes[0].flags, 0);
    EXPECT_EQ(read_file(at("aide.chm")), "old help");
    EXPECT_EQ(read_file(at("bon.htm")), "old page");
    ASSERT_EQ(wait_for_starts(dir.path(), 1), 1u);
    EXPECT_EQ(starts(dir.path())[0].exe, "tessarin.exe");
  }
}

}  // namespace
