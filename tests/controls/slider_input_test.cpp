#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "controls/bitmap_slider.h"

namespace trevolo::controls {
namespace {

constexpr int kId = 1234;

struct Posted {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  friend bool operator==(const Posted&, const Posted&) = default;
};

class Recorder : public MessageTarget {
 public:
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    posted.push_back(Posted{message, wParam, lParam});
    return true;
  }
  std::vector<Posted> posted;
};

Posted moving(intptr_t pos) { return Posted{WM_SLIDER_MOVING, kId, pos}; }
Posted moved(intptr_t pos) { return Posted{WM_SLIDER_MOVED, kId, pos}; }

// 210 pixels wide, no margins, a 10-pixel thumb, range 0..100.
class SliderInput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(m_slider.SetChannelBitmaps(Image(210, 10), Image(210, 10)), 1);
    m_slider.SetThumbBitmap(Image(10, 10));
  }
  Recorder m_parent;
  CBitmapSlider m_slider{&m_parent, kId};
};

TEST(SliderTrackTest, PositionAndPixelMapBothWays) {
  SliderRange range;
  const SliderTrack track{210, 10, 0, 0, false};
  EXPECT_EQ(track.positionToPixel(range, 50), 105);
  EXPECT_EQ(track.pixelToPosition(range, 105), 50);
  EXPECT_EQ(track.positionToPixel(range, 0), 5);
  EXPECT_EQ(track.positionToPixel(range, 100), 205);
  const SliderTrack margins{210, 10, 7, 3, false};  // travel 190
  EXPECT_EQ(margins.positionToPixel(range, 50), 95 + 7 + 5);
  EXPECT_EQ(margins.clampPixel(0), 12);
  EXPECT_EQ(margins.clampPixel(999), 202);
}

TEST(SliderTrackTest, EmptyRangeOrTravelNeverDividesByZero) {
  SliderRange range;
  range.setRange(5, 5);
  const SliderTrack track{210, 10, 0, 0, false};
  EXPECT_EQ(track.positionToPixel(range, 5), 5);
  EXPECT_EQ(track.pixelToPosition(range, 150), 5);
  range.setRange(0, 100);
  const SliderTrack noTravel{10, 10, 0, 0, false};
  EXPECT_EQ(noTravel.pixelToPosition(range, 9), 0);
}

TEST(SliderRangeTest, ClampsToMaximumThenMinimum) {
  SliderRange range;
  EXPECT_FALSE(range.setPosition(-3));  // already 0
  EXPECT_TRUE(range.setPosition(250));
  EXPECT_EQ(range.position(), 100);
  range.setRange(10, 20);
  EXPECT_EQ(range.position(), 100);  // not re-clamped until next set
  range.setRange(30, 20);            // inverted: the minimum wins
  EXPECT_EQ(range.clamp(25), 30);
  range.setRange(INT_MIN, INT_MAX);
  EXPECT_EQ(range.clamp(int64_t{INT_MAX} + 20), INT_MAX);
}

TEST_F(SliderInput, GripInsideTheThumbKeepsItsOffset) {
  m_slider.SetPos(50);
  m_slider.onLButtonDown(108, 5);  // 3 right of the centre at 105
  EXPECT_EQ(m_slider.dragOffset(), 3);
  EXPECT_EQ(m_slider.GetPos(), 50);
  EXPECT_TRUE(m_parent.posted.empty());
  m_slider.onMouseMove(128, 5);  // centre to 125
  EXPECT_EQ(m_slider.GetPos(), 60);
  EXPECT_EQ(m_parent.posted, std::vector<Posted>{moving(60)});
}

TEST_F(SliderInput, ClickOutsideTheThumbJumpsToThePointer) {
  m_slider.SetPos(50);
  m_slider.onLButtonDown(111, 5);  // 6 right of the centre
  EXPECT_EQ(m_slider.dragOffset(), 0);
  EXPECT_EQ(m_slider.GetPos(), 53);  // truncate(106 / 200 x 100)
  EXPECT_EQ(m_parent.posted, std::vector<Posted>{moving(53)});
  EXPECT_TRUE(m_slider.hasFocus());
  EXPECT_TRUE(m_slider.hasCapture());
}

TEST_F(SliderInput, DragBeyondTheEndsStopsAtMinimumAndMaximum) {
  m_slider.SetPos(50);
  m_slider.onLButtonDown(105, 5);
  m_slider.onMouseMove(-40, 5);
  m_slider.onMouseMove(-90, 5);  // same clamped pixel: nothing new
  m_slider.onMouseMove(400, 5);
  m_slider.onMouseMove(900, 5);
  m_slider.onLButtonUp(900, 5);
  EXPECT_EQ(m_parent.posted, (std::vector<Posted>{moving(0), moving(100), moved(100)}));
  EXPECT_FALSE(m_slider.isDragging());
  EXPECT_FALSE(m_slider.hasCapture());
}

TEST_F(SliderInput, ButtonUpReportsEvenWithoutMovement) {
  m_slider.SetPos(50);
  m_slider.onLButtonDown(105, 5);
  m_slider.onLButtonUp(105, 5);
  EXPECT_EQ(m_parent.posted, std::vector<Posted>{moved(50)});
}

TEST_F(SliderInput, ButtonUpWithoutAPressHereReportsNothing) {
  m_slider.onLButtonUp(105, 5);
  m_slider.onMouseMove(150, 5);
  EXPECT_TRUE(m_parent.posted.empty());
}

TEST_F(SliderInput, NavigationKeysClampAndReport) {
  m_slider.SetPos(95);
  EXPECT_TRUE(m_slider.onKeyDown(kKeyPageDown));
  EXPECT_EQ(m_slider.GetPos(), 100);
  EXPECT_TRUE(m_slider.onKeyDown(kKeyRight));  // at the end: still reports
  EXPECT_TRUE(m_slider.onKeyDown(kKeyPageUp));
  EXPECT_TRUE(m_slider.onKeyDown(kKeyUp));
  EXPECT_TRUE(m_slider.onKeyDown(kKeyHome));
  EXPECT_TRUE(m_slider.onKeyDown(kKeyDown));
  EXPECT_TRUE(m_slider.onKeyDown(kKeyEnd));
  EXPECT_FALSE(m_slider.onKeyDown(kKeyOther));
  EXPECT_EQ(m_parent.posted, (std::vector<Posted>{moved(100), moved(100), moved(80), moved(79),
                                                  moved(0), moved(1), moved(100)}));
}

TEST_F(SliderInput, PageStepsNearTheIntLimitsDoNotOverflow) {
  m_slider.SetRange(INT_MIN, INT_MAX);
  m_slider.SetPageSize(INT_MAX);
  m_slider.SetPos(INT_MAX - 5);
  m_slider.onKeyDown(kKeyPageDown);
  EXPECT_EQ(m_slider.GetPos(), INT_MAX);
  m_slider.SetPos(INT_MIN + 5);
  m_slider.onKeyDown(kKeyPageUp);
  EXPECT_EQ(m_slider.GetPos(), INT_MIN);
}

TEST_F(SliderInput, DisabledSliderIgnoresEverything) {
  m_slider.SetPos(50);
  m_slider.EnableSlider(false);
  m_slider.onLButtonDown(150, 5);
  m_slider.onMouseMove(190, 5);
  m_slider.onLButtonUp(190, 5);
  EXPECT_TRUE(m_slider.onKeyDown(kKeyEnd));  // swallowed
  EXPECT_TRUE(m_slider.onKeyDown(kKeyOther));
  EXPECT_EQ(m_slider.GetPos(), 50);
  EXPECT_FALSE(m_slider.hasFocus());
  EXPECT_TRUE(m_parent.posted.empty());
}

TEST_F(SliderInput, DisablingMidDragEndsTheDrag) {
  m_slider.onLButtonDown(5, 5);
  m_slider.EnableSlider(false);
  EXPECT_FALSE(m_slider.isDragging());
  EXPECT_FALSE(m_slider.hasCapture());
  m_slider.EnableSlider(true);
  m_slider.onMouseMove(100, 5);
  m_slider.onLButtonUp(100, 5);
  EXPECT_TRUE(m_parent.posted.empty());
}

TEST_F(SliderInput, ProgramMovesNeverNotify) {
  Canvas screen(210, 10);
  m_slider.paint(screen);
  m_slider.SetPos(500);
  EXPECT_EQ(m_slider.GetPos(), 100);
  EXPECT_TRUE(m_slider.needsPaint());
  m_slider.paint(screen);
  m_slider.SetPos(100);
  EXPECT_FALSE(m_slider.needsPaint());  // unchanged: no repaint
  EXPECT_TRUE(m_parent.posted.empty());
}

TEST_F(SliderInput, SinglePointRangeKeepsTheThumbAtTheMinimum) {
  m_slider.SetRange(7, 7);
  m_slider.SetPos(9);
  EXPECT_EQ(m_slider.thumbCentre(), 5);
  m_slider.onLButtonDown(150, 5);
  m_slider.onLButtonUp(150, 5);
  m_slider.onKeyDown(kKeyPageDown);
  EXPECT_EQ(m_parent.posted, (std::vector<Posted>{moving(7), moved(7), moved(7)}));
}

TEST(SliderVertical, UsesTheYAxis) {
  Recorder parent;
  CBitmapSlider slider(&parent, kId);
  slider.SetChannelBitmaps(Image(10, 110), Image(10, 110));
  slider.SetThumbBitmap(Image(10, 10));
  slider.SetVertical(true);
  slider.onLButtonDown(500, 55);  // x is ignored; 55 is the middle of the travel
  EXPECT_EQ(slider.GetPos(), 50);
}

TEST(SliderChannel, FailedLoadDropsTheChannel) {
  CBitmapSlider slider(nullptr, kId);
  EXPECT_EQ(slider.SetChannelBitmaps(Image(20, 5), Image()), 0);
  EXPECT_EQ(slider.SetChannelBitmaps(Image(), Image(20, 5)), 0);
  slider.SetThumbBitmap(Image(6, 4));
  EXPECT_EQ(slider.size(), (Size{6, 4}));  // no channel: the thumb sets the size
  slider.onLButtonDown(3, 2);              // no parent: nothing to post to
  slider.onLButtonUp(3, 2);
}

}  // namespace
}  // namespace trevolo::controls
