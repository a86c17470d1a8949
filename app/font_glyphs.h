// The controls' font: the platform's TrueType face seen through the
// controls' glyph interface.
#pragma once

#include <memory>
#include <string>

#include "controls/glyphs.h"
#include "platform/ttf_font.h"

namespace trevolo::app {

class FontGlyphs : public controls::GlyphSource {
 public:
  // The face fontconfig picks for Chinese and Latin text at `pixelSize`;
  // null with the reason in `error` when there is none.
  static std::unique_ptr<FontGlyphs> openDefault(int pixelSize, std::string* error) {
    std::unique_ptr<platform::TtfFont> font = platform::TtfFont::openDefault(pixelSize, error);
    if (!font) return nullptr;
    return std::unique_ptr<FontGlyphs>(new FontGlyphs(std::move(font)));
  }

  controls::Size measure(std::string_view utf8) const override { return m_font->measure(utf8); }
  controls::GlyphBitmap render(std::string_view utf8) const override {
    platform::TextCoverage text = m_font->render(utf8);
    return controls::GlyphBitmap{text.width, text.height, std::move(text.coverage)};
  }

 private:
  explicit FontGlyphs(std::unique_ptr<platform::TtfFont> font) : m_font(std::move(font)) {}
  std::unique_ptr<platform::TtfFont> m_font;
};

}  // namespace trevolo::app
