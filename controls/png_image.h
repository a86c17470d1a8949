// PNG decoding into an RGBA Image with straight (not premultiplied) alpha.
// Every PNG colour type and bit depth is converted: palettes and grey
// expand to RGB, 16-bit samples are reduced to 8, a missing alpha channel
// becomes opaque, a tRNS chunk becomes alpha.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "controls/image.h"

namespace trevolo::controls {

// Largest width or height accepted, in pixels; larger images are refused
// before any pixel memory is allocated (a damaged header cannot make the
// decoder ask for gigabytes).
inline constexpr int kMaxPngSide = 16384;

// Decodes a whole PNG held in memory. On success fills *image and returns
// true. On any damage (bad signature, bad CRC in a critical chunk,
// truncated data, oversized header) returns false, leaves *image empty and
// puts a one-line reason in *error when it is not null.
bool decodePng(std::span<const uint8_t> bytes, Image* image, std::string* error = nullptr);

}  // namespace trevolo::controls
