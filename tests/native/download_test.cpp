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

class Download : public ::testing::Test {
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
        {"/hostile/cut_close", hostile("cut_close")},
        {"/hostile/chunked", hostile("chunked")},
        {"/hostile/chunked_cut", hostile("chunked_cut")},
        {"/hostile/chunked_bad", hostile("chunked_bad")},
        {"/hostile/length_4g", hostile("length_4g")},
        {"/hostile/too_long", hostile("too_long")},
        {"/hostile/no_status", hostile("no_status")},
        {"/hostile/partial", hostile("partial")},
        {"/hostile/silent_head", hostile("silent_head")},
        {"/hostile/silent_body", hostile("silent_body")},
        {"/hostile/drip", hostile("drip", "\"interval\": 1")},
        {"/hostile/redirects5", hostile("redirects", "\"count\": 5")},
        {"/hostile/redirects6", hostile("redirects", "\"count\": 6")},
        {"/hostile/redirect_loop", hostile("redirect_loop")},
        {"/hostile/endless", hostile("endless")},
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

  static std::string hostile(const std::string& fault, const std::string& extra = {}) {
    return body_route(program_bytes(),
                      "\"fault\": " + json_text(fault) + (extra.empty() ? "" : ", " + extra));
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

TEST_F(Download, WholeBodyOfASuccessfulReplyBecomesTheTarget) {
  EXPECT_NE(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), program_bytes());
  EXPECT_NE(download_to_file(server.url("/reply?os=windows"), "vantrel.ini", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.ini"), "update=y\r\nurl=x\r\n");
  EXPECT_EQ(files(), (std::vector<std::string>{"vantrel.exe", "vantrel.ini"}));
}

TEST_F(Download, EmptyBodyIsAnEmptyFile) {
  EXPECT_NE(download_to_file(server.url("/empty"), "vantrel.ini", settings_max_size), 0);
  EXPECT_TRUE(fs::exists("vantrel.ini"));
  EXPECT_EQ(fs::file_size("vantrel.ini"), 0u);
}

TEST_F(Download, HugeReplyArrivesWhole) {
  EXPECT_NE(download_to_file(server.url("/huge"), "vantrel.ini", settings_max_size), 0);
  EXPECT_EQ(fs::file_size("vantrel.ini"), 8000000u);
}

TEST_F(Download, FailuresLeaveNoTargetAndNothingTemporary) {
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

TEST_F(Download, FailureKeepsAnEarlierTargetAndSuccessReplacesIt) {
  write_file("vantrel.exe", "earlier program");
  EXPECT_EQ(download_to_file(server.url("/missing"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), "earlier program");
  EXPECT_EQ(download_to_file(server.url("/cut"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), "earlier program");
  EXPECT_NE(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("vantrel.exe"), program_bytes());
  EXPECT_EQ(files(), std::vector<std::string>{"vantrel.exe"});
}

TEST_F(Download, TargetThatCannotBeWrittenFails) {
  fs::create_directory("vantrel.exe");  // a folder in the file's place
  EXPECT_EQ(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
  EXPECT_TRUE(fs::is_directory("vantrel.exe"));
  EXPECT_EQ(files(), std::vector<std::string>{"vantrel.exe"});
  EXPECT_EQ(download_to_file(server.url("/ok"), "no\\such\\folder\\vantrel.exe", settings_max_size),
            0);
}

TEST_F(Download, BackslashPathsNameSubfolders) {
  fs::create_directories("sub/dir");
  EXPECT_NE(download_to_file(server.url("/ok"), "sub\\dir\\vantrel.exe", settings_max_size), 0);
  EXPECT_EQ(read_file("sub/dir/vantrel.exe"), program_bytes());
}

TEST_F(Download, QueryGoesOutAsWritten) {
  EXPECT_NE(
      download_to_file(server.url("/reply?version=&os=windows"), "vantrel.ini", settings_max_size),
      0);
  EXPECT_NE(download_to_file(server.url("/reply?version=2024.05.01&os=windows"), "vantrel.ini",
                             settings_max_size),
            0);
  // A space or a line end cannot go on the request line: sent as %XX, never
  // as a header of its own.
  EXPECT_NE(download_to_file(server.url("/reply?version=1 2\r\nX: y&os=windows"), "vantrel.ini",
                             settings_max_size),
            0);
  EXPECT_EQ(my_requests(), (std::vector<std::string>{
                               "/reply?version=&os=windows", "/reply?version=2024.05.01&os=windows",
                               "/reply?version=1%202%0D%0AX:%20y&os=windows"}));
}

TEST_F(Download, ForgettingACachedUrlIsHarmless) {
  forget_cached_url(server.url("/ok"));
  forget_cached_url("");
  EXPECT_NE(download_to_file(server.url("/ok"), "vantrel.exe", settings_max_size), 0);
}

// A hostile server or a broken proxy: every reply that is not a whole 200
// fails, whatever the framing, and nothing is left behind. The stall cases
// end on the watchdog's short deadline of the test build.
TEST_F(Download, HostileRepliesFailAndLeaveNothing) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"chunked, cut inside a chunk", "/hostile/chunked_cut"},
      {"chunk size zz", "/hostile/chunked_bad"},
      {"length above 4 GiB", "/hostile/length_4g"},
      {"more than the length", "/hostile/too_long"},
      {"no status line", "/hostile/no_status"},
      {"206 partial", "/hostile/partial"},
      {"six redirects", "/hostile/redirects6"},
      {"redirect loop", "/hostile/redirect_loop"},
      {"endless body", "/hostile/endless"},
      {"silence before the headers", "/hostile/silent_head"},
      {"silence in the body", "/hostile/silent_body"},
      {"one byte a second", "/hostile/drip"},
  };
  for (const auto& [label, path] : cases) {
    EXPECT_EQ(download_to_file(server.url(path), "vantrel.exe", 1024 * 1024), 0) << label;
    EXPECT_TRUE(files().empty()) << label;
  }
  // Our own redirects stop at the sixth: the loop made 6 requests, not more.
  const auto requests = my_requests();
  EXPECT_EQ(std::count(requests.begin(), requests.end(), "/hostile/redirect_loop"), 6);
}

TEST_F(Download, WholeRepliesInOtherFramingsArrive) {
  EXPECT_NE(download_to_file(server.url("/hostile/chunked"), "vantrel.exe", 1024 * 1024), 0);
  EXPECT_EQ(read_file("vantrel.exe"), program_bytes());
  EXPECT_NE(download_to_file(server.url("/hostile/redirects5"), "five.exe", 1024 * 1024), 0);
  EXPECT_EQ(read_file("five.exe"), program_bytes());
  EXPECT_EQ(my_requests().size(), 7u);  // one, and five redirects
  // A cut reply without a length cannot be told from a whole one; only a
  // check of the content can.
  EXPECT_NE(download_to_file(server.url("/hostile/cut_close"), "half.exe", 1024 * 1024), 0);
  EXPECT_EQ(read_file("half.exe"), program_bytes().substr(0, program_bytes().size() / 2));
}

TEST_F(Download, BoundIsTheLargestBodyAccepted) {
  const std::int64_t size = static_cast<std::int64_t>(program_bytes().size());
  EXPECT_NE(download_to_file(server.url("/ok"), "exact.exe", size), 0);
  EXPECT_EQ(download_to_file(server.url("/ok"), "over.exe", size - 1), 0);
  EXPECT_EQ(download_to_file(server.url("/hostile/chunked"), "over.exe", size - 1), 0);
  EXPECT_EQ(files(), std::vector<std::string>{"exact.exe"});
}

}  // namespace
