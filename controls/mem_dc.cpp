#include "controls/mem_dc.h"

namespace trevolo::controls {

namespace {

Rect coveredRect(const Canvas& target, const Rect& rect) {
  return rect.allZero() ? target.clipBox() : rect;
}

}  // namespace

CMemDC::CMemDC(Canvas& target, const Rect& rect, bool copyFirst)
    : Canvas(coveredRect(target, rect).width(), coveredRect(target, rect).height()),
      m_target(target),
      m_rect(coveredRect(target, rect)) {
  setOrigin(Point{m_rect.left, m_rect.top});
  if (copyFirst) {
    copy(m_rect.left, m_rect.top, m_rect.width(), m_rect.height(), target, m_rect.left,
         m_rect.top);
  }
}

CMemDC::~CMemDC() {
  m_target.copy(m_rect.left, m_rect.top, m_rect.width(), m_rect.height(), *this, m_rect.left,
                m_rect.top);
}

}  // namespace trevolo::controls
