// YUV pictures into 32-bit pixels with libswscale. A 4:2:0 picture drawn at
// another size is scaled as 4:2:0 first and then converted at its new size:
// libswscale's conversion at one size is a fast vector path, while scaling
// into 32-bit pixels in one pass filters four bytes a pixel instead of one
// and a half (half the CPU time or less, measured at 480 to 1072 lines). Other
// formats, and pictures at their own size, take one pass. The vector code of libswscale writes whole groups of pixels, so it
// may store a few pixels past the end of each destination row; when the
// rectangle lies in a larger picture (a window's surface) those pixels
// belong to whatever surrounds the rectangle and are put back afterwards.
#include "platform/picture_scaler.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

#include "platform/display_presenter.h"

namespace trevolo::platform {

namespace {

// BT.601 below this many lines, BT.709 from it.
constexpr uint32_t kHdLines = 720;
// How far past a row's end libswscale may store (it writes up to 8 pixels
// at a time; twice that leaves room for wider vector code).
constexpr size_t kOverrunBytes = 64;
constexpr size_t kBytesPerPixel = 4;
// Linear filtering, the cheap kind: two taps per direction, like SDL's own
// linear scaling.
constexpr int kScaleFlags = SWS_FAST_BILINEAR;

AVPixelFormat sourceFormat(SurfaceFormat format) {
  switch (format) {
    case SurfaceFormat::YV12:
    case SurfaceFormat::I420: return AV_PIX_FMT_YUV420P;
    case SurfaceFormat::NV12: return AV_PIX_FMT_NV12;
    case SurfaceFormat::YUY2: return AV_PIX_FMT_YUYV422;
    case SurfaceFormat::YVYU: return AV_PIX_FMT_YVYU422;
    case SurfaceFormat::UYVY: return AV_PIX_FMT_UYVY422;
    default: return AV_PIX_FMT_NONE;
  }
}

AVPixelFormat targetFormat(PixelTarget::Order order) {
  return order == PixelTarget::Order::Bgra ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGBA;
}

size_t rowOffset(int32_t pitch, int row) { return size_t(pitch) * size_t(row); }

}  // namespace

PictureScaler::~PictureScaler() {
  sws_freeContext(m_context);
  sws_freeContext(m_resize);
}

bool PictureScaler::accepts(SurfaceFormat format) {
  return sourceFormat(format) != AV_PIX_FMT_NONE;
}

bool PictureScaler::draw(const SurfaceMemory& memory, const Rect& rect,
                         const PixelTarget& target) {
  if (!accepts(memory.format) || rect.empty() || target.pixels == nullptr ||
      target.width <= 0 || target.height <= 0 || target.pitch < target.width * 4) {
    return false;
  }
  if (!prepare(memory, rect, target.order)) return false;
  if (!drawDirect(memory, rect, target)) drawClipped(memory, rect, target);
  return true;
}

bool PictureScaler::prepareResize(const SurfaceMemory& memory, const Rect& rect) {
  const AVPixelFormat format = sourceFormat(memory.format);
  const bool resize = format == AV_PIX_FMT_YUV420P &&
                      (rect.width() != int(memory.width) || rect.height() != int(memory.height));
  if (!resize) {
    sws_freeContext(m_resize);
    m_resize = nullptr;
    return true;
  }
  // Luma rows a multiple of 64 bytes, so both chroma rows are 32-aligned.
  m_resizedStride = (rect.width() + 63) & ~63;
  m_resizedRows = rect.height();
  const size_t chromaRows = size_t(rect.height() + 1) / 2;
  m_resized.resize(size_t(m_resizedStride) * (size_t(rect.height()) + chromaRows) +
                   kOverrunBytes);
  m_resize = sws_getCachedContext(m_resize, int(memory.width), int(memory.height), format,
                                  rect.width(), rect.height(), format, kScaleFlags, nullptr,
                                  nullptr, nullptr);
  return m_resize != nullptr;
}

bool PictureScaler::prepare(const SurfaceMemory& memory, const Rect& rect,
                            PixelTarget::Order order) {
  if (!prepareResize(memory, rect)) return false;
  const int fromWidth = m_resize ? rect.width() : int(memory.width);
  const int fromHeight = m_resize ? rect.height() : int(memory.height);
  // Kept while the sizes and formats stay; a failure frees the old context.
  m_context = sws_getCachedContext(m_context, fromWidth, fromHeight, sourceFormat(memory.format),
                                   rect.width(), rect.height(), targetFormat(order), kScaleFlags,
                                   nullptr, nullptr, nullptr);
  if (m_context == nullptr) return false;
  const int* wanted =
      sws_getCoefficients(memory.height >= kHdLines ? SWS_CS_ITU709 : SWS_CS_ITU601);
  int* matrix = nullptr;
  int* outputMatrix = nullptr;
  int sourceFull = 0;
  int targetFull = 0;
  int brightness = 0;
  int contrast = 0;
  int saturation = 0;
  const bool known = sws_getColorspaceDetails(m_context, &matrix, &sourceFull, &outputMatrix,
                                              &targetFull, &brightness, &contrast,
                                              &saturation) >= 0;
  if (known && sourceFull == 0 && targetFull == 1 &&
      std::equal(wanted, wanted + 4, matrix)) {
    return true;
  }
  // Limited-range input, full-range output; neutral brightness, contrast
  // and saturation (16.16 fixed point).
  constexpr int kUnity = 1 << 16;
  return sws_setColorspaceDetails(m_context, wanted, 0, sws_getCoefficients(SWS_CS_DEFAULT), 1,
                                  0, kUnity, kUnity) >= 0;
}

void PictureScaler::scale(const SurfaceMemory& memory, uint8_t* pixels, int32_t pitch) {
  // The planes as the surface lays them out (see SurfaceLock).
  const uint8_t* base = memory.pixels.data();
  const int sourcePitch = memory.pitch;
  const uint8_t* planes[4] = {base, nullptr, nullptr, nullptr};
  int strides[4] = {sourcePitch, 0, 0, 0};
  const size_t lumaBytes = rowOffset(sourcePitch, int(memory.height));
  if (memory.format == SurfaceFormat::YV12 || memory.format == SurfaceFormat::I420) {
    const uint8_t* first = base + lumaBytes;
    const uint8_t* second = first + size_t(sourcePitch / 2) * (memory.height / 2);
    const bool uFirst = memory.format == SurfaceFormat::I420;
    planes[1] = uFirst ? first : second;
    planes[2] = uFirst ? second : first;
    strides[1] = strides[2] = sourcePitch / 2;
  } else if (memory.format == SurfaceFormat::NV12) {
    planes[1] = base + lumaBytes;
    strides[1] = sourcePitch;
  }
  int rows = int(memory.height);
  if (m_resize != nullptr) {
    // Luma, then the two chroma planes, each chroma row half a luma row.
    rows = m_resizedRows;
    uint8_t* y = m_resized.data();
    uint8_t* u = y + rowOffset(m_resizedStride, rows);
    uint8_t* v = u + rowOffset(m_resizedStride / 2, (rows + 1) / 2);
    uint8_t* const resized[4] = {y, u, v, nullptr};
    const int resizedStrides[4] = {m_resizedStride, m_resizedStride / 2, m_resizedStride / 2, 0};
    sws_scale(m_resize, planes, strides, 0, int(memory.height), resized, resizedStrides);
    for (int i = 0; i < 4; ++i) {
      planes[i] = resized[i];
      strides[i] = resizedStrides[i];
    }
  }
  uint8_t* const out[4] = {pixels, nullptr, nullptr, nullptr};
  const int outStrides[4] = {pitch, 0, 0, 0};
  sws_scale(m_context, planes, strides, 0, rows, out, outStrides);
}

// Straight into the target when the rectangle lies inside it and what the
// scaler may store past its last row still lies inside the target's memory.
bool PictureScaler::drawDirect(const SurfaceMemory& memory, const Rect& rect,
                               const PixelTarget& target) {
  const Rect bounds{0, 0, target.width, target.height};
  if (rect.intersect(bounds) != rect) return false;
  const size_t targetBytes = rowOffset(target.pitch, target.height);
  const size_t lastRowEnd = rowOffset(target.pitch, rect.bottom - 1) + size_t(rect.right) * 4;
  if (lastRowEnd + kOverrunBytes > targetBytes) return false;

  const int rows = rect.height();
  m_saved.resize(size_t(rows) * kOverrunBytes);
  for (int row = 0; row < rows; ++row) {
    const size_t end = rowOffset(target.pitch, rect.top + row) + size_t(rect.right) * 4;
    std::memcpy(m_saved.data() + size_t(row) * kOverrunBytes, target.pixels + end,
                kOverrunBytes);
  }
  scale(memory,
        target.pixels + rowOffset(target.pitch, rect.top) + size_t(rect.left) * kBytesPerPixel,
        target.pitch);
  // Put back every saved pixel outside the rectangle. Pixels inside it on a
  // later row (a row end wrapping round to the next row) were overwritten
  // by that row's own picture, since rows come out top to bottom.
  for (int row = 0; row < rows; ++row) {
    const size_t end = rowOffset(target.pitch, rect.top + row) + size_t(rect.right) * 4;
    const uint8_t* saved = m_saved.data() + size_t(row) * kOverrunBytes;
    for (size_t i = 0; i < kOverrunBytes; i += kBytesPerPixel) {
      const size_t at = end + i;
      const int y = int(at / size_t(target.pitch));
      const int x = int(at % size_t(target.pitch) / kBytesPerPixel);
      if (y > rect.top + row && rect.contains(x, y)) continue;
      std::memcpy(target.pixels + at, saved + i, kBytesPerPixel);
    }
  }
  return true;
}

// Through a scratch picture of the whole rectangle, of which the visible
// part is copied: for rectangles cut by the target's edges, or touching its
// last bytes.
void PictureScaler::drawClipped(const SurfaceMemory& memory, const Rect& rect,
                                const PixelTarget& target) {
  const Rect visible = rect.intersect(Rect{0, 0, target.width, target.height});
  if (visible.empty()) return;
  const int32_t pitch = int32_t(size_t(rect.width()) * kBytesPerPixel + kOverrunBytes);
  m_scratch.resize(rowOffset(pitch, rect.height()) + kOverrunBytes);
  scale(memory, m_scratch.data(), pitch);
  const size_t rowBytes = size_t(visible.width()) * kBytesPerPixel;
  for (int y = visible.top; y < visible.bottom; ++y) {
    const uint8_t* from = m_scratch.data() + rowOffset(pitch, y - rect.top) +
                          size_t(visible.left - rect.left) * kBytesPerPixel;
    std::memcpy(target.pixels + rowOffset(target.pitch, y) + size_t(visible.left) * 4, from,
                rowBytes);
  }
}

}  // namespace trevolo::platform
