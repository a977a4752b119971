// Contract of the toolkit on the headless backend: numbered objects, window
// placement, events, icon lists, fonts, status bars, focus navigation and
// the colour hook.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <string>
#include <vector>

#include "posix/headless.h"
#include "toolkit.h"
#include "toolkit_core.h"

namespace {

// A bitmap file of one pixel, 24 bits.
const unsigned char tiny_bitmap[] = {
    'B', 'M', 58, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 24,
    0,   0,   0,  0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 0};

class Toolkit : public ::testing::Test {
 protected:
  void SetUp() override { headless::reset(); }
  void TearDown() override { headless::reset(); }

  // A visible window 1 that receives controls.
  ui_handle open_parent(int number = 1) {
    const ui_handle window = open_window(number, 10, 10, 300, 200, window_title_bar, "parent");
    EXPECT_NE(window, 0u);
    EXPECT_NE(begin_controls(window), 0);
    return window;
  }
};

TEST_F(Toolkit, CreatingUnderANumberInUseReplacesTheOldObject) {
  const ui_handle first = open_parent(1);
  ASSERT_NE(create_text(5, 0, 0, 10, 10, "old"), 0u);
  ASSERT_NE(create_text(6, 0, 0, 10, 10, "stays"), 0u);
  ASSERT_NE(create_frame(5, 0, 0, 10, 10, "new"), 0u);
  ASSERT_TRUE(headless::control(5));
  EXPECT_EQ(headless::control(5)->kind, headless::control_kind::frame);
  EXPECT_EQ(get_control_text(5), "new");
  EXPECT_EQ(get_control_text(6), "stays");

  // Reopening window 1 closes the old one and its controls.
  const ui_handle second = open_window(1, 0, 0, 50, 50, window_title_bar, "again");
  ASSERT_NE(second, 0u);
  EXPECT_NE(second, first);
  EXPECT_EQ(window_handle(1), second);
  EXPECT_FALSE(headless::control(5));
  EXPECT_FALSE(headless::control(6));
  EXPECT_EQ(begin_controls(first), 0) << "the old window's handle is gone";

  // Fonts and status bars replace the same way.
  const ui_handle font_a = load_font(2, "Arial", 10, 0);
  const ui_handle font_b = load_font(2, "Tahoma", 12, 0);
  EXPECT_FALSE(headless::font(font_a));
  ASSERT_TRUE(headless::font(font_b));
  EXPECT_EQ(headless::font(font_b)->face, "Tahoma");
}

TEST_F(Toolkit, MinusOneGivesNewIdentifiersThatFixedNumbersNeverHit) {
  std::vector<int> ids;
  for (int i = 0; i < 3; ++i) {
    const ui_handle id = open_window(-1, 0, 0, 10, 10, 0, "auto");
    ASSERT_NE(id, 0u);
    ids.push_back(static_cast<int>(id));
  }
  EXPECT_NE(ids[0], ids[1]);
  EXPECT_NE(ids[1], ids[2]);
  for (int id : ids) {
    EXPECT_GT(id, max_object_number);
    ASSERT_TRUE(headless::window(id));
    EXPECT_NE(window_handle(id), 0u);
  }
  // Every fixed number the program can choose leaves them alone.
  ASSERT_NE(open_window(max_object_number, 0, 0, 10, 10, 0, "fixed"), 0u);
  ASSERT_NE(open_window(0, 0, 0, 10, 10, 0, "fixed"), 0u);
  for (int id : ids) EXPECT_TRUE(headless::window(id));

  // Closing frees the identifier; controls and fonts take -1 as well.
  close_window(ids[1]);
  EXPECT_EQ(window_handle(ids[1]), 0u);
  ASSERT_NE(begin_controls(window_handle(ids[0])), 0);
  const ui_handle control = create_text(-1, 0, 0, 5, 5, "x");
  ASSERT_GT(control, static_cast<ui_handle>(max_object_number));
  EXPECT_EQ(get_control_text(static_cast<int>(control)), "x");
  const ui_handle font = load_font(-1, "Arial", 10, 0);
  EXPECT_GT(font, static_cast<ui_handle>(max_object_number));
}

TEST_F(Toolkit, NumbersOutsideTheTablesAreRefusedAndOperationsOnThemDoNothing) {
  open_parent();
  for (int number : {max_object_number + 1, INT_MAX, -2, INT_MIN}) {
    SCOPED_TRACE(number);
    EXPECT_EQ(open_window(number, 0, 0, 10, 10, 0, "x"), 0u);
    EXPECT_EQ(create_text(number, 0, 0, 10, 10, "x"), 0u);
    EXPECT_EQ(load_font(number, "Arial", 10, 0), 0u);
    EXPECT_EQ(create_status_bar(number, window_handle(1)), 0u);
    const char bmp[] = "BM";
    EXPECT_EQ(catch_image(number, bmp, 2), 0u);
    EXPECT_EQ(window_handle(number), 0u);
    EXPECT_EQ(control_handle(number), 0u);
    EXPECT_EQ(get_control_text(number), "");
    EXPECT_EQ(is_image(number), 0);
    EXPECT_EQ(use_image(number), 0u);
    set_control_text(number, "y");
    set_control_state(number, 3);
    disable_control(number, 1);
    set_control_redraw(number, 0);
    close_window(number);
    free_image(number);
  }
  // The highest number is still a number.
  EXPECT_NE(create_text(max_object_number, 0, 0, 10, 10, "top"), 0u);
  EXPECT_EQ(get_control_text(max_object_number), "top");
  // Numbers in range that hold nothing.
  EXPECT_EQ(get_control_text(77), "");
  EXPECT_EQ(control_handle(77), 0u);
  EXPECT_EQ(image_handle(77), 0u);
}

TEST(ToolkitArithmetic, CentringRoundsEachHalfDown) {
  // Each half is rounded down on its own, which is not always the halved
  // difference of the two sizes.
  const struct {
    int screen, outer, expected;
  } cases[] = {
      {1024, 406, 309},  // even, even: 512 - 203, the exact half of the difference
      {1024, 407, 309},  // even screen, odd outer: 512 - 203; (1024 - 407) / 2 is 308.5
      {1023, 406, 308},  // odd screen, even outer: 511 - 203; (1023 - 406) / 2 is 308.5
      {1023, 407, 308},  // odd, odd: 511 - 203
      {1025, 401, 312},  // 512 - 200
      {768, 229, 270},   // 384 - 114
      {1024, 2000, 0},   // the outer size is limited to the screen first
      {1023, 2001, 0},  {1023, 1023, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(centred_position(c.screen, c.outer), c.expected)
        << "screen " << c.screen << " outer " << c.outer;
}

TEST_F(Toolkit, OpenWindowCentresTheOuterFrameAndAddsATitleBar) {
  const struct {
    int screen_w, screen_h, inner_w, inner_h;
    unsigned flags;
  } cases[] = {
      {1024, 768, 400, 200, 0x10C80001},  {1024, 768, 401, 201, 0x00C00001},
      {1023, 767, 401, 201, 0x00000001},  {1023, 767, 400, 200, 0x00C00001},
      {800, 600, 2000, 1000, 0x00C00001},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.screen_w << "x" << c.screen_h << " inner " << c.inner_w
                                    << "x" << c.inner_h << " flags " << std::hex << c.flags);
    headless::set_screen_size(c.screen_w, c.screen_h);
    ASSERT_NE(open_window(1, 77, 88, c.inner_w, c.inner_h, c.flags, "t"), 0u);
    const auto w = headless::window(1);
    ASSERT_TRUE(w);
    const int outer_w = c.inner_w + headless::frame_width;
    const int outer_h = c.inner_h + headless::frame_height;
    EXPECT_EQ(w->outer.width, outer_w);
    EXPECT_EQ(w->outer.height, outer_h);
    EXPECT_EQ(w->inner_width, c.inner_w);
    EXPECT_EQ(w->inner_height, c.inner_h);
    EXPECT_EQ(w->outer.x, c.screen_w / 2 - std::min(outer_w, c.screen_w) / 2);
    EXPECT_EQ(w->outer.y, c.screen_h / 2 - std::min(outer_h, c.screen_h) / 2);
    EXPECT_EQ(w->style & window_title_bar, window_title_bar);
  }
  // Without the centring bit x and y are the outer frame's corner.
  ASSERT_NE(open_window(2, 77, 88, 100, 100, window_title_bar, "t"), 0u);
  EXPECT_EQ(headless::window(2)->outer.x, 77);
  EXPECT_EQ(headless::window(2)->outer.y, 88);
}

TEST_F(Toolkit, StyleBitsHiddenFlagAndShowing) {
  const struct {
    unsigned flags;
    unsigned style;
    bool visible;
  } cases[] = {
      {0x00000001, 0x00C00000, true},   // centring alone: a title bar is added
      {0x10000000, 0x00C00000, false},  // hidden alone: likewise
      {0x10000001, 0x00C00000, false}, {0x00000000, 0x00C00000, true},
      {0x10C80001, 0x00C80000, false},  // the update client's window
      {0x00C00001, 0x00C00000, true},   // the chooser's window: no system menu
      {0x00800000, 0x00800000, true},   // a border alone is a style bit: no title bar
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.flags);
    ASSERT_NE(open_window(3, 0, 0, 100, 100, c.flags, "t"), 0u);
    EXPECT_EQ(headless::window(3)->style, c.style);
    EXPECT_EQ(headless::window(3)->visible, c.visible);
    EXPECT_EQ(window_style_bits(c.flags), c.style);
  }
  ASSERT_NE(open_window(1, 0, 0, 100, 100, 0x10C80001, "t"), 0u);
  EXPECT_FALSE(headless::window(1)->visible);
  show_window(1, 0);
  EXPECT_TRUE(headless::window(1)->visible);
  show_window(1, 1);
  EXPECT_FALSE(headless::window(1)->visible);
  show_window(1, 5);
  EXPECT_FALSE(headless::window(1)->visible);
}

TEST_F(Toolkit, WindowTitleBackgroundAndTopmost) {
  open_parent();
  set_window_title(1, "Version install\xE9");
  set_window_background(1, colour_white);
  set_window_topmost(1);
  const auto w = headless::window(1);
  EXPECT_EQ(w->title, "Version install\xE9");
  EXPECT_EQ(w->background, 0xFFFFFF);
  EXPECT_TRUE(w->topmost);
}

TEST_F(Toolkit, CloseRequestGivesSixteenAndTheWindowStays) {
  open_parent(4);
  headless::request_close(4);
  EXPECT_EQ(wait_window_event(), event_close_request);
  EXPECT_EQ(event_window(), 4);
  EXPECT_TRUE(headless::window(4));
  EXPECT_TRUE(headless::window(4)->visible);
}

TEST_F(Toolkit, ControlEventsComeOnlyFromControlsThatRaiseThem) {
  open_parent(2);
  create_text(1, 0, 0, 10, 10, "text");
  create_frame(2, 0, 0, 10, 10, "frame");
  create_progress_bar(3, 0, 0, 10, 10, 0, 100, progress_smooth);
  create_image(4, 0, 0, 48, 48, 0);
  create_image_button(5, 0, 0, 48, 48, 0);
  create_link(6, 0, 0, 48, 10, "link", 0xFF0000);
  create_icon_list(7, 0, 0, 100, 100, "Language", 100, list_full_row | list_keep_selection);
  const struct {
    int control;
    bool raises;
  } cases[] = {{1, false}, {2, false}, {3, false}, {4, true},
               {5, true},  {6, true},  {7, true},  {99, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    ASSERT_EQ(headless::click(c.control), c.raises);
    if (!c.raises) continue;
    EXPECT_EQ(wait_window_event(), event_control_used);
    EXPECT_EQ(event_control(), c.control);
    EXPECT_EQ(event_window(), 2);
  }
  // A disabled control raises nothing until enabled again.
  disable_control(5, 1);
  EXPECT_FALSE(headless::control(5)->enabled);
  EXPECT_FALSE(headless::click(5));
  disable_control(5, 0);
  EXPECT_TRUE(headless::click(5));
  EXPECT_EQ(wait_window_event(), event_control_used);
  EXPECT_EQ(event_control(), 5);
}

namespace hook_test {
std::vector<unsigned> seen;
std::intptr_t swallow_commands(ui_handle, unsigned message, std::uintptr_t, std::intptr_t) {
  seen.push_back(message);
  return message == 273 ? 0 : hook_marker;
}
}  // namespace hook_test

TEST_F(Toolkit, HookSeesEventsFirstAndItsAnswerEndsTheHandling) {
  open_parent(1);
  create_image_button(8, 0, 0, 10, 10, 0);
  hook_test::seen.clear();
  set_window_hook(hook_test::swallow_commands);
  headless::click(8);
  // Handled by the hook: no control event; the loop returns the queued
  // input message whose handling sent the notification, as on the platform.
  EXPECT_EQ(wait_window_event(), 514);
  headless::request_close(1);
  EXPECT_EQ(wait_window_event(), event_close_request);
  EXPECT_EQ(hook_test::seen, (std::vector<unsigned>{273, 16}));
  set_window_hook(nullptr);
  headless::click(8);
  EXPECT_EQ(wait_window_event(), event_control_used);
}

// A hook that handles every notification: the loop then returns, on both
// backends, the input message the platform dispatched while the control
// sent it (controls send notifications; they never come through the queue).
TEST_F(Toolkit, AHandledNotificationReturnsTheInputMessageThatSentIt) {
  open_parent(1);
  create_image(4, 0, 0, 48, 48, 0);
  create_image_button(5, 60, 0, 48, 48, 0);
  create_link(6, 0, 60, 48, 10, "link", 0);
  create_icon_list(7, 0, 80, 100, 100, "c", 50, 0);
  add_control_item(7, -1, "a", 0);
  hook_test::seen.clear();
  set_window_hook([](ui_handle, unsigned message, std::uintptr_t, std::intptr_t) -> std::intptr_t {
    hook_test::seen.push_back(message);
    return message == message_command || message == message_notify ? 0 : hook_marker;
  });
  headless::set_double_click_time(std::chrono::hours(1));
  const struct {
    int control;
    std::vector<int> codes;
  } cases[] = {
      {4, {513}},                   // an image notifies as the button goes down
      {4, {515}},                   // ... and the second click as a double-click
      {5, {514}},                   // a button as the button comes up over it
      {5, {515}}, {6, {514}},       // the link on the release, both times
      {6, {514}}, {7, {513, 514}},  // a list selects on the way down, clicks on the way up
  };
  for (const auto& c : cases) {
    if (c.control == 7) {
      ASSERT_TRUE(headless::select_item(7, 0));
    } else {
      ASSERT_TRUE(headless::click(c.control)) << c.control;
    }
    for (int code : c.codes) EXPECT_EQ(wait_window_event(), code) << "control " << c.control;
  }
  EXPECT_EQ(hook_test::seen, (std::vector<unsigned>{273, 273, 273, 273, 273, 273, 78, 78}));
  set_window_hook(nullptr);
}

namespace click_test {
// The notification codes of the WM_COMMAND messages the hook saw.
std::vector<int> codes;
std::intptr_t record(ui_handle, unsigned message, std::uintptr_t first, std::intptr_t) {
  if (message == 273) codes.push_back(static_cast<int>(first >> 16));
  return hook_marker;
}
}  // namespace click_test

// The platform makes the second of two quick clicks on one control a
// double-click, and the owner-drawn image button reports it as
// BN_DOUBLECLICKED: each click is still a control event.
TEST_F(Toolkit, EachClickOfADoubleClickIsAControlEvent) {
  using namespace std::chrono_literals;
  open_parent(3);
  create_image(4, 0, 0, 48, 48, 0);
  create_image_button(5, 60, 0, 48, 48, 0);
  create_link(6, 0, 60, 48, 10, "link", 0);
  set_window_hook(click_test::record);
  // Long enough that the clicks of this test cannot miss it on a busy machine.
  // Each case starts on another control than the last one clicked before it.
  headless::set_double_click_time(1min);
  const struct {
    const char* what;
    std::vector<int> clicks;
    std::vector<int> codes;  // 0 clicked, 1 STN_DBLCLK, 5 BN_DOUBLECLICKED
  } cases[] = {
      {"image button: double-click, then a click afresh", {5, 5, 5}, {0, 5, 0}},
      {"image: double-click, then a click afresh", {4, 4, 4}, {0, 1, 0}},
      {"link: it reports each release", {6, 6}, {0, 0}},
      {"another control between", {5, 4, 5}, {0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    click_test::codes.clear();
    for (int control : c.clicks) ASSERT_TRUE(headless::click(control));
    for (int control : c.clicks) {
      EXPECT_EQ(wait_window_event(), event_control_used);
      EXPECT_EQ(event_control(), control);
      EXPECT_EQ(event_window(), 3);
    }
    EXPECT_EQ(click_test::codes, c.codes);
  }

  // Clicks further apart than the double-click time are single clicks.
  headless::set_double_click_time(0ms);
  click_test::codes.clear();
  headless::click(5);
  headless::click(5);
  EXPECT_EQ(wait_window_event(), event_control_used);
  EXPECT_EQ(wait_window_event(), event_control_used);
  EXPECT_EQ(click_test::codes, (std::vector<int>{0, 0}));

  // A list: a second click on the same item is a double-click, on another
  // item a click; every one raises an event, as do the item changes.
  headless::set_double_click_time(1min);
  create_icon_list(7, 0, 80, 200, 100, "", 100, 0);
  add_control_item(7, -1, "a", 0);
  add_control_item(7, -1, "b", 0);
  ASSERT_TRUE(headless::select_item(7, 0));  // a changes, click
  ASSERT_TRUE(headless::select_item(7, 0));  // double-click
  ASSERT_TRUE(headless::select_item(7, 1));  // a and b change, click
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(wait_window_event(), event_control_used) << i;
    EXPECT_EQ(event_control(), 7);
  }
}

TEST_F(Toolkit, IconListTextIsTheFirstColumnOfTheFirstSelectedItem) {
  open_parent();
  create_icon_list(3, 0, 0, 200, 100, "Language", 150, 0x40000008);
  const auto list = headless::control(3);
  EXPECT_EQ(list->view_mode, 3);
  EXPECT_EQ(list->columns, (std::vector<std::string>{"Language"}));
  EXPECT_EQ(list->column_widths, (std::vector<int>{150}));
  EXPECT_EQ(get_control_text(3), "") << "empty list";
  add_control_item(3, -1,
                   "Fran\xE7"
                   "ais\nFrench",
                   0);
  add_control_item(3, -1, "English", 0);
  add_control_item(3, 0, "Deutsch\nGerman\nthird", 0);
  EXPECT_EQ(get_control_text(3), "") << "no selection";
  ASSERT_TRUE(headless::select_item(3, 1));
  EXPECT_EQ(get_control_text(3),
            "Fran\xE7"
            "ais");
  ASSERT_TRUE(headless::select_item(3, 0));
  EXPECT_EQ(get_control_text(3), "Deutsch");
  ASSERT_TRUE(headless::select_item(3, 2));
  EXPECT_EQ(get_control_text(3), "English");
  ASSERT_TRUE(headless::select_item(3, -1));
  EXPECT_EQ(get_control_text(3), "");
  EXPECT_FALSE(headless::select_item(3, 3));
  set_icon_list_view(3, 0);
  EXPECT_EQ(headless::control(3)->view_mode, 0);
  set_icon_list_view(3, 9);
  EXPECT_EQ(headless::control(3)->view_mode, 0);
  clear_control_items(3);
  EXPECT_TRUE(headless::control(3)->items.empty());
  EXPECT_EQ(get_control_text(3), "");
}

// The list shows the style the platform's list has: the flags it does not
// honour are dropped, the column keeps its width, and its text is read back
// through a buffer of 32,000 characters.
TEST_F(Toolkit, IconListKeepsItsColumnWidthHonouredFlagsAndCappedText) {
  open_parent();
  create_icon_list(3, 0, 0, 200, 100, "Language", 150, 0x40000008u | 0x80000002u);
  const auto list = headless::control(3);
  ASSERT_TRUE(list);
  EXPECT_EQ(list->flags, 0x40000008);
  EXPECT_EQ(list->column_widths, (std::vector<int>{150}));
  add_control_item(3, -1, std::string(40000, 'y') + "\nsecond", 0);
  ASSERT_TRUE(headless::select_item(3, 0));
  EXPECT_EQ(get_control_text(3), std::string(32000, 'y'));
}

TEST_F(Toolkit, AStatusBarTakesAt255Fields) {
  const ui_handle window = open_parent();
  ASSERT_NE(create_status_bar(0, window), 0u);
  for (int i = 0; i < 300; ++i) add_status_bar_field(2);
  const auto bar = headless::status_bar(0);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->field_ends.size(), 255u);
  EXPECT_EQ(bar->field_ends.back(), 510);
  EXPECT_EQ(bar->texts.size(), 255u);
  set_status_bar_text(0, 254, "last", 0);
  set_status_bar_text(0, 255, "beyond", 0);
  EXPECT_EQ(headless::status_bar(0)->texts.back(), "last");
}

TEST_F(Toolkit, SelectingAnItemRaisesAnEventPerStateChangeAndTheClick) {
  open_parent(6);
  create_icon_list(3, 0, 0, 200, 100, "Language", 150, 0);
  add_control_item(3, -1, "a", 0);
  add_control_item(3, -1, "b", 0);
  ASSERT_TRUE(headless::select_item(3, 0));  // a selected, click
  ASSERT_TRUE(headless::select_item(3, 1));  // a deselected, b selected, click
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(wait_window_event(), event_control_used);
    EXPECT_EQ(event_control(), 3);
    EXPECT_EQ(event_window(), 6);
  }
}

TEST_F(Toolkit, ListIconsOutliveTheImageTheyWereMadeFrom) {
  open_parent();
  create_icon_list(3, 0, 0, 200, 100, "Language", 150, 0);
  const ui_handle image = catch_image(9, tiny_bitmap, sizeof tiny_bitmap);
  ASSERT_NE(image, 0u);
  add_control_item(3, -1, "flag", image);
  free_image(9);
  EXPECT_FALSE(headless::image(image));
  const auto item = headless::control(3)->items.at(0);
  ASSERT_NE(item.icon, 0u);
  ASSERT_TRUE(headless::image(item.icon));
  EXPECT_EQ(headless::image(item.icon)->width, 1);
}

TEST_F(Toolkit, ProgressPositionIsClampedToTheRange) {
  open_parent();
  create_progress_bar(2, 0, 0, 100, 10, 0, 100, progress_smooth);
  const struct {
    int value, expected;
  } cases[] = {{40, 40}, {0, 0}, {100, 100}, {101, 100}, {-5, 0}, {INT_MAX, 100}, {INT_MIN, 0}};
  for (const auto& c : cases) {
    set_control_state(2, c.value);
    EXPECT_EQ(headless::control(2)->state, c.expected) << c.value;
  }
  EXPECT_EQ(headless::control(2)->flags, progress_smooth);
}

TEST_F(Toolkit, ControlTextIsLimitedTo32000Characters) {
  open_parent();
  create_text(1, 0, 0, 10, 10, "");
  set_control_text(1, std::string(40000, 'x'));
  EXPECT_EQ(get_control_text(1), std::string(32000, 'x'));
}

TEST_F(Toolkit, FontHeightFollowsTheDisplaysDotsPerInch) {
  const struct {
    int size, height;
  } cases[] = {{10, 13}, {8, 11}, {9, 12}, {12, 16}, {7, 9}, {24, 32}};
  for (const auto& c : cases) {
    const ui_handle font = load_font(1, "Arial", c.size, 0);
    ASSERT_TRUE(headless::font(font));
    EXPECT_EQ(headless::font(font)->height, c.height) << c.size << " points";
  }
  EXPECT_EQ(font_pixel_height(10, 120), 17);  // 16.67
  EXPECT_EQ(font_pixel_height(3, 108), 5);    // 4.5: halves round up
  EXPECT_EQ(font_pixel_height(-3, 108), -5);

  const struct {
    int flags, weight;
    bool italic, underline, strikeout, high_quality;
  } styles[] = {{0, 400, false, false, false, false},
                {256, 700, false, false, false, false},
                {0x200, 400, true, false, false, false},
                {4 | 8 | 0x10, 400, false, true, true, true}};
  for (const auto& s : styles) {
    const auto f = headless::font(load_font(1, "Arial", 10, s.flags));
    ASSERT_TRUE(f);
    EXPECT_EQ(f->weight, s.weight) << s.flags;
    EXPECT_EQ(f->italic, s.italic) << s.flags;
    EXPECT_EQ(f->underline, s.underline) << s.flags;
    EXPECT_EQ(f->strikeout, s.strikeout) << s.flags;
    EXPECT_EQ(f->high_quality, s.high_quality) << s.flags;
  }
}

TEST_F(Toolkit, ControlFontsAndTheDefaultForLaterControls) {
  open_parent();
  create_text(1, 0, 0, 10, 10, "before");
  const ui_handle bold = load_font(1, "Arial", 10, font_bold);
  set_control_font(1, bold);
  EXPECT_EQ(headless::control(1)->font, bold);
  set_control_font(-1, bold);
  create_text(2, 0, 0, 10, 10, "after");
  EXPECT_EQ(headless::control(2)->font, bold);
}

TEST_F(Toolkit, StatusBarFieldsEndAtTheRunningSumAndKeepTheirTexts) {
  const ui_handle window = open_parent();
  ASSERT_NE(create_status_bar(0, window), 0u);
  add_status_bar_field(350);
  add_status_bar_field(100);
  set_status_bar_text(0, 0, "Connexion", status_borderless);
  set_status_bar_text(0, 1, "second", status_raised | status_centred);
  set_status_bar_text(0, 2, "no such field", 0);
  const auto bar = headless::status_bar(0);
  ASSERT_TRUE(bar);
  EXPECT_EQ(bar->window, 1);
  EXPECT_EQ(bar->field_ends, (std::vector<int>{350, 450}));
  EXPECT_EQ(bar->texts, (std::vector<std::string>{"Connexion", "second"}));
  EXPECT_EQ(bar->text_flags, (std::vector<int>{2, 5}));
  EXPECT_EQ(create_status_bar(1, 0), 0u) << "no such window";
  // Closing the window takes its status bar with it.
  close_window(1);
  EXPECT_FALSE(headless::status_bar(0));
}

TEST_F(Toolkit, TabMovesTheFocusInCreationOrderOverFocusableControls) {
  open_parent();
  create_image_button(30, 0, 0, 10, 10, 0);  // created first, highest number
  create_text(1, 0, 0, 10, 10, "text");
  create_icon_list(20, 0, 0, 10, 10, "c", 10, 0);
  create_image_button(10, 0, 0, 10, 10, 0);
  create_image_button(11, 0, 0, 10, 10, 0);
  create_progress_bar(2, 0, 0, 10, 10, 0, 100);
  disable_control(11, 1);
  // Another window's controls are not in the cycle.
  open_window(2, 0, 0, 10, 10, 0, "other");
  begin_controls(window_handle(2));
  create_image_button(40, 0, 0, 10, 10, 0);
  show_window(1, 0);

  EXPECT_EQ(headless::focused_control(), -1);
  std::vector<int> forward;
  for (int i = 0; i < 4; ++i) {
    headless::press_tab(false);
    forward.push_back(headless::focused_control());
  }
  EXPECT_EQ(forward, (std::vector<int>{30, 20, 10, 30}));
  std::vector<int> backward;
  for (int i = 0; i < 4; ++i) {
    headless::press_tab(true);
    backward.push_back(headless::focused_control());
  }
  EXPECT_EQ(backward, (std::vector<int>{10, 20, 30, 10}));
  // Enabling brings a control back into the cycle.
  disable_control(11, 0);
  headless::press_tab(false);
  EXPECT_EQ(headless::focused_control(), 11);
}

namespace paint_test {
ui_handle brush = 0;
std::intptr_t colour_statics(ui_handle, unsigned message, std::uintptr_t dc, std::intptr_t) {
  if (message != message_colour_static) return hook_marker;
  set_text_colour(dc, 0x0000FF);
  set_background_mode(dc, false);
  set_background_colour(dc, 0x00FF00);
  return static_cast<std::intptr_t>(brush);
}
}  // namespace paint_test

TEST_F(Toolkit, PaintColoursReportsWhatTheHookSet) {
  open_parent();
  create_text(1, 0, 0, 10, 10, "coloured");
  create_image_button(2, 0, 0, 10, 10, 0);
  EXPECT_FALSE(headless::paint_colours(1).hooked) << "no hook";
  paint_test::brush = create_solid_brush(colour_white);
  set_window_hook(paint_test::colour_statics);
  const headless::colour_answer answer = headless::paint_colours(1);
  EXPECT_TRUE(answer.hooked);
  EXPECT_EQ(answer.text_colour, 0x0000FF);
  EXPECT_FALSE(answer.opaque);
  EXPECT_EQ(answer.background_colour, 0x00FF00);
  EXPECT_EQ(answer.brush_colour, colour_white);
  EXPECT_FALSE(headless::paint_colours(2).hooked) << "buttons ask with another message";

  paint_test::brush = hollow_brush();
  EXPECT_EQ(headless::paint_colours(1).brush_colour, -1);
  free_brush(hollow_brush());
  EXPECT_EQ(system_colour(15), 0xF0F0F0);
}

TEST_F(Toolkit, ImagesAndTheCurrentImage) {
  const ui_handle image = catch_image(5, tiny_bitmap, sizeof tiny_bitmap);
  ASSERT_NE(image, 0u);
  EXPECT_EQ(current_image_handle(), 0u);
  EXPECT_EQ(use_image(5), image);
  EXPECT_EQ(current_image_handle(), image);
  EXPECT_EQ(use_image(6), 0u);
  EXPECT_EQ(current_image_handle(), image) << "a number that holds nothing changes nothing";
  free_image(5);
  EXPECT_EQ(current_image_handle(), 0u) << "no handle of a freed image";
  EXPECT_EQ(is_image(5), 0);
  EXPECT_EQ(catch_image(5, tiny_bitmap, sizeof tiny_bitmap - 1), 0u) << "one byte short";
}

TEST(ObjectTable, GrowsToTheHighestNumberUsedOnly) {
  object_table<int> table;
  EXPECT_EQ(table.claim(max_object_number + 1), -1);
  EXPECT_EQ(table.claim(-7), -1);
  EXPECT_EQ(table.claim(10), 10);
  table.put(10, std::make_unique<int>(1));
  EXPECT_EQ(table.slots(), 11u);
  const int automatic = table.claim(-1);
  table.put(automatic, std::make_unique<int>(2));
  EXPECT_EQ(table.slots(), 11u) << "identifiers of -1 take no slot";
  EXPECT_EQ(*table.find(automatic), 2);
  EXPECT_EQ(table.find(11), nullptr);
  EXPECT_EQ(table.find(INT_MAX), nullptr);
  auto old = table.put(10, std::make_unique<int>(3));
  ASSERT_TRUE(old);
  EXPECT_EQ(*old, 1);
  EXPECT_EQ(table.take_all().size(), 2u);
  EXPECT_EQ(table.slots(), 0u);
}

}  // namespace

namespace handled_test {
using handled_list = std::vector<std::pair<unsigned, int>>;
// (message, notification) pairs the hook handled since the loop last returned.
handled_list handled;
std::intptr_t handle_all(ui_handle, unsigned message, std::uintptr_t first, std::intptr_t second) {
  if (message == message_command) {
    handled.emplace_back(message, static_cast<int>(first >> 16));
  } else if (message == message_notify) {
    handled.emplace_back(message,
                         static_cast<int>(reinterpret_cast<const notify_header*>(second)->code));
  } else if (message == 16) {
    handled.emplace_back(message, 0);
  } else {
    return hook_marker;
  }
  return 0;
}
}  // namespace handled_test

// A hook that handles the close request: the loop returns the input that
// asked for it, the click on the close box, and the window stays.
TEST_F(Toolkit, AHandledCloseRequestReturnsTheCloseBoxClick) {
  open_parent(2);
  handled_test::handled.clear();
  set_window_hook(handled_test::handle_all);
  headless::request_close(2);
  EXPECT_EQ(wait_window_event(), static_cast<int>(message_close_box_down));
  EXPECT_EQ(event_window(), 2);
  EXPECT_EQ(handled_test::handled, (handled_test::handled_list{{16, 0}}));
  EXPECT_TRUE(headless::window(2));
  set_window_hook(nullptr);
}

// What a mouse selection in a list sends, and while which input message, as
// the platform's list does: the changes as the button goes down, the click
// as it comes up, and for a double-click the report and the activation as
// the button goes down again, with no click after. A hook that handles them
// all gets each input message back once; without it each notification is a
// control event of its own.
TEST_F(Toolkit, ListSelectionNotifiesAsThePlatformsListDoes) {
  using handled_test::handled_list;
  const std::pair<unsigned, int> change{message_notify, notify_list_item_changed},
      click{message_notify, notify_list_click};
  const struct {
    const char* what;
    int item;
    std::vector<std::pair<int, handled_list>> returned;  // by the loop, with what was handled
    std::vector<bool> selected, focused;
  } cases[] = {
      {"first click: the item takes selection and focus",
       2,
       {{513, {change}}, {514, {click}}},
       {false, false, true},
       {false, false, true}},
      {"another item: selection leaves, focus leaves, the item takes both",
       1,
       {{513, {change, change, change}}, {514, {click}}},
       {false, true, false},
       {false, true, false}},
      {"the same item again: a double-click, activating it",
       1,
       {{515,
         {{message_notify, notify_list_double_click},
          {message_notify, notify_list_item_activated}}}},
       {false, true, false},
       {false, true, false}},
      {"the same item after the double-click: a click afresh, nothing changes",
       1,
       {{514, {click}}},
       {false, true, false},
       {false, true, false}},
  };
  for (bool hooked : {true, false}) {
    SCOPED_TRACE(hooked ? "hook handles all" : "no hook");
    headless::reset();
    open_parent(1);
    create_icon_list(6, 0, 0, 200, 100, "Language", 150, 0x40000008);
    for (const char* text : {"a", "b", "c"}) add_control_item(6, -1, text, 0);
    headless::set_double_click_time(std::chrono::hours(1));
    if (hooked) set_window_hook(handled_test::handle_all);
    for (const auto& c : cases) {
      SCOPED_TRACE(c.what);
      ASSERT_TRUE(headless::select_item(6, c.item));
      // A close request after the selection ends what it sent, so a missing
      // message shows as a mismatch rather than a wait.
      headless::request_close(1);
      if (hooked) {
        for (const auto& [code, sent] : c.returned) {
          handled_test::handled.clear();
          EXPECT_EQ(wait_window_event(), code);
          EXPECT_EQ(handled_test::handled, sent) << code;
        }
        EXPECT_EQ(wait_window_event(), static_cast<int>(message_close_box_down));
      } else {
        std::size_t sent = 0, events = 0;
        for (const auto& returned : c.returned) sent += returned.second.size();
        while (wait_window_event() == event_control_used) {
          ++events;
          EXPECT_EQ(event_control(), 6);
        }
        EXPECT_EQ(events, sent);
      }
      const auto list = headless::control(6);
      for (std::size_t i = 0; i < list->items.size(); ++i) {
        EXPECT_EQ(list->items[i].selected, c.selected[i]) << i;
        EXPECT_EQ(list->items[i].focused, c.focused[i]) << i;
      }
    }
    set_window_hook(nullptr);
  }
}
