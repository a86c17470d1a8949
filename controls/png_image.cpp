#include "controls/png_image.h"

#include <png.h>

#include <cstring>
#include <vector>

namespace trevolo::controls {
namespace {

void setError(std::string* error, const char* message) {
  if (error != nullptr) {
    *error = message;
  }
}

}  // namespace

bool decodePng(std::span<const uint8_t> bytes, Image* image, std::string* error) {
  if (image == nullptr) {
    setError(error, "no image to decode into");
    return false;
  }
  *image = Image();
  if (bytes.empty()) {
    setError(error, "no PNG data");
    return false;
  }
  // libpng's simplified interface recovers from every decoding error itself
  // (it longjmps inside its own frames) and frees its state on failure.
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()) == 0) {
    setError(error, png.message);
    png_image_free(&png);
    return false;
  }
  if (png.width == 0 || png.height == 0 || png.width > kMaxPngSide ||
      png.height > kMaxPngSide) {
    setError(error, "PNG size out of range");
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_RGBA;
  const int width = static_cast<int>(png.width);
  const int height = static_cast<int>(png.height);
  const size_t stride = static_cast<size_t>(width) * Image::kBytesPerPixel;
  std::vector<uint8_t> pixels(stride * static_cast<size_t>(height));
  if (png_image_finish_read(&png, nullptr, pixels.data(), static_cast<png_int_32>(stride),
                            nullptr) == 0) {
    setError(error, png.message);
    png_image_free(&png);
    return false;
  }
  png_image_free(&png);
  *image = Image::fromRgba(width, height, pixels.data(), stride);
  return true;
}

}  // namespace trevolo::controls
