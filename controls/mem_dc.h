// Off-screen drawing: a canvas the size of a rectangle of the target,
// addressed in the target's coordinates. When the object goes out of scope
// the finished picture is copied onto the target in one step, so a control
// never shows a half-drawn state.
#pragma once

#include "controls/canvas.h"

namespace trevolo::controls {

class CMemDC : public Canvas {
 public:
  // `rect` in the target's logical coordinates; all four zero means the
  // target's clip box. With copyFirst the drawing starts from the target's
  // pixels; without it the owner is expected to draw every pixel (the
  // canvas starts opaque black).
  CMemDC(Canvas& target, const Rect& rect = Rect{}, bool copyFirst = false);
  ~CMemDC() override;

  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;

  // The area covered, in the target's logical coordinates.
  const Rect& rect() const { return m_rect; }

 private:
  Canvas& m_target;
  Rect m_rect;
};

}  // namespace trevolo::controls
