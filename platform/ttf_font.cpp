#include "platform/ttf_font.h"

#include <SDL_ttf.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstring>

namespace trevolo::platform {

namespace {

// Characters the chosen face must have besides Latin: the snapshot notice.
constexpr const char* kChineseSample = "截图成功";

void addCharacters(FcCharSet* set, const std::string& utf8) {
  const auto* bytes = reinterpret_cast<const FcChar8*>(utf8.data());
  int left = static_cast<int>(utf8.size());
  while (left > 0) {
    FcChar32 ch = 0;
    const int used = FcUtf8ToUcs4(bytes, &ch, left);
    if (used <= 0) break;  // malformed UTF-8: stop at it
    FcCharSetAddChar(set, ch);
    bytes += used;
    left -= used;
  }
}

}  // namespace

std::string TtfFont::findFontFile(const std::string& sample) {
  if (!FcInit()) return {};
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:lang=zh-cn"));
  if (!pattern) return {};
  FcCharSet* chars = FcCharSetCreate();
  addCharacters(chars, sample);
  FcPatternAddCharSet(pattern, FC_CHARSET, chars);
  FcCharSetDestroy(chars);
  FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(nullptr, pattern, &result);
  std::string path;
  FcChar8* file = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    path = reinterpret_cast<const char*>(file);
  }
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  return path;
}

std::unique_ptr<TtfFont> TtfFont::open(const std::string& path, int pixelSize,
                                           std::string* error) {
  if (!TTF_WasInit() && TTF_Init() != 0) {
    if (error) *error = std::string("SDL_ttf: ") + TTF_GetError();
    return nullptr;
  }
  TTF_Font* font = TTF_OpenFont(path.c_str(), pixelSize);
  if (!font) {
    if (error) *error = path + ": " + TTF_GetError();
    return nullptr;
  }
  return std::unique_ptr<TtfFont>(new TtfFont(font));
}

std::unique_ptr<TtfFont> TtfFont::openDefault(int pixelSize, std::string* error) {
  const std::string path = findFontFile(std::string("Ag") + kChineseSample);
  if (path.empty()) {
    if (error) *error = "fontconfig found no sans-serif font for Chinese text";
    return nullptr;
  }
  return open(path, pixelSize, error);
}

void TtfFont::shutdown(bool releaseFontconfig) {
  if (TTF_WasInit()) TTF_Quit();
  if (releaseFontconfig) FcFini();
}

TtfFont::~TtfFont() { TTF_CloseFont(m_font); }

Size TtfFont::measure(std::string_view utf8) const {
  const std::string text(utf8);
  int width = 0;
  int height = 0;
  if (text.empty() || TTF_SizeUTF8(m_font, text.c_str(), &width, &height) != 0) {
    return Size{0, TTF_FontHeight(m_font)};
  }
  return Size{width, std::max(height, TTF_FontHeight(m_font))};
}

TextCoverage TtfFont::render(std::string_view utf8) const {
  const Size size = measure(utf8);
  TextCoverage bitmap;
  bitmap.width = size.width;
  bitmap.height = size.height;
  bitmap.coverage.assign(static_cast<size_t>(size.width) * static_cast<size_t>(size.height), 0);
  if (size.width == 0) return bitmap;
  // Shaded rendering gives an 8-bit surface whose index is the coverage
  // (palette from the background at 0 to the foreground at 255).
  const std::string text(utf8);
  SDL_Surface* surface = TTF_RenderUTF8_Shaded(m_font, text.c_str(), SDL_Color{255, 255, 255, 255},
                                               SDL_Color{0, 0, 0, 255});
  if (!surface) return bitmap;
  const int w = std::min(surface->w, size.width);
  const int h = std::min(surface->h, size.height);
  const auto* pixels = static_cast<const uint8_t*>(surface->pixels);
  for (int y = 0; y < h; ++y) {
    std::memcpy(&bitmap.coverage[static_cast<size_t>(y) * static_cast<size_t>(size.width)],
                pixels + static_cast<size_t>(y) * static_cast<size_t>(surface->pitch),
                static_cast<size_t>(w));
  }
  SDL_FreeSurface(surface);
  return bitmap;
}

}  // namespace trevolo::platform
