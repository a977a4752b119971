// The download service over real HTTP on loopback: what counts as success,
// and that no failure leaves an error page or a partial body as the target.
#include "download.h"
#include "settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "update_server_harness.h"

namespace {

using namespace server_test;

class DownloadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    download_service_start();
    server_ = new update_server(scenario({
        {"/ok", body_route(program_bytes())},
        {"/reply", settings_route({{"update", "y"}, {"url", "x"}})},
        {"/empty", body_route("")},
        {"/missing", fault_route("\"status\": 404")},
        {"/broken", fault_route("\"status\": 500")},
        {"/forbidden", fault_route("\"status\": 403")},
        {"/cut", body_route(std::string(4096, 'c'), "\"fault\": \"cut\"")},
        {"/reset", fault_route("\"fault\": \"reset\"")},
        {"/silent", fault_route("\"fault\": \"silent\"")},
        {"/huge", body_route("update=n\r\n", "\"fault\": \"huge\", \"bytes\": 8000000")},
    }));
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(server.running());
    first_request = server.targets().size();
    previous = fs::current_path();
    fs::current_path(folder.path());
  }
  void TearDown() override { fs::current_path(previous); }

  // Only the target, and nothing temporary beside it.
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  static std::string program_bytes() {
    std::string bytes = "MZ";
    for (int i = 0; i < 3000; ++i) bytes += static_cast<char>(i * 7);
    return bytes;
  }

  // Requests this test made.
  std::vector<std::string> my_requests() const {
    const std::vector<std::string> all = server.targets();
    return std::vector<std::string>(all.begin() + static_cast<long>(first_request), all.end());
  }

  static inline update_server* server_ = nullptr;
  update_server& server = *server_;
  std::size_t first_request = 0;
  temp_folder folder;
  fs::path previous;
};

TEST_F(DownloadTest, WholeBodyOfASuccessfulReplyBecomesTheTarget) {
  EXPECT_NE(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), program_bytes());
  EXPECT_NE(download_to_file(server.url("/reply?os=windows"), "vantrel.ini", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.ini"), "update=y\r\nurl=x\r\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"vantrel.exe", "vantrel.ini"}));
}

TEST_F(DownloadTest, EmptyBodyIsAnEmptyFile) {
  EXPECT_NE(download_to_file(server.url("/empty"), "vantrel.ini", settings_max_size), 0);
  EXPECT_TRUE(fs::exists("vantrel.ini"));
  EXPECT_EQ(fs::file_size("vantrel.ini"), 0u);
}

TEST_F(DownloadTest, HugeReplyArrivesWhole) {
  EXPECT_NE(download_to_file(server.url("/huge"), "vantrel.ini", settings_max_size), 0);
  EXPECT_EQ(fs::file_size("vantrel.ini"), 8000000u);
}

TEST_F(DownloadTest, FailuresLeaveNoTargetAndNothingTemporary) {
  refused_port nobody;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"404", server.url("/missing")},
      {"500", server.url("/broken")},
      {"403", server.url("/forbidden")},
      {"no route (404)", server.url("/nothing/here")},
      {"cut short", server.url("/cut")},
      {"reset", server.url("/reset")},
      {"closed without reply", server.url("/silent")},
      {"connection refused", nobody.base() + "/ok"},
      {"empty URL", ""},
      {"no scheme", "127.0.0.1/ok"},
      {"file scheme", "file://" + (folder.path() / "vantrel.ini").string()},
      {"ftp scheme", "ftp://127.0.0.1/ok"},
      {"malformed", "http://"},
  };
  for (const auto& [label, url] : cases) {
    EXPECT_EQ(download_to_file(url, "vantrel.exe", settings_max_size), 0) << label;
    EXPECT_TRUE(files().empty()) << label;
  }
}

TEST_F(DownloadTest, FailureKeepsAnEarlierTargetAndSuccessReplacesIt) {
  write_file("vantrel.exe", "earlier program");
  EXPECT_EQ(download_to_file(server.url("/missing"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), "earlier program");
  EXPECT_EQ(download_to_file(server.url("/cut"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), "earlier program");
  EXPECT_NE(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), program_bytes());
  EXPECT_EQ(files(), std::vector<std::string>{"vantrel.exe"});
}

TEST_F(DownloadTest, TargetThatCannotBeWrittenFails) {
  fs::create_directory("vantrel.exe");  // a folder in the file's place
  EXPECT_EQ(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
  EXPECT_TRUE(fs::is_directory("vantrel.exe"));
  EXPECT_EQ(files(), std::vector<std::string>{"vantrel.exe"});
  EXPECT_EQ(download_to_file(server.url("/ok"), "no\\such\\folder\\vantrel.exe", settings_max_size), 0);
}

TEST_F(DownloadTest, BackslashPathsNameSubfolders) {
  fs::create_directories("sub/dir");
  EXPECT_NE(download_to_file(server.url("/ok"), "sub\\dir\\vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("sub/dir/vantrel.exe"), program_bytes());
}

TEST_F(DownloadTest, QueryGoesOutAsWritten) {
  EXPECT_NE(download_to_file(server.url("/reply?version=&os=windows"), "vantrel.ini", settings_max_size), 0);
  EXPECT_NE(download_to_file(server.url("/reply?version=2024.05.01&os=windows"), "vantrel.ini", settings_max_size), 0);
  EXPECT_EQ(my_requests(), (std::vector<std::string>{"/reply?version=&os=windows",
                                                     "/reply?version=2024.05.01&os=windows"}));
}

TEST_F(DownloadTest, ForgettingACachedUrlIsHarmless) {
  forget_cached_url(server.url("/ok"));
  forget_cached_url("");
  EXPECT_NE(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
}

}  // namespace
