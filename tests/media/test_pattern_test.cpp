// The test picture's reader on pictures drawn in memory: exact, scaled,
// noisy, and pictures that do not show the pattern at all.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tools/media/test_pattern.h"

namespace trevolo {
namespace {

struct Picture {
  int width, height;
  std::vector<uint8_t> y, u, v;
  Picture(int w, int h)
      : width(w), height(h), y(static_cast<size_t>(w) * h),
        u(static_cast<size_t>((w + 1) / 2) * ((h + 1) / 2)), v(u.size()) {}
  TestPicturePlanes planes() {
    return {y.data(), u.data(), v.data(), width, (width + 1) / 2, (width + 1) / 2};
  }
  void draw(int frame, int64_t ms) { DrawTestPicture(frame, ms, width, height, planes()); }
  int frame() const { return ReadFrameNumber(y.data(), width, width, height); }
  int64_t time() const { return ReadTimeMs(y.data(), width, width, height); }
};

// Bilinear resampling, as a screenshot of a scaled video area would be.
std::vector<uint8_t> Resize(const Picture& p, int w, int h) {
  std::vector<uint8_t> out(static_cast<size_t>(w) * h);
  for (int j = 0; j < h; ++j) {
    for (int i = 0; i < w; ++i) {
      const double sx = std::max(0.0, (i + 0.5) * p.width / w - 0.5);
      const double sy = std::max(0.0, (j + 0.5) * p.height / h - 0.5);
      const int x0 = std::min(static_cast<int>(sx), p.width - 1);
      const int y0 = std::min(static_cast<int>(sy), p.height - 1);
      const int x1 = std::min(x0 + 1, p.width - 1), y1 = std::min(y0 + 1, p.height - 1);
      const double fx = sx - x0, fy = sy - y0;
      auto at = [&](int x, int y) { return static_cast<double>(p.y[y * p.width + x]); };
      const double top = at(x0, y0) * (1 - fx) + at(x1, y0) * fx;
      const double bottom = at(x0, y1) * (1 - fx) + at(x1, y1) * fx;
      out[j * w + i] = static_cast<uint8_t>(top * (1 - fy) + bottom * fy + 0.5);
    }
  }
  return out;
}

TEST(TestPattern, ReadsEveryNumberBackAtManySizes) {
  const int sizes[][2] = {{128, 96}, {320, 240}, {322, 242}, {640, 360}, {1280, 720}, {1920, 1080}};
  const int frames[] = {0, 1, 7, 10, 99, 123456, 808080, 999999};
  for (const auto& s : sizes) {
    Picture p(s[0], s[1]);
    for (int f : frames) {
      p.draw(f, int64_t{40} * f);
      EXPECT_EQ(p.frame(), f) << s[0] << "x" << s[1];
      EXPECT_EQ(p.time(), int64_t{40} * f % 10000000) << s[0] << "x" << s[1];
    }
  }
}

TEST(TestPattern, NumbersBeyondTheDigitsWrapAround) {
  Picture p(320, 240);
  p.draw(1000123, 12345678);
  EXPECT_EQ(p.frame(), 123);
  EXPECT_EQ(p.time(), 2345678);
}

TEST(TestPattern, ReadsScaledCopies) {
  Picture p(1280, 720);
  p.draw(271828, 314159);
  const int targets[][2] = {{640, 360}, {800, 450}, {1000, 700}, {1920, 1080}};
  for (const auto& t : targets) {
    const auto scaled = Resize(p, t[0], t[1]);
    EXPECT_EQ(ReadFrameNumber(scaled.data(), t[0], t[0], t[1]), 271828) << t[0] << "x" << t[1];
  }
}

TEST(TestPattern, SurvivesNoiseAndLevelShifts) {
  Picture p(320, 240);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> noise(-40, 40);
  for (int f : {5, 4321, 98765}) {
    p.draw(f, 0);
    // Full-range levels (as after an RGB round trip) plus strong noise.
    for (auto& px : p.y) {
      const int full = (px - 16) * 255 / 219;
      px = static_cast<uint8_t>(std::clamp(full + noise(rng), 0, 255));
    }
    EXPECT_EQ(p.frame(), f);
  }
}

TEST(TestPattern, RefusesPicturesWithoutThePattern) {
  Picture p(320, 240);
  std::fill(p.y.begin(), p.y.end(), 128);
  EXPECT_EQ(p.frame(), -1);
  EXPECT_EQ(p.time(), -1);

  std::mt19937 rng(1);
  for (auto& px : p.y) px = static_cast<uint8_t>(rng());
  EXPECT_EQ(p.frame(), -1);

  // The pattern with its text box painted over: the bars alone are no number.
  p.draw(42, 0);
  for (int y = 0; y < p.height / 3; ++y)
    for (int x = 0; x < p.width * 2 / 3; ++x) p.y[y * p.width + x] = (x / 20) % 2 ? 235 : 16;
  EXPECT_EQ(p.frame(), -1);

  EXPECT_EQ(ReadFrameNumber(nullptr, 320, 320, 240), -1);
  EXPECT_EQ(ReadFrameNumber(p.y.data(), 320, 8, 8), -1);
}

TEST(TestPattern, PicturesMoveFromFrameToFrame) {
  Picture a(320, 240), b(320, 240);
  a.draw(0, 0);
  b.draw(1, 0);
  // Below the text box the pictures differ in many places, in luma and chroma.
  int lumaDiffs = 0;
  for (int i = 240 / 2 * 320; i < 320 * 240; ++i) lumaDiffs += a.y[i] != b.y[i];
  EXPECT_GT(lumaDiffs, 1000);
  EXPECT_NE(a.u, b.u);
}

}  // namespace
}  // namespace trevolo
