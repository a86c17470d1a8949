// A tiny fixed bitmap font for the control tests: every character is a
// 4x6 cell; a space has no ink, any other character a 2x4 block of full
// ink at (1, 1) in its cell.
#pragma once

#include <string_view>

#include "controls/glyphs.h"

namespace trevolo::controls::testing {

class FixedFont : public GlyphSource {
 public:
  static constexpr int kCellWidth = 4;
  static constexpr int kCellHeight = 6;

  Size measure(std::string_view utf8) const override {
    return Size{kCellWidth * static_cast<int>(characters(utf8)), kCellHeight};
  }

  GlyphBitmap render(std::string_view utf8) const override {
    const Size size = measure(utf8);
    GlyphBitmap glyphs{size.width, size.height,
                       std::vector<uint8_t>(static_cast<size_t>(size.width * size.height), 0)};
    int cell = 0;
    for (unsigned char c : utf8) {
      if ((c & 0xC0) == 0x80) continue;  // continuation byte of a UTF-8 sequence
      if (c != ' ') inkCell(glyphs, cell);
      ++cell;
    }
    return glyphs;
  }

 private:
  static size_t characters(std::string_view utf8) {
    size_t n = 0;
    for (unsigned char c : utf8) n += (c & 0xC0) != 0x80 ? 1 : 0;
    return n;
  }

  static void inkCell(GlyphBitmap& glyphs, int cell) {
    for (int y = 1; y < 5; ++y) {
      for (int x = 1; x < 3; ++x) {
        glyphs.coverage[static_cast<size_t>(y * glyphs.width + cell * kCellWidth + x)] = 255;
      }
    }
  }
};

}  // namespace trevolo::controls::testing
