#include "controls/resource_registry.h"

#include <algorithm>

namespace trevolo::controls {

ResourceRegistry& ResourceRegistry::global() {
  static ResourceRegistry registry;
  return registry;
}

bool ResourceRegistry::add(std::string_view type, uint32_t id, std::string_view name,
                           std::span<const uint8_t> bytes) {
  if (type.empty() || bytes.empty()) {
    return false;
  }
  std::lock_guard<std::mutex> guard(m_lock);
  const bool taken = std::any_of(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
    if (e.type != type) {
      return false;
    }
    return (id != kNoResourceId && e.id == id) || (!name.empty() && e.name == name);
  });
  if (taken) {
    return false;
  }
  m_entries.push_back(Entry{std::string(type), id, std::string(name), bytes});
  return true;
}

std::span<const uint8_t> ResourceRegistry::find(std::string_view type, uint32_t id) const {
  if (id == kNoResourceId) {
    return {};
  }
  std::lock_guard<std::mutex> guard(m_lock);
  for (const Entry& e : m_entries) {
    if (e.type == type && e.id == id) {
      return e.bytes;
    }
  }
  return {};
}

std::span<const uint8_t> ResourceRegistry::find(std::string_view type,
                                                std::string_view name) const {
  if (name.empty()) {
    return {};
  }
  std::lock_guard<std::mutex> guard(m_lock);
  for (const Entry& e : m_entries) {
    if (e.type == type && e.name == name) {
      return e.bytes;
    }
  }
  return {};
}

bool ResourceRegistry::remove(std::string_view type, uint32_t id) {
  std::lock_guard<std::mutex> guard(m_lock);
  auto it = std::find_if(m_entries.begin(), m_entries.end(),
                         [&](const Entry& e) { return e.type == type && e.id == id; });
  if (it == m_entries.end()) {
    return false;
  }
  m_entries.erase(it);
  return true;
}

ResourceRegistrar::ResourceRegistrar(std::string_view type, uint32_t id, std::string_view name,
                                     const uint8_t* data, size_t size) {
  ResourceRegistry::global().add(type, id, name, std::span<const uint8_t>(data, size));
}

}  // namespace trevolo::controls
