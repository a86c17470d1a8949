// Shared helpers of the display tests: a hidden window under SDL's dummy
// driver and solid pictures written into locked surfaces.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/display_surface.h"
#include "platform/window.h"

namespace display_test {

using namespace trevolo::platform;
using trevolo::Rect;
using trevolo::rectAt;

// A hidden window under the dummy driver (software renderer), whatever the
// environment says, so the results do not depend on a screen.
inline std::unique_ptr<Window> dummyWindow(int width = 160, int height = 120) {
  setenv("SDL_VIDEODRIVER", "dummy", 1);
  WindowOptions options;
  options.width = width;
  options.height = height;
  options.visible = false;
  std::string error;
  auto window = Window::create(options, &error);
  EXPECT_TRUE(window) << error;
  return window;
}

// Limited-range YUV of a solid colour.
struct Yuv {
  uint8_t y, u, v;
};
constexpr Yuv kRed601{81, 90, 240};
constexpr Yuv kRed709{63, 102, 240};

// Fills the whole surface with one colour in its own layout (pure red for
// the RGB formats; for the palette, index 7, which the tests make red).
inline void fillSolid(const SurfaceLock& lock, SurfaceFormat format, Yuv yuv) {
  const size_t pitch = size_t(lock.pitch);
  const size_t h = lock.height;
  uint8_t* p = lock.pixels;
  const size_t chromaRows = (h + 1) / 2;
  switch (format) {
    case SurfaceFormat::YV12:
    case SurfaceFormat::I420: {
      std::memset(p, yuv.y, pitch * h);
      uint8_t* first = p + pitch * h;
      uint8_t* second = first + (h / 2) * (pitch / 2);
      const bool vFirst = format == SurfaceFormat::YV12;
      std::memset(first, vFirst ? yuv.v : yuv.u, (pitch / 2) * (h / 2));
      std::memset(second, vFirst ? yuv.u : yuv.v, (pitch / 2) * chromaRows);
      break;
    }
    case SurfaceFormat::NV12:
      std::memset(p, yuv.y, pitch * h);
      for (size_t i = 0; i < chromaRows * pitch; i += 2) {
        p[pitch * h + i] = yuv.u;
        p[pitch * h + i + 1] = yuv.v;
      }
      break;
    case SurfaceFormat::YUY2:
    case SurfaceFormat::YVYU:
    case SurfaceFormat::UYVY:
      for (size_t row = 0; row < h; ++row) {
        for (size_t x = 0; x + 3 < pitch; x += 4) {
          uint8_t* q = p + row * pitch + x;
          // Byte order of one two-pixel group.
          const uint8_t yuy2[4] = {yuv.y, yuv.u, yuv.y, yuv.v};
          const uint8_t yvyu[4] = {yuv.y, yuv.v, yuv.y, yuv.u};
          const uint8_t uyvy[4] = {yuv.u, yuv.y, yuv.v, yuv.y};
          const uint8_t* group = format == SurfaceFormat::YUY2   ? yuy2
                                 : format == SurfaceFormat::YVYU ? yvyu
                                                                 : uyvy;
          std::memcpy(q, group, 4);
        }
      }
      break;
    case SurfaceFormat::Palette8:
      std::memset(p, 7, pitch * h);
      break;
    case SurfaceFormat::Rgb555:
    case SurfaceFormat::Rgb565: {
      const uint16_t red = format == SurfaceFormat::Rgb555 ? 0x7C00 : 0xF800;
      for (size_t i = 0; i + 1 < pitch * h; i += 2) {
        p[i] = uint8_t(red);
        p[i + 1] = uint8_t(red >> 8);
      }
      break;
    }
    case SurfaceFormat::Rgb32:
      for (size_t i = 0; i + 3 < pitch * h; i += 4) {
        p[i] = 0; p[i + 1] = 0; p[i + 2] = 0xFF; p[i + 3] = 0;
      }
      break;
  }
}

inline int red(uint32_t argb) { return int((argb >> 16) & 0xFF); }
inline int green(uint32_t argb) { return int((argb >> 8) & 0xFF); }
inline int blue(uint32_t argb) { return int(argb & 0xFF); }

// The pixel at (x, y) of the window's client area, drawn afresh.
inline uint32_t pixelAt(Window& window, int x, int y) {
  std::vector<uint32_t> pixels;
  EXPECT_TRUE(window.readPixels(rectAt(x, y, 1, 1), &pixels));
  return pixels.empty() ? 0 : pixels[0];
}

// Where the X server has the window titled `title`, in root coordinates:
// what shows on the screen, whatever SDL believes. Empty when there is no
// such window. Needs an X server.
Rect placeOnX(const std::string& title);

}  // namespace display_test
