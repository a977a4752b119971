// The whole update client against a hostile server or a broken proxy: each
// fault, for the module reply, the update reply and the offered program,
// ends as a failed download with the client's usual answer to one, nothing
// started and nothing left in the product folder. The stall faults end on
// the short watchdog deadline compiled into the test build.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download.h"
#include "updater_flow_harness.h"

namespace {

using namespace flow_test;

struct fault_case {
  const char* label;
  std::string members;  // JSON members of the route
};

const std::vector<fault_case>& faults() {
  static const std::vector<fault_case> list = {
      {"cut with a length", "\"fault\": \"cut\""},
      {"chunked, cut", "\"fault\": \"chunked_cut\""},
      {"chunk size zz", "\"fault\": \"chunked_bad\""},
      {"length above 4 GiB", "\"fault\": \"length_4g\""},
      {"more than the length", "\"fault\": \"too_long\""},
      {"no status line", "\"fault\": \"no_status\""},
      {"206", "\"fault\": \"partial\""},
      {"six redirects", "\"fault\": \"redirects\", \"count\": 6"},
      {"redirect loop", "\"fault\": \"redirect_loop\""},
      {"endless body", "\"fault\": \"endless\""},
      {"silence before the headers", "\"fault\": \"silent_head\""},
      {"silence in the body", "\"fault\": \"silent_body\""},
      {"slow drip", "\"fault\": \"drip\", \"interval\": 1"},
  };
  return list;
}

std::string module_request() {
  return std::string(module_path) + "?os=windows";
}

bool leftovers(const fs::path& folder) {
  for (const char* name : {"vantrel.exe", "vantrel.exe.part", "vantrel.ini", "vantrel.ini.part"}) {
    if (fs::exists(folder / name)) return true;
  }
  return false;
}

// Waits until the check is over and the bar has come to rest.
bool wait_check_over() {
  return child::wait_for([] { return animation_stop.load() == 1 && child::progress() == 100; },
                         std::chrono::seconds(60));
}

// Module reply: passed over in silence, the update check follows and ends
// auto mode as usual.
TEST(UpdaterHostileFlow, ModuleReplyFaultsAreSilent) {
  for (const fault_case& fault : faults()) {
    SCOPED_TRACE(fault.label);
    temp_folder product("product");
    lay_out(product.path());
    write_file(product.path() / "module.exe", read_file(standin_program()));
    update_server server(
        scenario({{module_path, body_route("version=1.01\r\nurl=http://{host}/files/module.exe\r\n",
                                           fault.members)},
                  {update_path, update_reply("n")},
                  {"/files/module.exe", file_route(product.path() / "module.exe")}}));
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base(), [] {
      child::wait_for([] { return child::status_text() == entry(8); }, std::chrono::seconds(60));
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["end.status"], entry(10));
    const std::vector<std::string> targets = server.targets();
    ASSERT_FALSE(targets.empty());
    EXPECT_EQ(targets.front(), module_request());
    EXPECT_EQ(targets.back(), update_path + std::string("?version=2024.05.01&os=windows"));
    EXPECT_LE(targets.size(), 1u + download_max_redirects + 1u) << "our own redirect bound";
    for (const std::string& t : targets) EXPECT_NE(t, "/files/module.exe");
    EXPECT_TRUE(starts(product.path()).empty());
    EXPECT_FALSE(leftovers(product.path()));
  }
}

// Update reply: entry 9, and in auto mode too the window stays until the
// user closes it.
TEST(UpdaterHostileFlow, UpdateReplyFaultsShowEntry9) {
  for (const fault_case& fault : faults()) {
    SCOPED_TRACE(fault.label);
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario(
        {{module_path, module_reply("1.00")},
         {update_path,
          body_route("update=y\r\nurl=http://127.0.0.1:1/x\r\nversion=5.2\r\n", fault.members)}}));
    ASSERT_TRUE(server.running());
    const fs::path where = product.path();
    const flow_result r = run_flow(where, "update_client auto", server.base(), [where] {
      if (!child::wait_status(entry(9), std::chrono::seconds(60))) return;
      wait_check_over();
      child::note_window("after");
      child::note("leftovers", leftovers(where) ? "yes" : "no");
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["after.status"], entry(9));
    EXPECT_EQ(r["after.window"], "open");
    EXPECT_EQ(r["after.button"], "disabled");
    EXPECT_EQ(r["after.available"], entry(2));
    EXPECT_EQ(r["leftovers"], "no");
    EXPECT_EQ(r["end.thread"], "ui") << "only the user's close ends it";
    EXPECT_TRUE(starts(product.path()).empty());
    EXPECT_FALSE(leftovers(product.path()));
  }
}

// Offered program, auto mode: entry 13, the button enabled again, the window
// stays; once the file is served whole, a click hands over.
TEST(UpdaterHostileFlow, OfferedProgramFaultsLeaveARetry) {
  for (const fault_case& fault : faults()) {
    SCOPED_TRACE(fault.label);
    temp_folder product("product");
    lay_out(product.path());
    const fs::path offered = product.path() / "offered.exe";
    write_file(offered, read_file(standin_program()));
    update_server server(scenario({}));
    ASSERT_TRUE(server.running());
    auto offer = [&](const std::string& members) {
      return scenario({{module_path, module_reply("1.00")},
                       {update_path, update_reply("y", server.url("/files/setup.exe"))},
                       {"/files/setup.exe", file_route(offered, members)}});
    };
    server.set_scenario(offer(fault.members));
    const fs::path scenario_file = server.scenario_file();
    const std::string serving = offer("");
    const fs::path where = product.path();
    const flow_result r =
        run_flow(where, "update_client auto", server.base(), [where, scenario_file, serving] {
          if (!child::wait_status(entry(13), std::chrono::seconds(60))) return;
          child::wait_for([] { return child::button_state() == "enabled"; });
          wait_check_over();
          child::note_window("failed");
          child::note("failed.leftovers", leftovers(where) ? "yes" : "no");
          update_server::write_scenario(scenario_file, serving);
          headless::click(update_button);
        });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["failed.status"], entry(13));
    EXPECT_EQ(r["failed.button"], "enabled");
    EXPECT_EQ(r["failed.window"], "open");
    EXPECT_EQ(r["failed.leftovers"], "no");
    EXPECT_EQ(r["end.thread"], "worker") << "the retry handed over";
    EXPECT_TRUE(read_file(product.path() / "vantrel.exe") == read_file(standin_program()));
    EXPECT_EQ(wait_for_starts(product.path(), 1).size(), 1u) << "started once, by the retry";
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.exe.part"));
  }
}

}  // namespace
