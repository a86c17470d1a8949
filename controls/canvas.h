// A software device context: an RGBA image that controls draw into, with a
// logical origin and a clip box. Every operation takes logical
// coordinates; logical (origin.x, origin.y) is the image's pixel (0, 0).
// Drawing is clipped to the clip box and to the image.
#pragma once

#include <optional>
#include <string_view>

#include "controls/color_matrix.h"
#include "controls/glyphs.h"
#include "controls/image.h"

namespace trevolo::controls {

class Canvas {
 public:
  Canvas() = default;
  // A width x height canvas, opaque black.
  Canvas(int width, int height);
  explicit Canvas(Image image);
  virtual ~Canvas() = default;

  Canvas(const Canvas&) = default;
  Canvas& operator=(const Canvas&) = default;
  Canvas(Canvas&&) = default;
  Canvas& operator=(Canvas&&) = default;

  Image& image() { return m_image; }
  const Image& image() const { return m_image; }
  int width() const { return m_image.width(); }
  int height() const { return m_image.height(); }

  // Logical coordinate of the image's top-left pixel.
  Point origin() const { return m_origin; }
  void setOrigin(Point origin) { m_origin = origin; }
  // The drawable area in logical coordinates: the clip rectangle, if one is
  // set, within the image.
  Rect clipBox() const;
  void setClipRect(const Rect& logical) { m_clip = logical; }
  void clearClipRect() { m_clip.reset(); }
  const std::optional<Rect>& clipRect() const { return m_clip; }

  // Outside the image pixel() answers transparent black.
  Color pixel(int x, int y) const;
  void setPixel(int x, int y, Color color);
  void fillRect(const Rect& rect, Color color);

  // Plain copy of w x h pixels from `src` at (sx, sy) to (x, y).
  void copy(int x, int y, int w, int h, const Image& src, int sx, int sy);
  // The same from another canvas; (sx, sy) are in its logical coordinates.
  void copy(int x, int y, int w, int h, const Canvas& src, int sx, int sy);
  // Copies `srcRect` of `src` scaled to `dst` (nearest pixel).
  void stretchCopy(const Rect& dst, const Image& src, const Rect& srcRect);
  // Masked transparent copy: the mask is ANDed onto the destination (set
  // bits keep it, clear bits make it black), then the image is ORed on top.
  // Images whose masked-out pixels are black thus show the destination there.
  // The mask is addressed like `src`, from (sx, sy).
  void maskedCopy(int x, int y, int w, int h, const Image& src, const Mask& mask, int sx, int sy);
  // Copies every pixel of `src` that does not have `transparent`'s red,
  // green and blue.
  void transparentCopy(int x, int y, int w, int h, const Image& src, int sx, int sy,
                       Color transparent);

  // Dotted one-pixel frame just inside `rect`, drawn by inverting red, green
  // and blue of every other pixel; drawing it twice restores the pixels.
  void xorFocusRect(const Rect& rect);

  // Draws the text with its cell box's top-left at (x, y). With a
  // background, the cell box is filled with it first (opaque mode); without
  // one, only the ink is drawn. Returns the cell box's size.
  Size drawText(int x, int y, std::string_view utf8, const GlyphSource& font, Color text,
                std::optional<Color> background);

  // Alpha-blends the whole image with its top-left at (x, y).
  void drawImage(int x, int y, const Image& src);
  // Alpha-blends `srcRect` of `src` into `dst` (scaled to the nearest pixel
  // when the sizes differ), each source pixel first run through the matrix
  // when one is given.
  void drawImage(const Rect& dst, const Image& src, const Rect& srcRect,
                 const ColorMatrix* matrix = nullptr);

 private:
  // Clips a w x h copy to (x, y) from a source whose valid area is
  // `srcBounds`; false when nothing is left. Adjusts all the arguments.
  bool clipCopy(int& x, int& y, int& w, int& h, int& sx, int& sy, const Rect& srcBounds) const;
  uint8_t* at(int x, int y) {
    return m_image.row(y - m_origin.y) + static_cast<size_t>(x - m_origin.x) * Image::kBytesPerPixel;
  }

  Image m_image;
  Point m_origin;
  std::optional<Rect> m_clip;  // logical; none = the whole image
};

}  // namespace trevolo::controls
