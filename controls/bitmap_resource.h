// Images of the skin loaded from embedded resources. CGdiPlusBitmap owns one
// decoded image (or none); CGdiPlusBitmapResource fills it from a PNG
// resource found in a ResourceRegistry.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "controls/image.h"
#include "controls/resource_registry.h"

namespace trevolo::controls {

class CGdiPlusBitmap {
 public:
  CGdiPlusBitmap() = default;
  virtual ~CGdiPlusBitmap() = default;
  CGdiPlusBitmap(const CGdiPlusBitmap&) = delete;
  CGdiPlusBitmap& operator=(const CGdiPlusBitmap&) = delete;

  // The decoded image, or null when none is held.
  const Image* bitmap() const { return m_bitmap.get(); }
  int width() const { return m_bitmap ? m_bitmap->width() : 0; }
  int height() const { return m_bitmap ? m_bitmap->height() : 0; }

 protected:
  std::unique_ptr<Image> m_bitmap;  // null: no image
};

class CGdiPlusBitmapResource : public CGdiPlusBitmap {
 public:
  // Looks resources up in `registry`, which must outlive this object.
  explicit CGdiPlusBitmapResource(const ResourceRegistry& registry = ResourceRegistry::global())
      : m_registry(&registry) {}

  // Drops any image held, then decodes the resource of this id (or name)
  // and type. False, with no image held, when the resource does not exist,
  // is empty or is not a readable PNG.
  bool Load(uint32_t id, std::string_view type = kPngResourceType);
  bool Load(std::string_view name, std::string_view type = kPngResourceType);

 private:
  bool decode(std::span<const uint8_t> bytes);

  const ResourceRegistry* m_registry;  // not owned
};

}  // namespace trevolo::controls
