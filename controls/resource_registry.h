// Resources embedded in the program: byte spans registered under a type
// ("PNG"), a numeric id and a name. The skin's images are compiled into the
// binary (see resources.cmake), so looking one up never touches the disk.
// Registration happens during static initialisation; look-ups happen later
// on the UI thread, so the registry takes a lock only to stay safe if a
// test registers bytes while another thread reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace trevolo::controls {

// Type of the skin's button images.
inline constexpr std::string_view kPngResourceType = "PNG";
// Id of a resource registered by name only.
inline constexpr uint32_t kNoResourceId = 0;

class ResourceRegistry {
 public:
  // The program-wide registry that embedded resources register into.
  static ResourceRegistry& global();

  // Registers `bytes` (not copied: they must outlive the registry, as
  // static arrays do). Refused (false) when the type is empty, the bytes
  // are empty, or the id (when not kNoResourceId) or the non-empty name is
  // already taken for this type.
  bool add(std::string_view type, uint32_t id, std::string_view name,
           std::span<const uint8_t> bytes);

  // The bytes of a resource, or an empty span when there is none.
  std::span<const uint8_t> find(std::string_view type, uint32_t id) const;
  std::span<const uint8_t> find(std::string_view type, std::string_view name) const;

  // Forgets one resource; false when it was not registered.
  bool remove(std::string_view type, uint32_t id);

 private:
  struct Entry {
    std::string type;
    uint32_t id = kNoResourceId;
    std::string name;
    std::span<const uint8_t> bytes;
  };

  mutable std::mutex m_lock;
  std::vector<Entry> m_entries;  // guarded by m_lock
};

// Registers one resource in the global registry when constructed; the
// generated resource file holds one static instance per embedded file.
struct ResourceRegistrar {
  ResourceRegistrar(std::string_view type, uint32_t id, std::string_view name,
                    const uint8_t* data, size_t size);
};

}  // namespace trevolo::controls
