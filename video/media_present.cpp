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
  const MediaContext& media = GetMediaContext();
  DDrawRenderer* renderer = media.renderer.load();
  trevolo::platform::Window* window = media.videoWindow.load();
  if (picture == nullptr || renderer == nullptr || window == nullptr) return;
  if (pictureWidth <= 0 || pictureHeight <= 0) return;
  const uint32_t width = static_cast<uint32_t>(pictureWidth);
  const uint32_t height = static_cast<uint32_t>(pictureHeight);
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  RenderSource source;
  source.format = kPlanar420Format;
  source.width = width;
  source.height = height;
  source.plane[0] = picture;
  source.plane[1] = picture + lumaBytes;
  source.plane[2] = source.plane[1] + lumaBytes / 4;
  // A picture the display cannot take is simply not shown; sound goes on.
  renderer->Render(source, window);
}
