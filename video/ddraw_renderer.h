// DDrawRenderer: shows decoded pictures in the video area of a window. Each
// picture is copied row by row into a locked picture surface whose pixel
// format matches the source, then presented scaled into the window's video
// rectangle; the display layer scales and converts YUV, never this code.
//
// Surfaces are created with the first picture and kept while the format,
// size and window stay the same. A set-up that failed is remembered: later
// pictures with the same parameters fail at once without a new attempt.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/display_surface.h"
#include "video/ddraw_formats.h"

namespace trevolo::platform {
class Window;
}

// Result of Render when the surfaces could not be set up or locked.
constexpr int kRenderInternalError = 1359;

// The picture handed to Render. Codes (see ddraw_formats.h): 0 planar 4:2:0
// in Y, U, V order shown through a YV12 surface (the player's format),
// 1 I420, 2 YUY2, 3 YVYU, 4 UYVY, 5 NV12, 6 unsupported, 7 8-bit palette,
// 8 5-5-5, 9 5-6-5, 10 24-bit, 11 32-bit, 12 32-bit with bytes 0 and 2
// exchanged, above 12 unsupported. Planes a format does not use may be null.
struct RenderSource {
  int format = 0;
  uint32_t width = 0;   // pixels
  uint32_t height = 0;  // pixels
  const uint8_t* plane[3] = {nullptr, nullptr, nullptr};
};

class DDrawRenderer {
 public:
  using WindowHandle = trevolo::platform::Window*;
  // Makes a picture surface for a window; null (with *error set) on failure.
  using SurfaceFactory = std::function<std::unique_ptr<trevolo::platform::DisplaySurface>(
      WindowHandle window, uint32_t width, uint32_t height,
      trevolo::platform::SurfaceFormat format, int* error)>;

  // Surfaces come from trevolo::platform::createDisplaySurface.
  DDrawRenderer();
  // Surfaces come from `factory` (tests substitute their own).
  explicit DDrawRenderer(SurfaceFactory factory);
  virtual ~DDrawRenderer();

  DDrawRenderer(const DDrawRenderer&) = delete;
  DDrawRenderer& operator=(const DDrawRenderer&) = delete;

  // Copies `source` into the picture surface for `window` (creating it when
  // the format, size or window changed) and presents it. Returns 0 when the
  // picture was drawn or dropped (lost surface, failed present), and
  // kRenderInternalError (1359) when the surfaces could not be set up or
  // locked. Safe from any thread; calls are serialised.
  virtual int Render(const RenderSource& source, WindowHandle window);

 protected:
  // Inside the renderer; each runs with m_lock held.
  int Prepare(const RenderSource& source, WindowHandle window);
  int CreateSurfaces(WindowHandle window, const SurfaceDescription& description);
  int Draw(const RenderPlanes& planes);
  void Release();

 private:
  SurfaceFactory m_factory;
  std::mutex m_lock;  // held for the whole of every Render

  // Guarded by m_lock.
  std::unique_ptr<trevolo::platform::DisplaySurface> m_offscreen;
  WindowHandle m_window = nullptr;  // window of the current set-up
  uint32_t m_surfaceWidth = 0;
  uint32_t m_surfaceHeight = 0;
  RowCopyFn m_convert = nullptr;
  // Parameters of the last set-up attempt, successful or not.
  int32_t m_curFormat = 0;
  uint32_t m_curWidth = 0;
  uint32_t m_curHeight = 0;
  WindowHandle m_curWindow = nullptr;
};
