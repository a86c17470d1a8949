// Picture surfaces under SDL's dummy driver and software renderer: layout
// and pitch per format (checked by colour after SDL's conversion), hand-over
// from another thread, clipping, the colour matrix and lost surfaces.
#include <gtest/gtest.h>

#include <SDL.h>

#include <thread>

#include "display_test_util.h"
#include "video/ddraw_renderer.h"

using namespace display_test;

namespace {

const SurfaceFormat kAllFormats[] = {
    SurfaceFormat::YV12, SurfaceFormat::I420,     SurfaceFormat::YUY2,
    SurfaceFormat::YVYU, SurfaceFormat::UYVY,     SurfaceFormat::NV12,
    SurfaceFormat::Palette8, SurfaceFormat::Rgb555, SurfaceFormat::Rgb565,
    SurfaceFormat::Rgb32};

std::unique_ptr<DisplaySurface> makeSurface(Window& window, uint32_t width, uint32_t height,
                                            SurfaceFormat format) {
  int error = 0;
  auto surface = createDisplaySurface(&window, width, height, format, &error);
  EXPECT_TRUE(surface) << "error " << error;
  return surface;
}

void presentSolid(DisplaySurface& surface, Yuv yuv) {
  SurfaceLock lock;
  ASSERT_TRUE(surface.lock(&lock));
  fillSolid(lock, surface.format(), yuv);
  surface.unlock();
  ASSERT_EQ(surface.present(), PresentResult::Presented);
}

bool isRed(uint32_t argb) { return red(argb) > 240 && green(argb) < 16 && blue(argb) < 16; }

// An opaque green frame over the whole 160 x 120 window.
void setGreenFrame(Window& window) {
  std::vector<uint8_t> frame(160 * 120 * 4);
  for (size_t i = 0; i < frame.size(); i += 4) {
    frame[i + 1] = 0xFF;
    frame[i + 3] = 0xFF;
  }
  window.setFrame(frame.data(), 160, 120, 160 * 4);
}

}  // namespace

TEST(DisplaySurface, EveryFormatLocksWithPitchAndShowsItsPicture) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  uint32_t palette[256] = {};
  palette[7] = 0xFF0000;
  for (SurfaceFormat format : kAllFormats) {
    SCOPED_TRACE(int(format));
    // Odd size first: writing the whole documented layout must stay inside
    // the surface (AddressSanitizer watches); then a colour check.
    for (uint32_t width : {33u, 64u}) {
      const uint32_t height = width == 33 ? 17 : 48;
      auto surface = makeSurface(*window, width, height, format);
      ASSERT_TRUE(surface);
      surface->setPalette(palette);
      SurfaceLock lock;
      ASSERT_TRUE(surface->lock(&lock));
      EXPECT_EQ(lock.width, width);
      EXPECT_EQ(lock.height, height);
      EXPECT_EQ(lock.pitch % 2, 0);
      const int bytes = format == SurfaceFormat::Rgb32 ? 4
                        : (format == SurfaceFormat::Rgb555 || format == SurfaceFormat::Rgb565 ||
                           format == SurfaceFormat::YUY2 || format == SurfaceFormat::YVYU ||
                           format == SurfaceFormat::UYVY) ? 2 : 1;
      EXPECT_GE(lock.pitch, int32_t(width) * bytes);
      surface->unlock();
      presentSolid(*surface, kRed601);
      window->pumpOnce(100);
      if (width == 64) {
        const uint32_t centre = pixelAt(*window, 80, 60);
        EXPECT_TRUE(isRed(centre)) << std::hex << centre;
      }
    }
  }
}

TEST(DisplaySurface, PresentFromAnotherThreadWakesTheUiThread) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  auto surface = makeSurface(*window, 64, 48, SurfaceFormat::YV12);
  ASSERT_TRUE(surface);
  while (window->pumpOnce(0)) {
  }
  const auto start = std::chrono::steady_clock::now();
  std::thread producer([&] { presentSolid(*surface, kRed601); });
  const bool woke = window->pumpOnce(2000);
  const auto waited = std::chrono::steady_clock::now() - start;
  producer.join();
  EXPECT_TRUE(woke);
  EXPECT_LT(waited, std::chrono::milliseconds(1000));
  EXPECT_TRUE(isRed(pixelAt(*window, 80, 60)));
}

TEST(DisplaySurface, PictureIsScaledIntoTheVideoRectAndClipped) {
  auto window = dummyWindow(160, 120);
  ASSERT_TRUE(window);
  auto surface = makeSurface(*window, 64, 48, SurfaceFormat::YV12);
  ASSERT_TRUE(surface);
  presentSolid(*surface, kRed601);

  window->setVideoRect(rectAt(20, 10, 60, 40));
  EXPECT_TRUE(isRed(pixelAt(*window, 50, 30)));
  EXPECT_EQ(pixelAt(*window, 10, 30) & 0xFFFFFF, 0u);  // left of the rect
  EXPECT_EQ(pixelAt(*window, 50, 5) & 0xFFFFFF, 0u);   // above it
  EXPECT_EQ(pixelAt(*window, 85, 30) & 0xFFFFFF, 0u);  // right of it
  EXPECT_EQ(pixelAt(*window, 50, 55) & 0xFFFFFF, 0u);  // below it

  // A rectangle reaching past the client area is cut at its edges.
  window->setVideoRect(rectAt(100, 80, 200, 200));
  EXPECT_TRUE(isRed(pixelAt(*window, 159, 119)));
  EXPECT_EQ(pixelAt(*window, 99, 119) & 0xFFFFFF, 0u);
}

TEST(DisplaySurface, FrameAroundAndOverlaysAboveThePictureStayWhenOnlyThePictureChanges) {
  auto window = dummyWindow(160, 120);
  ASSERT_TRUE(window);
  setGreenFrame(*window);
  window->setVideoRect(rectAt(20, 10, 60, 40));
  window->setOverlays({rectAt(30, 20, 10, 10)});
  auto surface = makeSurface(*window, 64, 48, SurfaceFormat::YV12);
  ASSERT_TRUE(surface);
  // The first draw is whole; the next ones redraw only the picture (and
  // the overlays on it) into what the window already shows.
  for (const Yuv colour : {kRed601, Yuv{128, 128, 128}, kRed601}) {
    presentSolid(*surface, colour);
    const uint32_t inside = pixelAt(*window, 60, 40);
    EXPECT_EQ(isRed(inside), colour.y == kRed601.y) << std::hex << inside;
    EXPECT_EQ(pixelAt(*window, 5, 5) & 0xFFFFFF, 0x00FF00u) << "frame around the picture";
    EXPECT_EQ(pixelAt(*window, 35, 25) & 0xFFFFFF, 0x00FF00u) << "overlay above the picture";
  }
  // Hidden video: the frame alone.
  window->setVideoVisible(false);
  EXPECT_EQ(pixelAt(*window, 60, 40) & 0xFFFFFF, 0x00FF00u);
}

// The scaler writes whole groups of pixels: rectangles whose right edge
// leaves less than a group of frame, or that touch the window's last row or
// corner, must still change no pixel outside themselves.
TEST(DisplaySurface, PictureChangesNoPixelOutsideItsRectangle) {
  auto window = dummyWindow(160, 120);
  ASSERT_TRUE(window);
  setGreenFrame(*window);
  auto surface = makeSurface(*window, 64, 48, SurfaceFormat::YV12);
  ASSERT_TRUE(surface);
  presentSolid(*surface, kRed601);
  for (const Rect rect : {rectAt(1, 10, 158, 50), rectAt(4, 62, 154, 40),
                          rectAt(40, 104, 100, 16), rectAt(60, 104, 100, 16)}) {
    SCOPED_TRACE(testing::Message() << rect.left << "," << rect.top << " " << rect.width());
    window->setVideoRect(rect);
    std::vector<uint32_t> pixels;
    ASSERT_TRUE(window->readPixels(rectAt(0, 0, 160, 120), &pixels));
    int wrong = 0;
    for (int y = 0; y < 120; ++y) {
      for (int x = 0; x < 160; ++x) {
        const uint32_t p = pixels[size_t(y) * 160 + x];
        const bool ok = rect.contains(x, y) ? isRed(p) : (p & 0xFFFFFF) == 0x00FF00u;
        if (!ok && ++wrong <= 3) ADD_FAILURE() << x << "," << y << ": " << std::hex << p;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(DisplaySurface, ColourMatrixFollowsPictureHeight) {
  auto window = dummyWindow(160, 120);
  ASSERT_TRUE(window);
  {
    auto sd = makeSurface(*window, 640, 480, SurfaceFormat::YV12);
    ASSERT_TRUE(sd);
    presentSolid(*sd, kRed601);
    const uint32_t c = pixelAt(*window, 80, 60);
    EXPECT_TRUE(isRed(c)) << std::hex << c;
  }
  {
    auto hd = makeSurface(*window, 1280, 720, SurfaceFormat::YV12);
    ASSERT_TRUE(hd);
    presentSolid(*hd, kRed709);
    const uint32_t c = pixelAt(*window, 80, 60);
    EXPECT_TRUE(isRed(c)) << std::hex << c;
    // The SD values decoded with the HD matrix are visibly not red.
    presentSolid(*hd, kRed601);
    const uint32_t off = pixelAt(*window, 80, 60);
    EXPECT_GT(green(off), 16) << std::hex << off;
  }
  {
    // 719 lines still count as SD.
    auto tall = makeSurface(*window, 960, 718, SurfaceFormat::YV12);
    ASSERT_TRUE(tall);
    presentSolid(*tall, kRed601);
    EXPECT_TRUE(isRed(pixelAt(*window, 80, 60)));
  }
}

TEST(DisplaySurface, RendererResetLosesTheSurfaceUntilRestored) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  auto surface = makeSurface(*window, 64, 48, SurfaceFormat::YV12);
  ASSERT_TRUE(surface);
  presentSolid(*surface, kRed601);
  SDL_Event reset{};
  reset.type = SDL_RENDER_TARGETS_RESET;
  SDL_PushEvent(&reset);
  while (window->pumpOnce(50)) {
  }
  EXPECT_EQ(surface->present(), PresentResult::Lost);
  EXPECT_EQ(surface->present(), PresentResult::Lost);
  EXPECT_TRUE(surface->restore());
  presentSolid(*surface, kRed601);
  EXPECT_TRUE(isRed(pixelAt(*window, 80, 60)));
}

TEST(DisplaySurface, RendererOverRealSurfacesDropsTheLostPicture) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  DDrawRenderer renderer;
  std::vector<uint8_t> picture(64 * 48 * 3 / 2);
  std::fill(picture.begin(), picture.begin() + 64 * 48, kRed601.y);
  std::fill(picture.begin() + 64 * 48, picture.begin() + 64 * 48 * 5 / 4, kRed601.u);
  std::fill(picture.begin() + 64 * 48 * 5 / 4, picture.end(), kRed601.v);
  RenderSource source;
  source.width = 64;
  source.height = 48;
  source.plane[0] = picture.data();
  source.plane[1] = picture.data() + 64 * 48;
  source.plane[2] = picture.data() + 64 * 48 * 5 / 4;
  ASSERT_EQ(renderer.Render(source, window.get()), 0);
  EXPECT_TRUE(isRed(pixelAt(*window, 80, 60)));

  SDL_Event reset{};
  reset.type = SDL_RENDER_DEVICE_RESET;
  SDL_PushEvent(&reset);
  while (window->pumpOnce(50)) {
  }
  EXPECT_EQ(renderer.Render(source, window.get()), 0);  // dropped, not an error
  EXPECT_EQ(pixelAt(*window, 80, 60) & 0xFFFFFF, 0u);    // nothing to show yet
  EXPECT_EQ(renderer.Render(source, window.get()), 0);
  EXPECT_TRUE(isRed(pixelAt(*window, 80, 60)));
}

TEST(DisplaySurface, CreationRefusesMissingWindowAndImpossibleSizes) {
  int error = 0;
  EXPECT_FALSE(createDisplaySurface(nullptr, 64, 48, SurfaceFormat::YV12, &error));
  EXPECT_EQ(error, kSurfaceNoWindow);
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  EXPECT_FALSE(createDisplaySurface(window.get(), 0, 48, SurfaceFormat::YV12, &error));
  EXPECT_EQ(error, kSurfaceBadSize);
  EXPECT_FALSE(createDisplaySurface(window.get(), 64, 1000000, SurfaceFormat::YV12, &error));
  EXPECT_EQ(error, kSurfaceBadSize);

  DDrawRenderer renderer;
  RenderSource empty;  // 0 x 0 on a real window: no surface, 1359
  empty.width = 0;
  empty.height = 0;
  EXPECT_EQ(renderer.Render(empty, window.get()), kRenderInternalError);
  RenderSource noWindow;
  noWindow.width = 16;
  noWindow.height = 16;
  EXPECT_EQ(renderer.Render(noWindow, nullptr), kRenderInternalError);
}

TEST(DisplaySurface, SurfaceOutlivingItsWindowFailsQuietly) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  auto surface = makeSurface(*window, 64, 48, SurfaceFormat::YV12);
  ASSERT_TRUE(surface);
  window.reset();
  SurfaceLock lock;
  ASSERT_TRUE(surface->lock(&lock));
  fillSolid(lock, SurfaceFormat::YV12, kRed601);
  surface->unlock();
  EXPECT_EQ(surface->present(), PresentResult::Failed);
  EXPECT_FALSE(surface->restore());
}
