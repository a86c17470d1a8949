// The font behind the controls' text. The player's real fonts live in the
// platform layer; the controls see only this: how big a string is, and its
// coverage bitmap. Strings are UTF-8.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "controls/image.h"

namespace trevolo::controls {

// 8-bit coverage, 0 = background, 255 = full ink; `width` bytes per row.
struct GlyphBitmap {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> coverage;

  uint8_t at(int x, int y) const {
    return coverage[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

class GlyphSource {
 public:
  virtual ~GlyphSource() = default;
  // The size of the text's cell box: advance width and line height.
  virtual Size measure(std::string_view utf8) const = 0;
  // Coverage of the whole cell box, of exactly measure(utf8)'s size.
  virtual GlyphBitmap render(std::string_view utf8) const = 0;
};

}  // namespace trevolo::controls
