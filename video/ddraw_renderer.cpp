// The picture renderer over the platform's display surfaces. The window's
// renderer plays the part of the primary surface and its clipper: the
// picture surface is presented into the window's video rectangle.
#include "video/ddraw_renderer.h"

namespace {

// Result of Draw when there is no usable surface.
constexpr int kInvalidArgument = static_cast<int>(0x80070057u);
// Result of Draw when the surface could not be locked.
constexpr int kLockFailed = -1;

std::unique_ptr<trevolo::platform::DisplaySurface> platformSurface(
    DDrawRenderer::WindowHandle window, uint32_t width, uint32_t height,
    trevolo::platform::SurfaceFormat format, int* error) {
  return trevolo::platform::createDisplaySurface(window, width, height, format, error);
}

}  // namespace

DDrawRenderer::DDrawRenderer() : m_factory(platformSurface) {}

DDrawRenderer::DDrawRenderer(SurfaceFactory factory) : m_factory(std::move(factory)) {}

DDrawRenderer::~DDrawRenderer() { Release(); }

int DDrawRenderer::Render(const RenderSource& source, WindowHandle window) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (Prepare(source, window) != 0) return kRenderInternalError;
  const RenderPlanes planes = renderPlanes(source.format, source.width, source.plane);
  return Draw(planes) != 0 ? kRenderInternalError : 0;
}

int DDrawRenderer::Prepare(const RenderSource& source, WindowHandle window) {
  if (window == m_curWindow && source.format == m_curFormat && source.width == m_curWidth &&
      source.height == m_curHeight) {
    return 0;  // the current surfaces serve, or the same set-up already failed
  }
  Release();
  int result = 0;
  const auto description = describeSurface(source.format, source.width, source.height);
  if (description) result = CreateSurfaces(window, *description);
  // Remembered whatever the result, so a failed set-up is not retried until
  // the parameters change.
  m_curFormat = source.format;
  m_curWidth = source.width;
  m_curHeight = source.height;
  m_curWindow = window;
  return result;
}

int DDrawRenderer::CreateSurfaces(WindowHandle window, const SurfaceDescription& description) {
  Release();
  int error = 0;
  m_offscreen = m_factory ? m_factory(window, description.width, description.height,
                                      description.format, &error)
                          : nullptr;
  if (!m_offscreen) {
    Release();
    return error != 0 ? error : kInvalidArgument;
  }
  m_window = window;
  m_surfaceWidth = description.width;
  m_surfaceHeight = description.height;
  m_convert = description.convert;
  return 0;
}

int DDrawRenderer::Draw(const RenderPlanes& planes) {
  if (m_convert == nullptr || !m_offscreen || m_surfaceWidth == 0 || m_surfaceHeight == 0) {
    return kInvalidArgument;
  }
  trevolo::platform::SurfaceLock locked;
  if (!m_offscreen->lock(&locked)) return kLockFailed;
  m_convert(locked.pixels, planes, locked.width, locked.height, locked.pitch);
  m_offscreen->unlock();
  if (m_offscreen->present() == trevolo::platform::PresentResult::Lost) {
    // This picture is not shown; the next one refills the restored surface.
    m_offscreen->restore();
  }
  return 0;  // a present that failed otherwise is ignored
}

void DDrawRenderer::Release() {
  m_window = nullptr;
  m_surfaceWidth = 0;
  m_surfaceHeight = 0;
  m_convert = nullptr;
  m_offscreen.reset();
}
