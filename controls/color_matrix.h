// 5x5 colour matrices as the skin uses them: the row vector
// (R, G, B, A, 1), each part on the 0..1 scale, times the matrix.
#pragma once

#include <array>

#include "controls/image.h"

namespace trevolo::controls {

struct ColorMatrix {
  std::array<std::array<float, 5>, 5> m{};

  static ColorMatrix identity();
  // Each colour part becomes 1.05 x part + 0.05; alpha unchanged.
  static ColorMatrix highlight();
  // Red, green and blue all become 0.3 R + 0.59 G + 0.11 B; alpha unchanged.
  static ColorMatrix grey();

  // Results outside 0..1 are clamped, then rounded to the nearest 8-bit step.
  Color apply(Color color) const;
};

}  // namespace trevolo::controls
