#include <gtest/gtest.h>

#include "controls/labels.h"
#include "fixed_font.h"

namespace trevolo::controls {
namespace {

constexpr Color kSkin = rgb(40, 40, 40);

// Paints `label` at (2, 2) over a skin-coloured canvas and returns it.
Canvas paintOverSkin(CLabel& label, std::string_view text, int rectWidth) {
  Canvas canvas(30, 12);
  canvas.fillRect(Rect{0, 0, 30, 12}, kSkin);
  label.setRect(rectAt(2, 2, rectWidth, 8));
  label.setWindowText(text);
  label.paint(canvas, testing::FixedFont{});
  return canvas;
}

struct Expected {
  Color text;
  Color background;
};

void expectColours(CLabel& label, Expected expected) {
  const Canvas canvas = paintOverSkin(label, "ab", 20);
  EXPECT_EQ(canvas.pixel(3, 3), expected.text);        // ink of 'a'
  EXPECT_EQ(canvas.pixel(2, 2), expected.background);  // its cell
  EXPECT_EQ(canvas.pixel(9, 4), expected.background);  // right of the ink of 'b', still a cell
  EXPECT_EQ(canvas.pixel(10, 4), kSkin);               // label area beyond the text
  EXPECT_EQ(canvas.pixel(4, 8), kSkin);                // label area below the cells
}

TEST(Labels, RightAlignedAndCentredVertically) {
  CShowTimes label;
  label.setAlignment(TextAlign::Right, true);
  // Rectangle x 2..21, y 2..9; the 8 x 6 text sits at x 14..21, y 3..8.
  const Canvas canvas = paintOverSkin(label, "ab", 20);
  const Color cell = label.colors().background;
  EXPECT_EQ(canvas.pixel(21, 5), cell) << "the text ends at the right edge";
  EXPECT_EQ(canvas.pixel(14, 3), cell) << "its first cell starts eight pixels before";
  EXPECT_EQ(canvas.pixel(13, 5), kSkin);
  EXPECT_EQ(canvas.pixel(2, 5), kSkin) << "nothing at the left";
  EXPECT_EQ(canvas.pixel(21, 2), kSkin) << "one free row above the centred text";
  EXPECT_EQ(canvas.pixel(21, 9), kSkin) << "and one below";
}

TEST(Labels, EachClassDrawsInItsColours) {
  CCaptureTip tip;
  expectColours(tip, {rgb(255, 255, 0), rgb(9, 13, 21)});
  CCurrFileName name;
  expectColours(name, {rgb(255, 255, 255), rgb(9, 13, 21)});
  CShowTimes times;
  expectColours(times, {rgb(255, 255, 255), rgb(8, 13, 19)});
}

TEST(Labels, TextIsClippedToTheLabelAndTheCallersClipSurvives) {
  CCurrFileName name;
  Canvas canvas(30, 12);
  canvas.fillRect(Rect{0, 0, 30, 12}, kSkin);
  name.setRect(rectAt(2, 2, 6, 8));  // room for one and a half cells
  name.setWindowText("abc");
  name.paint(canvas, testing::FixedFont{});
  EXPECT_EQ(canvas.pixel(7, 2), rgb(9, 13, 21));
  EXPECT_EQ(canvas.pixel(8, 2), kSkin);
  EXPECT_EQ(canvas.pixel(11, 3), kSkin);
  EXPECT_FALSE(canvas.clipRect().has_value());
}

TEST(Labels, ChangesMarkThePaintOnlyWhenSomethingChanged) {
  CShowTimes times;
  Canvas canvas(30, 12);
  times.setRect(rectAt(0, 0, 30, 12));
  EXPECT_TRUE(times.setWindowText("00:01"));
  times.paint(canvas, testing::FixedFont{});
  EXPECT_FALSE(times.needsPaint());
  EXPECT_FALSE(times.setWindowText("00:01"));
  EXPECT_FALSE(times.needsPaint());
  times.setVisible(false);
  EXPECT_TRUE(times.needsPaint());
  canvas.fillRect(Rect{0, 0, 30, 12}, kSkin);
  times.paint(canvas, testing::FixedFont{});
  EXPECT_EQ(canvas.pixel(0, 0), kSkin);  // hidden: nothing drawn
}

}  // namespace
}  // namespace trevolo::controls
