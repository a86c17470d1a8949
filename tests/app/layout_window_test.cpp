// The built main window (SDL's dummy video driver): every control where the
// layout puts it, in template order, with its start-up look.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/layout.h"
#include "controls/bitmap_resource.h"
#include "main_window_fixture.h"

namespace trevolo::app::testing {
namespace {

using MainWindow = MainWindowTest;

TEST_F(MainWindow, ControlsInTemplateOrderAtTheirRectangles) {
  EXPECT_EQ(window().clientSize(), (controls::Size{1080, 706}));
  ASSERT_EQ(window().controls().size(), kTemplateOrder.size());
  for (size_t i = 0; i < kTemplateOrder.size(); ++i) {
    const auto& control = *window().controls()[i];
    EXPECT_EQ(control.id(), kTemplateOrder[i]);
    EXPECT_EQ(control.rect(), controlRect(control.id(), 1080, 706)) << control.id();
  }
  EXPECT_EQ(window().control(IDC_OPENFILE)->rect(), controls::rectAt(482, 329, 115, 48));
}

TEST_F(MainWindow, StartUpLooks) {
  EXPECT_FALSE(window().control(IDC_CAPTURE_TIP)->visible());
  EXPECT_TRUE(window().control(IDC_FILENAME)->visible());
  EXPECT_EQ(window().control(IDC_VERSION)->text(), "V1.0.0.3");
  auto& volume = static_cast<SliderControl*>(window().control(IDC_VOLUME))->slider();
  EXPECT_EQ(volume.GetPos(), 100);
  EXPECT_TRUE(volume.isEnabled());
  auto& progress = static_cast<SliderControl*>(window().control(IDC_PROGRESS))->slider();
  EXPECT_FALSE(progress.isEnabled());
  EXPECT_EQ(progress.GetPos(), 0);
  for (const ButtonImages& images : kButtonImages) {
    auto& button = static_cast<ButtonControl*>(window().control(images.id))->button();
    EXPECT_TRUE(button.hasStdImage() && button.hasAltImage()) << images.id;
    EXPECT_TRUE(button.toggleMode()) << images.id;
  }
}

TEST_F(MainWindow, VideoAreaSwitchesBetweenItsRectangles) {
  m_dlg->ApplyVideoLayout(true);
  EXPECT_EQ(window().control(IDC_VIDEO)->rect(), videoRect(true));
  m_dlg->ApplyVideoLayout(false);
  EXPECT_EQ(window().control(IDC_VIDEO)->rect(), videoRect(false));
  EXPECT_EQ(window().controls().front()->id(), IDC_VIDEO);  // Z order kept
}

TEST_F(MainWindow, PaintShowsTheSkinAndTheButtons) {
  window().paint();
  const controls::Canvas& canvas = window().canvas();
  // Outside the visible controls every pixel is the background bitmap's.
  controls::CGdiPlusBitmapResource background;
  ASSERT_TRUE(background.Load(IDB_BACKGROUND));
  const controls::Image& skin = *background.bitmap();
  ASSERT_EQ(skin.size(), window().clientSize());
  int compared = 0, differing = 0;
  for (int y = 0; y < skin.height(); ++y) {
    for (int x = 0; x < skin.width(); ++x) {
      const bool covered = std::any_of(
          window().controls().begin(), window().controls().end(), [x, y](const auto& c) {
            const controls::Rect r = c->rect();
            return c->visible() && x >= r.left && x < r.right && y >= r.top && y < r.bottom;
          });
      if (covered) continue;
      ++compared;
      if (canvas.pixel(x, y) != skin.pixel(x, y) && ++differing <= 5) {
        ADD_FAILURE() << "background differs at " << x << "," << y;
      }
    }
  }
  EXPECT_EQ(differing, 0);
  EXPECT_GT(compared, 1080 * 706 / 4) << "most of the window is bare background";
  // The open-file button is drawn over the idle picture: its middle differs
  // from the idle picture's pixel there.
  const controls::Rect open = window().control(IDC_OPENFILE)->rect();
  const auto* idle = static_cast<PictureControl*>(window().control(IDC_VIDEO));
  const int cx = (open.left + open.right) / 2;
  const int cy = (open.top + open.bottom) / 2;
  const controls::Rect video = idle->rect();
  EXPECT_NE(canvas.pixel(cx, cy), idle->image().pixel(cx - video.left, cy - video.top));
  // The version label put some ink into its rectangle.
  const controls::Rect version = window().control(IDC_VERSION)->rect();
  int bright = 0;
  for (int y = version.top; y < version.bottom; ++y) {
    for (int x = version.left; x < version.right; ++x) bright += canvas.pixel(x, y).r > 200;
  }
  EXPECT_GT(bright, 20);
}

TEST_F(MainWindow, DragStripSparesTheTopButtons) {
  EXPECT_TRUE(window().isDragPoint(500, 10));
  EXPECT_TRUE(window().isDragPoint(20, 10));  // the logo is only a picture
  EXPECT_FALSE(window().isDragPoint(1060, 10));  // close button
  EXPECT_FALSE(window().isDragPoint(500, 30));
}

}  // namespace
}  // namespace trevolo::app::testing
