// CGdipButton's snapshots, compared pixel by pixel with values computed
// here from the source images and the parent's pixels: each snapshot is
// the parent's background with the image blended over it, shifted by
// (1, 1) when pressed, through the grey or highlight matrix otherwise.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "controls/canvas.h"
#include "controls/gdip_button.h"
#include "controls/resource_registry.h"

namespace trevolo::controls::testing {

std::vector<uint8_t> encodePng(const Image& image);

namespace {

constexpr uint32_t kStdId = 133;
constexpr uint32_t kAltId = 139;
constexpr Rect kButtonRect{3, 2, 11, 9};  // 8 x 7, inside a 20 x 12 parent

// Standard image: 6 x 5 with alpha running through 0..255, so part of
// the button shows the background alone and part shows it blended.
Image standardPicture() {
  Image image(6, 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      image.setPixel(x, y, Color{static_cast<uint8_t>(40 * x), static_cast<uint8_t>(200 - 30 * y),
                                 static_cast<uint8_t>(90 + 20 * x), static_cast<uint8_t>(51 * y)});
    }
  }
  return image;
}

Image alternatePicture() {
  Image image(6, 5);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      image.setPixel(x, y, Color{static_cast<uint8_t>(250 - 10 * x), static_cast<uint8_t>(60 * y % 256),
                                 static_cast<uint8_t>(17 * (x + y)), static_cast<uint8_t>(x == 0 ? 255 : 42 * x)});
    }
  }
  return image;
}

Canvas parentCanvas() {
  Canvas parent(20, 12);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 20; ++x) {
      parent.setPixel(x, y, rgb(static_cast<uint8_t>(12 * x), static_cast<uint8_t>(20 * y), 77));
    }
  }
  return parent;
}

using ColorFn = std::function<Color(Color)>;

uint8_t toByte(double value) {
  return static_cast<uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
}

Color greyOf(Color c) {
  const uint8_t g = toByte(0.3 * c.r + 0.59 * c.g + 0.11 * c.b);
  return Color{g, g, g, c.a};
}

Color highlightOf(Color c) {
  auto h = [](uint8_t v) { return toByte(1.05 * v + 0.05 * 255); };
  return Color{h(c.r), h(c.g), h(c.b), c.a};
}

// Source-over on an opaque background.
Color over(Color dst, Color src) {
  const double a = src.a / 255.0;
  auto mix = [a](uint8_t s, uint8_t d) { return toByte(s * a + d * (1 - a)); };
  return Color{mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b), 255};
}

// Expected snapshot: the parent's pixels under the button with `picture`
// (each pixel through `look`) blended over it from `shift`.
Image expectedSnapshot(const Canvas& parent, const Image& picture, Point shift, const ColorFn& look) {
  Image expected(kButtonRect.width(), kButtonRect.height());
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      Color c = parent.pixel(kButtonRect.left + x, kButtonRect.top + y);
      const int px = x - shift.x;
      const int py = y - shift.y;
      if (px >= 0 && py >= 0 && px < picture.width() && py < picture.height()) {
        c = over(c, look(picture.pixel(px, py)));
      }
      expected.setPixel(x, y, c);
    }
  }
  return expected;
}

void expectNear(const Image& expected, const Image& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      const Color e = expected.pixel(x, y);
      const Color a = actual.pixel(x, y);
      ASSERT_LE(std::abs(e.r - a.r), 1) << "red at " << x << "," << y;
      ASSERT_LE(std::abs(e.g - a.g), 1) << "green at " << x << "," << y;
      ASSERT_LE(std::abs(e.b - a.b), 1) << "blue at " << x << "," << y;
      ASSERT_EQ(e.a, a.a) << "alpha at " << x << "," << y;
    }
  }
}

class ButtonSnapshots : public ::testing::Test {
 protected:
  void SetUp() override {
    m_stdPng = encodePng(standardPicture());
    m_altPng = encodePng(alternatePicture());
    ASSERT_TRUE(m_registry.add("PNG", kStdId, "", m_stdPng));
    ASSERT_TRUE(m_registry.add("PNG", kAltId, "", m_altPng));
  }

  ResourceRegistry m_registry;
  std::vector<uint8_t> m_stdPng;
  std::vector<uint8_t> m_altPng;
};

TEST_F(ButtonSnapshots, EachSnapshotIsTheBackgroundWithItsImage) {
  const Canvas parent = parentCanvas();
  CGdipButton button(1001, nullptr, m_registry);
  button.setRect(kButtonRect);
  ASSERT_TRUE(button.LoadStdImage(kStdId));
  ASSERT_TRUE(button.LoadAltImage(kAltId));
  button.onCtlColor(parent);
  ASSERT_TRUE(button.snapshotsMade());

  const Image std = standardPicture();
  const Image alt = alternatePicture();
  const ColorFn plain = [](Color c) { return c; };
  expectNear(expectedSnapshot(parent, std, {0, 0}, plain), button.snapshot(Snapshot::StdNormal));
  expectNear(expectedSnapshot(parent, std, {1, 1}, plain), button.snapshot(Snapshot::StdPressed));
  expectNear(expectedSnapshot(parent, std, {0, 0}, greyOf), button.snapshot(Snapshot::StdGreyed));
  expectNear(expectedSnapshot(parent, alt, {0, 0}, plain), button.snapshot(Snapshot::AltNormal));
  expectNear(expectedSnapshot(parent, alt, {1, 1}, plain), button.snapshot(Snapshot::AltPressed));
  expectNear(expectedSnapshot(parent, alt, {0, 0}, highlightOf),
             button.snapshot(Snapshot::AltHighlighted));
}

// The background is taken on the first request only: a later request over
// changed parent pixels changes nothing.
TEST_F(ButtonSnapshots, AreMadeOnceAndPaintedAtTheButtonsPlace) {
  const Canvas parent = parentCanvas();
  CGdipButton button(1001, nullptr, m_registry);
  button.setRect(kButtonRect);
  ASSERT_TRUE(button.LoadStdImage(kStdId));
  button.onCtlColor(parent);
  const Image first = button.snapshot(Snapshot::StdNormal);
  EXPECT_TRUE(button.snapshot(Snapshot::AltNormal).empty());

  Canvas changed(20, 12);
  button.onCtlColor(changed);
  expectNear(first, button.snapshot(Snapshot::StdNormal));

  Canvas window(20, 12);
  button.drawItem(window);
  EXPECT_EQ(button.currentSnapshot(), Snapshot::StdNormal);
  for (int y = 0; y < 12; ++y) {
    for (int x = 0; x < 20; ++x) {
      const Color expected = kButtonRect.contains(x, y)
                                 ? first.pixel(x - kButtonRect.left, y - kButtonRect.top)
                                 : rgb(0, 0, 0);
      ASSERT_EQ(window.pixel(x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(ButtonSnapshots, NoStandardImageMeansNoSnapshotsAndNoPaint) {
  CGdipButton button(1001, nullptr, m_registry);
  button.setRect(kButtonRect);
  ASSERT_TRUE(button.LoadAltImage(kAltId));
  button.onCtlColor(parentCanvas());
  EXPECT_FALSE(button.snapshotsMade());
  Canvas window(20, 12);
  button.drawItem(window);
  EXPECT_EQ(window.pixel(kButtonRect.left, kButtonRect.top), rgb(0, 0, 0));

  EXPECT_FALSE(button.LoadStdImage(999));  // missing resource: still nothing
  button.onCtlColor(parentCanvas());
  button.drawItem(window);
  EXPECT_EQ(window.pixel(kButtonRect.left, kButtonRect.top), rgb(0, 0, 0));
}

// Until the button has a size there is nothing to take from the parent;
// the first request after it is placed makes the snapshots.
TEST_F(ButtonSnapshots, WaitForTheButtonToBePlaced) {
  CGdipButton button(1001, nullptr, m_registry);
  ASSERT_TRUE(button.LoadStdImage(kStdId));
  button.onCtlColor(parentCanvas());
  EXPECT_FALSE(button.snapshotsMade());
  button.setRect(kButtonRect);
  button.onCtlColor(parentCanvas());
  EXPECT_TRUE(button.snapshotsMade());
  EXPECT_EQ(button.snapshot(Snapshot::StdNormal).size(), (Size{8, 7}));
}

// A smaller alternate image is highlighted unscaled, not stretched to
// the standard image's size.
TEST_F(ButtonSnapshots, SmallerAlternateImageIsNotStretched) {
  const Image small(2, 2, rgb(200, 100, 0));
  const std::vector<uint8_t> png = encodePng(small);
  ASSERT_TRUE(m_registry.add("PNG", 140, "", png));
  const Canvas parent = parentCanvas();
  CGdipButton button(1001, nullptr, m_registry);
  button.setRect(kButtonRect);
  ASSERT_TRUE(button.LoadStdImage(kStdId));
  ASSERT_TRUE(button.LoadAltImage(140));
  button.onCtlColor(parent);
  expectNear(expectedSnapshot(parent, small, {0, 0}, highlightOf),
             button.snapshot(Snapshot::AltHighlighted));
}

}  // namespace
}  // namespace trevolo::controls::testing
