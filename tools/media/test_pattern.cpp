#include "tools/media/test_pattern.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

namespace trevolo {
namespace {

// 5x7 glyphs, one byte per row, bit 4 = leftmost dot.
using Glyph = std::array<uint8_t, 7>;
constexpr Glyph kDigitGlyphs[10] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
};
constexpr Glyph kGlyphF = {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10};
constexpr Glyph kGlyphT = {0x1F, 0x04, 0x04, 0x04, 0x04, 0x04, 0x04};
constexpr Glyph kGlyphSpace = {};

constexpr int kGlyphCols = 5;
constexpr int kGlyphRows = 7;
constexpr int kCellCols = 6;  // one dot of spacing right of each glyph
constexpr int kCellRows = 8;  // and one below

// Text layout as fractions of the picture size, so that it scales with it.
constexpr double kTextLeft = 0.04;
constexpr double kTextTop = 0.05;
constexpr double kCellWidth = 0.06;  // one character
constexpr double kRowHeight = 0.13;  // one text row
constexpr double kDotWidth = kCellWidth / kCellCols;
constexpr double kDotHeight = kRowHeight / kCellRows;

constexpr int kFrameDigits = 6;
constexpr int kTimeDigits = 7;
constexpr int kTextRows = 2;
constexpr int kMaxRowChars = 2 + kTimeDigits;

constexpr uint8_t kTextWhite = 235;
constexpr uint8_t kTextBlack = 16;
constexpr uint8_t kChromaGrey = 128;

// Recognition: each dot is sampled over the middle half of its area.
constexpr double kSampleHalf = 0.25;
constexpr int kMinContrast = 48;       // luma steps between dark and lit dots
constexpr double kMaxDistance = 5.0;   // summed dot mismatch still accepted
constexpr double kMinMargin = 1.5;     // over the second best glyph

struct Yuv {
  uint8_t y, u, v;
};

// 75% colour bars (BT.601, limited range).
constexpr Yuv kBars[8] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                          {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

std::string RowText(int row, int frameNumber, int64_t timeMs) {
  char text[32];
  if (row == 0) {
    std::snprintf(text, sizeof text, "F %06d", frameNumber % (kMaxTestFrameNumber + 1));
  } else {
    std::snprintf(text, sizeof text, "T %07lld",
                  static_cast<long long>(timeMs % (kMaxTestTimeMs + 1)));
  }
  return text;
}

const Glyph& GlyphFor(char c) {
  if (c >= '0' && c <= '9') return kDigitGlyphs[c - '0'];
  if (c == 'F') return kGlyphF;
  if (c == 'T') return kGlyphT;
  return kGlyphSpace;
}

// The moving parts of the picture, fixed for one frame.
struct Scene {
  int width = 0;
  int height = 0;
  int barShift = 0;
  int rampShift = 0;
  int boxX = 0, boxY = 0, boxSide = 0;
  Yuv boxColour{};
};

int Triangle(int64_t t, int range) {
  if (range <= 0) return 0;
  const int64_t p = t % (2 * static_cast<int64_t>(range));
  return static_cast<int>(p < range ? p : 2 * range - p);
}

Scene MakeScene(int frame, int width, int height) {
  Scene s;
  s.width = width;
  s.height = height;
  const int64_t f = frame < 0 ? 0 : frame;
  s.barShift = static_cast<int>(f * width / 120 % width);
  s.rampShift = static_cast<int>(f * 3 % width);
  s.boxSide = std::max(8, height / 5);
  s.boxX = Triangle(f * std::max(2, width / 100), width - s.boxSide);
  s.boxY = Triangle(f * std::max(1, height / 150), height * 3 / 4 - s.boxSide);
  s.boxColour = kBars[(f / 10) % 7];
  return s;
}

Yuv BackgroundAt(const Scene& s, int x, int y) {
  if (x >= s.boxX && x < s.boxX + s.boxSide && y >= s.boxY && y < s.boxY + s.boxSide) {
    return s.boxColour;
  }
  if (y >= s.height * 3 / 4) {
    const int ramp = 16 + ((x + s.rampShift) % s.width) * 219 / s.width;
    return {static_cast<uint8_t>(ramp), kChromaGrey, kChromaGrey};
  }
  return kBars[((x + s.barShift) % s.width) * 8 / s.width];
}

// The text box: its pixel bounds and what each pixel inside shows.
struct TextBox {
  int x0, y0, x1, y1;  // half-open pixel bounds
};

TextBox TextBoxBounds(int width, int height) {
  const double left = (kTextLeft - kDotWidth) * width;
  const double right = (kTextLeft + kMaxRowChars * kCellWidth) * width;
  const double top = (kTextTop - kDotHeight) * height;
  const double bottom = (kTextTop + kTextRows * kRowHeight) * height;
  return {std::max(0, static_cast<int>(left)), std::max(0, static_cast<int>(top)),
          std::min(width, static_cast<int>(std::ceil(right))),
          std::min(height, static_cast<int>(std::ceil(bottom)))};
}

bool TextDotLit(const std::string rows[kTextRows], int width, int height, int x, int y) {
  const double dx = ((x + 0.5) / width - kTextLeft) / kDotWidth;
  const double dy = ((y + 0.5) / height - kTextTop) / kDotHeight;
  if (dx < 0 || dy < 0) return false;
  const int col = static_cast<int>(dx);
  const int line = static_cast<int>(dy);
  const int row = line / kCellRows;
  const int ch = col / kCellCols;
  const int gx = col % kCellCols;
  const int gy = line % kCellRows;
  if (row >= kTextRows || ch >= static_cast<int>(rows[row].size())) return false;
  if (gx >= kGlyphCols || gy >= kGlyphRows) return false;
  return (GlyphFor(rows[row][ch])[gy] >> (kGlyphCols - 1 - gx)) & 1;
}

void DrawText(int frameNumber, int64_t timeMs, int width, int height,
              const TestPicturePlanes& p) {
  const std::string rows[kTextRows] = {RowText(0, frameNumber, timeMs),
                                       RowText(1, frameNumber, timeMs)};
  const TextBox box = TextBoxBounds(width, height);
  for (int y = box.y0; y < box.y1; ++y) {
    for (int x = box.x0; x < box.x1; ++x) {
      p.y[y * p.yStride + x] = TextDotLit(rows, width, height, x, y) ? kTextWhite : kTextBlack;
    }
  }
  for (int cy = box.y0 / 2; cy < (box.y1 + 1) / 2; ++cy) {
    for (int cx = box.x0 / 2; cx < (box.x1 + 1) / 2; ++cx) {
      p.u[cy * p.uStride + cx] = kChromaGrey;
      p.v[cy * p.vStride + cx] = kChromaGrey;
    }
  }
}

// Mean luma over the middle of one dot of the text layout.
int SampleDot(const uint8_t* y, int stride, int width, int height, int row, int ch, int gx,
              int gy) {
  const double cx = (kTextLeft + ch * kCellWidth + (gx + 0.5) * kDotWidth) * width;
  const double cy = (kTextTop + row * kRowHeight + (gy + 0.5) * kDotHeight) * height;
  const double hx = kSampleHalf * kDotWidth * width;
  const double hy = kSampleHalf * kDotHeight * height;
  // Pixels whose centres (i + 0.5) lie within the sampled span.
  auto range = [](double c, double h, int limit, int* lo, int* hi) {
    *lo = static_cast<int>(std::ceil(c - h - 0.5));
    *hi = static_cast<int>(std::floor(c + h - 0.5));
    if (*hi < *lo) *lo = *hi = static_cast<int>(std::floor(c));
    *lo = std::clamp(*lo, 0, limit - 1);
    *hi = std::clamp(*hi, 0, limit - 1);
  };
  int x0, x1, y0, y1;
  range(cx, hx, width, &x0, &x1);
  range(cy, hy, height, &y0, &y1);
  int sum = 0;
  for (int j = y0; j <= y1; ++j) {
    for (int i = x0; i <= x1; ++i) sum += y[j * stride + i];
  }
  return sum / ((x1 - x0 + 1) * (y1 - y0 + 1));
}

// How far the normalised dot levels of one cell are from a glyph.
double GlyphDistance(const double* levels, const Glyph& g) {
  double d = 0;
  for (int gy = 0; gy < kGlyphRows; ++gy) {
    for (int gx = 0; gx < kGlyphCols; ++gx) {
      const int bit = (g[gy] >> (kGlyphCols - 1 - gx)) & 1;
      d += std::fabs(levels[gy * kGlyphCols + gx] - bit);
    }
  }
  return d;
}

// Reads one text row: its letter and `digits` digits. -1 when unreadable.
int64_t ReadRow(const uint8_t* y, int stride, int width, int height, int row, char letter,
                int digits) {
  if (!y || width < 16 || height < 16 || stride < width) return -1;
  constexpr int kDots = kGlyphCols * kGlyphRows;
  const int cells = 2 + digits;
  double levels[kMaxRowChars][kDots];
  int lo = 255, hi = 0;
  for (int ch = 0; ch < cells; ++ch) {
    for (int d = 0; d < kDots; ++d) {
      const int v = SampleDot(y, stride, width, height, row, ch, d % kGlyphCols, d / kGlyphCols);
      levels[ch][d] = v;
      lo = std::min(lo, v);
      hi = std::max(hi, v);
    }
  }
  if (hi - lo < kMinContrast) return -1;
  for (int ch = 0; ch < cells; ++ch) {
    for (double& l : levels[ch]) l = (l - lo) / (hi - lo);
  }
  if (GlyphDistance(levels[0], GlyphFor(letter)) > kMaxDistance) return -1;
  if (GlyphDistance(levels[1], kGlyphSpace) > kMaxDistance) return -1;
  int64_t value = 0;
  for (int ch = 2; ch < cells; ++ch) {
    double best = 1e9, second = 1e9;
    int digit = -1;
    for (int k = 0; k < 10; ++k) {
      const double d = GlyphDistance(levels[ch], kDigitGlyphs[k]);
      if (d < best) {
        second = best;
        best = d;
        digit = k;
      } else if (d < second) {
        second = d;
      }
    }
    if (best > kMaxDistance || second - best < kMinMargin) return -1;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

void DrawTestPicture(int frameNumber, int64_t timeMs, int width, int height,
                     const TestPicturePlanes& p) {
  if (width <= 0 || height <= 0 || !p.y || !p.u || !p.v) return;
  if (frameNumber < 0) frameNumber = 0;
  if (timeMs < 0) timeMs = 0;
  const Scene scene = MakeScene(frameNumber, width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) p.y[y * p.yStride + x] = BackgroundAt(scene, x, y).y;
  }
  for (int cy = 0; cy < (height + 1) / 2; ++cy) {
    for (int cx = 0; cx < (width + 1) / 2; ++cx) {
      const Yuv c = BackgroundAt(scene, 2 * cx, 2 * cy);
      p.u[cy * p.uStride + cx] = c.u;
      p.v[cy * p.vStride + cx] = c.v;
    }
  }
  DrawText(frameNumber, timeMs, width, height, p);
}

int ReadFrameNumber(const uint8_t* y, int stride, int width, int height) {
  return static_cast<int>(ReadRow(y, stride, width, height, 0, 'F', kFrameDigits));
}

int64_t ReadTimeMs(const uint8_t* y, int stride, int width, int height) {
  return ReadRow(y, stride, width, height, 1, 'T', kTimeDigits);
}

}  // namespace trevolo
