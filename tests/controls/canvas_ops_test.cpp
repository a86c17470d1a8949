#include <gtest/gtest.h>

#include <cstring>

#include "controls/canvas.h"
#include "controls/color_matrix.h"
#include "controls/mem_dc.h"
#include "fixed_font.h"

namespace trevolo::controls {
namespace {

constexpr Color kRed = rgb(255, 0, 0);
constexpr Color kBlue = rgb(0, 0, 255);
constexpr Color kGrey = rgb(100, 100, 100);

// An image whose every pixel tells where it came from.
Image gradient(int w, int h) {
  Image image(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) image.setPixel(x, y, rgb(static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7));
  }
  return image;
}

TEST(CanvasCopy, ClipsAtEveryEdgeOfSourceAndDestination) {
  Canvas canvas(10, 10);
  const Image src = gradient(6, 6);
  canvas.copy(-2, 7, 6, 6, src, 0, 0);  // hangs off the left and the bottom
  EXPECT_EQ(canvas.pixel(0, 7), rgb(2, 0, 7));
  EXPECT_EQ(canvas.pixel(3, 9), rgb(5, 2, 7));
  EXPECT_EQ(canvas.pixel(4, 7), rgb(0, 0, 0));  // beyond the source's width
  canvas.copy(8, 0, 5, 5, src, 4, 4);  // reads past the source's end
  EXPECT_EQ(canvas.pixel(9, 1), rgb(5, 5, 7));
  EXPECT_EQ(canvas.pixel(9, 2), rgb(0, 0, 0));
}

TEST(CanvasCopy, HonoursOriginAndClipRect) {
  Canvas canvas(10, 10);
  canvas.setOrigin(Point{100, 50});
  canvas.setClipRect(Rect{102, 52, 105, 55});
  EXPECT_EQ(canvas.clipBox(), (Rect{102, 52, 105, 55}));
  canvas.fillRect(Rect{0, 0, 200, 200}, kRed);
  EXPECT_EQ(canvas.image().pixel(2, 2), kRed);
  EXPECT_EQ(canvas.image().pixel(5, 2), rgb(0, 0, 0));
  EXPECT_EQ(canvas.image().pixel(1, 2), rgb(0, 0, 0));
}

TEST(CanvasCopy, OverlappingCopyWithinOneCanvasReadsTheOriginal) {
  Canvas canvas(gradient(8, 1));
  canvas.copy(1, 0, 7, 1, canvas.image(), 0, 0);
  for (int x = 1; x < 8; ++x) EXPECT_EQ(canvas.pixel(x, 0).r, x - 1);
}

TEST(CanvasStretch, DoublesEachPixel) {
  Canvas canvas(4, 2);
  canvas.stretchCopy(Rect{0, 0, 4, 2}, gradient(2, 1), Rect{0, 0, 2, 1});
  EXPECT_EQ(canvas.pixel(0, 1).r, 0);
  EXPECT_EQ(canvas.pixel(1, 0).r, 0);
  EXPECT_EQ(canvas.pixel(2, 1).r, 1);
  EXPECT_EQ(canvas.pixel(3, 0).r, 1);
}

TEST(CanvasMasked, SetBitsKeepTheDestination) {
  Canvas canvas(2, 1);
  canvas.fillRect(Rect{0, 0, 2, 1}, kGrey);
  Image src(2, 1, rgb(0, 0, 0));
  src.setPixel(1, 0, kBlue);
  Mask mask(2, 1);
  mask.setBit(0, 0, true);
  canvas.maskedCopy(0, 0, 2, 1, src, mask, 0, 0);
  EXPECT_EQ(canvas.pixel(0, 0), kGrey);
  EXPECT_EQ(canvas.pixel(1, 0), kBlue);
}

TEST(CanvasTransparent, SkipsTheKeyColour) {
  Canvas canvas(2, 1);
  canvas.fillRect(Rect{0, 0, 2, 1}, kGrey);
  Image src(2, 1, kRed);
  src.setPixel(1, 0, kBlue);
  canvas.transparentCopy(0, 0, 2, 1, src, 0, 0, kRed);
  EXPECT_EQ(canvas.pixel(0, 0), kGrey);
  EXPECT_EQ(canvas.pixel(1, 0), kBlue);
}

TEST(CanvasFocusRect, SecondDrawRestoresEveryPixel) {
  Canvas canvas(gradient(9, 7));
  const Image before = canvas.image();
  canvas.xorFocusRect(Rect{0, 0, 9, 7});
  int changed = 0;
  for (int y = 0; y < 7; ++y) {
    for (int x = 0; x < 9; ++x) changed += canvas.pixel(x, y) != before.pixel(x, y) ? 1 : 0;
  }
  EXPECT_GT(changed, 10);
  EXPECT_EQ(canvas.pixel(0, 0), (rgb(255, 255, 248)));  // dotted: corner inverted
  EXPECT_EQ(canvas.pixel(1, 0), before.pixel(1, 0));     // ... its neighbour not
  EXPECT_EQ(canvas.pixel(4, 3), before.pixel(4, 3));     // inside untouched
  canvas.xorFocusRect(Rect{0, 0, 9, 7});
  EXPECT_EQ(0, std::memcmp(canvas.image().data(), before.data(), before.stride() * 7));
}

TEST(CanvasText, OpaqueCellsTakeTheBackground) {
  Canvas canvas(20, 10);
  canvas.fillRect(Rect{0, 0, 20, 10}, kGrey);
  const testing::FixedFont font;
  const Size cell = canvas.drawText(2, 1, "a b", font, kRed, kBlue);
  EXPECT_EQ(cell, (Size{12, 6}));
  EXPECT_EQ(canvas.pixel(3, 2), kRed);    // ink of 'a'
  EXPECT_EQ(canvas.pixel(2, 1), kBlue);   // cell around it
  EXPECT_EQ(canvas.pixel(7, 3), kBlue);   // the space
  EXPECT_EQ(canvas.pixel(11, 3), kRed);   // ink of 'b'
  EXPECT_EQ(canvas.pixel(14, 3), kGrey);  // past the text
  EXPECT_EQ(canvas.pixel(3, 7), kGrey);   // below the cells
}

TEST(CanvasText, WithoutBackgroundOnlyInkIsDrawn) {
  Canvas canvas(8, 8);
  canvas.fillRect(Rect{0, 0, 8, 8}, kGrey);
  canvas.drawText(0, 0, "x", testing::FixedFont{}, kRed, std::nullopt);
  EXPECT_EQ(canvas.pixel(1, 1), kRed);
  EXPECT_EQ(canvas.pixel(0, 0), kGrey);
}

TEST(CanvasImage, AlphaBlendsOverTheDestination) {
  Canvas canvas(3, 1);
  canvas.fillRect(Rect{0, 0, 3, 1}, rgb(0, 0, 200));
  Image src(3, 1, Color{255, 0, 0, 0});
  src.setPixel(1, 0, Color{255, 0, 0, 128});
  src.setPixel(2, 0, Color{255, 0, 0, 255});
  canvas.drawImage(0, 0, src);
  EXPECT_EQ(canvas.pixel(0, 0), rgb(0, 0, 200));
  EXPECT_EQ(canvas.pixel(1, 0), rgb(128, 0, 100));
  EXPECT_EQ(canvas.pixel(2, 0), kRed);
}

TEST(ColorMatrixTest, GreyAndHighlight) {
  const Color grey = ColorMatrix::grey().apply(Color{200, 100, 50, 77});
  // 0.3 x 200 + 0.59 x 100 + 0.11 x 50 = 124.5, rounded.
  EXPECT_EQ(grey, (Color{125, 125, 125, 77}));
  const Color light = ColorMatrix::highlight().apply(Color{0, 100, 250, 9});
  // 1.05 x c + 0.05 x 255, clamped at white.
  EXPECT_EQ(light, (Color{13, 118, 255, 9}));
  EXPECT_EQ(ColorMatrix::identity().apply(kGrey), kGrey);
}

TEST(ColorMatrixTest, DrawImageRunsPixelsThroughTheMatrix) {
  Canvas canvas(2, 2);
  const ColorMatrix grey = ColorMatrix::grey();
  canvas.drawImage(Rect{0, 0, 2, 2}, Image(2, 2, kRed), Rect{0, 0, 2, 2}, &grey);
  EXPECT_EQ(canvas.pixel(1, 1), rgb(77, 77, 77));
}

TEST(MemDc, EmptyRectCoversTheClipBoxAndCopiesOnClose) {
  Canvas target(10, 10);
  target.setClipRect(Rect{2, 3, 6, 8});
  {
    CMemDC dc(target);
    EXPECT_EQ(dc.rect(), (Rect{2, 3, 6, 8}));
    EXPECT_EQ(dc.width(), 4);
    dc.fillRect(Rect{0, 0, 100, 100}, kRed);
    EXPECT_EQ(target.pixel(2, 3), rgb(0, 0, 0));  // nothing reaches the target early
  }
  target.clearClipRect();
  EXPECT_EQ(target.pixel(2, 3), kRed);
  EXPECT_EQ(target.pixel(5, 7), kRed);
  EXPECT_EQ(target.pixel(6, 7), rgb(0, 0, 0));
}

TEST(MemDc, CopyFirstStartsFromTheTargetInItsCoordinates) {
  Canvas target(gradient(10, 10));
  {
    CMemDC dc(target, Rect{4, 4, 8, 8}, true);
    EXPECT_EQ(dc.pixel(5, 6), rgb(5, 6, 7));
    dc.setPixel(7, 7, kBlue);
  }
  EXPECT_EQ(target.pixel(7, 7), kBlue);
  EXPECT_EQ(target.pixel(6, 7), rgb(6, 7, 7));
}

}  // namespace
}  // namespace trevolo::controls
