// Palette, window geometry and the drawing functions shared by the skin's
// source files.
#pragma once

#include "tools/skin_gen/canvas.h"
#include "tools/skin_gen/shapes.h"

namespace trevolo::skin {

// Palette: near-black panels with one teal accent.
inline constexpr unsigned kAccent = 0x2EC4C6;
inline constexpr unsigned kAccentBright = 0x5BE6E4;
inline constexpr unsigned kAccentDeep = 0x147A80;
inline constexpr unsigned kInk = 0xD5DCE3;       // glyphs on dark buttons
inline constexpr unsigned kInkDim = 0xB4BCC5;    // glyphs of the small window buttons
inline constexpr unsigned kVideoWell = 0x060708; // behind the video area
inline constexpr unsigned kTrack = 0x2B3138;     // unfilled slider track

// Window geometry (pixels), matching the main window's fixed layout.
inline constexpr int kWindowW = 1080, kWindowH = 706;
inline constexpr int kTitleBarH = 34;
inline constexpr int kVideoX = 137, kVideoY = 35, kVideoW = 806, kVideoH = 604;
inline constexpr int kLogoX = 3, kLogoY = 1, kLogoW = 150, kLogoH = 32;
inline constexpr int kVolIconX = 640, kVolIconY = kWindowH - 46, kVolIconW = 19, kVolIconH = 45;
inline constexpr int kVolumeX = 666, kVolumeY = kWindowH - 30, kVolumeW = 87, kVolumeH = 11;
inline constexpr int kVolumeThumb = 11;
inline constexpr int kProgressX = 50, kProgressY = 640, kProgressW = 970, kProgressH = 20;
inline constexpr int kProgressFilledW = 969;
inline constexpr int kProgressThumb = 20;
inline constexpr int kPanelY = 640;  // top of the bottom control panel
inline constexpr int kTransportW = 68, kTransportH = 46;
inline constexpr int kTransportY = kWindowH - 46;
inline constexpr int kTransportX[4] = {300, 385, 470, 555};  // capture, pause, play, stop
inline constexpr int kSmallButton = 25;
inline constexpr int kMiniX = kWindowW - 62, kCloseX = kWindowW - 29, kSmallY = 4;
inline constexpr int kOpenW = 115, kOpenH = 48;
inline constexpr int kOpenX = (kWindowW - kOpenW) / 2, kOpenY = (kWindowH - kOpenH) / 2;

// An axis-aligned rectangle on pixel boundaries.
inline Sdf rect(float x, float y, float w, float h) { return roundRect(x, y, w, h, 0); }

// Button images, standard (alt = false) and alternate (alt = true) looks.
Canvas drawTransportButton(const Sdf& glyph, bool alt);
Canvas drawMiniButton(bool alt);
Canvas drawCloseButton(bool alt);
Canvas drawOpenButton(bool alt);
Sdf playGlyph();
Sdf pauseGlyph();
Sdf stopGlyph();
Sdf captureGlyph();

}  // namespace trevolo::skin
