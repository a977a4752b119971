// The progress window on the headless toolkit: its layout, texts, colours,
// pictures and the progress animation, in-process.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "client_images.h"
#include "client_state.h"
#include "message_catalogue.h"
#include "posix/headless.h"
#include "progress_window.h"
#include "update_client.h"

namespace {

using headless::control_kind;

class ProgressWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    headless::reset();
    headless::set_screen_size(1024, 768);
    load_message_catalogue("");
    register_jpeg_decoder();
    catch_image(arrow_image, arrow_icon_data, arrow_icon_size);
    catch_image(logo_picture, logo_jpeg_data, logo_jpeg_size);
    animation_stop.store(0);
  }
  void TearDown() override { headless::reset(); }
};

TEST_F(ProgressWindow, PicturesAreAnIconAndAJpegOfTheirSizes) {
  const auto arrow = headless::image(image_handle(arrow_image));
  ASSERT_TRUE(arrow.has_value());
  EXPECT_TRUE(arrow->icon);
  EXPECT_EQ(arrow->width, 32);
  EXPECT_EQ(arrow->height, 32);
  const auto logo = headless::image(image_handle(logo_picture));
  ASSERT_TRUE(logo.has_value());
  EXPECT_FALSE(logo->icon);
  EXPECT_EQ(logo->width, 48);
  EXPECT_EQ(logo->height, 48);
  // Icon directory of one 32 x 32 image of 8 bits per pixel.
  ASSERT_GT(arrow_icon_size, 22u);
  EXPECT_EQ(arrow_icon_data[2], 1);  // icon
  EXPECT_EQ(arrow_icon_data[4], 1);  // one image
  EXPECT_EQ(arrow_icon_data[6], 32);
  EXPECT_EQ(arrow_icon_data[7], 32);
  EXPECT_EQ(arrow_icon_data[12], 8);  // bits per pixel
  // Baseline JPEG (SOF0) with three components sampled 1 x 1.
  ASSERT_GT(logo_jpeg_size, 4u);
  EXPECT_EQ(logo_jpeg_data[0], 0xFF);
  EXPECT_EQ(logo_jpeg_data[1], 0xD8);
  const std::string jpeg(reinterpret_cast<const char*>(logo_jpeg_data), logo_jpeg_size);
  const std::size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  EXPECT_EQ(jpeg[sof + 9], 3) << "components";
  for (int c = 0; c < 3; ++c) EXPECT_EQ(jpeg[sof + 11 + 3 * c], 0x11) << "sampling";
}

TEST_F(ProgressWindow, WindowIsCentredWithItsInnerSize) {
  ASSERT_NE(open_progress_window(), 0u);
  const auto w = headless::window(progress_window);
  ASSERT_TRUE(w.has_value());
  EXPECT_EQ(w->inner_width, 395);
  EXPECT_EQ(w->inner_height, 162);
  EXPECT_EQ(w->flags, 0x10C80001u);
  EXPECT_TRUE(w->visible);
  EXPECT_EQ(w->title, "Vantrel");
  EXPECT_EQ(w->background, 0xFFFFFF);
  const int outer_width = 395 + headless::frame_width;
  const int outer_height = 162 + headless::frame_height;
  EXPECT_EQ(w->outer.width, outer_width);
  EXPECT_EQ(w->outer.height, outer_height);
  EXPECT_EQ(w->outer.x, 512 - outer_width / 2);
  EXPECT_EQ(w->outer.y, 384 - outer_height / 2);
}

TEST_F(ProgressWindow, ControlsInTheirOrderPlacesAndTexts) {
  ASSERT_NE(open_progress_window(), 0u);
  struct expected_control {
    int number;
    control_kind kind;
    int x, y, width, height;
    std::string text;
    int flags;
    bool enabled;
  };
  const std::vector<expected_control> table = {
      {1, control_kind::progress_bar, 10, 55, 375, 25, "", 1, true},
      {2, control_kind::text, 15, 110, 250, 15, "Version disponible : ", 0, true},
      {3, control_kind::image_button, 345, 90, 40, 40, "", 0, false},
      {4, control_kind::text, 60, 10, 310, 20, "Bienvenue", 1, true},
      {5, control_kind::image, 0, 0, 48, 48, "", 0, true},
      {6, control_kind::text, 15, 90, 250, 15, "Version install\xE9 : ", 0, true},
      {7, control_kind::frame, 10, 80, 270, 55, "", 0, true},
  };
  int previous_index = -1;
  for (const expected_control& e : table) {
    SCOPED_TRACE("control " + std::to_string(e.number));
    const auto c = headless::control(e.number);
    ASSERT_TRUE(c.has_value());
    EXPECT_EQ(c->window, progress_window);
    EXPECT_EQ(c->kind, e.kind);
    EXPECT_EQ(c->where.x, e.x);
    EXPECT_EQ(c->where.y, e.y);
    EXPECT_EQ(c->where.width, e.width);
    EXPECT_EQ(c->where.height, e.height);
    EXPECT_EQ(c->text, e.text);
    EXPECT_EQ(c->flags, e.flags);
    EXPECT_EQ(c->enabled, e.enabled);
    EXPECT_TRUE(c->visible);
    EXPECT_GT(c->creation_index, previous_index) << "created in table order";
    previous_index = c->creation_index;
  }
  const auto bar = headless::control(progress_bar);
  EXPECT_EQ(bar->minimum, 0);
  EXPECT_EQ(bar->maximum, 100);
  EXPECT_EQ(headless::control(update_button)->image, image_handle(arrow_image));
  EXPECT_EQ(headless::control(logo_image)->image, image_handle(logo_picture));

  const auto welcome_font = headless::font(headless::control(welcome_label)->font);
  ASSERT_TRUE(welcome_font.has_value());
  EXPECT_EQ(welcome_font->face, "Arial");
  EXPECT_EQ(welcome_font->height, 13) << "10 points at 96 dots per inch";
  EXPECT_EQ(welcome_font->weight, 700);
  EXPECT_FALSE(welcome_font->italic);

  const auto status = headless::status_bar(status_bar);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(status->window, progress_window);
  EXPECT_EQ(status->field_ends, std::vector<int>{350});
  for (const std::string& text : status->texts) EXPECT_EQ(text, "") << "starts empty";
}

TEST_F(ProgressWindow, HookColoursTheTextControls) {
  ASSERT_NE(open_progress_window(), 0u);
  set_window_hook(progress_window_hook);
  for (const int label : {available_version_label, installed_version_label}) {
    SCOPED_TRACE("version label " + std::to_string(label));
    const headless::colour_answer a = headless::paint_colours(label);
    EXPECT_TRUE(a.hooked);
    EXPECT_EQ(a.text_colour, 0);
    EXPECT_FALSE(a.opaque) << "the window's white shows through";
    EXPECT_EQ(a.brush_colour, -1) << "hollow brush";
  }
  const headless::colour_answer welcome = headless::paint_colours(welcome_label);
  EXPECT_TRUE(welcome.hooked);
  EXPECT_EQ(welcome.text_colour, 0);
  EXPECT_TRUE(welcome.opaque);
  EXPECT_EQ(welcome.background_colour, 0xFFFFFF);
  EXPECT_EQ(welcome.brush_colour, 0xFFFFFF);
  // Controls without an entry, and the button's colour request, keep the
  // platform's colours.
  EXPECT_FALSE(headless::paint_colours(version_frame).hooked);
  EXPECT_FALSE(headless::paint_colours(logo_image).hooked);
  EXPECT_FALSE(headless::paint_colours(update_button).hooked);
  EXPECT_EQ(progress_window_hook(window_handle(progress_window), message_colour_button, 0,
                                 static_cast<std::intptr_t>(control_handle(update_button))),
            hook_marker);
  EXPECT_EQ(progress_window_hook(window_handle(progress_window), 15 /* paint */, 0, 0),
            hook_marker);
  EXPECT_EQ(lookup_control_colours(0, 0), hook_marker);
}

TEST_F(ProgressWindow, ColoursEnteredTwiceKeepOneEntryWithTheLaterColours) {
  ASSERT_NE(open_progress_window(), 0u);
  set_window_hook(progress_window_hook);
  const int before = control_colour_entries();
  EXPECT_EQ(set_control_colours(installed_version_label, 0x0000FF, 0x00FF00), 0);
  EXPECT_EQ(control_colour_entries(), before);
  headless::colour_answer a = headless::paint_colours(installed_version_label);
  EXPECT_EQ(a.text_colour, 0x0000FF);
  EXPECT_TRUE(a.opaque);
  EXPECT_EQ(a.background_colour, 0x00FF00);
  EXPECT_EQ(a.brush_colour, 0x00FF00);
  // Background 0: transparent, painted with the button-face brush.
  set_control_colours(installed_version_label, 0x123456, 0);
  EXPECT_EQ(control_colour_entries(), before);
  a = headless::paint_colours(installed_version_label);
  EXPECT_EQ(a.text_colour, 0x123456);
  EXPECT_FALSE(a.opaque);
  EXPECT_EQ(a.brush_colour, system_colour(15));
  set_control_colours(installed_version_label, 0, -1);
}

TEST_F(ProgressWindow, StatusTextsAreBorderless) {
  ASSERT_NE(open_progress_window(), 0u);
  show_status(message_connection_failed);
  const auto status = headless::status_bar(status_bar);
  ASSERT_FALSE(status->texts.empty());
  EXPECT_EQ(status->texts[0], "Connexion Impossible, v\xE9rifiez votre PareFeu...");
  EXPECT_EQ(status->text_flags[0], 2);
}

// With the stop flag already set, the bar still makes one whole sweep and
// rests at 100.
TEST_F(ProgressWindow, AnimationMakesOneSweepAfterTheStop) {
  ASSERT_NE(open_progress_window(), 0u);
  set_control_state(progress_bar, 50);
  animation_stop.store(1);
  std::atomic<int> lowest{1000};
  std::atomic<bool> done{false};
  std::thread watcher([&] {
    while (!done.load()) {
      const int v = headless::control(progress_bar)->state;
      if (v < lowest.load()) lowest.store(v);
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  EXPECT_EQ(run_progress_animation(0), 0);
  done.store(true);
  watcher.join();
  EXPECT_LT(lowest.load(), 20) << "the sweep starts from the beginning";
  EXPECT_EQ(headless::control(progress_bar)->state, 100);
}

TEST_F(ProgressWindow, UpdateButtonEventsOnlyWhenEnabled) {
  ASSERT_NE(open_progress_window(), 0u);
  EXPECT_FALSE(headless::click(update_button)) << "disabled when first shown";
  disable_control(update_button, 0);
  EXPECT_TRUE(headless::click(update_button));
  EXPECT_EQ(wait_window_event(), event_control_used);
  EXPECT_EQ(event_control(), update_button);
  EXPECT_EQ(event_window(), progress_window);
}

}  // namespace
