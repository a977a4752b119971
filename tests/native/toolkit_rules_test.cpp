// The toolkit's platform-independent rules, which both backends use: the
// caps on status bar fields and read-back texts, the icon list flags a list
// honours, replacing an object under a number in use, which input message a
// control's notification arrives with, focus order, what closing a window
// takes and the event queue. The table runs natively and, as a
// Windows program, on the code Windows runs.
#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "toolkit.h"
#include "toolkit_core.h"

namespace {

TEST(ToolkitRules, StatusBarFieldsEndAtTheRunningSumUpTo255) {
  std::vector<int> ends;
  const struct { int width, end; } fields[] = {{350, 350}, {100, 450}, {0, 450}, {-50, 400}};
  for (const auto& f : fields) {
    ASSERT_TRUE(add_status_field(ends, f.width)) << f.width;
    EXPECT_EQ(ends.back(), f.end) << f.width;
  }
  while (ends.size() < max_status_bar_fields) ASSERT_TRUE(add_status_field(ends, 1));
  EXPECT_EQ(ends.size(), 255u);
  EXPECT_FALSE(add_status_field(ends, 1)) << "the 256th field";
  EXPECT_EQ(ends.size(), 255u);
  EXPECT_EQ(ends.back(), 400 + 251);
}

TEST(ToolkitRules, ReadBackTextsStopAt32000Characters) {
  const std::string long_text(40000, 'x');
  const struct {
    std::string given, control, list;
  } cases[] = {
      {"", "", ""},
      {"Fran\xE7"
       "ais\nFrench",
       "Fran\xE7"
       "ais\nFrench",
       "Fran\xE7"
       "ais"},
      {"\nsecond", "\nsecond", ""},
      {std::string(32000, 'a'), std::string(32000, 'a'), std::string(32000, 'a')},
      {std::string(32001, 'a'), std::string(32000, 'a'), std::string(32000, 'a')},
      {long_text + "\nmore", std::string(32000, 'x'), std::string(32000, 'x')},
      {"short\n" + long_text, ("short\n" + long_text).substr(0, 32000), "short"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.given.substr(0, 20) + " (" + std::to_string(c.given.size()) + ")");
    EXPECT_EQ(capped_control_text(c.given), c.control);
    EXPECT_EQ(list_item_text(c.given), c.list);
  }
}

TEST(ToolkitRules, IconListKeepsTheFlagsItHonours) {
  const struct {
    unsigned given, kept;
  } cases[] = {
      {0, 0},
      {0x40000008, 0x40000008},  // the language chooser's list
      {list_multiple | list_grid | list_reorder_columns | list_check_boxes,
       list_multiple | list_grid | list_reorder_columns | list_check_boxes},
      {0x2 | 0x10 | 0x80000000u | list_keep_selection, list_keep_selection},
      {0xFFFFFFFFu, 0x50010000u | 8 | 4 | 1},
  };
  for (const auto& c : cases) EXPECT_EQ(icon_list_flags(c.given), c.kept) << std::hex << c.given;
}

TEST(ToolkitRules, ReplacingUnderANumberInUseHandsTheOldObjectBack) {
  object_table<int> table;
  std::unique_ptr<int> old;
  ASSERT_EQ(table.replace(4, old), 4);
  EXPECT_FALSE(old) << "nothing under 4 yet";
  table.put(4, std::make_unique<int>(1));
  ASSERT_EQ(table.replace(4, old), 4);
  ASSERT_TRUE(old);
  EXPECT_EQ(*old, 1);
  EXPECT_EQ(table.find(4), nullptr) << "the old object is out of the table";

  old.reset();
  const int automatic = table.replace(-1, old);
  EXPECT_GT(automatic, max_object_number);
  EXPECT_FALSE(old);
  table.put(automatic, std::make_unique<int>(2));
  EXPECT_NE(table.replace(-1, old), automatic) << "-1 never reuses a live identifier";

  for (int refused : {-2, max_object_number + 1}) {
    table.put(0, std::make_unique<int>(3));
    EXPECT_EQ(table.replace(refused, old), -1) << refused;
    EXPECT_FALSE(old) << refused;
    EXPECT_NE(table.find(0), nullptr) << refused;
  }
}

TEST(ToolkitRules, CreatingOperationsAcceptMinusOneAndTheTablesNumbers) {
  const struct {
    int number;
    bool accepted;
  } cases[] = {{-1, true},       {0, true},
               {1, true},        {max_object_number, true},
               {-2, false},      {max_object_number + 1, false},
               {INT_MIN, false}, {INT_MAX, false}};
  for (const auto& c : cases) EXPECT_EQ(creatable_number(c.number), c.accepted) << c.number;
}

// Freeing the default font or the current image forgets it; freeing another
// one changes nothing.
TEST(ToolkitRules, FreeingTheSelectedFontOrImageForgetsIt) {
  toolkit_selection chosen;
  chosen.default_font = 0x100;
  chosen.current_image = 0x200;
  chosen.last_status_bar = 3;
  const struct {
    bool font;
    ui_handle freed;
    ui_handle font_after, image_after;
  } steps[] = {
      {true, 0x200, 0x100, 0x200},  // a font with the image's value
      {true, 0, 0x100, 0x200},     {false, 0x100, 0x100, 0x200},
      {false, 0x200, 0x100, 0},    {true, 0x100, 0, 0},
  };
  for (const auto& s : steps) {
    if (s.font) {
      chosen.font_freed(s.freed);
    } else {
      chosen.image_freed(s.freed);
    }
    EXPECT_EQ(chosen.default_font, s.font_after) << (s.font ? "font " : "image ") << s.freed;
    EXPECT_EQ(chosen.current_image, s.image_after) << (s.font ? "font " : "image ") << s.freed;
  }
  EXPECT_EQ(chosen.last_status_bar, 3);
}

TEST(ToolkitRules, NotificationsArriveWithTheInputMessageThatMadeThem) {
  const struct {
    control_kind kind;
    int code;
    unsigned input;
  } cases[] = {
      {control_kind::image_button, notify_clicked, message_left_button_up},
      {control_kind::image_button, notify_button_double_clicked, message_left_double_click},
      {control_kind::image, notify_clicked, message_left_button_down},
      {control_kind::image, notify_static_double_clicked, message_left_double_click},
      {control_kind::link, notify_clicked, message_left_button_up},
      {control_kind::icon_list, notify_list_item_changed, message_left_button_down},
      {control_kind::icon_list, notify_list_click, message_left_button_up},
      {control_kind::icon_list, notify_list_double_click, message_left_double_click},
      {control_kind::icon_list, notify_list_right_click, message_right_button_up},
      {control_kind::icon_list, notify_list_right_double_click, message_right_double_click},
  };
  for (const auto& c : cases)
    EXPECT_EQ(notification_input(c.kind, c.code), c.input)
        << static_cast<int>(c.kind) << " notifies " << c.code;
}

}  // namespace

TEST(ToolkitRules, FocusMovesOnInCreationOrderAndWrapsAround) {
  const struct {
    int count, current;
    bool backwards;
    int next;
  } cases[] = {
      {0, -1, false, -1}, {0, -1, true, -1},  // nothing takes the focus
      {3, -1, false, 0},  {3, -1, true, 2},   // from none: the first, the last
      {3, 0, false, 1},   {3, 2, false, 0},   // on, wrapping to the first
      {3, 0, true, 2},    {3, 1, true, 0},    // back, wrapping to the last
      {1, 0, false, 0},   {1, 0, true, 0},    // alone: stays
      {3, 3, false, 0},   {3, 7, true, 2},    // a stale position counts as none
  };
  for (const auto& c : cases)
    EXPECT_EQ(next_focus(c.count, c.current, c.backwards), c.next)
        << c.count << " candidates, from " << c.current << (c.backwards ? " back" : " on");
  EXPECT_TRUE(accepts_focus(control_kind::image_button));
  EXPECT_TRUE(accepts_focus(control_kind::icon_list));
  for (control_kind kind : {control_kind::text, control_kind::frame, control_kind::progress_bar,
                            control_kind::image, control_kind::link})
    EXPECT_FALSE(accepts_focus(kind)) << static_cast<int>(kind);
}

TEST(ToolkitRules, ClosingAWindowTakesItsObjectsOnly) {
  struct owned {
    int window;
  };
  object_table<owned> table;
  const int windows[] = {1, 2, 1, 3, 1};
  for (int n = 0; n < 5; ++n) table.put(n * 2, std::make_unique<owned>(owned{windows[n]}));
  const int automatic = table.claim(-1);
  table.put(automatic, std::make_unique<owned>(owned{1}));

  const auto taken = table.take_if([](const owned& o) { return o.window == 1; });
  ASSERT_EQ(taken.size(), 4u);
  for (const auto& o : taken) EXPECT_EQ(o->window, 1);
  std::vector<int> left;
  table.for_each([&](int n, const owned&) { left.push_back(n); });
  EXPECT_EQ(left, (std::vector<int>{2, 6}));
  EXPECT_TRUE(table.take_if([](const owned& o) { return o.window == 1; }).empty());
}

TEST(ToolkitRules, EventsComeOutInOrderAndTheOldestGoWhenTooMany) {
  event_queue<int> events;
  const auto same = [](int window) { return window; };
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(events.last_window(), -1);
  EXPECT_EQ(events.last_control(), -1);

  events.note(event_control_used, 1, 7);
  events.note(event_resized, 2);
  events.note(event_close_request, 3);
  const struct {
    int code, window, control;
  } expected[] = {
      {event_control_used, 1, 7},
      {event_resized, 2, 7},  // the control of the last control event stays
      {event_close_request, 3, 7},
  };
  for (const auto& e : expected) {
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.deliver(same), e.code);
    EXPECT_EQ(events.last_window(), e.window) << e.code;
    EXPECT_EQ(events.last_control(), e.control) << e.code;
  }
  EXPECT_TRUE(events.empty());

  // A window that closed before its event came out is none of ours.
  events.note(event_moved, 4);
  EXPECT_EQ(events.deliver([](int) { return -1; }), event_moved);
  EXPECT_EQ(events.last_window(), -1);

  // A message that made no event is returned as it is.
  EXPECT_EQ(events.returned(512, 5, -1), 512);
  EXPECT_EQ(events.last_window(), 5);
  EXPECT_EQ(events.last_control(), 7);

  const int too_many = static_cast<int>(event_queue<int>::max_pending_events) + 10;
  for (int i = 0; i < too_many; ++i) events.note(event_control_used, 1, i);
  int first = -1, count = 0;
  while (!events.empty()) {
    events.deliver(same);
    if (first < 0) first = events.last_control();
    ++count;
  }
  EXPECT_EQ(count, static_cast<int>(event_queue<int>::max_pending_events));
  EXPECT_EQ(first, 10) << "the oldest ten went";
  EXPECT_EQ(events.last_control(), too_many - 1);
}
