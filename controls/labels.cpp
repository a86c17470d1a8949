#include "controls/labels.h"

namespace trevolo::controls {

bool CLabel::setWindowText(std::string_view utf8) {
  if (utf8 == m_text) return false;
  m_text.assign(utf8);
  m_needsPaint = true;
  return true;
}

void CLabel::setRect(const Rect& rect) {
  if (rect == m_rect) return;
  m_rect = rect;
  m_needsPaint = true;
}

void CLabel::setVisible(bool visible) {
  if (visible == m_visible) return;
  m_visible = visible;
  m_needsPaint = true;
}

void CLabel::paint(Canvas& canvas, const GlyphSource& font) {
  m_needsPaint = false;
  if (!m_visible || m_rect.empty() || m_text.empty()) return;
  const std::optional<Rect> savedClip = canvas.clipRect();
  canvas.setClipRect(savedClip ? savedClip->intersect(m_rect) : m_rect);
  canvas.drawText(m_rect.left, m_rect.top, m_text, font, m_colors.text, m_colors.background);
  if (savedClip) {
    canvas.setClipRect(*savedClip);
  } else {
    canvas.clearClipRect();
  }
}

}  // namespace trevolo::controls
