#include "controls/image.h"

#include <algorithm>
#include <cstring>

namespace trevolo::controls {

Image::Image(int width, int height, Color fill) {
  if (width <= 0 || height <= 0) return;
  m_width = width;
  m_height = height;
  m_stride = static_cast<size_t>(width) * kBytesPerPixel;
  m_pixels.resize(m_stride * static_cast<size_t>(height));
  this->fill(fill);
}

Image Image::fromRgba(int width, int height, const uint8_t* src, size_t srcStride) {
  Image image(width, height);
  if (image.empty() || src == nullptr) return image;
  for (int y = 0; y < height; ++y) {
    std::memcpy(image.row(y), src + static_cast<size_t>(y) * srcStride, image.m_stride);
  }
  return image;
}

Color Image::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return Color{0, 0, 0, 0};
  const uint8_t* p = row(y) + static_cast<size_t>(x) * kBytesPerPixel;
  return Color{p[0], p[1], p[2], p[3]};
}

void Image::setPixel(int x, int y, Color color) {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  uint8_t* p = row(y) + static_cast<size_t>(x) * kBytesPerPixel;
  p[0] = color.r;
  p[1] = color.g;
  p[2] = color.b;
  p[3] = color.a;
}

void Image::fill(Color color) {
  for (int y = 0; y < m_height; ++y) {
    for (int x = 0; x < m_width; ++x) setPixel(x, y, color);
  }
}

Mask::Mask(int width, int height) {
  if (width <= 0 || height <= 0) return;
  m_width = width;
  m_height = height;
  m_bits.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
}

Mask Mask::fromColorKey(const Image& image, Color key) {
  Mask mask(image.width(), image.height());
  for (int y = 0; y < mask.m_height; ++y) {
    for (int x = 0; x < mask.m_width; ++x) {
      const Color c = image.pixel(x, y);
      mask.setBit(x, y, c.r == key.r && c.g == key.g && c.b == key.b);
    }
  }
  return mask;
}

bool Mask::bit(int x, int y) const {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return true;
  return m_bits[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)] != 0;
}

void Mask::setBit(int x, int y, bool value) {
  if (x < 0 || y < 0 || x >= m_width || y >= m_height) return;
  m_bits[static_cast<size_t>(y) * static_cast<size_t>(m_width) + static_cast<size_t>(x)] = value ? 1 : 0;
}

}  // namespace trevolo::controls
