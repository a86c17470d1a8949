// `avtool play --window` end to end on a real X display: what the player's
// window shows in its video area, what the sound device plays and what the
// snapshot taken through the window's button holds. Needs an X server (run
// under xvfb-run); skipped when DISPLAY is unset.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "app/player_state.h"
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

  // Grabs the player's window (found once) into `name`.xwd, kept for later
  // reading so that the grabs stay quick while the player runs.
  bool grab(const std::string& name) {
    if (m_window.empty()) {
      const std::string id = RunOutput("xdotool search --name '^Trevolo$' 2>/dev/null | head -1");
      m_window = id.substr(0, id.find('\n'));
      if (m_window.empty()) return false;
    }
    return Shell("xwd -silent -id " + m_window + " -out " + path(name + ".xwd")) == 0;
  }

  // The frame number the grabbed window shows in its video area, -1 when
  // unreadable. A 4:3 picture keeps the narrow video area.
  int frameInGrab(const std::string& name) {
    const std::string video = path(name + "_video.png");
    const app::Rect area = app::videoRect(false);
    const std::string crop = std::to_string(area.width()) + "x" + std::to_string(area.height()) +
                             "+" + std::to_string(area.left) + "+" + std::to_string(area.top);
    if (Shell("convert " + path(name + ".xwd") + " -crop " + crop + " +repage " + video) != 0) {
      return -1;
    }
    return FrameInImage(video, kWidth, kHeight, path(name + ".grey"));
  }

  std::string m_window;
  std::filesystem::path m_dir = std::filesystem::temp_directory_path() /
                                ("trevolo_play_window_" + std::to_string(getpid()));
};

TEST_F(PlayWindowTest, ShowsThePicturesPlaysTheSoundInOrderAndTakesASnapshot) {
  const std::string avtool = AVTOOL_PATH;
  const std::string file = path("three.av");
  ASSERT_EQ(Shell(avtool + " gen -o " + file + " --seconds 3 --size 320x240"), 0);
  const std::string statusLines = path("status.txt"), syncLog = path("sync.txt");
  const std::string command = "SDL_DISKAUDIOFILE=" + path("heard.raw") +
                              " XDG_RUNTIME_DIR=" + m_dir.string() + " " + avtool +
                              " play --window --verbose --audio-driver disk --snapshot-at 1000" +
                              " --av-log " + syncLog + " " + file + " 2>" + statusLines;
  int exitStatus = -1;  // a sanitizer report in the player shows here
  auto player = std::async(std::launch::async, [&] { return RunOutput(command, &exitStatus); });

  // The window reports each new whole second of the position as the sound
  // reaches it: the moment "1 s" appears, picture 25 (25 fps) is due. The
  // window is grabbed then and 800 ms later; what it shows is expected to
  // follow the clock from there, within 8 pictures.
  using Clock = std::chrono::steady_clock;
  const std::string oneSecond = "position: " + app::PositionText(1000) + "/";
  Clock::time_point atOneSecond;
  bool seen = false;
  for (const auto end = Clock::now() + 15s; !seen && Clock::now() < end;) {
    const std::vector<uint8_t> lines = ReadAll(statusLines);
    seen = std::search(lines.begin(), lines.end(), oneSecond.begin(), oneSecond.end()) !=
           lines.end();
    atOneSecond = Clock::now();
    if (!seen) std::this_thread::sleep_for(5ms);
  }
  ASSERT_TRUE(seen) << "the position never reached one second";
  // The pictures due while a grab was under way: from the one due when it
  // began to the one due when it ended.
  struct Grab {
    double first, last;
  };
  auto grabAt = [&](const std::string& name, Grab* due) {
    auto dueAt = [&](Clock::time_point t) {
      return 25.0 + 25.0 * std::chrono::duration<double>(t - atOneSecond).count();
    };
    const auto before = Clock::now();
    const bool grabbed = grab(name);
    *due = {dueAt(before), dueAt(Clock::now())};
    return grabbed;
  };
  Grab earlyDue{}, laterDue{};
  EXPECT_TRUE(grabAt("early", &earlyDue));
  std::this_thread::sleep_until(atOneSecond + 800ms);
  EXPECT_TRUE(grabAt("later", &laterDue));
  ASSERT_EQ(player.wait_for(20s), std::future_status::ready);
  const std::string report = player.get();

  if (exitStatus != 0) {
    const std::vector<uint8_t> err = ReadAll(statusLines);
    ADD_FAILURE() << "the player exited with " << exitStatus << "; the end of its stderr:\n"
                  << std::string(err.end() - std::min<long>(4000, std::ssize(err)), err.end());
  }
  EXPECT_NE(report.find("picture_size: 320x240"), std::string::npos) << report;
  EXPECT_NE(report.find("ended_by: end of file"), std::string::npos) << report;
  const int early = frameInGrab("early");
  const int later = frameInGrab("later");
  EXPECT_GE(early, earlyDue.first - 8);
  EXPECT_LE(early, earlyDue.last + 8);
  EXPECT_GE(later, laterDue.first - 8);
  EXPECT_LE(later, laterDue.last + 8);

  // The snapshot, asked for 1000 ms after the file was opened, holds the
  // picture due then: the sync log tells when the first picture came.
  const std::string snapshot = SummaryValue(report, "snapshot");
  ASSERT_FALSE(snapshot.empty()) << report;
  const int snapped = FrameInImage(snapshot, kWidth, kHeight, path("snap.grey"));
  std::filesystem::remove(snapshot);
  long long firstPictureUs = -1;
  ASSERT_EQ(std::sscanf(RunOutput("grep -v '^#' " + syncLog + " | head -1").c_str(), "%lld",
                        &firstPictureUs),
            1);
  const double snapshotExpected = (1'000'000.0 - static_cast<double>(firstPictureUs)) / 40'000.0;
  EXPECT_NEAR(snapped, snapshotExpected, 8);

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
  RecordProperty("first_picture_us", static_cast<int>(firstPictureUs));
  RecordProperty("early_grab_ms", static_cast<int>((earlyDue.last - earlyDue.first) * 40));
  RecordProperty("sound_frames_in_order", static_cast<int>(matched));
  EXPECT_GE(matched, 130u);  // the end of the file stops the sound a few frames early
}

}  // namespace
}  // namespace trevolo::test
