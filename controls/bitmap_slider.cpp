#include "controls/bitmap_slider.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace trevolo::controls {

namespace {

// Truncates toward zero, saturating at the int limits.
int truncateToInt(double value) {
  constexpr double kLow = std::numeric_limits<int>::min();
  constexpr double kHigh = std::numeric_limits<int>::max();
  return static_cast<int>(std::trunc(std::clamp(value, kLow, kHigh)));
}

}  // namespace

int SliderTrack::positionToPixel(const SliderRange& range, int position) const {
  double fraction = 0.0;
  if (range.hasSpan()) {
    fraction = (static_cast<double>(position) - range.minimum()) /
               (static_cast<double>(range.maximum()) - range.minimum());
  }
  return truncateToInt(fraction * travel()) + marginLow + thumbLength / 2;
}

int64_t SliderTrack::pixelToPosition(const SliderRange& range, int pixel) const {
  if (!range.hasSpan() || travel() <= 0) return range.minimum();
  const double span = static_cast<double>(range.maximum()) - range.minimum();
  const double along = static_cast<double>(pixel) - thumbLength / 2 - marginLow;
  const double value = range.minimum() + along / travel() * span;
  return static_cast<int64_t>(std::trunc(std::clamp(value, -9.0e18, 9.0e18)));
}

int SliderTrack::clampPixel(int pixel) const {
  const int low = marginLow + thumbLength / 2;
  if (vertical) {
    // The low end wins when the thumb does not fit.
    pixel = std::min(pixel, length - thumbLength / 2 - marginHigh);
    return std::max(pixel, low);
  }
  pixel = std::max(pixel, low);
  return std::min(pixel, length - marginHigh - thumbLength / 2);
}

CBitmapSlider::CBitmapSlider(MessageTarget* parent, int controlId)
    : m_parent(parent), m_controlId(controlId) {}

SliderTrack CBitmapSlider::track() const {
  if (m_vertical) return SliderTrack{m_height, m_thumbHeight, m_marginTop, m_marginBottom, true};
  return SliderTrack{m_width, m_thumbWidth, m_marginLeft, m_marginRight, false};
}

int CBitmapSlider::thumbCentre() const {
  return track().positionToPixel(m_range, m_range.position());
}

void CBitmapSlider::post(uint32_t message) {
  if (m_parent == nullptr) return;
  m_parent->post(message, static_cast<uintptr_t>(m_controlId),
                 static_cast<intptr_t>(m_range.position()));
}

int CBitmapSlider::SetChannelBitmaps(const Image& unfilled, const Image& filled) {
  m_channel = Image();
  m_channelFilled = Image();
  m_channelLoaded = false;
  if (unfilled.empty() || filled.empty()) return 0;
  m_channel = unfilled;
  m_channelFilled = filled;
  m_width = unfilled.width();
  m_height = unfilled.height();
  m_clientRect = Rect{0, 0, m_width, m_height};
  m_channelLoaded = true;
  invalidate();
  return 1;
}

void CBitmapSlider::SetThumbBitmap(const Image& thumb) {
  if (thumb.empty()) return;
  const Color key = thumb.pixel(0, 0);
  m_thumbMask = Mask::fromColorKey(thumb, key);
  m_thumb = thumb;
  // Transparent pixels become black so that ORing the thumb over the
  // masked destination leaves the destination there.
  for (int y = 0; y < m_thumb.height(); ++y) {
    for (int x = 0; x < m_thumb.width(); ++x) {
      if (m_thumbMask.bit(x, y)) m_thumb.setPixel(x, y, rgb(0, 0, 0));
    }
  }
  m_thumbWidth = thumb.width();
  m_thumbHeight = thumb.height();
  if (!m_channelLoaded) {
    m_width = m_thumbWidth;
    m_height = m_thumbHeight;
    m_clientRect = Rect{0, 0, m_width, m_height};
  }
  m_thumbLoaded = true;
  invalidate();
}

void CBitmapSlider::SetRange(int minimum, int maximum) {
  if (minimum == m_range.minimum() && maximum == m_range.maximum()) return;
  m_range.setRange(minimum, maximum);
  invalidate();
}

void CBitmapSlider::SetPos(int position) {
  if (m_range.setPosition(position)) invalidate();
}

void CBitmapSlider::SetMargins(int left, int top, int right, int bottom) {
  m_marginLeft = left;
  m_marginTop = top;
  m_marginRight = right;
  m_marginBottom = bottom;
  invalidate();
}

void CBitmapSlider::SetVertical(bool vertical) {
  if (vertical == m_vertical) return;
  m_vertical = vertical;
  invalidate();
}

void CBitmapSlider::ShowFocusRect(bool show) {
  if (show == m_showFocusRect) return;
  m_showFocusRect = show;
  invalidate();
}

void CBitmapSlider::EnableSlider(bool enable) {
  if (enable == m_enabled) return;
  m_enabled = enable;
  if (!enable && m_dragging) {
    m_dragging = false;
    m_capture = false;
  }
  invalidate();
}

void CBitmapSlider::onLButtonDown(int x, int y) {
  if (!m_enabled) return;
  m_capture = true;
  onSetFocus();
  m_dragging = true;
  const SliderTrack t = track();
  const int d = (m_vertical ? y : x) - thumbCentre();
  // Outside the thumb the centre jumps to the pointer; on it, the grip
  // point stays under the pointer.
  m_dragOffset = std::abs(d) > t.thumbLength / 2 ? 0 : d;
  onMouseMove(x, y);
  invalidate();
}

void CBitmapSlider::onMouseMove(int x, int y) {
  if (!m_dragging || !m_enabled) return;
  const SliderTrack t = track();
  const int p = t.clampPixel((m_vertical ? y : x) - m_dragOffset);
  if (p == thumbCentre()) return;
  m_range.setPosition(m_range.clamp(t.pixelToPosition(m_range, p)));
  invalidate();
  post(WM_SLIDER_MOVING);
}

void CBitmapSlider::onLButtonUp(int /*x*/, int /*y*/) {
  // Only the end of a drag that started here reports: a button pressed
  // elsewhere and released over the slider must not seek.
  if (!m_enabled || !m_dragging) return;
  m_capture = false;
  m_dragging = false;
  invalidate();
  post(WM_SLIDER_MOVED);
}

bool CBitmapSlider::onKeyDown(int key) {
  if (!m_enabled) return true;
  const int64_t pos = m_range.position();
  int64_t target = 0;
  switch (key) {
    case kKeyPageUp: target = pos - m_range.pageSize(); break;
    case kKeyPageDown: target = pos + m_range.pageSize(); break;
    case kKeyEnd: target = m_range.maximum(); break;
    case kKeyHome: target = m_range.minimum(); break;
    case kKeyLeft:
    case kKeyUp: target = pos - 1; break;
    case kKeyRight:
    case kKeyDown: target = pos + 1; break;
    default: return false;
  }
  if (m_range.setPosition(target)) invalidate();
  post(WM_SLIDER_MOVED);
  return true;
}

void CBitmapSlider::onSetFocus() {
  if (m_hasFocus) return;
  m_hasFocus = true;
  invalidate();
}

void CBitmapSlider::onKillFocus() {
  if (!m_hasFocus) return;
  m_hasFocus = false;
  invalidate();
}

}  // namespace trevolo::controls
