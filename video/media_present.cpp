// Presenting a contiguous I420 picture through the renderer. Kept apart from
// the callbacks so the decode and sound paths build without a display.
#include "video/ddraw_renderer.h"
#include "video/media_callbacks.h"

namespace {

// The player's pictures are planar 4:2:0 in Y, U, V order, shown through a
// YV12 surface.
constexpr int kPlanar420Format = 0;

}  // namespace

void PresentPicture(const uint8_t* picture) {
  const MediaContext& media = GetMediaContext();
  PresentPicture(picture, media.width.load(), media.height.load());
}

void PresentPicture(const uint8_t* picture, int pictureWidth, int pictureHeight) {
  if (picture == nullptr || pictureWidth <= 0 || pictureHeight <= 0) return;
  const size_t lumaBytes = static_cast<size_t>(pictureWidth) * static_cast<size_t>(pictureHeight);
  PresentPlanes(picture, picture + lumaBytes, picture + lumaBytes + lumaBytes / 4, pictureWidth,
                pictureHeight);
}

void PresentPlanes(const uint8_t* y, const uint8_t* u, const uint8_t* v, int pictureWidth,
                   int pictureHeight) {
  const MediaContext& media = GetMediaContext();
  DDrawRenderer* renderer = media.renderer.load();
  trevolo::platform::Window* window = media.videoWindow.load();
  if (y == nullptr || u == nullptr || v == nullptr || renderer == nullptr || window == nullptr) {
    return;
  }
  if (pictureWidth <= 0 || pictureHeight <= 0) return;
  const uint32_t width = static_cast<uint32_t>(pictureWidth);
  const uint32_t height = static_cast<uint32_t>(pictureHeight);
  RenderSource source;
  source.format = kPlanar420Format;
  source.width = width;
  source.height = height;
  source.plane[0] = y;
  source.plane[1] = u;
  source.plane[2] = v;
  // A picture the display cannot take is simply not shown; sound goes on.
  renderer->Render(source, window);
}
