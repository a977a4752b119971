// The toolkit operations that worker threads may call, called from several
// threads at once while the event loop runs and the loop's thread changes
// the tables (built under TSan as well).
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "posix/headless.h"
#include "toolkit.h"

namespace {

constexpr int window_number = 1;
constexpr int progress = 2;
constexpr int text = 3;
constexpr int list = 4;
constexpr int button = 5;
constexpr int status = 0;
constexpr int replaced = 50;  // recreated by the loop's thread while workers use it

std::string worker_text(int worker, int round) {
  return "worker " + std::to_string(worker) + " round " + std::to_string(round);
}

TEST(ToolkitThreads, WorkerOperationsRaceTheEventLoopSafely) {
  headless::reset();
  const ui_handle window = open_window(window_number, 0, 0, 400, 300, 0x10C80001, "title");
  ASSERT_NE(window, 0u);
  ASSERT_NE(begin_controls(window), 0);
  create_progress_bar(progress, 0, 0, 100, 10, 0, 100, progress_smooth);
  create_text(text, 0, 20, 100, 10, "start");
  create_icon_list(list, 0, 40, 100, 100, "Language", 100, 0);
  add_control_item(list, -1, "one", 0);
  add_control_item(list, -1, "two", 0);
  create_image_button(button, 0, 150, 48, 48, 0);
  create_text(replaced, 0, 200, 100, 10, "first");
  create_status_bar(status, window);
  add_status_bar_field(350);
  show_window(window_number, 0);

  constexpr int workers = 4;
  constexpr int rounds = 300;
  std::atomic<int> running{workers};
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([w, &running] {
      for (int r = 0; r < rounds; ++r) {
        const std::string t = worker_text(w, r);
        set_control_state(progress, (w * 37 + r) % 130 - 10);
        set_control_text(text, t);
        set_window_title(window_number, t);
        set_status_bar_text(status, 0, t, status_borderless);
        disable_control(button, r % 2);
        const std::string got = get_control_text(text);
        EXPECT_EQ(got.rfind("worker ", 0), 0u) << got;
        const std::string selected = get_control_text(list);
        EXPECT_TRUE(selected.empty() || selected == "one" || selected == "two") << selected;
        set_control_text(replaced, t);
        get_control_text(replaced);
        // Numbers that hold nothing are harmless from any thread too.
        set_control_text(9999, t);
        set_control_state(max_object_number + 1, 1);
        EXPECT_EQ(get_control_text(-5), "");
      }
      --running;
    });
  }

  // The test's own thread plays the user: selections and finally a close.
  std::thread user([&running] {
    int index = 0, selections = 0;
    while (running > 0 || selections < 20) {
      EXPECT_TRUE(headless::select_item(list, index));
      index = (index + 1) % 2;
      ++selections;
      std::this_thread::yield();
    }
    headless::request_close(window_number);
  });

  // This thread runs the event loop and keeps replacing one control.
  int events = 0, round = 0;
  for (;;) {
    const int code = wait_window_event();
    if (code == event_close_request) break;
    EXPECT_EQ(code, event_control_used);
    ++events;
    create_text(replaced, 0, 200, 100, 10, "again " + std::to_string(++round));
  }
  EXPECT_EQ(event_window(), window_number);
  for (auto& t : threads) t.join();
  user.join();
  EXPECT_GT(events, 0);

  // Every value is whole: one writer's text, never a mix.
  std::set<std::string> written;
  for (int w = 0; w < workers; ++w)
    for (int r = 0; r < rounds; ++r) written.insert(worker_text(w, r));
  EXPECT_TRUE(written.count(get_control_text(text)));
  EXPECT_TRUE(written.count(headless::window(window_number)->title));
  EXPECT_TRUE(written.count(headless::status_bar(status)->texts.at(0)));
  const int position = headless::control(progress)->state;
  EXPECT_GE(position, 0);
  EXPECT_LE(position, 100);
  headless::reset();
}

}  // namespace
