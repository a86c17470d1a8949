// Picture surfaces: CPU memory in the requested format, locked with a pitch
// on any thread. Presenting marks the picture fresh and wakes the window's UI
// thread, which scales it into the window surface (software renderer, YUV)
// or uploads it into a texture of the same format.
#include "platform/display_surface.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/display_presenter.h"
#include "platform/window.h"

namespace trevolo::platform {

namespace {

constexpr int32_t kPitchAlignment = 32;  // bytes; keeps half pitches 16-byte aligned
constexpr uint8_t kBlackLuma = 16;
constexpr uint8_t kNeutralChroma = 128;
// Room after the last row: the window's scaler reads with vector loads that
// may reach a little past the end of a plane.
constexpr size_t kReadSlack = 64;

bool isPlanar420(SurfaceFormat format) {
  return format == SurfaceFormat::YV12 || format == SurfaceFormat::I420;
}

uint32_t bytesPerPixel(SurfaceFormat format) {
  switch (format) {
    case SurfaceFormat::YUY2:
    case SurfaceFormat::YVYU:
    case SurfaceFormat::UYVY:
    case SurfaceFormat::Rgb555:
    case SurfaceFormat::Rgb565:
      return 2;
    case SurfaceFormat::Rgb32:
      return 4;
    default:
      return 1;
  }
}

// Lays out the memory and fills it with black. Chroma planes get room for
// (height + 1) / 2 rows, which is what the window uploads, and a neutral
// value, so a last row or column that an odd-sized picture cannot fill
// shows grey rather than colour.
void initialise(SurfaceMemory& memory) {
  const size_t rowBytes = size_t{memory.width} * bytesPerPixel(memory.format);
  const size_t pitch = (rowBytes + kPitchAlignment - 1) / kPitchAlignment * kPitchAlignment;
  memory.pitch = static_cast<int32_t>(pitch);
  const size_t lumaBytes = pitch * memory.height;
  const size_t chromaRows = (size_t{memory.height} + 1) / 2;
  size_t chromaBytes = 0;
  if (isPlanar420(memory.format)) chromaBytes = 2 * chromaRows * (pitch / 2);
  if (memory.format == SurfaceFormat::NV12) chromaBytes = chromaRows * pitch;
  memory.pixels.assign(lumaBytes + chromaBytes + kReadSlack, 0);
  if (chromaBytes != 0) {
    std::memset(memory.pixels.data(), kBlackLuma, lumaBytes);
    std::memset(memory.pixels.data() + lumaBytes, kNeutralChroma, chromaBytes);
  }
  for (uint32_t i = 0; i < 256; ++i) memory.palette[i] = i * 0x010101u;
}

class SurfaceImpl final : public DisplaySurface {
 public:
  SurfaceImpl(std::shared_ptr<VideoPresenter> presenter, std::shared_ptr<SurfaceMemory> memory)
      : m_presenter(std::move(presenter)), m_memory(std::move(memory)) {
    m_presenter->attach(m_memory);
  }
  ~SurfaceImpl() override { m_presenter->detach(m_memory.get()); }

  bool lock(SurfaceLock* out) override {
    if (out == nullptr) return false;
    m_memory->lock.lock();
    out->pixels = m_memory->pixels.data();
    out->pitch = m_memory->pitch;
    out->width = m_memory->width;
    out->height = m_memory->height;
    return true;
  }
  void unlock() override { m_memory->lock.unlock(); }
  PresentResult present() override { return m_presenter->present(*m_memory); }
  bool restore() override {
    // Like a restored video-memory surface, the memory holds no picture
    // worth showing until the next present.
    m_memory->holdsPicture.store(false);
    m_memory->lost.store(false);
    return m_presenter->alive();
  }
  void setPalette(const uint32_t* colours) override {
    if (colours == nullptr) return;
    std::lock_guard<std::mutex> guard(m_memory->lock);
    std::copy(colours, colours + 256, m_memory->palette.begin());
  }
  SurfaceFormat format() const override { return m_memory->format; }
  uint32_t width() const override { return m_memory->width; }
  uint32_t height() const override { return m_memory->height; }

 private:
  std::shared_ptr<VideoPresenter> m_presenter;
  std::shared_ptr<SurfaceMemory> m_memory;
};

}  // namespace

void VideoPresenter::attach(const std::shared_ptr<SurfaceMemory>& memory) {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_attached = memory;
}

void VideoPresenter::detach(const SurfaceMemory* memory) {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_attached.get() == memory) m_attached.reset();
}

PresentResult VideoPresenter::present(SurfaceMemory& memory) {
  {
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_alive || m_attached.get() != &memory) return PresentResult::Failed;
  }
  if (memory.lost.load()) return PresentResult::Lost;
  memory.holdsPicture.store(true);
  memory.fresh.store(true);
  // One picture event in the queue is enough: the UI thread shows whatever
  // is freshest when it gets there.
  if (!m_wakePending.exchange(true) && !(wake && wake())) {
    m_wakePending.store(false);
    return PresentResult::Failed;
  }
  return PresentResult::Presented;
}

bool VideoPresenter::alive() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_alive;
}

std::shared_ptr<SurfaceMemory> VideoPresenter::attached() const {
  std::lock_guard<std::mutex> guard(m_mutex);
  return m_attached;
}

void VideoPresenter::markLost() {
  std::lock_guard<std::mutex> guard(m_mutex);
  if (m_attached) m_attached->lost.store(true);
}

void VideoPresenter::close() {
  std::lock_guard<std::mutex> guard(m_mutex);
  m_alive = false;
  m_attached.reset();
}

std::unique_ptr<DisplaySurface> createDisplaySurface(Window* window, uint32_t width,
                                                     uint32_t height, SurfaceFormat format,
                                                     int* error) {
  int ignored = 0;
  int& result = error != nullptr ? *error : ignored;
  std::shared_ptr<VideoPresenter> presenter = window ? window->presenter() : nullptr;
  if (!presenter || !presenter->alive()) {
    result = kSurfaceNoWindow;
    return nullptr;
  }
  if (format > SurfaceFormat::Rgb32) {
    result = kSurfaceUnsupportedFormat;
    return nullptr;
  }
  if (width == 0 || height == 0 || width > presenter->maxTextureWidth ||
      height > presenter->maxTextureHeight) {
    result = kSurfaceBadSize;
    return nullptr;
  }
  try {
    auto memory = std::make_shared<SurfaceMemory>();
    memory->format = format;
    memory->width = width;
    memory->height = height;
    initialise(*memory);
    result = 0;
    return std::make_unique<SurfaceImpl>(std::move(presenter), std::move(memory));
  } catch (const std::bad_alloc&) {
    result = kSurfaceNoMemory;
    return nullptr;
  }
}

}  // namespace trevolo::platform
