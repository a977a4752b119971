// The message catalogue: the language file line by line, or the built-in
// French texts, with bars turned into tabs.
#include "message_catalogue.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "client_state.h"
#include "update_server_harness.h"

namespace {

using namespace server_test;

const std::vector<std::string>& built_in() {
  static const std::vector<std::string> texts = {
      "",
      "Vantrel",
      "Version disponible : ",
      "Bienvenue",
      "Version install\xE9 : ",
      "",
      "Recherche d'une mise \xE0 jour de Vantrel...",
      "T\xE9l\xE9"
      "chargement de la mise \xE0 jour de Vantrel...",
      "Recherche d'une mise \xE0 jour de Parvisol...",
      "Connexion Impossible, v\xE9rifiez votre PareFeu...",
      "Pas de mise \xE0 jour disponible",
      "Une mise \xE0 jour est disponible",
      "",  // 12: own choice, checked below
      "Une erreur s'est produite",
  };
  return texts;
}

// Each name in the code addresses the entry of its built-in text.
TEST(CatalogueNames, AddressTheirBuiltInTexts) {
  const struct {
    int entry;
    const char* text;
  } names[] = {
      {message_window_title, "Vantrel"},
      {message_available_version, "Version disponible : "},
      {message_welcome, "Bienvenue"},
      {message_installed_version, "Version install\xE9 : "},
      {message_version_frame, ""},
      {message_checking_module, "Recherche d'une mise \xE0 jour de Vantrel..."},
      {message_downloading_module,
       "T\xE9l\xE9"
       "chargement de la mise \xE0 jour de Vantrel..."},
      {message_checking_product, "Recherche d'une mise \xE0 jour de Parvisol..."},
      {message_connection_failed, "Connexion Impossible, v\xE9rifiez votre PareFeu..."},
      {message_no_update, "Pas de mise \xE0 jour disponible"},
      {message_update_available, "Une mise \xE0 jour est disponible"},
      {message_downloading_product,
       "T\xE9l\xE9"
       "chargement de la mise \xE0 jour de Parvisol..."},
      {message_error, "Une erreur s'est produite"},
      {message_update_started,
       "La mise \xE0 jour a \xE9t\xE9 lanc\xE9"
       "e"},
      {message_close, "Fermer"},
  };
  for (const auto& name : names) {
    EXPECT_EQ(default_message(name.entry), name.text) << "entry " << name.entry;
  }
}

class Catalogue : public ::testing::Test {
 protected:
  void SetUp() override {
    previous = fs::current_path();
    fs::current_path(folder.path());
  }
  void TearDown() override { fs::current_path(previous); }

  static std::vector<std::string> entries() {
    std::vector<std::string> result;
    for (int n = 0; n < catalogue_slots; ++n) result.push_back(catalogue_entry(n));
    return result;
  }

  static void expect_built_in() {
    for (int n = 1; n <= 13; ++n) {
      if (n == 12) continue;
      EXPECT_EQ(catalogue_entry(n), built_in()[n]) << "entry " << n;
    }
    for (int n : {12, 14, 15}) EXPECT_EQ(catalogue_entry(n), default_message(n)) << "entry " << n;
    EXPECT_EQ(catalogue_entry(0), "");
    EXPECT_EQ(catalogue_entry(16), "");
  }

  temp_folder folder{"catalogue"};
  fs::path previous;
};

TEST_F(Catalogue, BuiltInTextsAreWindows1252) {
  load_message_catalogue("");
  expect_built_in();
  for (int n : {12, 14, 15}) {
    const std::string text = default_message(n);
    EXPECT_FALSE(text.empty()) << "entry " << n << " has a text of its own";
    for (const char c : text) {
      const unsigned char byte = static_cast<unsigned char>(c);
      // Accented French letters of Windows-1252 only; no UTF-8 sequences.
      EXPECT_TRUE(byte < 0x80 || byte == 0xE0 || byte == 0xE9 || byte == 0xE8 || byte == 0xEA)
          << "entry " << n;
    }
  }
  EXPECT_EQ(default_message(0), "");
  EXPECT_EQ(default_message(16), "");
}

TEST_F(Catalogue, UnusableFilesSelectTheBuiltInTexts) {
  write_file("langues/update/empty.txt", "");
  write_file("langues/update/fr.txt", "Titre\r\n");
  fs::create_directories("langues/update/folder.txt");
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty path", ""},
      {"missing file", "langues\\update\\absent.txt"},
      {"0 bytes", "langues\\update\\empty.txt"},
      {"a folder", "langues\\update\\folder.txt"},
      {"the folder itself (empty name)", "langues\\update\\"},
      {"name with trailing blanks", "langues\\update\\fr.txt  "},
  };
  for (const auto& [label, path] : cases) {
    SCOPED_TRACE(label);
    load_message_catalogue("langues\\update\\fr.txt");
    ASSERT_EQ(catalogue_entry(1), "Titre");
    load_message_catalogue(path);
    expect_built_in();
  }
}

TEST_F(Catalogue, LinesBecomeEntries) {
  std::string fifteen_crlf, fifteen_lf, fifteen_cr;
  std::vector<std::string> fifteen = {""};
  for (int n = 1; n <= 15; ++n) {
    const std::string line = "texte " + std::to_string(n) + " \xE9t\xE9 ";
    fifteen.push_back(line);
    fifteen_crlf += line + "\r\n";
    fifteen_lf += line + "\n";
    fifteen_cr += line + "\r";
  }
  fifteen.push_back("");
  struct case_t {
    const char* label;
    std::string file;
    std::vector<std::string> expected;  // slots 0 to 16
  };
  auto slots = [](std::vector<std::string> first) {
    first.insert(first.begin(), "");
    first.resize(catalogue_slots);
    return first;
  };
  const std::vector<case_t> cases = {
      {"15 lines, CR LF", fifteen_crlf, fifteen},
      {"15 lines, LF", fifteen_lf, fifteen},
      {"15 lines, CR", fifteen_cr, fifteen},
      {"no final line end", fifteen_crlf.substr(0, fifteen_crlf.size() - 2), fifteen},
      {"more than 15 lines", fifteen_crlf + "extra 16\r\nextra 17\r\n", fifteen},
      {"3 lines", "un\r\ndeux\r\ntrois\r\n", slots({"un", "deux", "trois"})},
      {"one blank line", "\r\n", slots({})},
      {"bars", "A|B\n||\n|\nsans\n", slots({"A\tB", "\t\t", "\t", "sans"})},
      {"zero byte ends a line", std::string("ab\0cd\n", 6), slots({"ab", "cd"})},
      {"tabs and blanks kept", "\t titre \t\n", slots({"\t titre \t"})},
  };
  for (const case_t& c : cases) {
    SCOPED_TRACE(c.label);
    write_file("langues/update/test.txt", c.file);
    load_message_catalogue("langues\\update\\test.txt");
    EXPECT_EQ(entries(), c.expected);
  }
}

TEST_F(Catalogue, ALaterLoadReplacesTheWholeCatalogue) {
  load_message_catalogue("");
  write_file("langues/update/short.txt", "seul\r\n");
  load_message_catalogue("langues\\update\\short.txt");
  EXPECT_EQ(catalogue_entry(1), "seul");
  for (int n = 2; n <= 15; ++n) EXPECT_EQ(catalogue_entry(n), "") << "entry " << n;
}

TEST_F(Catalogue, OutOfRangeEntriesAreEmpty) {
  load_message_catalogue("");
  EXPECT_EQ(catalogue_entry(-1), "");
  EXPECT_EQ(catalogue_entry(17), "");
  EXPECT_EQ(catalogue_entry(1000), "");
}

}  // namespace
