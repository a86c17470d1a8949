// The player's font: a TrueType face found through fontconfig, rendered
// with SDL2_ttf. The face is chosen to cover Chinese as well as Latin text
// (the snapshot notice is Chinese).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/geometry.h"

typedef struct _TTF_Font TTF_Font;

namespace trevolo::platform {

// 8-bit coverage of a rendered text, 0 = background, 255 = full ink;
// `width` bytes per row.
struct TextCoverage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> coverage;
};

class TtfFont {
 public:
  // Opens the face at `path` at `pixelSize`; null (with the reason in
  // `error`) when it cannot be opened.
  static std::unique_ptr<TtfFont> open(const std::string& path, int pixelSize,
                                         std::string* error);
  // Opens the face fontconfig picks for sans-serif Chinese text covering
  // `sample`.
  static std::unique_ptr<TtfFont> openDefault(int pixelSize, std::string* error);
  // The file fontconfig picks for `sample`; empty when it finds none.
  static std::string findFontFile(const std::string& sample);

  // Releases SDL_ttf, and fontconfig unless another toolkit still uses it,
  // once every font is closed (at exit).
  static void shutdown(bool releaseFontconfig = true);

  ~TtfFont();
  TtfFont(const TtfFont&) = delete;
  TtfFont& operator=(const TtfFont&) = delete;

  // The size of the text's cell box: advance width and line height.
  Size measure(std::string_view utf8) const;
  // Coverage of the whole cell box, of exactly measure(utf8)'s size.
  TextCoverage render(std::string_view utf8) const;

 private:
  explicit TtfFont(TTF_Font* font) : m_font(font) {}
  TTF_Font* m_font;
};

}  // namespace trevolo::platform
