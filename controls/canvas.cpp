#include "controls/canvas.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace trevolo::controls {

namespace {

constexpr int kOpaque = 255;

// Source-over: `src` with its alpha on top of `dst`.
Color blend(Color dst, Color src) {
  if (src.a == 0) return dst;
  if (src.a == kOpaque) return src;
  const int a = src.a;
  const int inv = kOpaque - a;
  auto mix = [&](int s, int d) { return static_cast<uint8_t>((s * a + d * inv + 127) / kOpaque); };
  return Color{mix(src.r, dst.r), mix(src.g, dst.g), mix(src.b, dst.b),
               static_cast<uint8_t>(a + (dst.a * inv + 127) / kOpaque)};
}

// `ink` laid over `dst` with 8-bit coverage; the destination keeps its alpha.
Color cover(Color dst, Color ink, int coverage) {
  Color c = blend(dst, Color{ink.r, ink.g, ink.b, static_cast<uint8_t>(coverage)});
  c.a = dst.a;
  return c;
}

}  // namespace

Canvas::Canvas(int width, int height) : m_image(width, height, rgb(0, 0, 0)) {}

Canvas::Canvas(Image image) : m_image(std::move(image)) {}

Rect Canvas::clipBox() const {
  const Rect whole = rectAt(m_origin.x, m_origin.y, m_image.width(), m_image.height());
  return m_clip ? whole.intersect(*m_clip) : whole;
}

Color Canvas::pixel(int x, int y) const {
  return m_image.pixel(x - m_origin.x, y - m_origin.y);
}

void Canvas::setPixel(int x, int y, Color color) {
  if (clipBox().contains(x, y)) m_image.setPixel(x - m_origin.x, y - m_origin.y, color);
}

void Canvas::fillRect(const Rect& rect, Color color) {
  const Rect r = rect.intersect(clipBox());
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) m_image.setPixel(x - m_origin.x, y - m_origin.y, color);
  }
}

bool Canvas::clipCopy(int& x, int& y, int& w, int& h, int& sx, int& sy,
                      const Rect& srcBounds) const {
  const Rect clip = clipBox();
  const int trimX = std::max({0, clip.left - x, srcBounds.left - sx});
  const int trimY = std::max({0, clip.top - y, srcBounds.top - sy});
  x += trimX;
  sx += trimX;
  w -= trimX;
  y += trimY;
  sy += trimY;
  h -= trimY;
  w = std::min({w, clip.right - x, srcBounds.right - sx});
  h = std::min({h, clip.bottom - y, srcBounds.bottom - sy});
  return w > 0 && h > 0;
}

void Canvas::copy(int x, int y, int w, int h, const Image& src, int sx, int sy) {
  if (&src == &m_image) {
    // Overlapping copy within one image: read from a snapshot.
    const Image snapshot = src;
    copy(x, y, w, h, snapshot, sx, sy);
    return;
  }
  if (!clipCopy(x, y, w, h, sx, sy, src.bounds())) return;
  const size_t bytes = static_cast<size_t>(w) * Image::kBytesPerPixel;
  for (int row = 0; row < h; ++row) {
    const uint8_t* from = src.row(sy + row) + static_cast<size_t>(sx) * Image::kBytesPerPixel;
    std::memcpy(at(x, y + row), from, bytes);
  }
}

void Canvas::copy(int x, int y, int w, int h, const Canvas& src, int sx, int sy) {
  copy(x, y, w, h, src.m_image, sx - src.m_origin.x, sy - src.m_origin.y);
}

void Canvas::stretchCopy(const Rect& dst, const Image& src, const Rect& srcRect) {
  if (dst.empty() || srcRect.empty()) return;
  const Image source = src;  // the source may be this canvas's own image
  const Rect r = dst.intersect(clipBox());
  for (int y = r.top; y < r.bottom; ++y) {
    const int syy = srcRect.top + (y - dst.top) * srcRect.height() / dst.height();
    for (int x = r.left; x < r.right; ++x) {
      const int sxx = srcRect.left + (x - dst.left) * srcRect.width() / dst.width();
      if (source.bounds().contains(sxx, syy)) setPixel(x, y, source.pixel(sxx, syy));
    }
  }
}

void Canvas::maskedCopy(int x, int y, int w, int h, const Image& src, const Mask& mask, int sx,
                        int sy) {
  if (!clipCopy(x, y, w, h, sx, sy, src.bounds())) return;
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      uint8_t* d = at(x + col, y + row);
      const Color s = src.pixel(sx + col, sy + row);
      const uint8_t keep = mask.bit(sx + col, sy + row) ? 0xFF : 0x00;
      d[0] = static_cast<uint8_t>((d[0] & keep) | s.r);
      d[1] = static_cast<uint8_t>((d[1] & keep) | s.g);
      d[2] = static_cast<uint8_t>((d[2] & keep) | s.b);
    }
  }
}

void Canvas::transparentCopy(int x, int y, int w, int h, const Image& src, int sx, int sy,
                             Color transparent) {
  if (!clipCopy(x, y, w, h, sx, sy, src.bounds())) return;
  for (int row = 0; row < h; ++row) {
    for (int col = 0; col < w; ++col) {
      const Color s = src.pixel(sx + col, sy + row);
      if (s.r == transparent.r && s.g == transparent.g && s.b == transparent.b) continue;
      m_image.setPixel(x + col - m_origin.x, y + row - m_origin.y, s);
    }
  }
}

void Canvas::xorFocusRect(const Rect& rect) {
  if (rect.empty()) return;
  const Rect clip = clipBox();
  auto invert = [&](int x, int y) {
    if ((x + y) % 2 != 0 || !clip.contains(x, y)) return;
    uint8_t* d = at(x, y);
    for (int i = 0; i < 3; ++i) d[i] = static_cast<uint8_t>(d[i] ^ 0xFF);
  };
  // Each frame pixel exactly once, so a second call undoes the first.
  for (int x = rect.left; x < rect.right; ++x) {
    invert(x, rect.top);
    if (rect.height() > 1) invert(x, rect.bottom - 1);
  }
  for (int y = rect.top + 1; y < rect.bottom - 1; ++y) {
    invert(rect.left, y);
    if (rect.width() > 1) invert(rect.right - 1, y);
  }
}

Size Canvas::drawText(int x, int y, std::string_view utf8, const GlyphSource& font, Color text,
                      std::optional<Color> background) {
  const Size cell = font.measure(utf8);
  if (background) fillRect(rectAt(x, y, cell.width, cell.height), *background);
  const GlyphBitmap glyphs = font.render(utf8);
  const size_t needed = static_cast<size_t>(std::max(0, glyphs.width)) *
                        static_cast<size_t>(std::max(0, glyphs.height));
  if (glyphs.coverage.size() < needed) return cell;  // a broken font draws no ink
  const Rect clip = clipBox();
  for (int gy = 0; gy < glyphs.height; ++gy) {
    for (int gx = 0; gx < glyphs.width; ++gx) {
      const uint8_t c = glyphs.at(gx, gy);
      if (c == 0 || !clip.contains(x + gx, y + gy)) continue;
      m_image.setPixel(x + gx - m_origin.x, y + gy - m_origin.y,
                       cover(pixel(x + gx, y + gy), text, c));
    }
  }
  return cell;
}

void Canvas::drawImage(int x, int y, const Image& src) {
  drawImage(rectAt(x, y, src.width(), src.height()), src, src.bounds());
}

void Canvas::drawImage(const Rect& dst, const Image& src, const Rect& srcRect,
                       const ColorMatrix* matrix) {
  if (dst.empty() || srcRect.empty()) return;
  const Rect r = dst.intersect(clipBox());
  for (int y = r.top; y < r.bottom; ++y) {
    const int syy = srcRect.top + (y - dst.top) * srcRect.height() / dst.height();
    for (int x = r.left; x < r.right; ++x) {
      const int sxx = srcRect.left + (x - dst.left) * srcRect.width() / dst.width();
      if (!src.bounds().contains(sxx, syy)) continue;
      Color s = src.pixel(sxx, syy);
      if (matrix != nullptr) s = matrix->apply(s);
      m_image.setPixel(x - m_origin.x, y - m_origin.y, blend(pixel(x, y), s));
    }
  }
}

}  // namespace trevolo::controls
