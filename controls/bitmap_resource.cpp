#include "controls/bitmap_resource.h"

#include "controls/png_image.h"

namespace trevolo::controls {

bool CGdiPlusBitmapResource::Load(uint32_t id, std::string_view type) {
  m_bitmap.reset();
  return decode(m_registry->find(type, id));
}

bool CGdiPlusBitmapResource::Load(std::string_view name, std::string_view type) {
  m_bitmap.reset();
  return decode(m_registry->find(type, name));
}

// The decoder copies the pixels out, so unlike a stream-backed bitmap the
// image needs no copy of the resource bytes kept alive beside it.
bool CGdiPlusBitmapResource::decode(std::span<const uint8_t> bytes) {
  if (bytes.empty()) {
    return false;
  }
  auto image = std::make_unique<Image>();
  if (!decodePng(bytes, image.get())) {
    return false;
  }
  m_bitmap = std::move(image);
  return true;
}

}  // namespace trevolo::controls
