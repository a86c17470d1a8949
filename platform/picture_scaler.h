// PictureScaler: draws the YUV picture of a surface's memory into 32-bit
// pixels (a window's own surface) with libswscale, straight into the
// destination rectangle. Internal to the display layer; FFmpeg stays out of
// this header.
#pragma once

#include <cstdint>
#include <vector>

#include "base/geometry.h"
#include "platform/display_surface.h"

struct SwsContext;

namespace trevolo::platform {

struct SurfaceMemory;

// 32-bit pixels, rows `pitch` bytes apart; `pitch` is a multiple of 4.
struct PixelTarget {
  enum class Order {
    Bgra,  // bytes B, G, R, A: SDL's ARGB8888 and XRGB8888 (RGB888)
    Rgba,  // bytes R, G, B, A: SDL's ABGR8888 and XBGR8888 (BGR888)
  };
  uint8_t* pixels = nullptr;
  int32_t pitch = 0;  // bytes
  int width = 0;      // pixels
  int height = 0;
  Order order = Order::Bgra;
};

class PictureScaler {
 public:
  PictureScaler() = default;
  ~PictureScaler();
  PictureScaler(const PictureScaler&) = delete;
  PictureScaler& operator=(const PictureScaler&) = delete;

  // The surface formats it draws: the YUV ones.
  static bool accepts(SurfaceFormat format);

  // Scales the picture in `memory` (the caller holds its lock) into `rect`
  // of `target` with linear filtering, clipped to the target. Colours: BT.601
  // below 720 lines, BT.709 from 720, limited-range input, full-range output.
  // No pixel outside the rectangle changes. False (target untouched) when
  // the format is not accepted or libswscale refuses the sizes.
  bool draw(const SurfaceMemory& memory, const Rect& rect, const PixelTarget& target);

 private:
  bool prepare(const SurfaceMemory& memory, const Rect& rect, PixelTarget::Order order);
  bool prepareResize(const SurfaceMemory& memory, const Rect& rect);
  void scale(const SurfaceMemory& memory, uint8_t* pixels, int32_t pitch);
  bool drawDirect(const SurfaceMemory& memory, const Rect& rect, const PixelTarget& target);
  void drawClipped(const SurfaceMemory& memory, const Rect& rect, const PixelTarget& target);

  // Colour conversion into the target (scaling too, when m_resize is null).
  SwsContext* m_context = nullptr;
  // 4:2:0 pictures drawn at another size are scaled first, still 4:2:0, into
  // m_resized; m_context then converts at the rectangle's size.
  SwsContext* m_resize = nullptr;
  std::vector<uint8_t> m_resized;
  int m_resizedStride = 0;  // luma; chroma rows are half as long
  int m_resizedRows = 0;
  // Bytes after each destination row end that the scaler may overwrite; kept
  // here between scaling and putting them back.
  std::vector<uint8_t> m_saved;
  // The whole scaled rectangle, when it cannot be written in place.
  std::vector<uint8_t> m_scratch;
};

}  // namespace trevolo::platform
