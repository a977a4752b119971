// The update client's start-up and its window, run whole on the headless
// toolkit in a child process (see updater_flow_harness.h).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "updater_flow_harness.h"

namespace {

using namespace flow_test;

std::string n_verdict_scenario() {
  return scenario({{module_path, module_reply("1.00")}, {update_path, update_reply("n")}});
}

TEST(UpdaterStartUpFlow, FixedValues) {
  temp_folder product("product");
  lay_out(product.path());
  update_server server(n_verdict_scenario());
  ASSERT_TRUE(server.running());
  const flow_result r = run_flow(product.path(), "update_client auto", server.base());
  EXPECT_TRUE(r.exited) << r.all();
  const std::string module_url = r["fixed.module_check_url"];
  const std::string update_url = r["fixed.update_check_url"];
  const std::string module_tail = "/tessarin/version_module_update.php";
  const std::string update_tail = "/tessarin/update.php";
  ASSERT_GT(module_url.size(), module_tail.size() + 7);
  EXPECT_EQ(module_url.substr(0, 7), "http://");
  EXPECT_EQ(module_url.substr(module_url.size() - module_tail.size()), module_tail);
  EXPECT_EQ(update_url, module_url.substr(0, module_url.size() - module_tail.size()) + update_tail)
      << "both URLs hold the same host";
  EXPECT_EQ(r["fixed.module_version"], "1.00");
}

// Without "langue.ini" the client shows one message box and ends; no
// window opens and the server hears nothing.
TEST(UpdaterStartUpFlow, NoLanguageIniShowsTheMessageAndEnds) {
  for (const std::string kind : {"missing", "a folder"}) {
    SCOPED_TRACE(kind);
    temp_folder product("product");
    product_layout p;
    p.has_language_ini = false;
    lay_out(product.path(), p);
    if (kind == "a folder") fs::create_directory(product.path() / "langue.ini");
    // Left by an earlier run that was cut off: removed before anything else.
    const std::vector<std::string> stale = {"vantrel.exe", "vantrel.exe.part", "vantrel.ini.part"};
    for (const std::string& name : stale) write_file(product.path() / name, "left over");
    update_server server(n_verdict_scenario());
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client auto", server.base());
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["end.thread"], "ui");
    EXPECT_EQ(r["end.window"], "none");
    EXPECT_EQ(r["end.boxes"], "1");
    EXPECT_EQ(r["end.box"], "title=|text=Erreur dans la lecture des langues|flags=0");
    EXPECT_TRUE(server.targets().empty());
    for (const std::string& name : stale) EXPECT_FALSE(fs::exists(product.path() / name)) << name;
  }
}

// Only a first parameter that is exactly "auto" sets auto mode; a verdict
// "n" then ends the client by itself, otherwise the window waits for the
// user. A "vantrel.exe" of an earlier run is deleted either way.
TEST(UpdaterStartUpFlow, AutoModeAndTheStaleModule) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"update_client auto", true},
      {"\"C:\\Program Files\\Tessarin\\update_client.exe\" auto", true},
      {"update_client \"auto\"", true},
      {"update_client auto more", true},
      {"update_client", false},
      {"update_client AUTO", false},
      {"update_client Auto", false},
      {"update_client autox", false},
      {"update_client x auto", false},
      {"update_client \"auto \"", false},
  };
  for (const auto& [command_line, automatic] : cases) {
    SCOPED_TRACE(command_line);
    temp_folder product("product");
    lay_out(product.path());
    write_file(product.path() / "vantrel.exe", "left by an earlier run");
    update_server server(n_verdict_scenario());
    ASSERT_TRUE(server.running());
    const fs::path where = product.path();
    const flow_result r = run_flow(where, command_line, server.base(), [where] {
      if (!child::wait_status(entry(10))) return;
      child::note("stale", fs::exists(where / "vantrel.exe") ? "present" : "gone");
      // Give auto mode the time to end the client first.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["fixed.auto_mode"], automatic ? "auto" : "");
    EXPECT_EQ(r["end.thread"], automatic ? "worker" : "ui");
    EXPECT_FALSE(fs::exists(product.path() / "vantrel.exe"));
    if (r.has("stale")) {
      EXPECT_EQ(r["stale"], "gone");
    }
  }
}

// The catalogue comes from "langues\update\" + the first line of
// "langue.ini", exactly as read.
TEST(UpdaterStartUpFlow, WindowTextsComeFromTheLanguageFile) {
  const std::string fifteen =
      "Titre\r\nDispo : \r\nSalut|toi\r\nInstall : \r\nCadre\r\nS6\r\nS7\r\nS8\r\nS9\r\n"
      "Rien\r\nS11\r\nS12\r\nS13\r\nS14\r\nS15\r\n";
  struct case_t {
    const char* label;
    std::string language_ini;
    std::string file_name;  // under langues/update/; empty: none
    std::string file;
    std::string title, welcome, frame, installed, status;
  };
  const std::string defaults_installed = entry(4) + "2024.05.01 (01/05/2024)";
  const std::vector<case_t> cases = {
      {"15 lines, CR LF", "test.txt\r\n", "test.txt", fifteen, "Titre", "Salut\ttoi", "Cadre",
       "Install : 2024.05.01 (01/05/2024)", "Rien"},
      {"3 lines, LF", "test.txt\n", "test.txt", "A|B\nDispo\n||\n", "A\tB", "\t\t", "",
       "2024.05.01 (01/05/2024)", ""},
      {"0 bytes", "test.txt", "test.txt", "", "Vantrel", "Bienvenue", "", defaults_installed,
       entry(10)},
      {"one blank line", "test.txt", "test.txt", "\r\n", "", "", "", "2024.05.01 (01/05/2024)", ""},
      {"empty langue.ini", "", "", "", "Vantrel", "Bienvenue", "", defaults_installed, entry(10)},
      {"name with trailing blanks", "test.txt  \r\n", "test.txt", fifteen, "Vantrel", "Bienvenue",
       "", defaults_installed, entry(10)},
      {"no langues folder", "test.txt\r\n", "", "", "Vantrel", "Bienvenue", "", defaults_installed,
       entry(10)},
  };
  for (const case_t& c : cases) {
    SCOPED_TRACE(c.label);
    temp_folder product("product");
    product_layout p;
    p.language_ini = c.language_ini;
    lay_out(product.path(), p);
    if (!c.file_name.empty())
      write_file(product.path() / "langues" / "update" / c.file_name, c.file);
    if (std::string(c.label) == "empty langue.ini") {
      fs::create_directories(product.path() / "langues" / "update");
    }
    update_server server(n_verdict_scenario());
    ASSERT_TRUE(server.running());
    const flow_result r = run_flow(product.path(), "update_client", server.base(), [] {
      if (!child::wait_for([] { return animation_stop.load() == 1; })) return;
      child::note_window("after");
      child::note("after.welcome", child::control_text(welcome_label));
      child::note("after.frame", child::control_text(version_frame));
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r["after.title"], c.title);
    EXPECT_EQ(r["after.welcome"], c.welcome);
    EXPECT_EQ(r["after.frame"], c.frame);
    EXPECT_EQ(r["after.installed"], c.installed);
    EXPECT_EQ(r["after.status"], c.status);
  }
}

// The window as the user first sees it, and a close while the update check
// still waits for the server.
TEST(UpdaterStartUpFlow, WindowBeforeTheVerdictAndAnEarlyClose) {
  temp_folder product("product");
  lay_out(product.path());
  update_server server(
      scenario({{module_path, module_reply("1.00")},
                {update_path, update_reply("y", "http://127.0.0.1:1/x", "\"delay\": 10")}}));
  ASSERT_TRUE(server.running());
  const fs::path part = product.path() / "vantrel.ini.part";
  const flow_result r = run_flow(product.path(), "update_client auto", server.base(), [part] {
    if (!child::wait_status(entry(8))) return;
    child::note("part", child::wait_for([&] { return fs::exists(part); }) ? "present" : "none");
    child::note_window("waiting");
    const auto w = headless::window(progress_window);
    child::note("waiting.visible", w && w->visible ? "yes" : "no");
    headless::click(update_button);  // disabled: no event
    headless::click(logo_image);     // an image raises an event, which changes nothing
    headless::request_close(progress_window);
  });
  EXPECT_TRUE(r.exited) << r.all();
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r["waiting.visible"], "yes");
  EXPECT_EQ(r["waiting.title"], "Vantrel");
  EXPECT_EQ(r["waiting.button"], "disabled");
  EXPECT_EQ(r["waiting.available"], entry(2));
  EXPECT_EQ(r["waiting.installed"], entry(4) + "2024.05.01 (01/05/2024)");
  EXPECT_EQ(r["waiting.status"], entry(8));
  EXPECT_EQ(r["end.thread"], "ui");
  EXPECT_EQ(r["end.window"], "none") << "closed by the main loop";
  EXPECT_EQ(r["end.animation_stop"], "0") << "the check did not finish";
  EXPECT_TRUE(fs::is_empty(product.path() / "temp"));
  EXPECT_EQ(r["part"], "present") << "the reply was on its way";
  EXPECT_FALSE(fs::exists(part)) << "the end removes the download's temporary file";
}

}  // namespace
