#include <gtest/gtest.h>

#include "controls/bitmap_slider.h"

namespace trevolo::controls {
namespace {

constexpr Color kUnfilled = rgb(60, 60, 60);
constexpr Color kFilled = rgb(0, 160, 0);
constexpr Color kKey = rgb(255, 0, 255);  // the thumb's transparent colour
constexpr Color kThumb = rgb(250, 250, 250);

Color inverted(Color c) {
  return rgb(static_cast<uint8_t>(255 - c.r), static_cast<uint8_t>(255 - c.g),
             static_cast<uint8_t>(255 - c.b));
}

// 10x10 thumb, solid but for its transparent top-left pixel and columns 4
// and 5, either side of its centre.
Image makeThumb() {
  Image thumb(10, 10, kThumb);
  thumb.setPixel(0, 0, kKey);
  for (int y = 0; y < 10; ++y) {
    thumb.setPixel(4, y, kKey);
    thumb.setPixel(5, y, kKey);
  }
  return thumb;
}

// Channel 210x20, taller than the thumb so rows 10.. show the channel alone.
class SliderPaint : public ::testing::Test {
 protected:
  void SetUp() override {
    m_slider.SetChannelBitmaps(Image(210, 20, kUnfilled), Image(210, 20, kFilled));
    m_slider.SetThumbBitmap(makeThumb());
    m_slider.ShowFocusRect(false);
  }
  Canvas& paintAt(int position) {
    m_slider.SetPos(position);
    m_slider.paint(m_screen);
    return m_screen;
  }
  CBitmapSlider m_slider{nullptr, 1};
  Canvas m_screen{210, 20};
};

TEST_F(SliderPaint, ChannelSplitsAtTheThumbCentre) {
  for (int position : {0, 50, 100}) {
    SCOPED_TRACE(position);
    const Canvas& screen = paintAt(position);
    const int centre = 5 + 2 * position;
    EXPECT_EQ(screen.pixel(centre - 1, 15), kFilled);
    EXPECT_EQ(screen.pixel(centre, 15), kUnfilled);
    EXPECT_EQ(screen.pixel(0, 15), kFilled);
    EXPECT_EQ(screen.pixel(209, 15), kUnfilled);
    EXPECT_EQ(screen.pixel(centre + 2, 5), kThumb);
    EXPECT_EQ(screen.pixel(centre - 3, 9), kThumb);
    if (centre + 5 < 210) {
      EXPECT_EQ(screen.pixel(centre + 5, 5), kUnfilled);  // past the thumb
    }
    if (centre > 5) {
      EXPECT_EQ(screen.pixel(centre - 6, 5), kFilled);  // before it
    }
  }
}

TEST_F(SliderPaint, TransparentThumbPixelsShowTheChannel) {
  const Canvas& screen = paintAt(50);  // thumb spans x 100..109
  EXPECT_EQ(screen.pixel(100, 0), kFilled);    // the top-left key pixel
  EXPECT_EQ(screen.pixel(104, 4), kFilled);    // column 4, left of the centre
  EXPECT_EQ(screen.pixel(105, 4), kUnfilled);  // column 5, the centre
  EXPECT_EQ(screen.pixel(100, 1), kThumb);     // key colour only where it is
}

TEST_F(SliderPaint, DisabledShowsOnlyTheUnfilledChannel) {
  m_slider.EnableSlider(false);
  const Canvas& screen = paintAt(50);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 210; ++x) ASSERT_EQ(screen.pixel(x, y), kUnfilled) << x << "," << y;
  }
}

TEST_F(SliderPaint, FocusFrameFollowsTheFocus) {
  m_slider.ShowFocusRect(true);
  m_slider.onSetFocus();
  paintAt(100);
  EXPECT_EQ(m_screen.pixel(0, 0), inverted(kFilled));
  EXPECT_EQ(m_screen.pixel(1, 0), kFilled);
  EXPECT_EQ(m_screen.pixel(209, 19), inverted(kUnfilled));
  EXPECT_EQ(m_screen.pixel(8, 8), kFilled);  // inside: untouched
  m_slider.onKillFocus();
  m_slider.paint(m_screen);
  EXPECT_EQ(m_screen.pixel(0, 0), kFilled);
  EXPECT_EQ(m_screen.pixel(209, 19), kUnfilled);
}

TEST_F(SliderPaint, SinglePointRangeDrawsTheThumbAtTheMinimumEnd) {
  m_slider.SetRange(3, 3);
  const Canvas& screen = paintAt(3);
  EXPECT_EQ(screen.pixel(2, 5), kThumb);
  EXPECT_EQ(screen.pixel(4, 15), kFilled);
  EXPECT_EQ(screen.pixel(5, 15), kUnfilled);
}

// A slider without a channel shows the parent's picture behind its thumb:
// the thumb and the focus frame must come off again cleanly.
TEST(SliderSeeThrough, ThumbAndFocusFrameLeaveNoTrace) {
  Image background(10, 10);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) background.setPixel(x, y, rgb(static_cast<uint8_t>(20 * x), 90, static_cast<uint8_t>(20 * y)));
  }
  Canvas screen(background);
  CBitmapSlider slider(nullptr, 1);
  slider.SetThumbBitmap(makeThumb());
  slider.onSetFocus();
  slider.paint(screen);
  EXPECT_EQ(screen.pixel(0, 0), inverted(background.pixel(0, 0)));  // frame over a key pixel
  EXPECT_EQ(screen.pixel(2, 2), kThumb);
  EXPECT_EQ(screen.pixel(4, 3), background.pixel(4, 3));  // transparent column
  slider.onKillFocus();
  slider.EnableSlider(false);  // no thumb, no frame: the parent's picture again
  slider.paint(screen);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 10; ++x) ASSERT_EQ(screen.pixel(x, y), background.pixel(x, y)) << x << "," << y;
  }
}

}  // namespace
}  // namespace trevolo::controls
