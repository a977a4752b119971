// The two programs working together through "langue.ini": the chooser records
// the choice, and the update client started afterwards in the same folder
// takes its texts from "langues\update\" + that name. Both run whole on the
// headless toolkit, each in a child process of its own.
#include <gtest/gtest.h>

#include <string>

#include "chooser_harness.h"
#include "updater_flow_harness.h"

namespace {

namespace fs = std::filesystem;
using chooser_test::notes;

struct language {
  std::string name;
  std::string title;    // entry 1 of its update client file
  std::string welcome;  // entry 3
};

TEST(ChooserThenUpdateClient, ClientSpeaksTheChosenLanguage) {
  const language languages[] = {
      {"English", "Vantrel update", "Welcome"},
      {"Deutsch", "Vantrel-Aktualisierung", "Willkommen"},
      {"Fran\xE7"
       "ais",
       "Vantrel - mise \xE0 jour", "Bienvenue dans Vantrel"},
  };
  for (const language& chosen : languages) {
    SCOPED_TRACE(chosen.name);
    chooser_test::temp_folder dir;
    const fs::path folder = dir.path();
    chooser_test::install_standins(folder);
    for (const language& l : languages) {
      chooser_test::write_file(folder / "langues" / (l.name + ".txt"), "texts\r\n");
      chooser_test::write_file(folder / "langues" / (l.name + ".ico"), chooser_test::icon_file());
      std::string catalogue = l.title + "\r\nAvailable: \r\n" + l.welcome + "\r\n";
      for (int line = 4; line <= 15; ++line) catalogue += "\r\n";
      chooser_test::write_file(folder / "langues" / "update" / (l.name + ".txt"), catalogue);
    }

    const std::string name = chosen.name;
    const auto chooser = chooser_test::run_chooser(folder, [name](notes& n) {
      if (!chooser_test::wait_ready(n) || !chooser_test::select_label(n, name)) {
        return headless::request_close(language_window);
      }
      headless::click(confirm_button);
    });
    ASSERT_TRUE(chooser.exited);
    ASSERT_EQ(chooser.exit_code, 0);
    ASSERT_EQ(chooser_test::read_file(folder / "langue.ini"), chosen.name + ".txt\r\n");

    // Nothing listens on the server's port: the check fails, the window
    // stays, and the driver closes it once its texts are there.
    server_test::refused_port nobody;
    const auto client = flow_test::run_flow(folder, "update_client", nobody.base(), [] {
      // The window opens before its controls are made: wait for the last.
      flow_test::child::wait_for(
          [] { return headless::control(installed_version_label).has_value(); });
      flow_test::child::note_window("open");
      flow_test::child::note("open.welcome", flow_test::child::control_text(welcome_label));
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(client.exited) << client.all();
    EXPECT_EQ(client.exit_code, 0);
    EXPECT_EQ(client["open.title"], chosen.title) << client.all();
    EXPECT_EQ(client["open.welcome"], chosen.welcome) << client.all();
  }
}

}  // namespace
