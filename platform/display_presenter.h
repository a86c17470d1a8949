// The link between picture surfaces (any thread) and the window that shows
// them (UI thread). Internal to the display layer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/display_surface.h"

namespace trevolo::platform {

// Memory of one picture surface, shared by the surface and the window.
struct SurfaceMemory {
  SurfaceFormat format = SurfaceFormat::YV12;
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t pitch = 0;
  std::mutex lock;  // held from lock to unlock, and by the UI thread while it reads the picture
  std::vector<uint8_t> pixels;             // guarded by lock
  std::array<uint32_t, 256> palette = {};  // guarded by lock; 0x00RRGGBB
  std::atomic<bool> fresh{false};  // presented, not yet drawn
  std::atomic<bool> lost{false};   // the window's renderer was reset since the last restore
  std::atomic<bool> holdsPicture{false};  // presented since creation or the last restore
};

class VideoPresenter {
 public:
  // Set once by the window before any surface exists.
  uint32_t maxTextureWidth = 0;
  uint32_t maxTextureHeight = 0;
  std::function<bool()> wake;  // pushes the picture event into the UI queue

  // Any thread.
  void attach(const std::shared_ptr<SurfaceMemory>& memory);
  void detach(const SurfaceMemory* memory);
  PresentResult present(SurfaceMemory& memory);
  bool alive() const;

  // UI thread.
  std::shared_ptr<SurfaceMemory> attached() const;
  void pictureEventHandled() { m_wakePending.store(false); }
  void markLost();
  void close();  // the window is going away

 private:
  mutable std::mutex m_mutex;
  bool m_alive = true;                       // guarded by m_mutex
  std::shared_ptr<SurfaceMemory> m_attached;  // guarded by m_mutex
  std::atomic<bool> m_wakePending{false};     // one picture event in the queue at most
};

}  // namespace trevolo::platform
