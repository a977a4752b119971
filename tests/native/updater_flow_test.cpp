// The whole update client on the headless toolkit against the local update
// server: the update check, its verdicts, the module check, the download
// and the hand-over, each run in a child process (see updater_flow_harness.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater_flow_harness.h"

namespace {

using namespace flow_test;

std::string module_request() {
  return std::string(module_path) + "?os=windows";
}
std::string update_request(const std::string& version) {
  return std::string(update_path) + "?version=" + version + "&os=windows";
}

class UpdaterFlow : public ::testing::Test {
 protected:
  fs::path dir() const { return folder.path(); }
  std::string canonical_dir() const { return fs::canonical(folder.path()).string(); }
  std::string standin_bytes() const { return read_file(standin_program()); }

  temp_folder folder{"product"};
};

// Requests for the offered file in the server's log.
std::size_t file_requests(const fs::path& log) {
  std::size_t count = 0;
  for (const std::string& line : lines_of(read_file(log))) {
    if (json_field(line, "target") == "/files/setup.exe") ++count;
  }
  return count;
}

// Waits until the check is over (it sets animation_stop last) and the bar
// has come to rest at 100.
bool wait_check_over() {
  return child::wait_for([] { return animation_stop.load() == 1 && child::progress() == 100; });
}

// ---- verdicts -----------------------------------------------------------------

TEST_F(UpdaterFlow, AutoModeEndsAfterNoAndErrorVerdicts) {
  const std::vector<std::pair<std::string, int>> cases = {{"n", 10}, {"e", 13}};
  for (const auto& [verdict, status] : cases) {
    SCOPED_TRACE("verdict " + verdict);
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario({{module_path, module_reply("1.00")},
                                   {update_path, update_reply(verdict, "http://127.0.0.1:1/x")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base());
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["end.thread"], "worker") << "the check ends the client itself";
    EXPECT_EQ(r["end.status"], entry(status));
    EXPECT_EQ(r["end.installed"], entry(4) + "2024.05.01 (01/05/2024)");
    EXPECT_EQ(r["end.available"], entry(2) + "5.2 (12/03/2024)");
    EXPECT_EQ(r["end.button"], "disabled");
    EXPECT_EQ(r["end.download_url"], "http://127.0.0.1:1/x");
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.ini"));
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.exe"));
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{module_request(), update_request("2024.05.01")}));
    EXPECT_TRUE(starts(product.path()).empty());
  }
}

TEST_F(UpdaterFlow, AutoModeYesDownloadsAndHandsOverWithoutAClick) {
  lay_out(dir());
  write_file(dir() / "offered.exe", standin_bytes());
  update_server server(scenario({}));
  ASSERT_TRUE(server.running());
  server.set_scenario(scenario({{module_path, module_reply("1.00")},
                                {update_path, update_reply("y", server.url("/files/setup.exe"))},
                                {"/files/setup.exe", file_route(dir() / "offered.exe")}}));
  const flow_result r = run_flow(dir(), "update_client auto", server.base());
  EXPECT_TRUE(r.exited) << r.all();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r["end.thread"], "worker");
  EXPECT_EQ(r["end.status"], entry(11));
  EXPECT_EQ(r["end.button"], "disabled") << "disabled for the download";
  EXPECT_TRUE(read_file(dir() / "vantrel.exe") == standin_bytes()) << "the offered program";
  const std::vector<start_record> started = wait_for_starts(dir(), 1);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].program, "vantrel.exe");
  EXPECT_EQ(started[0].folder, canonical_dir());
  EXPECT_EQ(started[0].command_line, "vantrel.exe") << "no parameters";
  EXPECT_FALSE(fs::exists(dir() / "vantrel.ini"));
  EXPECT_EQ(server.targets(),
            (std::vector<std::string>{module_request(), update_request("2024.05.01"),
                                      "/files/setup.exe"}));
}

TEST_F(UpdaterFlow, ManualYesWaitsForTheClickThenHandsOver) {
  lay_out(dir());
  write_file(dir() / "offered.exe", standin_bytes());
  update_server server(scenario({}));
  ASSERT_TRUE(server.running());
  server.set_scenario(scenario({{module_path, module_reply("1.00")},
                                {update_path, update_reply("y", server.url("/files/setup.exe"))},
                                {"/files/setup.exe", file_route(dir() / "offered.exe")}}));
  const fs::path log = server.log();
  const flow_result r = run_flow(dir(), "update_client", server.base(), [log] {
    if (!child::wait_for(child::offer_shown)) return;
    child::note_window("offer");
    child::note("offer.download_url", download_url);
    // Nothing happens without the click.
    wait_check_over();
    child::note("before_click.requests", std::to_string(lines_of(read_file(log)).size()));
    headless::click(update_button);
  });
  EXPECT_TRUE(r.exited) << r.all();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r["offer.status"], entry(11));
  EXPECT_EQ(r["offer.download_url"], server.url("/files/setup.exe"));
  EXPECT_EQ(r["before_click.requests"], "2");
  EXPECT_EQ(r["end.thread"], "worker") << "the download runs off the user-interface thread";
  EXPECT_TRUE(read_file(dir() / "vantrel.exe") == standin_bytes()) << "the offered program";
  const std::vector<start_record> started = wait_for_starts(dir(), 1);
  ASSERT_EQ(started.size(), 1u);
  EXPECT_EQ(started[0].folder, canonical_dir());
  EXPECT_EQ(server.targets().size(), 3u);
}

// In auto mode a failed download does not end the client: the window stays
// with entry 13 and the button enabled, and a click tries again.
TEST_F(UpdaterFlow, AutoModeFailedDownloadKeepsTheWindowForARetry) {
  lay_out(dir());
  write_file(dir() / "offered.exe", standin_bytes());
  update_server server(scenario({}));
  ASSERT_TRUE(server.running());
  auto offer = [&](const std::string& file_route_json) {
    return scenario({{module_path, module_reply("1.00")},
                     {update_path, update_reply("y", server.url("/files/setup.exe"))},
                     {"/files/setup.exe", file_route_json}});
  };
  server.set_scenario(offer(fault_route("\"status\": 404")));
  const fs::path log = server.log();
  const fs::path scenario_file = server.scenario_file();
  const std::string serving = offer(file_route(dir() / "offered.exe"));
  const fs::path where = dir();
  const flow_result r = run_flow(dir(), "update_client auto", server.base(), [=] {
    if (!child::wait_for([&] { return file_requests(log) >= 1; })) return;
    child::wait_for([] {
      return animation_stop.load() == 1 && child::button_state() == "enabled" &&
             child::status_text() == entry(13) && child::progress() == 100;
    });
    child::note_window("failed");
    child::note("failed.requests", std::to_string(file_requests(log)));
    child::note("failed.reply_file", fs::exists(where / "vantrel.ini") ? "present" : "gone");
    update_server::write_scenario(scenario_file, serving);
    headless::click(update_button);
  });
  EXPECT_TRUE(r.exited) << r.all();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r["failed.window"], "open");
  EXPECT_EQ(r["failed.status"], entry(13));
  EXPECT_EQ(r["failed.button"], "enabled");
  EXPECT_EQ(r["failed.requests"], "1");
  EXPECT_EQ(r["failed.reply_file"], "gone");
  EXPECT_EQ(r["end.thread"], "worker") << "handed over after the click";
  EXPECT_EQ(file_requests(server.log()), 2u);
  EXPECT_TRUE(read_file(dir() / "vantrel.exe") == standin_bytes()) << "the offered program";
  EXPECT_EQ(wait_for_starts(dir(), 1).size(), 1u);
}

// A failed download leaves the window as it was offered, with entry 13; a
// second failure changes nothing; once the file is served, a click hands
// over.
TEST_F(UpdaterFlow, FailedDownloadCanBeRetried) {
  const std::vector<std::string> kinds = {"404", "500", "server down"};
  for (const std::string& kind : kinds) {
    SCOPED_TRACE(kind);
    temp_folder product("product");
    lay_out(product.path());
    const fs::path offered = product.path() / "offered.exe";
    write_file(offered, standin_bytes());
    update_server server(scenario({}));
    ASSERT_TRUE(server.running());
    const int files_port = unused_port();
    const std::string file_url =
        kind == "server down"
            ? "http://127.0.0.1:" + std::to_string(files_port) + "/files/setup.exe"
            : server.url("/files/setup.exe");
    auto offer = [file_url](const std::string& file_route_json) {
      return scenario({{module_path, module_reply("1.00")},
                       {update_path, update_reply("y", file_url)},
                       {"/files/setup.exe", file_route_json}});
    };
    server.set_scenario(offer(kind == "404"   ? fault_route("\"status\": 404")
                              : kind == "500" ? fault_route("\"status\": 500")
                                              : file_route(offered)));
    // Once two attempts have failed, the driver makes the file available
    // itself (the parent stays single-threaded for the fork): a new offer
    // from the server, or a server where there was none.
    const fs::path scenario_file = server.scenario_file();
    const std::string serving = offer(file_route(offered));
    const std::string files_only = scenario({{"/files/setup.exe", file_route(offered)}});
    const bool down = kind == "server down";
    const fs::path log = server.log();
    const flow_result r = run_flow(product.path(), "update_client", server.base(), [=] {
      // Each attempt must reach the server: the window alone looks the same
      // after one failure as after two.
      auto attempt = [&](const std::string& name, std::size_t requests) {
        wait_check_over();
        headless::click(update_button);
        // The new animation thread starts the bar from the beginning.
        child::note(name + ".restarted",
                    child::wait_for([] { return child::progress() < 100; }) ? "yes" : "no");
        if (!down) {
          child::wait_for([&] { return file_requests(log) >= requests; });
        }
        child::wait_for([] {
          return animation_stop.load() == 1 && child::button_state() == "enabled" &&
                 child::status_text() == entry(13) && child::progress() == 100;
        });
        child::note_window(name);
        child::note(name + ".requests", std::to_string(file_requests(log)));
      };
      if (!child::wait_for(child::offer_shown)) return;
      attempt("first", 1);
      attempt("second", 2);
      if (down) {
        auto* started = new update_server(files_only, files_port);  // ends with the parent's kill
        child::note("files_server.pid", std::to_string(started->pid()));
        child::note("files_server.folder", started->folder().string());
      } else {
        update_server::write_scenario(scenario_file, serving);
      }
      wait_check_over();
      headless::click(update_button);
    });
    if (r.has("files_server.pid")) {
      const pid_t pid = std::stoi(r["files_server.pid"]);
      if (pid > 0) {
        kill(pid, SIGTERM);
        waitpid(pid, nullptr, 0);
      }
      std::error_code ignored;
      fs::remove_all(r["files_server.folder"], ignored);
    }
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["first.restarted"], "yes");
    EXPECT_EQ(r["first.status"], entry(13));
    EXPECT_EQ(r["first.button"], "enabled");
    EXPECT_EQ(r["first.window"], "open");
    for (const char* item : {"status", "button", "window", "available", "installed", "title"}) {
      EXPECT_EQ(r[std::string("second.") + item], r[std::string("first.") + item]) << item;
    }
    EXPECT_EQ(r["second.restarted"], "yes");
    if (!down) {
      // A refused connection reaches no server; the other kinds count.
      EXPECT_EQ(r["first.requests"], "1");
      EXPECT_EQ(r["second.requests"], "2");
      EXPECT_EQ(file_requests(server.log()), 3u) << "the third click fetched it";
    }
    EXPECT_EQ(r["end.thread"], "worker");
    EXPECT_TRUE(read_file(product.path() / "vantrel.exe") == standin_bytes())
        << "the offered program";
    EXPECT_EQ(wait_for_starts(product.path(), 1).size(), 1u);
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.exe.part"));
  }
}

// During a manual download the user-interface thread keeps handling events:
// closing the window ends the client at once, and the bar keeps moving.
TEST_F(UpdaterFlow, WindowAnswersDuringASlowDownload) {
  lay_out(dir());
  write_file(dir() / "offered.exe", standin_bytes());
  update_server server(scenario({}));
  ASSERT_TRUE(server.running());
  server.set_scenario(
      scenario({{module_path, module_reply("1.00")},
                {update_path, update_reply("y", server.url("/files/setup.exe"))},
                {"/files/setup.exe", file_route(dir() / "offered.exe", "\"delay\": 8")}}));
  const fs::path part = dir() / "vantrel.exe.part";
  const flow_result r = run_flow(dir(), "update_client", server.base(), [part] {
    if (!child::wait_for(child::offer_shown)) return;
    wait_check_over();
    headless::click(update_button);
    child::wait_for([] { return child::button_state() == "disabled"; });
    const int before = child::progress();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    child::note("moving", child::progress() != before ? "yes" : "no");
    child::note("part", child::wait_for([&] { return fs::exists(part); }) ? "present" : "none");
    headless::request_close(progress_window);
  });
  EXPECT_TRUE(r.exited) << r.all();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r["moving"], "yes");
  EXPECT_EQ(r["end.thread"], "ui");
  EXPECT_EQ(r["end.window"], "none") << "closed by the main loop";
  EXPECT_EQ(r["part"], "present") << "the download was under way";
  EXPECT_FALSE(fs::exists(part)) << "the end removes the download's temporary file";
  EXPECT_FALSE(fs::exists(dir() / "vantrel.exe"));
  EXPECT_TRUE(starts(dir()).empty());
}

// ---- module check ---------------------------------------------------------------

TEST_F(UpdaterFlow, ModuleVersionIsComparedExactly) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"1.00", false}, {"1.01", true},  {"0.99", true},
      {"1.0", true},   {"1.00 ", true}, {" 1.00", false},  // blanks after "=" belong to no value
  };
  for (const auto& [version, fetched] : cases) {
    SCOPED_TRACE("version \"" + version + "\"");
    temp_folder product("product");
    lay_out(product.path());
    write_file(product.path() / "module.exe", standin_bytes());
    update_server server(scenario({}));
    ASSERT_TRUE(server.running());
    server.set_scenario(
        scenario({{module_path, module_reply(version, server.url("/files/module.exe"))},
                  {update_path, update_reply("n")},
                  {"/files/module.exe", file_route(product.path() / "module.exe")}}));
    const fs::path base = product.path();
    const flow_result r = run_flow(base, "update_client", server.base(), [base] {
      // Equal versions: the reply is gone before the update check request.
      if (!child::wait_status(entry(10))) return;
      child::note("ini_after_check", fs::exists(base / "vantrel.ini") ? "yes" : "no");
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.ini"));
    if (fetched) {
      EXPECT_EQ(r["end.thread"], "worker");
      EXPECT_EQ(r["end.status"], entry(7));
      EXPECT_EQ(server.targets(),
                (std::vector<std::string>{module_request(), "/files/module.exe"}));
      const std::vector<start_record> started = wait_for_starts(product.path(), 1);
      ASSERT_EQ(started.size(), 1u);
      EXPECT_EQ(started[0].program, "vantrel.exe");
      EXPECT_EQ(started[0].folder, fs::canonical(product.path()).string());
    } else {
      EXPECT_EQ(r["end.thread"], "ui");
      EXPECT_EQ(r["ini_after_check"], "no");
      EXPECT_EQ(server.targets(),
                (std::vector<std::string>{module_request(), update_request("2024.05.01")}));
      EXPECT_TRUE(starts(product.path()).empty());
    }
  }
}

// A module reply that cannot be used is passed over in silence and the
// update check request follows.
TEST_F(UpdaterFlow, UnusableModuleCheckIsSilent) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"keys below a group header",
       body_route("[module]\r\nversion=1.01\r\nurl={host}/files/module.exe\r\n")},
      {"404", fault_route("\"status\": 404")},
      {"500", fault_route("\"status\": 500")},
      {"reset", fault_route("\"fault\": \"reset\"")},
      {"cut short", body_route("version=1.01\r\nurl=x\r\n", "\"fault\": \"cut\"")},
  };
  for (const auto& [label, route] : cases) {
    SCOPED_TRACE(label);
    temp_folder product("product");
    lay_out(product.path());
    write_file(product.path() / "module.exe", standin_bytes());
    update_server server(
        scenario({{module_path, route},
                  {update_path, update_reply("n")},
                  {"/files/module.exe", file_route(product.path() / "module.exe")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base());
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["end.status"], entry(10));
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{module_request(), update_request("2024.05.01")}));
    EXPECT_TRUE(starts(product.path()).empty());
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.exe"));
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.ini"));
  }
}

// ---- the update check request ----------------------------------------------------

TEST_F(UpdaterFlow, RequestsCarryTheDefinitionsVersionAsItStands) {
  struct case_t {
    const char* label;
    bool has_definitions;
    std::string version, date, installed;
  };
  const std::vector<case_t> cases = {
      {"definitions", true, "2024.05.01", "01/05/2024", "2024.05.01 (01/05/2024)"},
      {"no definitions file", false, "", "", " ()"},
      {"reserved characters", true, "7+b&x=1", "d", "7+b&x=1 (d)"},
  };
  for (const case_t& c : cases) {
    SCOPED_TRACE(c.label);
    temp_folder product("product");
    {
      product_layout p;
      p.has_definitions = c.has_definitions;
      p.definitions_version = c.version;
      p.definitions_date = c.date;
      lay_out(product.path(), p);
    }
    update_server server(
        scenario({{module_path, module_reply("1.00")}, {update_path, update_reply("n")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base());
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(server.targets(),
              (std::vector<std::string>{module_request(), update_request(c.version)}));
    EXPECT_EQ(r["end.installed"], entry(4) + c.installed);
  }
}

TEST_F(UpdaterFlow, FailedUpdateCheckShowsEntry9AndTheWindowStays) {
  const std::vector<std::string> kinds = {"server down", "500", "reset", "404", "cut short"};
  for (const std::string& kind : kinds) {
    for (const std::string mode : {"update_client", "update_client auto"}) {
      SCOPED_TRACE(kind + ", " + mode);
      temp_folder product("product");
      lay_out(product.path());
      refused_port nobody;
      const std::string route = kind == "500"   ? fault_route("\"status\": 500")
                                : kind == "404" ? fault_route("\"status\": 404")
                                : kind == "reset"
                                    ? fault_route("\"fault\": \"reset\"")
                                    : body_route("update=y\r\nurl=x\r\n", "\"fault\": \"cut\"");
      update_server server(scenario({{module_path, module_reply("1.00")}, {update_path, route}}));
      ASSERT_TRUE(server.running());
      const std::string base = kind == "server down" ? nobody.base() : server.base();
      const fs::path where = product.path();
      const flow_result r = run_flow(where, mode, base, [where] {
        if (!child::wait_status(entry(9))) return;
        wait_check_over();
        child::note_window("after");
        child::note("ini", fs::exists(where / "vantrel.ini") ? "yes" : "no");
        headless::request_close(progress_window);
      });
      EXPECT_TRUE(r.exited) << r.all();
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r["after.status"], entry(9));
      EXPECT_EQ(r["after.window"], "open");
      EXPECT_EQ(r["after.button"], "disabled");
      EXPECT_EQ(r["after.available"], entry(2)) << "no reply, no version shown";
      EXPECT_EQ(r["ini"], "no");
      EXPECT_EQ(r["end.thread"], "ui") << "only the user's close ends it";
    }
  }
}

TEST_F(UpdaterFlow, UnknownVerdictOffersNothing) {
  const std::vector<std::string> verdicts = {"Y", "", "yes", "n ", "N", "E"};
  for (const std::string& verdict : verdicts) {
    SCOPED_TRACE("verdict \"" + verdict + "\"");
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario({{module_path, module_reply("1.00")},
                                   {update_path, update_reply(verdict, "http://127.0.0.1:1/x")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base(), [] {
      wait_check_over();
      child::note_window("after");
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r["after.status"], entry(8));
    EXPECT_EQ(r["after.button"], "disabled");
    EXPECT_EQ(r["after.available"], entry(2) + "5.2 (12/03/2024)");
    EXPECT_EQ(r["end.thread"], "ui") << "auto mode stays open too";
    EXPECT_EQ(server.targets().size(), 2u);
  }
}

// A reply in a wrong encoding, or a huge one, is read like any other text:
// no key is found in a UTF-16 reply, and a huge reply still gives its keys.
TEST_F(UpdaterFlow, OddRepliesAreReadAsText) {
  {
    SCOPED_TRACE("UTF-16");
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario(
        {{module_path, module_reply("1.00")},
         {update_path, body_route("update=n\r\nversion=5.2\r\n", "\"encoding\": \"utf-16\"")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base(), [] {
      wait_check_over();
      child::note_window("after");
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r["after.status"], entry(8));
    EXPECT_EQ(r["after.available"], entry(2) + " ()");
  }
  {
    SCOPED_TRACE("huge");
    temp_folder product("product");
    lay_out(product.path());
    update_server server(
        scenario({{module_path, module_reply("1.00")},
                  {update_path, body_route("update=n\r\nversion=5.2\r\ndate=d\r\n",
                                           "\"fault\": \"huge\", \"bytes\": 20000000")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base());
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r["end.status"], entry(10));
    EXPECT_EQ(r["end.available"], entry(2) + "5.2 (d)");
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.ini"));
  }
}

}  // namespace
