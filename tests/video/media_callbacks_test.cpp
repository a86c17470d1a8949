// The media callbacks on their own: notifications, the stopped rule, pacing
// without a sound device, volume, pending snapshots and the last picture.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "audio/amr_decoder.h"
#include "tests/video/media_test_support.h"
#include "video/media_snapshot.h"

namespace trevolo::test {
namespace {

constexpr uint32_t kFrameBytes = 320;

// A YuvFrame over planes filled with one value each.
struct FlatPicture {
  FlatPicture(int width, int height, uint8_t luma, uint8_t u, uint8_t v)
      : y(static_cast<size_t>(width) * height, luma),
        cb(static_cast<size_t>(width) * height / 4, u),
        cr(static_cast<size_t>(width) * height / 4, v) {
    frame.y = y.data();
    frame.u = cb.data();
    frame.v = cr.data();
    frame.yStride = width;
    frame.uStride = frame.vStride = width / 2;
  }
  std::vector<uint8_t> y, cb, cr;
  YuvFrame frame;
};

// A YuvFrame over smooth gradients that differ in every plane (so a swapped,
// shifted or mis-strided plane shows), with rows wider than the picture.
struct GradientPicture {
  GradientPicture(int width, int height) : w(width), h(height) {
    const int pad = 16;
    y.assign(static_cast<size_t>(width + pad) * height, 0);
    cb.assign(static_cast<size_t>(width / 2 + pad) * height / 2, 0);
    cr.assign(cb.size(), 0);
    for (int r = 0; r < height; ++r) {
      for (int c = 0; c < width; ++c) y[static_cast<size_t>(r) * (width + pad) + c] = luma(c, r);
    }
    for (int r = 0; r < height / 2; ++r) {
      for (int c = 0; c < width / 2; ++c) {
        cb[static_cast<size_t>(r) * (width / 2 + pad) + c] = u(c, r);
        cr[static_cast<size_t>(r) * (width / 2 + pad) + c] = v(c, r);
      }
    }
    frame.y = y.data();
    frame.u = cb.data();
    frame.v = cr.data();
    frame.yStride = width + pad;
    frame.uStride = frame.vStride = width / 2 + pad;
  }
  static uint8_t luma(int c, int r) { return static_cast<uint8_t>(20 + 2 * c + 3 * r); }
  static uint8_t u(int c, int r) { return static_cast<uint8_t>(60 + 4 * c + r); }
  static uint8_t v(int c, int r) { return static_cast<uint8_t>(200 - 6 * r - c); }
  // The picture as contiguous I420, the layout a decoded JPEG comes back in.
  std::vector<uint8_t> i420() const {
    std::vector<uint8_t> out;
    for (int r = 0; r < h; ++r) {
      for (int c = 0; c < w; ++c) out.push_back(luma(c, r));
    }
    for (auto plane : {&u, &v}) {
      for (int r = 0; r < h / 2; ++r) {
        for (int c = 0; c < w / 2; ++c) out.push_back(plane(c, r));
      }
    }
    return out;
  }
  int w, h;
  std::vector<uint8_t> y, cb, cr;
  YuvFrame frame;
};

// Mean absolute difference of two equally long byte runs.
double MeanAbsDiff(const uint8_t* a, const uint8_t* b, size_t n) {
  double sum = 0;
  for (size_t i = 0; i < n; ++i) sum += std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i]));
  return n ? sum / static_cast<double>(n) : 0;
}

using StateNotifyTest = MediaFixture;

TEST_F(StateNotifyTest, EachStatePostsItsCodeInLParam) {
  StateNotify(AV_STATE_PLAYING);
  StateNotify(AV_STATE_PAUSED);
  StateNotify(AV_STATE_STOPPED);
  StateNotify(7);  // not a state: nothing
  const std::vector<Post> expected = {{WM_PLAYER_NOTIFY, 0, PN_PLAYING},
                                      {WM_PLAYER_NOTIFY, 0, PN_PAUSED},
                                      {WM_PLAYER_NOTIFY, 0, PN_STOPPED}};
  EXPECT_EQ(m_window.posts(), expected);
  EXPECT_EQ(m_media.stopped.load(), 1);
}

TEST_F(StateNotifyTest, WithoutAMainWindowNothingChanges) {
  m_media.mainWindow.store(nullptr);
  StateNotify(AV_STATE_STOPPED);
  EXPECT_EQ(m_media.stopped.load(), 0);
  // The other callbacks drop their posts too rather than posting nowhere.
  EXPECT_EQ(AudioRender(std::vector<uint8_t>(kFrameBytes).data(), kFrameBytes, 0), 0);
  Advance(20);
  EXPECT_EQ(AudioRender(std::vector<uint8_t>(kFrameBytes).data(), kFrameBytes, 0), 1);
  EXPECT_TRUE(m_window.posts().empty());
}

using StoppedTest = MediaFixture;

TEST_F(StoppedTest, RenderCallbacksDoNothingFromStopUntilPlay) {
  PrepareSize(64, 32);
  FlatPicture picture(64, 32, 50, 60, 70);
  std::vector<uint8_t> pcm(kFrameBytes);
  StateNotify(AV_STATE_STOPPED);
  m_window.clear();
  for (int i = 0; i < 3; ++i) {
    Advance(40);
    EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 1000), 0);
    VideoRender(&picture.frame);
  }
  EXPECT_TRUE(m_window.posts().empty());
  EXPECT_TRUE(m_renderer.shown().empty());

  StateNotify(AV_STATE_PLAYING);
  VideoRender(&picture.frame);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 1000), 0);  // pacing starts now
  Advance(20);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 1000), 1);
  ASSERT_EQ(m_renderer.shown().size(), 1u);
  const std::vector<Post> expected = {{WM_PLAYER_NOTIFY, 0, PN_PLAYING},
                                      {WM_PLAYER_NOTIFY, 0, PN_FIRST_PICTURE},
                                      {WM_PLAYER_NOTIFY, PN_POSITION, 1}};
  EXPECT_EQ(m_window.posts(), expected);
}

using PacingTest = MediaFixture;

// The engine offers a refused frame again every 5 ms; without a sound
// device one frame is taken per 20 ms, the first offer after a restart of
// the pacing base is refused.
TEST_F(PacingTest, FramesOfferedEvery5MsAreTakenOncePer20Ms) {
  std::vector<uint8_t> pcm(kFrameBytes);
  std::vector<int> acceptedAt;
  uint64_t position = 0;
  for (int t = 0; t <= 200; t += 5) {
    if (AudioRender(pcm.data(), kFrameBytes, position) == 1) {
      acceptedAt.push_back(t);
      position += 20'000;
    }
    Advance(5);
  }
  EXPECT_EQ(acceptedAt, (std::vector<int>{20, 40, 60, 80, 100, 120, 140, 160, 180, 200}));
  const std::vector<Post> posts = m_window.posts();
  ASSERT_EQ(posts.size(), 10u);
  for (size_t i = 0; i < posts.size(); ++i) {
    EXPECT_EQ(posts[i], (Post{WM_PLAYER_NOTIFY, PN_POSITION, static_cast<intptr_t>(i * 20)}));
  }
}

TEST_F(PacingTest, ClearingThePacingFlagRestartsTheBaseAfterAPause) {
  std::vector<uint8_t> pcm(kFrameBytes);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 0), 0);
  Advance(20);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 0), 1);
  Advance(5000);  // a long pause must not be made up for with a burst
  m_media.pacingStarted.store(0);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 0), 0);
  Advance(19);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 0), 0);
  Advance(1);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 0), 1);
  EXPECT_EQ(AudioRender(pcm.data(), kFrameBytes, 0), 0);
}

TEST(VolumeTest, ScalingTruncatesTowardZero) {
  const std::vector<int16_t> input = {-32768, -3, -1, 0, 1, 3, 32767};
  auto scaled = [&](int volume) {
    std::vector<int16_t> s = input;
    ScalePcmVolume(s.data(), static_cast<uint32_t>(s.size()), volume);
    return s;
  };
  EXPECT_EQ(scaled(100), input);
  EXPECT_EQ(scaled(50), (std::vector<int16_t>{-16384, -1, 0, 0, 0, 1, 16383}));
  EXPECT_EQ(scaled(0), std::vector<int16_t>(input.size(), 0));
  EXPECT_EQ(scaled(-5), std::vector<int16_t>(input.size(), 0));
}

using SoundDecodeTest = MediaFixture;

TEST_F(SoundDecodeTest, WithoutADecoderFramesAreSilenceAndTheNextRestartMakesOne) {
  ASSERT_EQ(m_media.audioDecoder, nullptr);  // as when it could not be made
  const uint8_t frame[32] = {0x3C};          // a 12.2 kbit/s frame header
  uint8_t pcm[kFrameBytes];
  std::memset(pcm, 0x55, sizeof pcm);         // what the block held before
  AudioDecode(frame, pcm);
  EXPECT_EQ(std::vector<uint8_t>(pcm, pcm + kFrameBytes), std::vector<uint8_t>(kFrameBytes, 0));
  AudioDecode(nullptr, pcm);  // the restart after a seek tries again
  EXPECT_NE(m_media.audioDecoder, nullptr);
  AMR_Decode_Exit(&m_media.audioDecoder);
}

using VideoRenderTest = MediaFixture;

TEST_F(VideoRenderTest, PresentsTheCopiedPictureAndPostsFirstPictureOnce) {
  PrepareSize(64, 32);
  FlatPicture a(64, 32, 10, 20, 30), b(64, 32, 40, 50, 60);
  VideoRender(&a.frame);
  VideoRender(&b.frame);
  ASSERT_EQ(m_renderer.shown().size(), 2u);
  const Shown last = m_renderer.shown().back();
  EXPECT_EQ(last.format, 0);
  EXPECT_EQ(last.width, 64u);
  EXPECT_EQ(last.height, 32u);
  EXPECT_EQ(std::vector<uint8_t>({last.firstLuma, last.firstU, last.firstV}),
            std::vector<uint8_t>({40, 50, 60}));
  EXPECT_EQ(CountCode(m_window.posts(), PN_FIRST_PICTURE), 1);

  // A new engine (DecoderExit) shows its first picture again.
  DecoderExit();
  PrepareSize(64, 32);
  VideoRender(&a.frame);
  EXPECT_EQ(CountCode(m_window.posts(), PN_FIRST_PICTURE), 2);
}

class SnapshotTest : public MediaFixture {
 protected:
  void TearDown() override {
    std::filesystem::remove_all(m_dir);
    MediaFixture::TearDown();
  }
  std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                ("trevolo_media_snap_" + std::to_string(getpid()));
};

TEST_F(SnapshotTest, APendingSnapshotIsWrittenOnceFromTheNextPicture) {
  std::filesystem::create_directories(m_dir);
  const std::filesystem::path file = m_dir / "shot.jpg";
  ASSERT_TRUE(SetSnapshotPath(file.string()));
  PrepareSize(64, 32);
  GradientPicture p(64, 32);
  m_media.snapshotPending.store(1);
  VideoRender(&p.frame);
  EXPECT_EQ(m_media.snapshotPending.load(), 0);
  ASSERT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(CountCode(m_window.posts(), PN_SNAPSHOT_SAVED), 1);

  // The file holds the picture: decoded by ffmpeg in the JPEG's own 4:2:0
  // samples, each plane within JPEG's loss of the one shown.
  const std::filesystem::path raw = m_dir / "shot.yuv";
  ASSERT_EQ(Shell("ffmpeg -nostdin -v error -y -i '" + file.string() +
                  "' -f rawvideo -pix_fmt yuvj420p '" + raw.string() + "'"),
            0);
  const std::vector<uint8_t> decoded = ReadAll(raw);
  const std::vector<uint8_t> shown = p.i420();
  ASSERT_EQ(decoded.size(), shown.size()) << "a 64x32 picture";
  const size_t luma = 64 * 32, chroma = luma / 4;
  EXPECT_LT(MeanAbsDiff(decoded.data(), shown.data(), luma), 2.0) << "Y";
  EXPECT_LT(MeanAbsDiff(decoded.data() + luma, shown.data() + luma, chroma), 2.0) << "U";
  EXPECT_LT(MeanAbsDiff(decoded.data() + luma + chroma, shown.data() + luma + chroma, chroma), 2.0)
      << "V";
  std::filesystem::remove(raw);

  std::filesystem::remove(file);
  VideoRender(&p.frame);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(CountCode(m_window.posts(), PN_SNAPSHOT_SAVED), 1);
  EXPECT_EQ(m_renderer.shown().size(), 2u);
}

TEST_F(SnapshotTest, AFailedWriteDropsTheRequestWithoutNotice) {
  ASSERT_TRUE(SetSnapshotPath((m_dir / "missing" / "shot.jpg").string()));
  PrepareSize(64, 32);
  FlatPicture p(64, 32, 200, 128, 128);
  m_media.snapshotPending.store(1);
  VideoRender(&p.frame);
  EXPECT_EQ(m_media.snapshotPending.load(), 0);
  EXPECT_EQ(CountCode(m_window.posts(), PN_SNAPSHOT_SAVED), 0);
  EXPECT_EQ(m_renderer.shown().size(), 1u);  // the picture is still shown
}

TEST_F(SnapshotTest, OverlongPathsAreRefusedAndTheOldOneKept) {
  ASSERT_TRUE(SetSnapshotPath("/tmp/a.jpg"));
  EXPECT_FALSE(SetSnapshotPath(std::string(kSnapshotPathBytes, 'x')));
  EXPECT_FALSE(SetSnapshotPath(""));
  EXPECT_EQ(GetSnapshotPath(), "/tmp/a.jpg");
}

using LastPictureTest = MediaFixture;

TEST_F(LastPictureTest, DecoderExitKeepsTheLastShownPicture) {
  SaveLastPicture();  // no work picture: nothing
  EXPECT_EQ(m_media.lastPicture, nullptr);
  // Packed planes whose sizes are no multiple of 16 or 64, every byte
  // different from its neighbours: a lost head or tail or a shifted block
  // in the kept copy shows.
  PrepareSize(70, 38);
  FlatPicture p(70, 38, 0, 0, 0);
  std::vector<uint8_t> expected;
  for (std::vector<uint8_t>* plane : {&p.y, &p.cb, &p.cr}) {
    for (size_t i = 0; i < plane->size(); ++i) {
      (*plane)[i] = static_cast<uint8_t>(i * 7 + plane->size());
    }
    expected.insert(expected.end(), plane->begin(), plane->end());
  }
  VideoRender(&p.frame);
  EXPECT_EQ(m_renderer.shown().back().firstLuma, p.y[0]);
  DecoderExit();
  EXPECT_EQ(m_media.workPicture, nullptr);
  ASSERT_NE(m_media.lastPicture, nullptr);
  const uint8_t* last = m_media.lastPicture.get();
  EXPECT_EQ(std::vector<uint8_t>(last, last + expected.size()), expected);

  PresentPicture(last);  // shown again, as the main window does when paused
  EXPECT_EQ(m_renderer.shown().back().firstLuma, p.y[0]);
}

TEST_F(LastPictureTest, SaveBeforeAnyPictureCopiesNothing) {
  m_media.lastPicture.reset(new uint8_t[PICTURE_BUFFER_BYTES]);
  std::memset(m_media.lastPicture.get(), 0x5A, 16);
  m_media.workPicture.reset(new uint8_t[PICTURE_BUFFER_BYTES]());
  SaveLastPicture();  // width 0
  EXPECT_EQ(m_media.lastPicture[0], 0x5A);
}

using EngineHelpersTest = MediaFixture;

TEST_F(EngineHelpersTest, MissingFileAndMissingEngineAreHarmless) {
  m_media.filePath = "/nonexistent/file.av";
  EXPECT_EQ(StartEngine(), 0);
  EXPECT_EQ(m_media.engine, nullptr);
  EXPECT_EQ(ControlEngine(AV_CTRL_PAUSE), 0);
  EXPECT_TRUE(m_window.posts().empty());
}

}  // namespace
}  // namespace trevolo::test
