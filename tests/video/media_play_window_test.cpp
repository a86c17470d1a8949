// `avtool play-window` without a screen: the player's own window, hidden,
// under SDL's dummy video driver and the real-time disk sound driver. What
// the summary says must match the file, the snapshot taken through the
// window's button must hold the picture of its moment, and the sync log must
// show pictures and sound together.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/video/media_test_support.h"

namespace trevolo::test {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFps = 25;
constexpr int kSeconds = 2;
constexpr int kFrames = kFps * kSeconds;

class PlayWindowHeadless : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::filesystem::create_directories(dir());
    const std::string command = std::string(AVTOOL_PATH) + " gen -o " + file() + " --seconds " +
                                std::to_string(kSeconds) + " --size " + std::to_string(kWidth) +
                                "x" + std::to_string(kHeight) + " --fps " + std::to_string(kFps);
    ASSERT_EQ(Shell(command), 0);
  }
  static void TearDownTestSuite() { std::filesystem::remove_all(dir()); }

  static std::filesystem::path dir() {
    return std::filesystem::temp_directory_path() /
           ("trevolo_play_window_headless_" + std::to_string(getpid()));
  }
  static std::string file() { return (dir() / "two.av").string(); }
  static std::string path(const std::string& name) { return (dir() / name).string(); }

  // Runs avtool play --window with `options`; its standard output (stderr
  // too when `withErrors`) and exit status.
  std::string play(const std::string& options, int* status, bool withErrors = false) {
    const std::string command = "env -u DISPLAY SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk"
                                " SDL_DISKAUDIOFILE=" + path("heard.raw") +
                                " XDG_RUNTIME_DIR=" + dir().string() + " " + AVTOOL_PATH +
                                " play --window --hidden " + options +
                                (withErrors ? " 2>&1" : " 2>/dev/null");
    return RunOutput(command, status);
  }
};

long Number(const std::string& summary, const std::string& name) {
  const std::string value = SummaryValue(summary, name);
  return value.empty() ? -1 : std::strtol(value.c_str(), nullptr, 10);
}

TEST_F(PlayWindowHeadless, PlaysTheWholeFileAndSummarisesWhatTheWindowSaw) {
  int status = -1;
  const std::string summary =
      play("--snapshot-at 800 --av-log " + path("sync.log") + " " + file(), &status);
  ASSERT_EQ(status, 0) << summary;
  EXPECT_EQ(SummaryValue(summary, "picture_size"), "320x240") << summary;
  EXPECT_EQ(SummaryValue(summary, "ended_by"), "end of file") << summary;
  EXPECT_EQ(SummaryValue(summary, "sound_device"), "yes") << summary;
  EXPECT_FALSE(SummaryValue(summary, "renderer").empty()) << summary;
  const long duration = Number(summary, "duration_ms");
  EXPECT_GE(duration, kSeconds * 1000 - 100) << summary;
  EXPECT_LE(duration, kSeconds * 1000) << summary;
  // Every picture but possibly the last (the end can overtake it) was shown.
  EXPECT_GE(Number(summary, "pictures_shown"), kFrames - 2) << summary;
  EXPECT_LE(Number(summary, "pictures_shown"), kFrames) << summary;
  // The last position the engine reported is about the file's last sound
  // frame (which may start a little after the last picture).
  EXPECT_GE(Number(summary, "last_position_ms"), duration - 100) << summary;
  EXPECT_LT(Number(summary, "last_position_ms"), kSeconds * 1000) << summary;

  // The snapshot went where the window puts it (the CapturePic folder beside
  // the executable) and holds the picture shown about 0.8 s in.
  const std::filesystem::path snapshot = SummaryValue(summary, "snapshot");
  ASSERT_TRUE(std::filesystem::is_regular_file(snapshot)) << summary;
  EXPECT_EQ(snapshot.parent_path(),
            std::filesystem::path(AVTOOL_PATH).parent_path() / "CapturePic");
  const int snapped = FrameInImage(snapshot.string(), kWidth, kHeight, path("snap.grey"));
  std::filesystem::remove(snapshot);
  // Asked for at 0.8 s of wall time, counted from the open; the first
  // picture waits until its sound is heard (the device's priming and
  // latency), and a busy machine starts slower still.
  EXPECT_GE(snapped, 500 * kFps / 1000);
  EXPECT_LE(snapped, 800 * kFps / 1000 + kFps / 2);

  // One log line per picture shown, picture times running forward, and the
  // pictures within 40 ms of the sound being heard.
  std::ifstream log(path("sync.log"));
  std::string header;
  std::getline(log, header);
  std::vector<long long> pictureUs;
  int synced = 0;
  int withSound = 0;
  for (long long wall, picture, audio; log >> wall >> picture >> audio;) {
    pictureUs.push_back(picture);
    if (audio < 0) continue;
    ++withSound;
    synced += std::llabs(picture - audio) <= 40'000;
  }
  EXPECT_EQ(static_cast<long>(pictureUs.size()), Number(summary, "pictures_shown"));
  EXPECT_TRUE(std::is_sorted(pictureUs.begin(), pictureUs.end()));
  ASSERT_GE(withSound, kFrames - 5);
  RecordProperty("pictures_in_sync", synced);
  EXPECT_GE(synced * 100, withSound * 95);
}

TEST_F(PlayWindowHeadless, TimeLimitStopsEarlyAndNoSnapshotWasAskedFor) {
  int status = -1;
  const std::string summary = play("--timeout-ms 600 " + file(), &status);
  ASSERT_EQ(status, 0) << summary;
  EXPECT_EQ(SummaryValue(summary, "ended_by"), "time limit") << summary;
  EXPECT_EQ(summary.find("snapshot:"), std::string::npos) << summary;
  EXPECT_GT(Number(summary, "pictures_shown"), 0) << summary;
  EXPECT_LT(Number(summary, "pictures_shown"), kFrames / 2) << summary;
  EXPECT_LT(Number(summary, "last_position_ms"), 1000) << summary;
}

TEST_F(PlayWindowHeadless, RemovedAndMalformedOptionsAreRefusedBeforeAWindowOpens) {
  const struct {
    const char* options;
    const char* message;
  } cases[] = {
      {"--size 320x240", "--size is no longer accepted"},
      {"--snapshot-path x.jpg", "--snapshot-path is no longer accepted"},
      {"--snapshot-at soon", "bad value for --snapshot-at"},
      {"--timeout-ms -5", "bad value for --timeout-ms"},
      {"--av-log", "usage: avtool play-window"},  // the file became the log
      {"--bogus", "unexpected argument '--bogus'"},
  };
  for (const auto& c : cases) {
    int status = -1;
    const std::string out = play(std::string(c.options) + " " + file(), &status, true);
    EXPECT_EQ(status, 1) << c.options;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.options << ": " << out;
    EXPECT_EQ(out.find("ended_by:"), std::string::npos) << c.options;
  }
  int status = -1;
  const std::string out = play(path("missing.av"), &status, true);
  EXPECT_EQ(status, 1);
  EXPECT_NE(out.find("no such file"), std::string::npos) << out;
}

}  // namespace
}  // namespace trevolo::test
