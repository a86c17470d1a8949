#include "controls/slider_range.h"

#include <algorithm>

namespace trevolo::controls {

void SliderRange::setRange(int minimum, int maximum) {
  m_minimum = minimum;
  m_maximum = maximum;
}

int SliderRange::clamp(int64_t value) const {
  // Wide arithmetic: callers add page sizes to positions near the int limits.
  value = std::min<int64_t>(value, m_maximum);
  value = std::max<int64_t>(value, m_minimum);
  return static_cast<int>(value);
}

bool SliderRange::setPosition(int64_t value) {
  const int clamped = clamp(value);
  if (clamped == m_position) return false;
  m_position = clamped;
  return true;
}

}  // namespace trevolo::controls
