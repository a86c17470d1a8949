// The renderer's surface life cycle over a recording surface factory: reuse,
// re-creation, remembered failures, lost surfaces and serialised calls.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "video/ddraw_renderer.h"

using trevolo::platform::DisplaySurface;
using trevolo::platform::PresentResult;
using trevolo::platform::SurfaceFormat;
using trevolo::platform::SurfaceLock;
using trevolo::platform::Window;

namespace {

// What the factory made and what happened to the surfaces since.
struct Log {
  int created = 0;
  int alive = 0;
  int presented = 0;
  int restored = 0;
  bool failCreate = false;
  bool failLock = false;
  int loseNext = 0;  // presents still to report Lost
  std::atomic<int> locksHeld{0};
  std::atomic<bool> overlapped{false};
  SurfaceFormat lastFormat = SurfaceFormat::YV12;
  std::vector<uint8_t> lastPicture;  // surface memory at the last present
};

class RecordingSurface final : public DisplaySurface {
 public:
  RecordingSurface(Log& log, uint32_t width, uint32_t height, SurfaceFormat format)
      : m_log(log), m_width(width), m_height(height), m_format(format),
        m_pitch(static_cast<int32_t>(width * 4 + 8)),
        m_memory(size_t(m_pitch) * height * 2, 0) {
    ++m_log.alive;
  }
  ~RecordingSurface() override { --m_log.alive; }

  bool lock(SurfaceLock* out) override {
    if (m_log.failLock) return false;
    if (m_log.locksHeld.fetch_add(1) != 0) m_log.overlapped = true;
    std::this_thread::yield();
    *out = SurfaceLock{m_memory.data(), m_pitch, m_width, m_height};
    return true;
  }
  void unlock() override { m_log.locksHeld.fetch_sub(1); }
  PresentResult present() override {
    if (m_log.loseNext > 0) {
      --m_log.loseNext;
      return PresentResult::Lost;
    }
    ++m_log.presented;
    m_log.lastPicture = m_memory;
    return PresentResult::Presented;
  }
  bool restore() override {
    ++m_log.restored;
    return true;
  }
  void setPalette(const uint32_t*) override {}
  SurfaceFormat format() const override { return m_format; }
  uint32_t width() const override { return m_width; }
  uint32_t height() const override { return m_height; }

 private:
  Log& m_log;
  uint32_t m_width;
  uint32_t m_height;
  SurfaceFormat m_format;
  int32_t m_pitch;
  std::vector<uint8_t> m_memory;
};

DDrawRenderer::SurfaceFactory recordingFactory(Log& log) {
  return [&log](Window*, uint32_t width, uint32_t height, SurfaceFormat format,
                int* error) -> std::unique_ptr<DisplaySurface> {
    ++log.created;
    log.lastFormat = format;
    if (log.failCreate) {
      *error = -4;
      return nullptr;
    }
    return std::make_unique<RecordingSurface>(log, width, height, format);
  };
}

// Window handles are opaque to the renderer; these are never dereferenced.
Window* const kWindowA = reinterpret_cast<Window*>(0x1000);
Window* const kWindowB = reinterpret_cast<Window*>(0x2000);

// A contiguous I420 picture with distinct plane values.
struct Picture {
  std::vector<uint8_t> bytes;
  RenderSource source;
  Picture(int format, uint32_t width, uint32_t height) {
    bytes.assign(size_t(width) * height * 4, 0);
    const size_t luma = size_t(width) * height;
    std::fill(bytes.begin(), bytes.begin() + luma, 0x30);
    std::fill(bytes.begin() + luma, bytes.begin() + luma + luma / 4, 0x50);
    std::fill(bytes.begin() + luma + luma / 4, bytes.end(), 0x70);
    source.format = format;
    source.width = width;
    source.height = height;
    source.plane[0] = bytes.data();
    source.plane[1] = bytes.data() + luma;
    source.plane[2] = bytes.data() + luma + luma / 4;
  }
};

}  // namespace

TEST(DDrawRenderer, ReusesSurfacesUntilFormatSizeOrWindowChange) {
  Log log;
  DDrawRenderer renderer(recordingFactory(log));
  Picture small(0, 64, 48);
  EXPECT_EQ(renderer.Render(small.source, kWindowA), 0);
  EXPECT_EQ(renderer.Render(small.source, kWindowA), 0);
  EXPECT_EQ(log.created, 1);
  EXPECT_EQ(log.presented, 2);
  EXPECT_EQ(log.lastFormat, SurfaceFormat::YV12);

  Picture large(0, 64, 50);
  EXPECT_EQ(renderer.Render(large.source, kWindowA), 0);
  EXPECT_EQ(log.created, 2);
  EXPECT_EQ(log.alive, 1);  // the old surface went before the new one came

  EXPECT_EQ(renderer.Render(large.source, kWindowB), 0);
  EXPECT_EQ(log.created, 3);
  Picture i420(1, 64, 50);
  EXPECT_EQ(renderer.Render(i420.source, kWindowB), 0);
  EXPECT_EQ(log.created, 4);
  EXPECT_EQ(log.lastFormat, SurfaceFormat::I420);
  EXPECT_EQ(log.alive, 1);
}

TEST(DDrawRenderer, PlayerPictureLandsAsYv12) {
  Log log;
  DDrawRenderer renderer(recordingFactory(log));
  Picture picture(0, 6, 4);
  ASSERT_EQ(renderer.Render(picture.source, kWindowA), 0);
  const size_t pitch = 6 * 4 + 8;
  EXPECT_EQ(log.lastPicture[0], 0x30);
  EXPECT_EQ(log.lastPicture[3 * pitch + 5], 0x30);
  EXPECT_EQ(log.lastPicture[4 * pitch], 0x70);                  // V first
  EXPECT_EQ(log.lastPicture[4 * pitch + 2 * (pitch / 2)], 0x50);  // then U
}

TEST(DDrawRenderer, FailedSetUpIsNotRetriedUntilParametersChange) {
  Log log;
  log.failCreate = true;
  DDrawRenderer renderer(recordingFactory(log));
  Picture picture(0, 32, 32);
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), kRenderInternalError);
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), kRenderInternalError);
  EXPECT_EQ(log.created, 1);

  log.failCreate = false;  // still not retried: same parameters
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), kRenderInternalError);
  EXPECT_EQ(log.created, 1);
  EXPECT_EQ(renderer.Render(picture.source, kWindowB), 0);
  EXPECT_EQ(log.created, 2);
  EXPECT_EQ(log.presented, 1);
}

TEST(DDrawRenderer, FormatsWithoutSurfaceAlwaysFail) {
  Log log;
  DDrawRenderer renderer(recordingFactory(log));
  for (int code : {6, 13, 99, -1}) {
    Picture picture(code, 16, 16);
    EXPECT_EQ(renderer.Render(picture.source, kWindowA), kRenderInternalError) << code;
    EXPECT_EQ(renderer.Render(picture.source, kWindowA), kRenderInternalError) << code;
  }
  EXPECT_EQ(log.created, 0);
  EXPECT_EQ(log.presented, 0);
  // A supported picture afterwards works again.
  Picture picture(0, 16, 16);
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), 0);
}

TEST(DDrawRenderer, LostSurfaceDropsOnePicture) {
  Log log;
  DDrawRenderer renderer(recordingFactory(log));
  Picture picture(0, 16, 16);
  ASSERT_EQ(renderer.Render(picture.source, kWindowA), 0);
  log.loseNext = 1;
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), 0);
  EXPECT_EQ(log.restored, 1);
  EXPECT_EQ(log.presented, 1);  // the lost picture was not shown
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), 0);
  EXPECT_EQ(log.presented, 2);
  EXPECT_EQ(log.created, 1);  // restored, not re-created
}

TEST(DDrawRenderer, LockFailureFailsThatPictureOnly) {
  Log log;
  DDrawRenderer renderer(recordingFactory(log));
  Picture picture(0, 16, 16);
  log.failLock = true;
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), kRenderInternalError);
  log.failLock = false;
  EXPECT_EQ(renderer.Render(picture.source, kWindowA), 0);
  EXPECT_EQ(log.created, 1);
}

TEST(DDrawRenderer, CallsFromTwoThreadsAreSerialised) {
  Log log;
  DDrawRenderer renderer(recordingFactory(log));
  Picture a(0, 32, 16);
  Picture b(0, 32, 18);
  auto run = [&](const RenderSource& source) {
    for (int i = 0; i < 200; ++i) renderer.Render(source, kWindowA);
  };
  std::thread first(run, std::cref(a.source));
  std::thread second(run, std::cref(b.source));
  first.join();
  second.join();
  EXPECT_FALSE(log.overlapped.load());
  EXPECT_EQ(log.presented, 400);
  EXPECT_EQ(log.alive, 1);
}
