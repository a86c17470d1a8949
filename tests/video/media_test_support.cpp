#include "tests/video/media_test_support.h"

#include <algorithm>
#include <thread>

#include "tools/media/test_pattern.h"

namespace trevolo::test {

std::atomic<uint64_t> MediaFixture::s_nowMs{1'000'000};

bool RecordingWindow::waitFor(intptr_t lParam, std::chrono::milliseconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (CountCode(posts(), lParam) > 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

RecordingRenderer::RecordingRenderer()
    : DDrawRenderer([](WindowHandle, uint32_t, uint32_t, platform::SurfaceFormat, int* error) {
        *error = platform::kSurfaceNoWindow;
        return std::unique_ptr<platform::DisplaySurface>();
      }) {}

int RecordingRenderer::Render(const RenderSource& source, WindowHandle) {
  Shown s;
  s.format = source.format;
  s.width = source.width;
  s.height = source.height;
  if (source.plane[0] != nullptr && source.width > 0 && source.height > 0) {
    const int w = static_cast<int>(source.width);
    const int h = static_cast<int>(source.height);
    s.frameNumber = ReadFrameNumber(source.plane[0], w, w, h);
    s.firstLuma = source.plane[0][0];
    s.firstU = source.plane[1] ? source.plane[1][0] : 0;
    s.firstV = source.plane[2] ? source.plane[2][0] : 0;
  }
  std::lock_guard<std::mutex> guard(m_lock);
  m_shown.push_back(s);
  return 0;
}

platform::Window* FakeVideoWindow() {
  static int marker;
  return reinterpret_cast<platform::Window*>(&marker);
}

void MediaFixture::SetUp() {
  m_media.mainWindow.store(&m_window);
  m_media.renderer.store(&m_renderer);
  m_media.videoWindow.store(FakeVideoWindow());
  m_media.soundOutput.store(nullptr);
  m_media.clock.store(&FakeClock);
  m_media.stopped.store(0);
  m_media.firstPictureShown.store(0);
  m_media.snapshotPending.store(0);
  m_media.jpegQuality.store(kDefaultJpegQuality);
  m_media.volume.store(kDefaultVolume);
  m_media.pacingStarted.store(0);
  m_media.width.store(0);
  m_media.height.store(0);
  m_media.engine = nullptr;
  m_media.duration = 0;
}

void MediaFixture::TearDown() {
  if (m_media.engine != nullptr) {
    AVDestroy(m_media.engine);
    m_media.engine = nullptr;
  }
  m_media.workPicture.reset();
  FreeLastPicture();
  m_media.mainWindow.store(nullptr);
  m_media.renderer.store(nullptr);
  m_media.videoWindow.store(nullptr);
  m_media.soundOutput.store(nullptr);
  m_media.clock.store(&MonotonicMilliseconds);
}

void MediaFixture::PrepareSize(int width, int height) {
  m_media.workPicture.reset(new uint8_t[PICTURE_BUFFER_BYTES]());
  m_media.width.store(width);
  m_media.height.store(height);
}

int CountCode(const std::vector<Post>& posts, intptr_t code) {
  return static_cast<int>(std::count_if(posts.begin(), posts.end(), [code](const Post& p) {
    return p.message == WM_PLAYER_NOTIFY && p.lParam == code;
  }));
}

}  // namespace trevolo::test
