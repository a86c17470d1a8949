// `avtool play --window` end to end on a real X display: what the player's
// window shows in its video area, what the sound device plays and what the
// snapshot taken through the window's button holds. Needs an X server (run
// under xvfb-run); skipped when DISPLAY is unset.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "tests/video/media_test_support.h"

namespace trevolo::test {
namespace {

using namespace std::chrono_literals;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr size_t kFrameBytes = 320;

class PlayWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display (run under xvfb-run)";
    std::filesystem::create_directories(m_dir);
  }
  void TearDown() override { std::filesystem::remove_all(m_dir); }

  std::string path(const std::string& name) const { return (m_dir / name).string(); }

  // The frame number the player's video area shows now, -1 when unreadable.
  // A 4:3 picture keeps the narrow video area.
  int frameOnScreen(const std::string& name) {
    const std::string id = RunOutput("xdotool search --name '^Trevolo$' 2>/dev/null | head -1");
    if (id.empty()) return -1;
    const std::string png = path(name + ".png"), video = path(name + "_video.png");
    if (Shell("import -window " + id.substr(0, id.find('\n')) + " " + png) != 0) return -1;
    const app::Rect area = app::videoRect(false);
    const std::string crop = std::to_string(area.width()) + "x" + std::to_string(area.height()) +
                             "+" + std::to_string(area.left) + "+" + std::to_string(area.top);
    if (Shell("convert " + png + " -crop " + crop + " +repage " + video) != 0) return -1;
    return FrameInImage(video, kWidth, kHeight, path(name + ".grey"));
  }

  std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                ("trevolo_play_window_" + std::to_string(getpid()));
};

TEST_F(PlayWindowTest, ShowsThePicturesPlaysTheSoundInOrderAndTakesASnapshot) {
  const std::string avtool = AVTOOL_PATH;
  const std::string file = path("three.av");
  ASSERT_EQ(Shell(avtool + " gen -o " + file + " --seconds 3 --size 320x240"), 0);
  const std::string command = "SDL_DISKAUDIOFILE=" + path("heard.raw") +
                              " XDG_RUNTIME_DIR=" + m_dir.string() + " " + avtool +
                              " play --window --audio-driver disk --snapshot-at 1000 " + file +
                              " 2>/dev/null";
  auto player = std::async(std::launch::async, [&] { return RunOutput(command); });
  std::this_thread::sleep_for(1000ms);
  const int early = frameOnScreen("early");
  std::this_thread::sleep_for(800ms);
  const int later = frameOnScreen("later");
  ASSERT_EQ(player.wait_for(20s), std::future_status::ready);
  const std::string report = player.get();

  EXPECT_NE(report.find("picture_size: 320x240"), std::string::npos) << report;
  EXPECT_NE(report.find("ended_by: end of file"), std::string::npos) << report;
  EXPECT_GE(early, 5);
  EXPECT_GT(later, early);
  EXPECT_LT(later, 75);

  // The snapshot holds the picture shown about one second in.
  const std::string snapshot = SummaryValue(report, "snapshot");
  ASSERT_FALSE(snapshot.empty()) << report;
  const int snapped = FrameInImage(snapshot, kWidth, kHeight, path("snap.grey"));
  std::filesystem::remove(snapshot);
  EXPECT_GE(snapped, 15);
  EXPECT_LE(snapped, 40);

  // The sound device played the decoded sound track in order, from the
  // second frame on (the sound output's first write primes it with silence).
  ASSERT_EQ(Shell(avtool + " demux " + file + " --audio " + path("a.amr")), 0);
  ASSERT_EQ(Shell(avtool + " amr " + path("a.amr") + " -o " + path("a.pcm")), 0);
  const std::vector<uint8_t> decoded = ReadAll(path("a.pcm"));
  const std::vector<uint8_t> heard = ReadAll(path("heard.raw"));
  ASSERT_GE(decoded.size(), 150 * kFrameBytes);
  const auto second = std::search(heard.begin(), heard.end(), decoded.begin() + kFrameBytes,
                                  decoded.begin() + 2 * kFrameBytes);
  ASSERT_NE(second, heard.end());
  size_t matched = 0;
  for (size_t f = 1; f * kFrameBytes + kFrameBytes <= decoded.size(); ++f) {
    const size_t at = static_cast<size_t>(second - heard.begin()) + (f - 1) * kFrameBytes;
    if (at + kFrameBytes > heard.size() ||
        !std::equal(decoded.begin() + f * kFrameBytes, decoded.begin() + (f + 1) * kFrameBytes,
                    heard.begin() + at)) {
      break;
    }
    ++matched;
  }
  RecordProperty("frame_at_1000ms", early);
  RecordProperty("frame_at_1800ms", later);
  RecordProperty("snapshot_frame", snapped);
  RecordProperty("sound_frames_in_order", static_cast<int>(matched));
  EXPECT_GE(matched, 130u);  // the end of the file stops the sound a few frames early
}

}  // namespace
}  // namespace trevolo::test
