// Full screen and the text over the picture, on a real X window (xvfb-run -a):
// both picture paths (the scaler for YUV, a texture for RGB) read back pixel
// by pixel.
#include <gtest/gtest.h>

#include <SDL.h>

#include <functional>
#include <vector>

#include "display_test_util.h"
#include "platform/ttf_font.h"

using namespace display_test;

namespace {

constexpr uint8_t kFrameGrey = 0x50;

bool isBlack(uint32_t p) { return red(p) < 8 && green(p) < 8 && blue(p) < 8; }
bool isRed(uint32_t p) { return red(p) > 235 && green(p) < 24 && blue(p) < 24; }
bool isFrame(uint32_t p) { return red(p) == kFrameGrey && green(p) == kFrameGrey; }

// Pumps the window until `done` or a second has passed.
bool pumpUntil(Window& window, const std::function<bool()>& done) {
  const uint64_t end = Window::ticksMs() + 1000;
  while (!done() && Window::ticksMs() < end) window.pumpOnce(10);
  return done();
}

std::vector<uint32_t> readAll(Window& window) {
  std::vector<uint32_t> pixels;
  EXPECT_TRUE(window.readPixels(window.clientRect(), &pixels));
  return pixels;
}

}  // namespace

TEST(DisplayFullScreen, PictureAloneCentredTextOverItPointerHidesAndWindowComesBack) {
  if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X server (DISPLAY unset)";
  setenv("SDL_VIDEODRIVER", "x11", 1);
  WindowOptions options;
  options.title = "full screen check";
  options.borderless = true;  // as the player's window
  options.resizable = false;
  options.pointerHideMs = 150;
  std::string error;
  auto window = Window::create(options, &error);
  ASSERT_TRUE(window) << error;
  std::vector<uint8_t> frame(size_t(options.width) * options.height * 4, kFrameGrey);
  window->setFrame(frame.data(), options.width, options.height, size_t(options.width) * 4);
  const Rect overlay = rectAt(300, 200, 40, 40);  // a control above the picture
  window->setOverlays({overlay});
  const Rect windowed = rectAt(40, 30, 480, 360);
  SDL_Rect screen{};
  ASSERT_EQ(SDL_GetDisplayBounds(0, &screen), 0);
  // An 8:3 picture, wider than any usual screen: bars above and below.
  constexpr int kPictureW = 64;
  constexpr int kPictureH = 24;
  const int shownH = screen.w * kPictureH / kPictureW;
  ASSERT_LT(shownH, screen.h);
  const Rect shown = rectAt(0, (screen.h - shownH) / 2, screen.w, shownH);

  // With no picture yet (an idle window) the text lies over the video
  // rectangle all the same.
  window->setVideoRect(windowed);
  const uint32_t idle = pixelAt(*window, 60, 50);
  window->setVideoText({"########", "########"});
  EXPECT_NE(pixelAt(*window, 60, 50), idle);
  window->setVideoText({});
  EXPECT_EQ(pixelAt(*window, 60, 50), idle);

  for (SurfaceFormat format : {SurfaceFormat::YV12, SurfaceFormat::Rgb32}) {
    SCOPED_TRACE(int(format));
    window->setVideoRect(windowed);
    int code = 0;
    auto surface = createDisplaySurface(window.get(), kPictureW, kPictureH, format, &code);
    ASSERT_TRUE(surface) << code;
    SurfaceLock lock;
    ASSERT_TRUE(surface->lock(&lock));
    fillSolid(lock, format, kRed601);
    surface->unlock();
    // Presented once and never again, as a paused picture.
    ASSERT_EQ(surface->present(), PresentResult::Presented);
    ASSERT_TRUE(pumpUntil(*window, [&] { return isRed(pixelAt(*window, 60, 50)); }));
    const Rect place = placeOnX(options.title);

    ASSERT_TRUE(window->setFullScreen(true));
    EXPECT_TRUE(window->fullScreen());
    ASSERT_TRUE(pumpUntil(*window, [&] {
      return window->clientRect() == rectAt(0, 0, screen.w, screen.h);
    }));
    EXPECT_EQ(window->videoRect(), windowed);
    EXPECT_EQ(placeOnX(options.title), rectAt(screen.x, screen.y, screen.w, screen.h));
    std::vector<uint32_t> before = readAll(*window);
    ASSERT_EQ(before.size(), size_t(screen.w) * size_t(screen.h));
    auto at = [&](const std::vector<uint32_t>& pixels, int x, int y) {
      return pixels[size_t(y) * size_t(screen.w) + size_t(x)];
    };
    // The picture alone, aspect kept and centred: no frame, no overlay.
    for (int x : {0, screen.w / 2, screen.w - 1}) {
      EXPECT_TRUE(isBlack(at(before, x, shown.top - 2))) << x;
      EXPECT_TRUE(isRed(at(before, x, shown.top + 1))) << x;
      EXPECT_TRUE(isRed(at(before, x, shown.bottom - 2))) << x;
      EXPECT_TRUE(isBlack(at(before, x, shown.bottom + 1))) << x;
    }
    size_t strays = 0;
    for (uint32_t p : before) strays += isFrame(p) ? 1 : 0;
    EXPECT_EQ(strays, 0u);

    // The text changes pixels near the picture's top left, nowhere else,
    // and clearing it gives the very same picture back.
    window->setVideoText({"Speed 2x", "00:01:23"});
    const std::vector<uint32_t> withText = readAll(*window);
    size_t changed = 0;
    size_t outside = 0;
    const Rect nearCorner = rectAt(shown.left, shown.top, shown.width() / 2, shown.height() / 2);
    for (int y = 0; y < screen.h; ++y) {
      for (int x = 0; x < screen.w; ++x) {
        if (at(withText, x, y) == at(before, x, y)) continue;
        ++changed;
        outside += nearCorner.contains(x, y) ? 0 : 1;
      }
    }
    EXPECT_GT(changed, 2000u);
    EXPECT_EQ(outside, 0u);
    window->setVideoText({});
    EXPECT_TRUE(readAll(*window) == before);

    // Still, the pointer hides: the wait ends for it, however long the
    // caller asked to wait. A move shows it again; so does leaving.
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    const uint64_t start = Window::ticksMs();
    for (int i = 0; i < 5 && SDL_ShowCursor(SDL_QUERY) == SDL_ENABLE; ++i) {
      window->waitAndHandle(1000);
    }
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_LT(Window::ticksMs() - start, 800u);
    if (format == SurfaceFormat::YV12) {
      SDL_Event move{};
      move.type = SDL_MOUSEMOTION;
      move.motion.x = 5;
      move.motion.y = 5;
      SDL_PushEvent(&move);
      window->waitAndHandle(0);
      EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
    }

    // A rectangle set in full screen applies on the way back.
    const Rect moved = rectAt(20, 40, 600, 400);
    window->setVideoRect(moved);
    ASSERT_TRUE(window->setFullScreen(false));
    EXPECT_FALSE(window->fullScreen());
    ASSERT_TRUE(pumpUntil(*window, [&] {
      return window->clientRect() == rectAt(0, 0, options.width, options.height);
    }));
    EXPECT_EQ(window->videoRect(), moved);
    EXPECT_EQ(placeOnX(options.title), place);
    EXPECT_TRUE(isRed(pixelAt(*window, 25, 45)));
    EXPECT_TRUE(isFrame(pixelAt(*window, 10, 10)));
    EXPECT_TRUE(isFrame(pixelAt(*window, overlay.left + 5, overlay.top + 5)));
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
  }
  window.reset();
  TtfFont::shutdown();
  setenv("SDL_VIDEODRIVER", "dummy", 1);
}
