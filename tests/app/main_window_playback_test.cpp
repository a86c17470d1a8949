// The main window playing real recordings through the engine, the decoders,
// the renderer and a sound output paced in real time (SDL's disk driver):
// a new file stops the current one and starts with a new engine, a missing
// file leaves the current one playing, and snapshots land as JPEG files of
// the picture's size while playing and while paused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "app/layout.h"
#include "main_window_fixture.h"
#include "tests/media/media_test_util.h"
#include "video/media_context.h"

namespace trevolo::app::testing {
namespace {

using trevolo::test::Bytes;
using trevolo::test::ReadBytes;
using trevolo::test::RunAvtool;
using trevolo::test::TempDir;

// Whether a reference decoder reads the whole file as a picture.
bool DecodesAsJpeg(const std::string& path) {
  return std::system(("ffmpeg -nostdin -v error -xerror -i '" + path + "' -f null - 2>/dev/null").c_str()) == 0;
}

// Width and height from a baseline JPEG's frame header; {0, 0} when absent.
std::pair<int, int> JpegSize(const Bytes& jpeg) {
  for (size_t i = 2; i + 8 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      return {jpeg[i + 7] << 8 | jpeg[i + 8], jpeg[i + 5] << 8 | jpeg[i + 6]};
    }
  }
  return {0, 0};
}

class PlaybackTest : public MainWindowTest {
 protected:
  void SetUp() override {
    // Sound paced like a real device, heard by nobody.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    MainWindowTest::SetUp();
  }
  std::string recording(const std::string& name, const std::string& size, int seconds) {
    const std::string path = m_dir.path(name);
    const auto result = RunAvtool("gen -o " + path + " --size " + size + " --seconds " +
                                  std::to_string(seconds));
    EXPECT_EQ(result.status, 0) << result.err;
    return path;
  }
  bool said(const std::string& line) const {
    return std::find(status.begin(), status.end(), line) != status.end();
  }
  TempDir m_dir;
};

TEST_F(PlaybackTest, ANewFileStopsTheCurrentOneAndAMissingOneDoesNot) {
  const std::string first = recording("first.av", "320x240", 3);
  const std::string second = recording("second.av", "640x360", 2);
  m_dlg->OnFileChosen(first);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().pictureShown; }));
  EXPECT_TRUE(said("open: " + first));
  EXPECT_TRUE(m_dlg->soundReady()) << "the first file opens the sound device";
  EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), first);
  EXPECT_FALSE(window().control(IDC_OPENFILE)->visible());

  m_dlg->OnHandOver(m_dir.path("missing.av"));
  window().pumpOnce(5);
  EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), "[File not exist] " + m_dir.path("missing.av"));
  EXPECT_TRUE(m_dlg->flags().active) << "the playing file plays on";
  EXPECT_EQ(GetMediaContext().filePath, first);

  status.clear();
  m_dlg->OnDropFiles({second});
  ASSERT_TRUE(pumpUntil([this] { return said("picture: 640x360"); }));
  // Stopped first, then the new file opened with an engine of its own.
  const auto stopped = std::find(status.begin(), status.end(), "state: stopped");
  const auto opened = std::find(status.begin(), status.end(), "open: " + second);
  ASSERT_NE(stopped, status.end());
  ASSERT_NE(opened, status.end());
  EXPECT_LT(stopped, opened);
  EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), second);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->wide(); }));
  // Played to its end: idle again, narrow, times zeroed.
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().idle; }, 6000));
  EXPECT_EQ(window().control(IDC_VIDEO)->rect(), videoRect(false));
  EXPECT_EQ(m_dlg->label(IDC_TIME).text(), "00:00:00/00:00:00");
  EXPECT_EQ(GetMediaContext().engine, nullptr) << "a stopped engine's threads are gone";
  EXPECT_FALSE(m_dlg->soundReady()) << "and so is the sound device";
  // Play after the end starts the same file again with a new engine.
  status.clear();
  command(IDC_PLAY);
  ASSERT_TRUE(pumpUntil([this] { return said("picture: 640x360"); }));
  EXPECT_EQ(status.front(), "open: " + second);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(PlaybackTest, SnapshotsWhilePlayingAndWhilePausedAreJpegsOfThePictureSize) {
  m_dlg.reset();
  PlayerOptions o = options();
  o.executablePath = m_dir.path("bin/trevolo");
  ASSERT_EQ(system(("mkdir -p " + m_dir.path("bin")).c_str()), 0);
  open(o);
  EXPECT_EQ(m_dlg->captureFolder().dir, m_dir.path("bin/CapturePic"));
  const std::string clip = recording("clip.av", "352x288", 3);
  m_dlg->OnFileChosen(clip);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().pictureShown; }));

  command(IDC_CAPTURE);
  const std::string playing = m_dlg->snapshotPath();
  EXPECT_EQ(playing.rfind(m_dir.path("bin/CapturePic/"), 0), 0u) << playing;
  ASSERT_TRUE(pumpUntil([&] { return said("snapshot: " + playing); }));
  EXPECT_EQ(JpegSize(ReadBytes(playing)), (std::pair<int, int>{352, 288}));
  EXPECT_TRUE(DecodesAsJpeg(playing));
  EXPECT_TRUE(window().control(IDC_CAPTURE_TIP)->visible());

  command(IDC_PAUSE);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().paused; }));
  // A repaint while paused presents the saved picture again, once: the timer
  // it arms is gone afterwards and does not re-arm itself.
  window().invalidate();
  window().pumpOnce(0);
  EXPECT_TRUE(window().timerSet(TIMER_PAUSED_REPAINT));
  const uint64_t settle = platform::Window::ticksMs() + 100;
  while (platform::Window::ticksMs() < settle) window().pumpOnce(5);
  EXPECT_FALSE(window().timerSet(TIMER_PAUSED_REPAINT));
  std::vector<uint32_t> pixels;
  const Rect video = window().control(IDC_VIDEO)->rect();
  ASSERT_TRUE(window().platformWindow().readPixels(video, &pixels));
  uint64_t light = 0;
  for (uint32_t p : pixels) light += ((p >> 16 & 0xFF) + (p >> 8 & 0xFF) + (p & 0xFF)) / 3;
  EXPECT_GT(light / pixels.size(), 60u) << "the test picture, not the dark idle picture";
  // The next millisecond's name: the paused snapshot is a new file.
  const uint64_t later = platform::Window::ticksMs() + 2;
  while (platform::Window::ticksMs() < later) {
  }
  command(IDC_CAPTURE);
  const std::string paused = m_dlg->snapshotPath();
  ASSERT_NE(paused, playing);
  EXPECT_EQ(JpegSize(ReadBytes(paused)), (std::pair<int, int>{352, 288}))
      << "written before the command returns";
  EXPECT_TRUE(DecodesAsJpeg(paused));
  command(IDC_STOP);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().idle; }));
  command(IDC_CAPTURE);  // stopped: nothing
  EXPECT_EQ(m_dlg->snapshotPath(), paused);
}

// A picture step plays no sound, so nothing else would move the time
// display and the position slider to the picture it shows.
TEST_F(PlaybackTest, PictureStepsMoveThePositionSliderToThePictureShown) {
  const std::string clip = recording("steps.av", "160x96", 4);
  m_dlg->OnFileChosen(clip);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().pictureShown; }));
  command(IDC_PAUSE);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().paused; }));
  const auto pauses = [this] { return std::count(status.begin(), status.end(), "state: paused"); };
  const auto step = [&](Key k) {
    const auto before = pauses();
    key(k);
    return pumpUntil([&] { return pauses() > before; });
  };
  const auto& slider = m_dlg->slider(IDC_PROGRESS).slider();
  ASSERT_TRUE(step(Key::Period));
  const int first = slider.GetPos();
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(step(Key::Period));
  EXPECT_EQ(slider.GetPos(), first + 12) << "three pictures of 40 ms on";
  ASSERT_TRUE(step(Key::Comma));
  EXPECT_EQ(slider.GetPos(), first + 8) << "one back";
  EXPECT_EQ(m_dlg->shownPositionMs() % 40, 0);
}

TEST_F(PlaybackTest, AnUnwritableSnapshotFolderGivesNoNoticeAndPlaybackGoesOn) {
  m_dlg.reset();
  PlayerOptions o = options();
  // Neither the executable's folder nor the pictures folder can be created.
  o.executablePath = "/proc/trevolo-none/bin/trevolo";
  setenv("XDG_PICTURES_DIR", "/proc/trevolo-none/Pictures", 1);
  open(o);
  unsetenv("XDG_PICTURES_DIR");
  const std::string clip = recording("clip.av", "320x240", 2);
  m_dlg->OnFileChosen(clip);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().pictureShown; }));
  command(IDC_CAPTURE);
  command(IDC_PAUSE);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().paused; }));
  command(IDC_CAPTURE);
  window().pumpOnce(20);
  EXPECT_FALSE(window().control(IDC_CAPTURE_TIP)->visible());
  for (const std::string& line : status) EXPECT_NE(line.rfind("snapshot:", 0), 0u) << line;
  command(IDC_PLAY);
  ASSERT_TRUE(pumpUntil([this] { return m_dlg->flags().idle; }));
  EXPECT_TRUE(boxes.empty());
}

}  // namespace
}  // namespace trevolo::app::testing
