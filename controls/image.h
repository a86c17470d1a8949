// RGBA pixel images and the small geometry types the controls share.
// Pixels are four bytes in memory order R, G, B, A (SDL's RGBA32), rows
// `stride` bytes apart. Canvases and decoded PNG images use the same type,
// so a control can draw either onto the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/geometry.h"

namespace trevolo::controls {

struct Color {
  uint8_t r = 0;
  uint8_t g = 0;
  uint8_t b = 0;
  uint8_t a = 255;

  friend bool operator==(const Color&, const Color&) = default;
};

// An opaque colour from its red, green and blue parts.
constexpr Color rgb(uint8_t r, uint8_t g, uint8_t b) { return Color{r, g, b, 255}; }

using trevolo::Point;
using trevolo::Rect;
using trevolo::rectAt;
using trevolo::Size;

class Image {
 public:
  static constexpr int kBytesPerPixel = 4;

  Image() = default;
  // A width x height image filled with `fill`; negative sizes give an empty image.
  Image(int width, int height, Color fill = Color{0, 0, 0, 0});

  // Copies width x height pixels of RGBA rows `srcStride` bytes apart.
  static Image fromRgba(int width, int height, const uint8_t* src, size_t srcStride);

  int width() const { return m_width; }
  int height() const { return m_height; }
  Size size() const { return Size{m_width, m_height}; }
  Rect bounds() const { return Rect{0, 0, m_width, m_height}; }
  // Distance between rows in bytes.
  size_t stride() const { return m_stride; }
  bool empty() const { return m_width <= 0 || m_height <= 0; }

  uint8_t* data() { return m_pixels.data(); }
  const uint8_t* data() const { return m_pixels.data(); }
  uint8_t* row(int y) { return m_pixels.data() + static_cast<size_t>(y) * m_stride; }
  const uint8_t* row(int y) const { return m_pixels.data() + static_cast<size_t>(y) * m_stride; }

  // Outside the image: pixel() answers transparent black, setPixel() does nothing.
  Color pixel(int x, int y) const;
  void setPixel(int x, int y, Color color);
  void fill(Color color);

 private:
  int m_width = 0;
  int m_height = 0;
  size_t m_stride = 0;
  std::vector<uint8_t> m_pixels;
};

// One bit per pixel (kept as one byte each): the monochrome mask of a
// transparent draw. A set bit keeps the destination pixel, a clear bit lets
// the image's pixel replace it.
class Mask {
 public:
  Mask() = default;
  Mask(int width, int height);

  // Bits set where `image` has exactly `key`'s red, green and blue.
  static Mask fromColorKey(const Image& image, Color key);

  int width() const { return m_width; }
  int height() const { return m_height; }
  bool empty() const { return m_width <= 0 || m_height <= 0; }
  // Outside the mask a bit reads as set (the destination is kept).
  bool bit(int x, int y) const;
  void setBit(int x, int y, bool value);

 private:
  int m_width = 0;
  int m_height = 0;
  std::vector<uint8_t> m_bits;
};

}  // namespace trevolo::controls
