// CBitmapSlider's painting: the whole control is composed off-screen and
// copied in one step.
#include "controls/bitmap_slider.h"
#include "controls/mem_dc.h"

namespace trevolo::controls {

void CBitmapSlider::paint(Canvas& canvas) {
  m_needsPaint = false;
  if (m_clientRect.empty()) return;
  // Without a channel the parent's picture is the background, so the
  // composition starts from it, and the focus frame and the thumb must be
  // taken off it again before they are redrawn.
  const bool seeThrough = !m_channelLoaded;
  CMemDC dc(canvas, m_clientRect, seeThrough);
  if (m_focusRectDrawn && seeThrough) {
    dc.xorFocusRect(m_clientRect);
    m_focusRectDrawn = false;
  }
  const int centre = thumbCentre();
  if (m_channelLoaded) paintChannel(dc, centre);
  if (m_savedThumbAt.x != -1) {
    dc.copy(m_savedThumbAt.x, m_savedThumbAt.y, m_savedBackground.width(),
            m_savedBackground.height(), m_savedBackground, 0, 0);
    m_savedThumbAt = Point{-1, -1};
  }
  if (m_thumbLoaded && m_enabled) paintThumb(dc, centre);
  if (m_showFocusRect && m_hasFocus && m_enabled) {
    dc.xorFocusRect(m_clientRect);
    m_focusRectDrawn = true;
  } else if (!seeThrough) {
    m_focusRectDrawn = false;  // the opaque channel has painted over it
  }
}

void CBitmapSlider::paintChannel(Canvas& dc, int centre) {
  if (!m_enabled) {
    dc.copy(0, 0, m_width, m_height, m_channel, 0, 0);
    return;
  }
  if (m_vertical) {
    dc.copy(0, centre, m_width, m_height - centre, m_channel, 0, centre);
    dc.copy(0, 0, m_width, centre, m_channelFilled, 0, 0);
  } else {
    dc.copy(centre, 0, m_width - centre, m_height, m_channel, centre, 0);
    dc.copy(0, 0, centre, m_height, m_channelFilled, 0, 0);
  }
}

void CBitmapSlider::paintThumb(Canvas& dc, int centre) {
  const Point at = m_vertical ? Point{m_marginLeft, centre - m_thumbHeight / 2}
                              : Point{centre - m_thumbWidth / 2, m_marginTop};
  if (!m_channelLoaded) {
    m_savedBackground = Canvas(m_thumbWidth, m_thumbHeight);
    m_savedBackground.copy(0, 0, m_thumbWidth, m_thumbHeight, dc, at.x, at.y);
    m_savedThumbAt = at;
  }
  dc.maskedCopy(at.x, at.y, m_thumbWidth, m_thumbHeight, m_thumb, m_thumbMask, 0, 0);
}

}  // namespace trevolo::controls
