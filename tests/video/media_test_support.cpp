#include "tests/video/media_test_support.h"

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "app/player_state.h"
#include "tools/media/test_pattern.h"

namespace trevolo::test {

std::atomic<uint64_t> MediaFixture::s_nowMs{1'000'000};

bool RecordingWindow::waitFor(intptr_t code, std::chrono::milliseconds limit) const {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < until) {
    if (CountCode(posts(), code) > 0) return true;
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

void RealTimeMediaFixture::SetUp() {
  MediaFixture::SetUp();
  m_media.clock.store(&MonotonicMilliseconds);
  std::filesystem::create_directories(m_dir);
}

void RealTimeMediaFixture::TearDown() {
  MediaFixture::TearDown();
  std::filesystem::remove_all(m_dir);
}

void MediaFixture::PrepareSize(int width, int height) {
  m_media.workPicture.reset(new uint8_t[PICTURE_BUFFER_BYTES]());
  m_media.width.store(width);
  m_media.height.store(height);
}

std::vector<intptr_t> Codes(const std::vector<Post>& posts) {
  std::vector<intptr_t> codes;
  codes.reserve(posts.size());
  for (const Post& p : posts) {
    codes.push_back(p.message == WM_PLAYER_NOTIFY ? app::NotificationCode(p.wParam, p.lParam) : 0);
  }
  return codes;
}

int CountCode(const std::vector<Post>& posts, intptr_t code) {
  const std::vector<intptr_t> codes = Codes(posts);
  return static_cast<int>(std::count(codes.begin(), codes.end(), code));
}

std::string RunOutput(const std::string& command, int* status) {
  std::string out;
  if (status) *status = -1;
  std::FILE* p = popen(command.c_str(), "r");
  if (!p) return out;
  char buffer[512];
  while (size_t n = std::fread(buffer, 1, sizeof buffer, p)) out.append(buffer, n);
  const int raw = pclose(p);
  if (status && raw != -1 && WIFEXITED(raw)) *status = WEXITSTATUS(raw);
  return out;
}

int Shell(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

std::vector<uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

int FrameInImage(const std::string& image, int width, int height, const std::string& scratch) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  if (Shell("convert '" + image + "' -resize " + size + "! -colorspace gray -depth 8 gray:'" +
            scratch + "'") != 0) {
    return -1;
  }
  const std::vector<uint8_t> y = ReadAll(scratch);
  if (y.size() != static_cast<size_t>(width) * height) return -1;
  return ReadFrameNumber(y.data(), width, width, height);
}

std::string SummaryValue(const std::string& summary, const std::string& name) {
  std::istringstream lines(summary);
  const std::string prefix = name + ": ";
  for (std::string line; std::getline(lines, line);) {
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
  }
  return {};
}

}  // namespace trevolo::test
