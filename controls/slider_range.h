// A slider's value model: range, position and page size, with the clamping
// rules every change goes through. No geometry, no painting.
#pragma once

#include <cstdint>

namespace trevolo::controls {

class SliderRange {
 public:
  int minimum() const { return m_minimum; }
  int maximum() const { return m_maximum; }
  int position() const { return m_position; }
  int pageSize() const { return m_pageSize; }

  // Stores both ends. The position is not re-clamped until it is next set.
  // A range with minimum >= maximum is accepted; the slider then treats it
  // as a single point at the minimum.
  void setRange(int minimum, int maximum);
  // Position = value clamped to the maximum, then to the minimum (so the
  // minimum wins when the range is inverted). False when nothing changed.
  bool setPosition(int64_t value);
  void setPageSize(int size) { m_pageSize = size; }

  // The value clamped the same way setPosition() clamps it.
  int clamp(int64_t value) const;
  // True when the range spans more than one value.
  bool hasSpan() const { return m_maximum > m_minimum; }

 private:
  int m_maximum = 100;
  int m_minimum = 0;
  int m_position = 0;
  int m_pageSize = 20;  // step of Page Up / Page Down
};

}  // namespace trevolo::controls
