// DisplaySurface: a picture surface of a given size and pixel format shown in
// a window's video rectangle. Any thread may lock it, write the picture with
// the returned pitch, unlock it and present it; presenting hands the picture
// to the window's UI thread and wakes it, and only that thread draws it,
// scaling the picture into the video rectangle and converting YUV to RGB.
#pragma once

#include <cstdint>
#include <memory>

namespace trevolo::platform {

class Window;

enum class SurfaceFormat : uint8_t {
  YV12,      // planar 4:2:0: Y, then V, then U
  I420,      // planar 4:2:0: Y, then U, then V
  YUY2,      // packed 4:2:2
  YVYU,      // packed 4:2:2
  UYVY,      // packed 4:2:2
  NV12,      // Y plane, then interleaved Cb Cr plane
  Palette8,  // 8-bit palette indices
  Rgb555,    // 16-bit, red 0x7C00, green 0x03E0, blue 0x001F
  Rgb565,    // 16-bit, red 0xF800, green 0x07E0, blue 0x001F
  Rgb32,     // 32-bit little-endian 0x00RRGGBB
};

// Memory of a locked surface. Planar formats keep their planes one after
// the other: for YV12 and I420, `height` rows of `pitch` bytes, then each
// chroma plane of height / 2 rows of pitch / 2 bytes; for NV12, the Y rows,
// then height / 2 rows of `pitch` bytes.
struct SurfaceLock {
  uint8_t* pixels = nullptr;
  int32_t pitch = 0;     // bytes between rows; even for every format
  uint32_t width = 0;    // pixels
  uint32_t height = 0;   // pixels
};

enum class PresentResult {
  Presented,  // handed to the UI thread
  Lost,       // the window's renderer was reset: restore, drop this picture
  Failed,     // nothing shown (no window, surface unusable)
};

// Error codes for surface creation.
constexpr int kSurfaceNoWindow = -1;
constexpr int kSurfaceBadSize = -2;
constexpr int kSurfaceNoMemory = -3;
constexpr int kSurfaceUnsupportedFormat = -4;

class DisplaySurface {
 public:
  virtual ~DisplaySurface() = default;

  // Locks the whole surface for writing. Until unlock, the window does not
  // read the memory. False when the surface cannot be locked.
  virtual bool lock(SurfaceLock* out) = 0;
  virtual void unlock() = 0;
  // Hands the current picture to the window's UI thread and wakes it.
  virtual PresentResult present() = 0;
  // Makes a lost surface usable again; its picture must be written anew.
  virtual bool restore() = 0;
  // Palette of Palette8 surfaces: 256 entries 0x00RRGGBB (grey ramp at first).
  virtual void setPalette(const uint32_t* colours) = 0;

  virtual SurfaceFormat format() const = 0;
  virtual uint32_t width() const = 0;
  virtual uint32_t height() const = 0;
};

// A surface shown in `window`. Null, with *error set to one of the codes
// above, when there is no window, the size is 0 or beyond what the window's
// renderer can draw, the format is not drawable, or memory is short.
std::unique_ptr<DisplaySurface> createDisplaySurface(Window* window, uint32_t width,
                                                     uint32_t height, SurfaceFormat format,
                                                     int* error);

}  // namespace trevolo::platform
