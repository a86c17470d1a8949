// The geometry every layer shares: points, sizes and half-open rectangles
// in pixels. Windows, controls and the video area all speak this one type.
#pragma once

#include <algorithm>

namespace trevolo {

struct Point {
  int x = 0;
  int y = 0;
  friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
  int width = 0;
  int height = 0;
  friend bool operator==(const Size&, const Size&) = default;
};

// Half-open rectangle: covers left <= x < right, top <= y < bottom.
struct Rect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;

  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool empty() const { return right <= left || bottom <= top; }
  bool allZero() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
  Rect offset(int dx, int dy) const { return Rect{left + dx, top + dy, right + dx, bottom + dy}; }
  // The common part of both; empty (all zero) when they do not meet.
  Rect intersect(const Rect& other) const {
    const Rect r{std::max(left, other.left), std::max(top, other.top),
                 std::min(right, other.right), std::min(bottom, other.bottom)};
    return r.empty() ? Rect{} : r;
  }

  friend bool operator==(const Rect&, const Rect&) = default;
};

// Rectangle from a corner and a size.
constexpr Rect rectAt(int x, int y, int width, int height) {
  return Rect{x, y, x + width, y + height};
}

}  // namespace trevolo
