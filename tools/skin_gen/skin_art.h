// The player's skin: every image of the main window, drawn from code so the
// artwork can be changed and regenerated.
#pragma once

#include "tools/skin_gen/canvas.h"

#include <string>
#include <vector>

namespace trevolo::skin {

// The colour a slider thumb uses for its transparent pixels; it is also the
// thumb's top-left pixel, where the slider reads it from.
inline constexpr unsigned kThumbKey = 0xFF00FF;

struct SkinImage {
    std::string role;  // e.g. "btn_play", "progress_thumb"
    unsigned id;       // resource id the window loads it by; 0 = by name only
    Canvas canvas;
    bool alpha;        // written with an alpha channel (buttons, icons)

    // File name in the skin folder: "<id>_<role>.png", or "<role>.png" without
    // an id, so the resource embedder registers it under that id.
    std::string file() const;
};

// Draws every skin image, in a fixed order.
std::vector<SkinImage> drawSkin();

// Sizes of the application icon installed into the desktop's hicolor theme.
inline constexpr int kAppIconSizes[] = {16, 32, 48, 128, 256};

// The application icon at each of kAppIconSizes, as "trevolo_<size>.png"; the
// same drawing as the window's icons, so 16 and 32 equal them.
std::vector<SkinImage> drawAppIcons();

// A rough picture of the main window built from the images, with the
// alternate button looks in a strip below it, for checking the artwork by eye.
Canvas composePreview(const std::vector<SkinImage>& images);

}  // namespace trevolo::skin
