// The update client built with the tests' public key (tests/fixtures/signing)
// against the local update server signing its offers with the tests' secret
// key: a program is started only when its signature checks; any other
// download of the offer or of the module fails as a download fails.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "file_signature.h"
#include "offer_signature.h"
#include "updater_flow_harness.h"

namespace {

using namespace flow_test;

const fs::path signing_fixtures = fs::path(SOURCE_DIR) / "tests" / "fixtures" / "signing";

// The server's options that make it sign with the tests' key.
std::vector<std::string> signing_options() {
  return {"--sign-key", (signing_fixtures / "test_key.secret").string(), "--sign-tool",
          (fs::path(BUILD_DIR) / "tools" / "update_sign").string()};
}

// The signature text of file under one of the fixture keys.
std::string signature_of(const fs::path& file, const std::string& key_name) {
  const std::string text = read_file(signing_fixtures / (key_name + ".secret")).substr(0, 128);
  signature_secret_key key;
  file_signature signature;
  if (!hex_decode(text, key.data(), key.size())) return "bad key fixture";
  if (!file_signature_make(file.string(), key, signature)) return "unreadable file";
  return hex_encode(signature.data(), signature.size());
}

std::size_t requests_for(const fs::path& log, const std::string& target) {
  std::size_t count = 0;
  for (const std::string& line : lines_of(read_file(log))) {
    if (json_field(line, "target") == target) ++count;
  }
  return count;
}

// The names in a folder, for "nothing left behind".
std::set<std::string> names_in(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// What a product folder holds before the client runs (lay_out) and what
// the client itself adds (the temporary folder of run_flow).
const std::set<std::string> untouched = {"eas", "langue.ini", "temp"};

bool refused_state() {
  return animation_stop.load() == 1 && child::button_state() == "enabled" &&
         child::status_text() == entry(13) && child::progress() == 100;
}

// A refused download of the offer: how the server garbles it.
struct refusal {
  std::string name;
  std::string served;     // "signed", "flipped", "truncated", "appended": the file's bytes
  std::string signature;  // the reply's signature route option (JSON), empty: the server's own
};

class SignedUpdateFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(offer_signature_required()) << "this test needs the build with the test key";
    program = read_file(standin_program());
    ASSERT_GT(program.size(), 100u);
    write_file(files.path() / "signed.exe", program);
    std::string flipped = program;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x01);
    write_file(files.path() / "flipped.exe", flipped);
    write_file(files.path() / "truncated.exe", program.substr(0, program.size() - 1));
    write_file(files.path() / "appended.exe", program + '\0');
    write_file(files.path() / "other.exe", "another file of the maker");
  }

  std::string offer(const update_server& server, const std::string& served,
                    const std::string& signature_option = {}) const {
    return scenario(
        {{module_path, module_reply("1.00")},
         {update_path, update_reply("y", server.url("/files/setup.exe"), signature_option)},
         {"/files/setup.exe", file_route(files.path() / (served + ".exe"))}});
  }

  std::string program;
  temp_folder files{"offered-files"};
};

TEST_F(SignedUpdateFlow, SignedOfferIsCheckedAndStartedInAutoModeAndAfterAClick) {
  for (const std::string mode : {"auto", "manual"}) {
    SCOPED_TRACE(mode);
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario({}), 0, signing_options());
    ASSERT_TRUE(server.running());
    server.set_scenario(offer(server, "signed"));
    const bool automatic = mode == "auto";
    const flow_result r =
        run_flow(product.path(), automatic ? "update_client auto" : "update_client", server.base(),
                 [automatic] {
                   if (automatic || !child::wait_for(child::offer_shown)) return;
                   headless::click(update_button);
                 });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["end.thread"], "worker") << "handed over";
    EXPECT_TRUE(read_file(product.path() / "vantrel.exe") == program);
    const std::vector<start_record> started = wait_for_starts(product.path(), 1);
    ASSERT_EQ(started.size(), 1u);
    EXPECT_EQ(started[0].program, "vantrel.exe");
    EXPECT_EQ(requests_for(server.log(), "/files/setup.exe"), 1u);
  }
}

// Every refused download: entry 13, the button enabled, the window open in
// auto mode, no "vantrel.exe", nothing of the download left, nothing started.
TEST_F(SignedUpdateFlow, RefusedOfferFailsAsADownloadFails) {
  const std::string valid = signature_of(files.path() / "signed.exe", "test_key");
  ASSERT_EQ(valid.size(), 128u);
  auto text = [](const std::string& value) {
    return "\"signature\": {\"text\": \"" + value + "\"}";
  };
  const std::vector<refusal> cases = {
      {"no signature", "signed", "\"signature\": \"none\""},
      {"malformed text", "signed", text(std::string(128, 'g'))},
      {"blank after the digits", "signed", text(valid + " ")},
      {"one digit short", "signed", text(valid.substr(0, 127))},
      {"one byte more", "signed", text(valid + "00")},
      {"empty", "signed", text("")},
      {"another key", "signed", text(signature_of(files.path() / "signed.exe", "other_test_key"))},
      {"one byte flipped", "flipped", text(valid)},
      {"truncated", "truncated", text(valid)},
      {"a byte appended", "appended", text(valid)},
      {"the server's wrong signature", "signed", "\"signature\": \"wrong\""},
      {"signature of another file", "signed",
       "\"signature\": {\"file\": \"" + (files.path() / "other.exe").string() + "\"}"},
  };
  for (const refusal& c : cases) {
    SCOPED_TRACE(c.name);
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario({}), 0, signing_options());
    ASSERT_TRUE(server.running());
    server.set_scenario(offer(server, c.served, c.signature));
    const fs::path log = server.log();
    const fs::path where = product.path();
    const flow_result r = run_flow(product.path(), "update_client auto", server.base(), [=] {
      if (!child::wait_for([&] { return requests_for(log, "/files/setup.exe") >= 1; })) return;
      child::wait_for(refused_state);
      child::note_window("refused");
      std::string names;
      for (const std::string& name : names_in(where)) names += name + ";";
      child::note("refused.folder", names);
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r["refused.window"], "open");
    EXPECT_EQ(r["refused.status"], entry(13));
    EXPECT_EQ(r["refused.button"], "enabled");
    EXPECT_EQ(r["refused.folder"], "eas;langue.ini;temp;") << "no vantrel.exe, no partial file";
    EXPECT_EQ(r["end.thread"], "ui") << "the user closed the window";
    EXPECT_EQ(names_in(product.path()), untouched);
    EXPECT_TRUE(starts(product.path()).empty());
    EXPECT_EQ(requests_for(server.log(), "/files/setup.exe"), 1u);
  }
}

// A refused download is retried by a click like any failed one, and the
// click hands over once the server serves the file that was signed.
TEST_F(SignedUpdateFlow, ClickRetriesARefusedOffer) {
  lay_out(files.path() / "product");
  const fs::path product = files.path() / "product";
  update_server server(scenario({}), 0, signing_options());
  ASSERT_TRUE(server.running());
  const std::string valid =
      "\"signature\": {\"file\": \"" + (files.path() / "signed.exe").string() + "\"}";
  server.set_scenario(offer(server, "flipped", valid));
  const std::string serving = offer(server, "signed", valid);
  const fs::path scenario_file = server.scenario_file();
  const fs::path log = server.log();
  const flow_result r = run_flow(product, "update_client", server.base(), [=] {
    if (!child::wait_for(child::offer_shown)) return;
    child::wait_for([] { return animation_stop.load() == 1 && child::progress() == 100; });
    headless::click(update_button);
    if (!child::wait_for([&] { return requests_for(log, "/files/setup.exe") >= 1; })) return;
    child::wait_for(refused_state);
    child::note_window("refused");
    child::note("refused.requests", std::to_string(requests_for(log, "/files/setup.exe")));
    update_server::write_scenario(scenario_file, serving);
    headless::click(update_button);
  });
  EXPECT_TRUE(r.exited) << r.all();
  EXPECT_EQ(r["refused.status"], entry(13));
  EXPECT_EQ(r["refused.button"], "enabled");
  EXPECT_EQ(r["refused.requests"], "1");
  EXPECT_EQ(r["end.thread"], "worker") << "handed over after the second click";
  EXPECT_EQ(requests_for(server.log(), "/files/setup.exe"), 2u);
  EXPECT_TRUE(read_file(product / "vantrel.exe") == program);
  EXPECT_EQ(wait_for_starts(product, 1).size(), 1u);
}

// The module download is checked the same way: a signed module is started,
// a refused one is passed over in silence and the update check follows.
TEST_F(SignedUpdateFlow, ModuleDownloadIsChecked) {
  struct module_case {
    std::string name, served, signature;
    bool started;
  };
  const std::vector<module_case> cases = {
      {"signed", "signed", "", true},
      {"no signature", "signed", "\"signature\": \"none\"", false},
      {"one byte flipped", "flipped",
       "\"signature\": {\"file\": \"" + (files.path() / "signed.exe").string() + "\"}", false},
      {"another key", "signed",
       "\"signature\": {\"text\": \"" +
           signature_of(files.path() / "signed.exe", "other_test_key") + "\"}",
       false},
  };
  for (const module_case& c : cases) {
    SCOPED_TRACE(c.name);
    temp_folder product("product");
    lay_out(product.path());
    update_server server(scenario({}), 0, signing_options());
    ASSERT_TRUE(server.running());
    server.set_scenario(
        scenario({{module_path, module_reply("1.01", server.url("/files/module.exe"), c.signature)},
                  {update_path, update_reply("n")},
                  {"/files/module.exe", file_route(files.path() / (c.served + ".exe"))}}));
    const flow_result r = run_flow(product.path(), "update_client", server.base(), [] {
      if (!child::wait_status(entry(10))) return;
      child::note_window("checked");
      headless::request_close(progress_window);
    });
    EXPECT_TRUE(r.exited) << r.all();
    EXPECT_EQ(r.exit_code, 0);
    const std::vector<std::string> module_only = {std::string(module_path) + "?os=windows",
                                                  "/files/module.exe"};
    if (c.started) {
      EXPECT_EQ(r["end.thread"], "worker");
      EXPECT_EQ(r["end.status"], entry(7));
      EXPECT_EQ(server.targets(), module_only);
      EXPECT_TRUE(read_file(product.path() / "vantrel.exe") == program);
      EXPECT_EQ(wait_for_starts(product.path(), 1).size(), 1u);
    } else {
      EXPECT_EQ(r["end.thread"], "ui");
      EXPECT_EQ(r["checked.status"], entry(10)) << "the update check followed";
      std::vector<std::string> expected = module_only;
      expected.push_back(std::string(update_path) + "?version=2024.05.01&os=windows");
      EXPECT_EQ(server.targets(), expected);
      EXPECT_EQ(names_in(product.path()), untouched);
      EXPECT_TRUE(starts(product.path()).empty());
    }
  }
}

}  // namespace
