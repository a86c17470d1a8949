// The controls' font: a TrueType face found through fontconfig, rendered
// with SDL2_ttf. The face is chosen to cover Chinese as well as Latin text
// (the snapshot notice is Chinese).
#pragma once

#include <memory>
#include <string>

#include "controls/glyphs.h"

typedef struct _TTF_Font TTF_Font;

namespace trevolo::platform {

class TtfGlyphs : public controls::GlyphSource {
 public:
  // Opens the face at `path` at `pixelSize`; null (with the reason in
  // `error`) when it cannot be opened.
  static std::unique_ptr<TtfGlyphs> open(const std::string& path, int pixelSize,
                                         std::string* error);
  // Opens the face fontconfig picks for sans-serif Chinese text covering
  // `sample`.
  static std::unique_ptr<TtfGlyphs> openDefault(int pixelSize, std::string* error);
  // The file fontconfig picks for `sample`; empty when it finds none.
  static std::string findFontFile(const std::string& sample);

  // Releases SDL_ttf and fontconfig once every font is closed (at exit).
  static void shutdown();

  ~TtfGlyphs() override;
  TtfGlyphs(const TtfGlyphs&) = delete;
  TtfGlyphs& operator=(const TtfGlyphs&) = delete;

  controls::Size measure(std::string_view utf8) const override;
  controls::GlyphBitmap render(std::string_view utf8) const override;

 private:
  explicit TtfGlyphs(TTF_Font* font) : m_font(font) {}
  TTF_Font* m_font;
};

}  // namespace trevolo::platform
