// The whole language chooser on the headless toolkit: each scenario runs
// run_language_chooser in a child process (it ends the process itself), in a
// product folder of its own, while a driver thread in that child acts as the
// user through the headless toolkit and writes what it sees to a pipe. The
// parent then checks those notes, the files left behind, the programs the
// stand-ins recorded and the exit status.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "chooser_harness.h"
#include "language_chooser.h"
#include "posix/headless.h"
#include "toolkit.h"

namespace {

using namespace chooser_test;
using namespace std::chrono_literals;

void expect_clean_end(const run_result& r) {
  EXPECT_TRUE(r.exited) << "signal " << r.signal;
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.all("failed").empty()) << r.first("failed");
  // The chooser's own fault handling goes at its end; what was there before is back.
  EXPECT_EQ(r.all("end.fault handlers"), std::vector<std::string>{"previous"});
}

// The language files that the platform's scan delivers, in its order: the
// order the list must keep (it never sorts).
std::vector<std::string> scan_order(const fs::path& langues) {
  std::vector<std::string> names;
  DIR* dir = opendir(langues.c_str());
  if (dir == nullptr) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name.size() < 4) continue;
    std::string tail = name.substr(name.size() - 4);
    std::transform(tail.begin(), tail.end(), tail.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (tail != ".txt" || !fs::is_regular_file(langues / name)) continue;
    names.push_back(name);
  }
  closedir(dir);
  return names;
}

// A product folder: stand-ins, old installed files, and languages.
class ChooserFlow : public ::testing::Test {
 protected:
  void SetUp() override {
    install_standins(dir.path());
    write_file(at("aide.chm"), "old help");
    write_file(at("bon.htm"), "old page");
    write_file(at("langue.ini"), "Nederlands-uitgebreid.txt\r\nmore\r\n");
  }
  fs::path at(const std::string& name) const { return dir.path() / name; }
  void add_language(const std::string& name, bool with_flag = true) {
    write_file(at("langues/" + name + ".txt"), "texts of " + name + "\r\n");
    if (with_flag) write_file(at("langues/" + name + ".ico"), icon_file());
    write_file(at(name + ".chm"), name + " help");
    write_file(at(name + ".htm"), name + " page");
  }
  void expect_nothing_recorded() {
    settle();
    EXPECT_EQ(read_file(at("langue.ini")), "Nederlands-uitgebreid.txt\r\nmore\r\n");
    EXPECT_EQ(read_file(at("aide.chm")), "old help");
    EXPECT_EQ(read_file(at("bon.htm")), "old page");
    EXPECT_TRUE(starts_of(dir.path(), "tessarin.exe").empty());
  }
  temp_folder dir;
};

TEST_F(ChooserFlow, WindowAndControlsAreLaidOutAsDesigned) {
  add_language("English");
  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    const auto w = headless::window(language_window);
    n.add("window.flags", w->flags);
    n.add("window.style", w->style);
    n.add("window.inner", std::to_string(w->inner_width) + "x" + std::to_string(w->inner_height));
    n.add("window.outer", std::to_string(w->outer.x) + "," + std::to_string(w->outer.y) + " " +
                              std::to_string(w->outer.width) + "x" +
                              std::to_string(w->outer.height));
    n.add("window.visible", w->visible);
    n.add("window.topmost", w->topmost);
    n.add("window.title", w->title);
    for (int number : {0, 1, 2, 3}) {
      const auto c = headless::control(number);
      if (!c) continue;
      const std::string key = "control" + std::to_string(number);
      n.add(key + ".kind", static_cast<int>(c->kind));
      n.add(key + ".window", c->window);
      n.add(key + ".where", std::to_string(c->where.x) + "," + std::to_string(c->where.y) + " " +
                                std::to_string(c->where.width) + "x" +
                                std::to_string(c->where.height));
      n.add(key + ".text", c->text);
      n.add(key + ".flags", c->flags);
      n.add(key + ".hover", c->hover_colour);
      n.add(key + ".view", c->view_mode);
      for (const auto& column : c->columns) n.add(key + ".column", column);
      if (c->image != 0) {
        const auto image = headless::image(c->image);
        n.add(key + ".image", image ? std::to_string(image->width) + "x" +
                                          std::to_string(image->height) +
                                          (image->icon ? " icon" : " bitmap")
                                    : std::string("released"));
      }
    }
    headless::request_close(language_window);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.first("window.flags"), std::to_string(0x00C00001));
  EXPECT_EQ(r.first("window.style"), std::to_string(0x00C00000));
  EXPECT_EQ(r.first("window.inner"), "369x192");
  // Centred on the 1024 x 768 screen: outer 375 x 221.
  EXPECT_EQ(r.first("window.outer"), "325,274 375x221");
  EXPECT_EQ(r.first("window.visible"), "1");
  EXPECT_EQ(r.first("window.topmost"), "1");
  // Empty until the animation's first step, 100 ms after it starts.
  const std::string title = r.first("window.title");
  EXPECT_TRUE(title.empty() || title == " Select Language") << title;

  EXPECT_EQ(r.first("control0.kind"), std::to_string(int(headless::control_kind::icon_list)));
  EXPECT_EQ(r.first("control0.where"), "0,0 370x155");
  EXPECT_EQ(r.first("control0.flags"), std::to_string(0x40000008));
  EXPECT_EQ(r.all("control0.column"), std::vector<std::string>{""});
  EXPECT_EQ(r.first("control0.view"), "0");
  EXPECT_EQ(r.first("control1.kind"), std::to_string(int(headless::control_kind::image_button)));
  EXPECT_EQ(r.first("control1.where"), "295,160 65x30");
  EXPECT_EQ(r.first("control1.text"), "");
  EXPECT_EQ(r.first("control1.image"), "16x16 icon");
  EXPECT_EQ(r.first("control2.kind"), std::to_string(int(headless::control_kind::link)));
  EXPECT_EQ(r.first("control2.where"), "15,165 125x20");
  EXPECT_EQ(r.first("control2.text"), "Si vous \xEAtes traducteur");
  EXPECT_EQ(r.first("control2.hover"), "0");
  for (const char* key : {"control0.window", "control1.window", "control2.window"}) {
    EXPECT_EQ(r.first(key), "0") << key;
  }
  EXPECT_TRUE(r.all("control3.kind").empty());
}

TEST_F(ChooserFlow, LanguagesInScanOrderAndConfirmingEnglishInstallsIt) {
  add_language("English");
  add_language(
      "Fran\xE7"
      "ais");
  add_language("Deutsch");
  std::vector<std::string> expected;
  for (const std::string& file : scan_order(at("langues"))) {
    expected.push_back(language_name_of(file));
  }
  ASSERT_EQ(expected.size(), 3u);

  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    note_labels(n);
    const auto list = headless::control(language_list);
    for (const auto& item : list->items) {
      n.add("icon", item.icon != 0 && headless::image(item.icon) ? "shown" : "missing");
    }
    note_boxes(n);
    if (!select_label(n, "English")) return headless::request_close(language_window);
    headless::click(confirm_button);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.all("label"), expected);
  EXPECT_EQ(r.all("icon"), std::vector<std::string>(3, "shown"));
  EXPECT_TRUE(r.all("box.text").empty());

  EXPECT_EQ(read_file(at("langue.ini")), "English.txt\r\n");
  EXPECT_EQ(read_file(at("aide.chm")), "English help");
  EXPECT_EQ(read_file(at("bon.htm")), "English page");
  ASSERT_GE(wait_for_starts(dir.path(), 1), 1u);
  settle();
  const auto product = starts_of(dir.path(), "tessarin.exe");
  ASSERT_EQ(product.size(), 1u);
  EXPECT_EQ(fs::path(product[0].folder), dir.path());
  EXPECT_TRUE(starts_of(dir.path(), "traducteur.exe").empty());
}

// A long list is filled without a redraw per entry: once filled, it is
// drawn again, every entry in scan order with its flag, and the last one
// can be chosen like the first.
TEST_F(ChooserFlow, ManyLanguagesAreListedInScanOrderAndTheListIsDrawnAgain) {
  for (int i = 0; i < 300; ++i) add_language("Langue " + std::to_string(1000 + i));
  std::vector<std::string> expected = scan_order(at("langues"));
  ASSERT_EQ(expected.size(), 300u);
  for (std::string& name : expected) name = language_name_of(name);

  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    note_labels(n);
    const auto list = headless::control(language_list);
    n.add("redraw", list->redraw);
    std::size_t shown = 0;
    for (const auto& item : list->items) shown += item.icon != 0 && headless::image(item.icon);
    n.add("icons", shown);
    if (!select_label(n, list->items.back().text)) return headless::request_close(language_window);
    headless::click(confirm_button);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.all("label"), expected);
  EXPECT_EQ(r.first("redraw"), "1");
  EXPECT_EQ(r.first("icons"), "300");
  EXPECT_EQ(read_file(at("langue.ini")), expected.back() + ".txt\r\n");
}

TEST_F(ChooserFlow, OnlyLanguageFilesWithALoadableFlagAreListed) {
  add_language("English");
  add_language("Sans-drapeau", false);  // no flag at all
  add_language("Casse");                // a flag that is no image
  write_file(at("langues/Casse.ico"), "not an icon at all");
  add_language("Bitmap");  // a flag that is a bitmap file
  write_file(at("langues/Bitmap.ico"), bitmap_file());
  fs::create_directory(at("langues/x.txt"));  // a folder, even with a flag
  write_file(at("langues/x.ico"), icon_file());
  write_file(at("langues/.txt"), "nameless");  // an empty name
  write_file(at("langues/.ico"), icon_file());
  write_file(at("langues/notes.doc"), "not a language");
  add_language("Zulu");

  std::vector<std::string> expected;
  for (const std::string& file : scan_order(at("langues"))) {
    const std::string name = language_name_of(file);
    if (name != "Sans-drapeau" && name != "Casse") expected.push_back(name);
  }
  ASSERT_EQ(expected.size(), 4u);  // English, Bitmap, "", Zulu

  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    note_labels(n);
    const auto button = headless::control(confirm_button);
    const auto go = headless::image(button->image);
    n.add("go", go && go->width == 16 && go->height == 16 && go->icon ? "intact" : "lost");
    // Each flag is released once its entry holds a copy; only the go icon stays.
    for (int number : headless::image_numbers()) n.add("image", number);
    note_boxes(n);
    // The nameless entry gives an empty selection text: confirming it asks
    // for a choice like no selection at all.
    if (!select_label(n, "")) return headless::request_close(language_window);
    headless::click(confirm_button);
    if (wait_boxes(n, 1)) note_boxes(n);
    headless::request_close(language_window);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.all("label"), expected);
  EXPECT_EQ(r.first("go"), "intact");
  EXPECT_EQ(r.all("image"), std::vector<std::string>{std::to_string(go_icon)});
  EXPECT_EQ(r.all("box.text"),
            std::vector<std::string>{"Choisissez votre langue\n\nChoose your language"});
  expect_nothing_recorded();
}

// Without language files the list stays empty, and the confirm button can
// only ask for a choice.
TEST_F(ChooserFlow, NoLanguageFilesGiveAnEmptyList) {
  const std::string no_folder = "Pas de dossier langues!";
  const std::string choose = "Choisissez votre langue\n\nChoose your language";
  struct row {
    const char* what;
    void (*make)(const fs::path& folder);
    std::vector<std::string> texts, flags;
  } rows[] = {
      {"no langues folder", [](const fs::path&) {}, {no_folder, choose}, {"0", "16"}},
      {"empty langues folder",
       [](const fs::path& f) { fs::create_directory(f / "langues"); },
       {no_folder, choose},
       {"0", "16"}},
      {"langues without *.txt",
       [](const fs::path& f) {
         write_file(f / "langues" / "English.ico", icon_file());
         write_file(f / "langues" / "English.txt.bak", "old");
       },
       {no_folder, choose},
       {"0", "16"}},
      // The folder matches the pattern, so the scan starts: no message, and
      // the folder is no entry.
      {"only a folder named x.txt",
       [](const fs::path& f) { fs::create_directories(f / "langues" / "x.txt"); },
       {choose},
       {"16"}},
  };
  for (const row& c : rows) {
    SCOPED_TRACE(c.what);
    fs::remove_all(at("langues"));
    c.make(dir.path());
    const std::size_t boxes = c.texts.size();
    const run_result r = run_chooser(dir.path(), [boxes](notes& n) {
      if (!wait_ready(n)) return headless::request_close(language_window);
      n.add("items", static_cast<long long>(labels().size()));
      headless::click(confirm_button);
      if (wait_boxes(n, boxes)) note_boxes(n);
      headless::request_close(language_window);
    });
    expect_clean_end(r);
    EXPECT_EQ(r.first("items"), "0");
    EXPECT_EQ(r.all("box.text"), c.texts);
    EXPECT_EQ(r.all("box.flags"), c.flags);
    EXPECT_EQ(r.all("box.title"), std::vector<std::string>(boxes, ""));
    expect_nothing_recorded();
  }
}

TEST_F(ChooserFlow, ConfirmWithoutSelectionAsksForAChoiceThenAcceptsOne) {
  add_language("English");
  add_language(
      "Fran\xE7"
      "ais");
  const run_result r = run_chooser(dir.path(), [this](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    // Clicks on the list alone do nothing.
    headless::click(language_list);
    headless::click(confirm_button);
    if (!wait_boxes(n, 1)) return headless::request_close(language_window);
    note_boxes(n);
    std::this_thread::sleep_for(200ms);
    n.add("langue.ini", read_file(at("langue.ini")));
    n.add("starts", static_cast<long long>(starts(dir.path()).size()));
    if (!select_label(n,
                      "Fran\xE7"
                      "ais"))
      return headless::request_close(language_window);
    headless::click(confirm_button);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.all("box.text"),
            std::vector<std::string>{"Choisissez votre langue\n\nChoose your language"});
  EXPECT_EQ(r.all("box.flags"), std::vector<std::string>{"16"});
  EXPECT_EQ(r.all("box.title"), std::vector<std::string>{""});
  EXPECT_EQ(r.first("langue.ini"), "Nederlands-uitgebreid.txt\r\nmore\r\n");
  EXPECT_EQ(r.first("starts"), "0");

  EXPECT_EQ(read_file(at("langue.ini")),
            "Fran\xE7"
            "ais.txt\r\n");
  EXPECT_EQ(read_file(at("aide.chm")),
            "Fran\xE7"
            "ais help");
  ASSERT_GE(wait_for_starts(dir.path(), 1), 1u);
  settle();
  EXPECT_EQ(starts_of(dir.path(), "tessarin.exe").size(), 1u);
}

TEST_F(ChooserFlow, EachClickOnTheLinkStartsTheTranslatorsTool) {
  add_language("English");
  const run_result r = run_chooser(dir.path(), [this](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    for (int i = 0; i < 3; ++i) headless::click(translator_link);
    const bool three = headless::wait_until([this] { return starts(dir.path()).size() >= 3; });
    std::this_thread::sleep_for(300ms);
    n.add("starts", static_cast<long long>(starts(dir.path()).size()));
    n.add("three", three);
    n.add("window", headless::window(language_window) ? "open" : "gone");
    headless::request_close(language_window);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.first("three"), "1");
  EXPECT_EQ(r.first("starts"), "3");
  EXPECT_EQ(r.first("window"), "open");
  const auto tool = starts_of(dir.path(), "traducteur.exe");
  ASSERT_EQ(tool.size(), 3u);
  for (const auto& start : tool) EXPECT_EQ(fs::path(start.folder), dir.path());
  expect_nothing_recorded();
}

TEST_F(ChooserFlow, ChoiceThatCannotBeRecordedStillStartsTheProductAndEnds) {
  add_language("English");
  fs::remove(at("langue.ini"));
  fs::create_directory(at("langue.ini"));
  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    if (!select_label(n, "English")) return headless::request_close(language_window);
    headless::click(confirm_button);
  });
  expect_clean_end(r);
  EXPECT_TRUE(fs::is_directory(at("langue.ini")));
  EXPECT_EQ(read_file(at("aide.chm")), "old help");
  EXPECT_EQ(read_file(at("bon.htm")), "old page");
  ASSERT_GE(wait_for_starts(dir.path(), 1), 1u);
  settle();
  EXPECT_EQ(starts_of(dir.path(), "tessarin.exe").size(), 1u);
}

TEST_F(ChooserFlow, MissingHelpFileKeepsTheOldOneAndTheRestIsDone) {
  add_language("English");
  fs::remove(at("English.chm"));
  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    if (!select_label(n, "English")) return headless::request_close(language_window);
    headless::click(confirm_button);
  });
  expect_clean_end(r);
  EXPECT_EQ(read_file(at("langue.ini")), "English.txt\r\n");
  EXPECT_EQ(read_file(at("aide.chm")), "old help");
  EXPECT_EQ(read_file(at("bon.htm")), "English page");
  ASSERT_GE(wait_for_starts(dir.path(), 1), 1u);
  settle();
  EXPECT_EQ(starts_of(dir.path(), "tessarin.exe").size(), 1u);
}

TEST_F(ChooserFlow, CloseRequestEndsWithoutWritingOrStarting) {
  add_language("English");
  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    select_label(n, "English");
    headless::request_close(language_window);
  });
  expect_clean_end(r);
  expect_nothing_recorded();
  EXPECT_TRUE(starts(dir.path()).empty());
}

// The title walks right one space per 100 ms step, 1 to 84 spaces, then
// starts again at one; it names the selection or asks for one.
TEST_F(ChooserFlow, TitleScrollsTheSelectedNameOrTheRequest) {
  add_language("English");
  add_language("Deutsch");
  const run_result r = run_chooser(dir.path(), [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    const auto start = std::chrono::steady_clock::now();
    auto watch = [&n, start](const std::function<bool(const std::string&)>& until,
                             std::chrono::seconds limit) {
      std::string last = "\x01";
      const auto deadline = std::chrono::steady_clock::now() + limit;
      auto previous_poll = std::chrono::steady_clock::now();
      auto ms = [start](std::chrono::steady_clock::time_point t) {
        return std::to_string(
            std::chrono::duration_cast<std::chrono::milliseconds>(t - start).count());
      };
      while (std::chrono::steady_clock::now() < deadline) {
        const auto poll = std::chrono::steady_clock::now();
        const std::string title = headless::window(language_window)->title;
        if (title != last) {
          n.add("title", title);
          // The title changed after the poll before began and before now.
          n.add("title.ms", ms(previous_poll) + " " + ms(std::chrono::steady_clock::now()));
          last = title;
          if (until(title)) return true;
        }
        previous_poll = poll;
        std::this_thread::sleep_for(1ms);
      }
      return false;
    };
    // Past one whole sweep and into the next.
    int wraps = 0;
    std::size_t previous = 0;
    watch(
        [&](const std::string& title) {
          const std::size_t spaces = title.find_first_not_of(' ');
          if (spaces != std::string::npos && spaces < previous) ++wraps;
          if (spaces != std::string::npos) previous = spaces;
          return wraps == 1 && spaces >= 5;
        },
        30s);
    n.add("mark", "select");
    select_label(n, "Deutsch");
    watch([](const std::string& title) { return title.ends_with("Deutsch"); }, 10s);
    int more = 0;  // a few steps more: the request must not come back
    watch([&more](const std::string&) { return ++more == 5; }, 10s);
    headless::request_close(language_window);
  });
  expect_clean_end(r);

  std::vector<std::pair<std::size_t, std::string>> before, after;
  // For each title of before: since when and until when it may have been
  // set, in ms.
  std::vector<std::pair<long long, long long>> before_ms;
  bool selected = false, counted = false;
  for (const auto& [key, value] : r.lines) {
    if (key == "mark") selected = true;
    if (key == "title.ms" && counted) {
      const std::size_t blank = value.find(' ');
      before_ms.emplace_back(std::stoll(value.substr(0, blank)), std::stoll(value.substr(blank)));
    }
    if (key != "title") continue;
    counted = false;
    if (value.empty()) continue;
    const std::size_t spaces = value.find_first_not_of(' ');
    ASSERT_NE(spaces, std::string::npos) << "title of spaces only";
    (selected ? after : before).emplace_back(spaces, value.substr(spaces));
    counted = !selected;
  }
  ASSERT_EQ(before_ms.size(), before.size());
  ASSERT_GE(before.size(), 40u) << "too few steps seen";
  std::size_t widest = 0;
  int wraps = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    const auto& [spaces, caption] = before[i];
    EXPECT_EQ(caption, "Select Language");
    EXPECT_GE(spaces, 1u);
    EXPECT_LE(spaces, 84u);
    widest = std::max(widest, spaces);
    if (i == 0) continue;
    const std::size_t last = before[i - 1].first;
    if (spaces < last) {
      ++wraps;
      // A sweep ends at 84 spaces and the next one starts at one; a step
      // missed by the watcher on a busy machine may hide one of them.
      EXPECT_GE(last, 80u);
      EXPECT_LE(spaces, 4u);
    } else {
      EXPECT_LE(spaces - last, 4u) << "steps are one space each";
    }
  }
  EXPECT_EQ(wraps, 1);
  EXPECT_GE(widest, 80u);
  // One step per 100 ms: the steps between the first and the last title
  // seen may not come faster than one per 80 ms over the longest time they
  // can have been apart, with two steps of slack. No lower bound: a loaded
  // machine delays steps, it never hurries them.
  std::size_t steps = 0;
  for (std::size_t i = 1; i < before.size(); ++i) {
    const std::size_t from = before[i - 1].first, to = before[i].first;
    steps += to > from ? to - from : to + title_animation::widest_indent - from;
  }
  const long long elapsed_ms = before_ms.back().second - before_ms.front().first;
  EXPECT_LE(static_cast<long long>(steps) * 80, elapsed_ms + 2 * 80)
      << steps << " steps in " << elapsed_ms << " ms";
  EXPECT_LE(before.front().first, 4u) << "the first step has one space";
  ASSERT_FALSE(after.empty());
  EXPECT_EQ(after.back().second, "Deutsch");
  bool named = false;
  for (const auto& [spaces, caption] : after) {
    if (caption == "Deutsch") named = true;
    if (named) {
      EXPECT_EQ(caption, "Deutsch") << "the request came back after a selection";
    }
  }
}

// A product folder too deep to be a start folder: no languages listed, as if
// there were none, and the chooser still works.
TEST_F(ChooserFlow, StartFolderLongerThan254CharactersListsNothing) {
  const std::size_t base = dir.path().string().size();
  const fs::path deep = dir.path() / std::string(254 - base, 'd');
  fs::create_directories(deep / "langues");
  write_file(deep / "langues" / "English.txt", "texts");
  write_file(deep / "langues" / "English.ico", icon_file());
  const run_result r = run_chooser(deep, [](notes& n) {
    if (!wait_ready(n)) return headless::request_close(language_window);
    n.add("items", static_cast<long long>(labels().size()));
    note_boxes(n);
    headless::request_close(language_window);
  });
  expect_clean_end(r);
  EXPECT_EQ(r.first("items"), "0");
  EXPECT_EQ(r.all("box.text"), std::vector<std::string>{"Pas de dossier langues!"});
}

}  // namespace
