// Writing 8-bit RGB or RGBA pictures as PNG files (libpng), shared by avtool
// and skin_gen.
#pragma once

#include <cstdint>
#include <string>

namespace trevolo {

// Writes `height` rows of `width` pixels (3 bytes each, 4 with alpha, rows
// packed) to `path`. `compressionLevel` is zlib's 0-9, or -1 for libpng's
// default. Returns "" when written, else one line saying what failed.
std::string WritePngFile(const std::string& path, const uint8_t* pixels, int width, int height,
                         bool withAlpha, int compressionLevel = -1);

}  // namespace trevolo
