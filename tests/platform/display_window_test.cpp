// The minimal window: posted messages from many threads, close requests,
// the renderer path, and (with an X server) a real window showing a picture.
#include <gtest/gtest.h>

#include <SDL.h>

#include <cstdio>
#include <thread>
#include <vector>

#include "display_test_util.h"

using namespace display_test;

TEST(DisplayWindow, PostsFromManyThreadsArriveInOrderPerThread) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  constexpr int kThreads = 4;
  constexpr int kPerThread = 2000;
  std::vector<std::vector<intptr_t>> seen(kThreads);
  window->setMessageHandler([&](uint32_t message, uintptr_t wParam, intptr_t lParam) {
    ASSERT_EQ(message, 1124u);
    ASSERT_LT(wParam, uintptr_t(kThreads));
    seen[wParam].push_back(lParam);
  });
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([&window, t] {
      for (int i = 0; i < kPerThread; ++i) {
        // Negative values must survive the trip too.
        ASSERT_TRUE(window->post(1124, uintptr_t(t), intptr_t(i) - 1000));
      }
    });
  }
  for (auto& poster : posters) poster.join();
  int total = 0;
  window->runUntil([&] {
    total = 0;
    for (const auto& s : seen) total += int(s.size());
    return total == kThreads * kPerThread;
  });
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(seen[t].size(), size_t(kPerThread));
    for (int i = 0; i < kPerThread; ++i) ASSERT_EQ(seen[t][i], intptr_t(i) - 1000);
  }
}

TEST(DisplayWindow, CloseRequestEndsTheLoopOrReachesTheHandler) {
  auto window = dummyWindow();
  ASSERT_TRUE(window);
  SDL_Event quit{};
  quit.type = SDL_QUIT;
  SDL_PushEvent(&quit);
  window->runUntil([] { return false; });  // returns because of the close request
  EXPECT_TRUE(window->closeRequested());

  auto second = dummyWindow();
  ASSERT_TRUE(second);
  int asked = 0;
  second->setCloseHandler([&] { ++asked; });
  SDL_PushEvent(&quit);
  while (second->pumpOnce(50)) {
  }
  EXPECT_EQ(asked, 1);
  EXPECT_FALSE(second->closeRequested());
}

TEST(DisplayWindow, WithoutGpuUsesSoftwareRendererAndWholeClientArea) {
  auto window = dummyWindow(200, 150);
  ASSERT_TRUE(window);
  EXPECT_EQ(window->rendererPath(), RendererPath::Software);
  EXPECT_EQ(window->rendererName(), "software");
  const Rect client = window->clientRect();
  EXPECT_EQ(client.width(), 200);
  EXPECT_EQ(client.height(), 150);
  const Rect video = window->videoRect();
  EXPECT_EQ(video.width(), 200);
  EXPECT_EQ(video.height(), 150);
}

// Red, green, blue and white quadrants (BT.601 limited range), so the
// screen shows orientation and chroma placement at a glance.
void fillQuadrants(const SurfaceLock& lock) {
  const Yuv kColours[4] = {{81, 90, 240}, {145, 54, 34}, {41, 240, 110}, {235, 128, 128}};
  const size_t pitch = size_t(lock.pitch);
  const uint32_t w = lock.width;
  const uint32_t h = lock.height;
  auto colourAt = [&](uint32_t x, uint32_t y) {
    return kColours[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
  };
  uint8_t* v = lock.pixels + pitch * h;
  uint8_t* u = v + (pitch / 2) * (h / 2);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) lock.pixels[y * pitch + x] = colourAt(x, y).y;
  for (uint32_t y = 0; y < h / 2; ++y)
    for (uint32_t x = 0; x < w / 2; ++x) {
      v[y * (pitch / 2) + x] = colourAt(x * 2, y * 2).v;
      u[y * (pitch / 2) + x] = colourAt(x * 2, y * 2).u;
    }
}

// Needs an X server (xvfb-run -a): a visible window shows a presented
// picture on the screen itself. Writes the screen grab's path to stdout.
TEST(DisplayWindow, RealWindowShowsPresentedPicture) {
  if (getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X server (DISPLAY unset)";
  setenv("SDL_VIDEODRIVER", "x11", 1);
  WindowOptions options;
  options.title = "display check";
  options.width = 320;
  options.height = 240;
  std::string error;
  auto window = Window::create(options, &error);
  ASSERT_TRUE(window) << error;
  window->setVideoRect(rectAt(40, 30, 240, 180));
  int code = 0;
  auto surface = createDisplaySurface(window.get(), 64, 48, SurfaceFormat::YV12, &code);
  ASSERT_TRUE(surface) << code;
  std::thread producer([&] {
    SurfaceLock lock;
    ASSERT_TRUE(surface->lock(&lock));
    fillQuadrants(lock);
    surface->unlock();
    EXPECT_EQ(surface->present(), PresentResult::Presented);
  });
  producer.join();
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  window->runUntil([&] { return std::chrono::steady_clock::now() > until; });
  // What the X server holds, not what SDL thinks it drew.
  const char* shot = getenv("DISPLAY_CHECK_SHOT");
  if (shot != nullptr) {
    const std::string command = std::string("import -window root ") + shot;
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  // Without a GPU, Xvfb's OpenGL is llvmpipe: the software path is chosen.
  EXPECT_EQ(window->rendererPath(), RendererPath::Software);
  const uint32_t topLeft = pixelAt(*window, 80, 70);
  EXPECT_TRUE(red(topLeft) > 240 && green(topLeft) < 16) << std::hex << topLeft;
  const uint32_t topRight = pixelAt(*window, 240, 70);
  EXPECT_TRUE(green(topRight) > 200 && red(topRight) < 16) << std::hex << topRight;
  const uint32_t bottomLeft = pixelAt(*window, 80, 170);
  EXPECT_TRUE(blue(bottomLeft) > 240 && red(bottomLeft) < 16) << std::hex << bottomLeft;
  const uint32_t bottomRight = pixelAt(*window, 240, 170);
  EXPECT_GT(green(bottomRight), 230);
  EXPECT_EQ(pixelAt(*window, 20, 20) & 0xFFFFFF, 0u);
  setenv("SDL_VIDEODRIVER", "dummy", 1);
}
