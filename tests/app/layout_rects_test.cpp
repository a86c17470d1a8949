#include <gtest/gtest.h>

#include <set>

#include "app/layout.h"

namespace trevolo::app {
namespace {

using controls::rectAt;

struct Expected {
  int id;
  Rect rect;
};

// The placements at the window's real size, written out in pixels.
const Expected kAt1080x706[] = {
    {IDC_VIDEO, rectAt(137, 35, 806, 604)},   {IDC_LOGO, rectAt(3, 1, 150, 32)},
    {IDC_VOLUME_ICON, rectAt(640, 660, 19, 45)}, {IDC_VOLUME, rectAt(666, 676, 87, 11)},
    {IDC_PROGRESS, rectAt(50, 640, 970, 20)}, {IDC_CAPTURE_TIP, rectAt(180, 5, 720, 18)},
    {IDC_FILENAME, rectAt(180, 5, 720, 18)},  {IDC_TIME, rectAt(890, 676, 130, 18)},
    {IDC_VERSION, rectAt(0, 676, 70, 18)},    {IDC_MINI, rectAt(1018, 4, 25, 25)},
    {IDC_CLOSE, rectAt(1051, 4, 25, 25)},     {IDC_CAPTURE, rectAt(300, 660, 68, 46)},
    {IDC_PAUSE, rectAt(385, 660, 68, 46)},    {IDC_PLAY, rectAt(470, 660, 68, 46)},
    {IDC_STOP, rectAt(555, 660, 68, 46)},     {IDC_OPENFILE, rectAt(482, 329, 115, 48)},
};

TEST(LayoutRects, EveryControlAtItsPlaceAt1080x706) {
  for (const Expected& e : kAt1080x706) {
    EXPECT_EQ(controlRect(e.id, kWindowWidth, kWindowHeight), e.rect) << "control " << e.id;
  }
}

TEST(LayoutRects, BottomAndRightEdgesFollowTheClientSize) {
  // 100 pixels wider and 50 taller: anchored controls move, fixed ones stay.
  const int w = kWindowWidth + 100;
  const int h = kWindowHeight + 50;
  EXPECT_EQ(controlRect(IDC_CLOSE, w, h), rectAt(1151, 4, 25, 25));
  EXPECT_EQ(controlRect(IDC_TIME, w, h), rectAt(990, 726, 130, 18));
  EXPECT_EQ(controlRect(IDC_PLAY, w, h), rectAt(470, 710, 68, 46));
  EXPECT_EQ(controlRect(IDC_FILENAME, w, h), rectAt(180, 5, 820, 18));
  EXPECT_EQ(controlRect(IDC_PROGRESS, w, h), rectAt(50, 640, 970, 20));
  EXPECT_EQ(controlRect(IDC_LOGO, w, h), rectAt(3, 1, 150, 32));
}

TEST(LayoutRects, OpenFileCornerRoundsHalvesDown) {
  EXPECT_EQ(controlRect(IDC_OPENFILE, 1080, 706).left, 482);  // 965 / 2
  EXPECT_EQ(controlRect(IDC_OPENFILE, 1081, 707).left, 483);
  EXPECT_EQ(controlRect(IDC_OPENFILE, 1081, 707).top, 329);   // 659 / 2
}

TEST(LayoutRects, VideoRectanglesShareTopAndHeight) {
  const Rect narrow = videoRect(false);
  const Rect wide = videoRect(true);
  EXPECT_EQ(narrow, rectAt(137, 35, 806, 604));
  EXPECT_EQ(wide, rectAt(1, 35, 1078, 604));
  // Both sit below the drag strip and above the position slider.
  EXPECT_GE(narrow.top, 30);
  EXPECT_LE(wide.bottom, controlRect(IDC_PROGRESS, kWindowWidth, kWindowHeight).top);
}

TEST(LayoutRects, TemplateOrderNamesEachControlOnce) {
  const std::set<int> ids(kTemplateOrder.begin(), kTemplateOrder.end());
  EXPECT_EQ(ids.size(), kTemplateOrder.size());
  for (int id : kTemplateOrder) {
    EXPECT_FALSE(controlRect(id, kWindowWidth, kWindowHeight).empty()) << id;
  }
  EXPECT_TRUE(controlRect(4242, kWindowWidth, kWindowHeight).empty());
}

}  // namespace
}  // namespace trevolo::app
