// Commands made at the exact moment the video output thread is between two
// operations whose order decides the race: a hook installed at that point
// runs the command, so the outcome does not depend on timing luck.
#include <gtest/gtest.h>

#include <atomic>

#include "engine/engine_internal.h"
#include "engine_harness.h"
#include "test_files.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;
using test::AudioMode;
using test::g_harness;
using test::kBase;
using test::SteadyClock;
using test::WaitFor;

// What the hook shares with the test body; everything is atomic, since the
// hook runs on the video output thread.
struct Window {
  std::atomic<int> armed{-1};  // the RaceWindow to act on once, -1 for none
  std::atomic<bool> open{false};
  std::atomic<size_t> picturesBefore{0};  // pictures shown when the window opened
  std::atomic<bool> commandStarted{false};
  std::atomic<bool> commandReturned{false};
  std::atomic<bool> closed{false};
};
Window g_window;

// Spins (sleeping) until `cond` holds or `limit` passes.
template <typename Cond>
void Await(Cond cond, std::chrono::milliseconds limit) {
  const auto end = SteadyClock::now() + limit;
  while (!cond() && SteadyClock::now() < end) std::this_thread::sleep_for(1ms);
}

void Hook(AvEngine* e, RaceWindow window) {
  // Only a picture handed out can complete a seek: the seek window is used
  // for one that is due (its due time is cleared once it is handed out).
  if (window == RaceWindow::SeekJudged && e->videoDue.load() != kNoPictureDue) return;
  int expected = static_cast<int>(window);
  if (!g_window.armed.compare_exchange_strong(expected, -1)) return;
  g_window.picturesBefore = g_harness.pictureCount();
  g_window.open = true;
  if (window == RaceWindow::SeekJudged) {
    // The seek is made once its number and the command are stored; the
    // reader cannot carry it out while this thread holds the picture.
    Await([e] { return e->command.load() == AV_CMD_SEEK; }, 2000ms);
  } else {
    // Play may be held up by the state lock this thread holds: it gets a
    // while to get through, then the window closes anyway.
    Await([] { return g_window.commandStarted.load(); }, 2000ms);
    Await([] { return g_window.commandReturned.load(); }, 300ms);
  }
  g_window.closed = true;
}

class RaceWindowTest : public test::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    g_window.armed = -1;
    g_window.open = g_window.commandStarted = g_window.commandReturned = g_window.closed = false;
    SetRaceWindowHookForTesting(Hook);  // before the engine's threads start
  }
  void TearDown() override {
    EngineFixture::TearDown();
    SetRaceWindowHookForTesting(nullptr);
  }

  // Four seconds at 25 fps, played by a device that takes sound in real time.
  AvEngine* openPlaying() {
    test::RecordingPlan plan;
    plan.pictures = 100;
    const std::string path = m_dir.file("r.av");
    test::WriteBytes(path, test::MakeRecording(plan));
    g_harness.audioMode = AudioMode::RealTime;
    if (!open(path)) return nullptr;
    return WaitFor([] { return g_harness.pictureCount() >= 10; }) ? m_engine : nullptr;
  }
};

TEST_F(RaceWindowTest, CommandsInsideTheVideoOutputRaceWindows) {
  ASSERT_NE(openPlaying(), nullptr);

  // A seek back to the start, made after the picture of the old position
  // was judged against "no seek" but before the flushing check: that picture
  // is dropped, and the seek completes with the picture at its target.
  g_window.armed = static_cast<int>(RaceWindow::SeekJudged);
  ASSERT_TRUE(WaitFor([] { return g_window.open.load(); }, 2000ms));
  ASSERT_EQ(AVSeek(m_engine, 0), 1);
  ASSERT_TRUE(g_window.closed.load());
  const size_t before = g_window.picturesBefore;
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= before + 3; }, 2000ms));
  auto pics = g_harness.pictureLog();
  EXPECT_EQ(pics[before].timeStamp, kBase) << "the first picture after the seek is its target's";
  EXPECT_EQ(m_engine->seekPending.load(), 0u);

  // Play pressed while the picture of a seek made while paused has taken the
  // step flag but not yet paused: the player ends up playing.
  AVControl(m_engine, AV_CTRL_PAUSE);
  g_window.open = g_window.closed = false;
  g_window.armed = static_cast<int>(RaceWindow::StepTaken);
  ASSERT_EQ(AVSeek(m_engine, 1000000), 1);
  ASSERT_TRUE(WaitFor([] { return g_window.open.load(); }, 2000ms));
  g_window.commandStarted = true;
  AVControl(m_engine, AV_CTRL_PLAY);
  g_window.commandReturned = true;
  ASSERT_TRUE(WaitFor([] { return g_window.closed.load(); }, 2000ms));
  const size_t atPlay = g_harness.pictureCount();
  EXPECT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= atPlay + 3; }, 2000ms))
      << "pictures go on after play";
  EXPECT_EQ(m_engine->state.load(), AV_STATE_PLAYING);
  // Playing, the pause, the seek's playing, the step's pause, play.
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2, 1, 2, 1}));
}

}  // namespace
}  // namespace trevolo
