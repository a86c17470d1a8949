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

void CLabel::setAlignment(TextAlign align, bool centreVertically) {
  if (align == m_align && centreVertically == m_centreVertically) return;
  m_align = align;
  m_centreVertically = centreVertically;
  m_needsPaint = true;
}

void CLabel::paint(Canvas& canvas, const GlyphSource& font) {
  m_needsPaint = false;
  if (!m_visible || m_rect.empty() || m_text.empty()) return;
  const std::optional<Rect> savedClip = canvas.clipRect();
  canvas.setClipRect(savedClip ? savedClip->intersect(m_rect) : m_rect);
  const Size text = font.measure(m_text);
  int x = m_rect.left;
  int y = m_rect.top;
  if (m_align == TextAlign::Right) x = m_rect.right - text.width;
  if (m_centreVertically) y = m_rect.top + (m_rect.bottom - m_rect.top - text.height) / 2;
  canvas.drawText(x, y, m_text, font, m_colors.text, m_colors.background);
  if (savedClip) {
    canvas.setClipRect(*savedClip);
  } else {
    canvas.clearClipRect();
  }
}

}  // namespace trevolo::controls
