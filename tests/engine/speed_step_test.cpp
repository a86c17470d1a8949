// Playback speed, stepping one picture at a time while paused, and seeks
// that decode the pictures before their target only as references.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine_internal.h"
#include "engine_harness.h"
#include "test_files.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;
using test::g_harness;
using test::kBase;
using test::WaitFor;

constexpr uint64_t kPictureUs = 40000;  // 25 fps
constexpr uint64_t kSoundFrameUs = 20000;

// A wall clock that moves only when the test says so.
std::atomic<uint64_t> g_fakeNow{1000000000};
uint64_t FakeClock() { return g_fakeNow.load(); }
void AdvanceClock(uint64_t us) { g_fakeNow += us; }

// A sound output on the fake clock playing at g_devicePermille, as the
// application's stretcher makes it: it holds three frames and takes the
// next once the one before has been played. Each refusal is counted, so
// the test moves the clock only once the engine waits for the output.
std::atomic<uint32_t> g_devicePermille{1000};
std::atomic<uint64_t> g_deviceStart{0};     // fake time of the first frame taken
std::atomic<uint64_t> g_lastAcceptAt{0};    // fake time of the latest frame taken
std::atomic<int> g_renderCalls{0};          // every offer, taken or not
std::atomic<bool> g_refused{false};
int DeviceAudioRender(const uint8_t* pcm, uint32_t bytes, uint64_t position) {
  ++g_renderCalls;
  const uint64_t now = g_fakeNow.load();
  if (g_harness.audioCount() == 0) g_deviceStart = now;
  const uint64_t played =
      (now - g_deviceStart.load()) * g_devicePermille.load() / (kSoundFrameUs * 1000);
  if (g_harness.audioCount() >= 3 + played) {
    g_refused = true;
    return 0;
  }
  g_lastAcceptAt = now;
  return test::HAudioRender(pcm, bytes, position);
}

// Pictures every 40 ms from kBase, key frames every ten, each block with
// the two 20 ms sound frames of its instant when `sound`.
std::vector<uint8_t> Recording(int pictures, bool sound) {
  test::RecordingPlan plan;
  plan.pictures = pictures;
  plan.gop = 10;
  plan.videoBytes = 100;
  plan.audioPerPicture = sound ? 2 : 0;
  return test::MakeRecording(plan);
}

// A video decoder that stops inside the run of pictures before a seek's
// target (at g_holdTs) until the test has made another seek to g_nextTarget.
AvEngine* g_engine = nullptr;
std::atomic<uint64_t> g_holdTs{0};
std::atomic<uint64_t> g_nextTarget{0};
std::atomic<bool> g_held{false};
std::atomic<size_t> g_decodesAtHold{0};
int HoldingVideoDecode(const uint8_t* d, uint32_t n, uint64_t ts, YuvFrame* f) {
  const int result = test::HVideoDecode(d, n, ts, f);
  if (f == nullptr && ts == g_holdTs.load() && g_holdTs.exchange(0) == ts) {
    {
      std::lock_guard<std::mutex> g(g_harness.lock);
      g_decodesAtHold = g_harness.decodedVideo.size();
    }
    g_held = true;
    WaitFor([] {
      return g_engine->command.load() == AV_CMD_SEEK && g_engine->seekTarget == g_nextTarget;
    }, 2000ms);
  }
  return result;
}

class SpeedStepTest : public test::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    SetClockMicrosForTesting(FakeClock);
    g_devicePermille = 1000;
    g_deviceStart = g_lastAcceptAt = 0;
    g_renderCalls = 0;
    g_refused = false;
    g_holdTs = g_nextTarget = 0;
    g_held = false;
  }
  void TearDown() override {
    EngineFixture::TearDown();
    SetClockMicrosForTesting(nullptr);
    g_engine = nullptr;
  }
  AvEngine* openWith(const std::vector<uint8_t>& bytes, const AvCallbacks& changes) {
    m_path = m_dir.file("s.av");
    test::WriteBytes(m_path, bytes);
    AvCallbacks cb = changes;
    cb.FilePath = m_path.c_str();
    cb.Duration = &m_duration;
    m_engine = g_engine = AVCreate(&cb);
    return m_engine;
  }
  size_t pauses() {
    auto s = g_harness.stateLog();
    return static_cast<size_t>(std::count(s.begin(), s.end(), AV_STATE_PAUSED));
  }
  // A seek or step made while paused: waits for its pause and returns the
  // time stamp (from the first) of the one picture it showed. A step that
  // offered any sound returns -4.
  template <typename Command>
  int64_t whilePaused(Command command, bool silent = false) {
    const int calls = g_renderCalls;
    const size_t before = pauses();
    const size_t pictures = g_harness.pictureCount();
    if (command() != 1) return -1;
    if (!WaitFor([&] { return pauses() > before && m_engine->state == AV_STATE_PAUSED; }, 3000ms)) {
      return -2;
    }
    std::this_thread::sleep_for(20ms);
    if (g_harness.pictureCount() != pictures + 1) return -3;
    if (silent && g_renderCalls != calls) return -4;
    return static_cast<int64_t>(g_harness.pictureLog().back().timeStamp - kBase);
  }
  int64_t step(int direction) {
    return whilePaused([&] { return AVStepPicture(m_engine, direction); }, true);
  }
  // Plays one second of sound and pictures on the fake clock at `permille`
  // with the output latency `latencyUs`; returns the fake time from the
  // first sound frame taken to the last.
  uint64_t playAt(uint32_t permille, uint64_t latencyUs, uint64_t clockStepUs) {
    AvCallbacks cb = test::HarnessCallbacks(nullptr, nullptr);
    cb.AudioRender = DeviceAudioRender;
    g_devicePermille = permille;
    if (!openWith(Recording(25, true), cb)) return 0;
    AVSetSpeed(m_engine, permille);
    AVSetOutputLatency(m_engine, latencyUs);
    // The clock moves on only while the engine waits for the output, and
    // then on to the end, for the pictures after the last sound.
    while (g_harness.lastState() != AV_STATE_STOPPED) {
      if (!WaitFor([] { return g_refused.load() || g_harness.audioCount() == 50; }, 2000ms)) break;
      g_refused = false;
      AdvanceClock(clockStepUs);
      if (g_harness.audioCount() == 50) std::this_thread::sleep_for(2ms);
    }
    return g_lastAcceptAt - g_deviceStart;
  }
};

TEST_F(SpeedStepTest, TheClockRunsAtTheSpeedAndChangesWithoutAJump) {
  ASSERT_NE(openWith(Recording(50, false), test::HarnessCallbacks(nullptr, nullptr)), nullptr);
  EXPECT_EQ(AVSetSpeed(nullptr, 1000), -1);
  EXPECT_EQ(AVSetSpeed(m_engine, AV_SPEED_MIN - 1), -1);
  EXPECT_EQ(AVSetSpeed(m_engine, AV_SPEED_MAX + 1), -1);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 1; }));
  // Video alone runs on the wall clock: 200 ms at 2x bring the pictures up
  // to 400 ms. Each change of speed takes the clock from where it stands.
  struct Leg {
    uint32_t permille;
    uint64_t wallUs;
    size_t pictures;  // shown by the end of the leg
  };
  for (const Leg& leg : {Leg{2000, 200000, 11}, Leg{500, 200000, 13}, Leg{1000, 100000, 16},
                         Leg{8000, 50000, 26}}) {
    ASSERT_EQ(AVSetSpeed(m_engine, leg.permille), 1);
    std::this_thread::sleep_for(50ms);
    const size_t before = g_harness.pictureCount();
    AdvanceClock(leg.wallUs);
    ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() == leg.pictures; }))
        << leg.permille << ": " << g_harness.pictureCount() << " from " << before;
    std::this_thread::sleep_for(60ms);
    EXPECT_EQ(g_harness.pictureCount(), leg.pictures) << leg.permille;
  }
  // Paused and played again at another speed: it goes on from where it stood.
  AVControl(m_engine, AV_CTRL_PAUSE);
  AdvanceClock(1000000);
  ASSERT_EQ(AVSetSpeed(m_engine, 2000), 1);
  AVControl(m_engine, AV_CTRL_PLAY);
  std::this_thread::sleep_for(60ms);
  EXPECT_EQ(g_harness.pictureCount(), 26u);
  AdvanceClock(40000);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 28; }));
  auto pics = g_harness.pictureLog();
  for (size_t i = 0; i < pics.size(); ++i) EXPECT_EQ(pics[i].timeStamp, kBase + i * kPictureUs);
}

TEST_F(SpeedStepTest, WithSoundASecondPlaysInHalfOrTwiceTheTimeWithPicturesInStep) {
  // The output latency is wall time: 200 ms hold 400 ms of clock at 2x
  // (twenty sound frames) and 100 ms at 0.5x (five).
  struct Run {
    uint32_t permille;
    uint64_t clockStepUs;
    size_t latencyFrames;
  };
  for (const Run& run : {Run{2000, 10000, 20}, Run{500, 40000, 5}}) {
    SCOPED_TRACE(run.permille);
    g_harness.reset();
    SetUp();
    // 47 frames after the three the output holds at once, each 20 ms long.
    const double expected = 47.0 * kSoundFrameUs * 1000 / run.permille;
    const uint64_t took = playAt(run.permille, 200000, run.clockStepUs);
    EXPECT_NEAR(static_cast<double>(took), expected, expected * 0.05);
    ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
    auto pics = g_harness.pictureLog();
    ASSERT_EQ(pics.size(), 25u);
    for (size_t n = 0; n < pics.size(); ++n) {
      EXPECT_EQ(pics[n].timeStamp, kBase + n * kPictureUs);
      // Picture n is shown while the sound frame a latency after its own is
      // being offered: 2n + latency frames were taken before it.
      const size_t due = 2 * n + run.latencyFrames;
      // The first picture is not held, the second may be judged before the
      // latency is set; the last lie past the sound.
      if (n < 2 || due >= 48) continue;
      EXPECT_GE(pics[n].audioAccepted, due) << n;
      EXPECT_LE(pics[n].audioAccepted, due + 2) << n;
    }
    AVDestroy(m_engine);
    m_engine = nullptr;
  }
}

TEST_F(SpeedStepTest, StepsLandOnTheNextAndPreviousPicturesSilently) {
  AvCallbacks cb = test::HarnessCallbacks(nullptr, nullptr);
  cb.AudioRender = DeviceAudioRender;
  ASSERT_NE(openWith(Recording(50, true), cb), nullptr);
  // Three sound frames are taken at once, the fourth (60 ms) is offered.
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 2; }));
  EXPECT_EQ(AVStepPicture(nullptr, 1), -1);
  EXPECT_EQ(AVStepPicture(m_engine, 1), -1) << "only while paused";
  AVControl(m_engine, AV_CTRL_PAUSE);
  ASSERT_EQ(whilePaused([&] { return AVSeek(m_engine, 360000); }), 360000);

  // Key frames every 400 ms: across the boundary and back over it.
  size_t decodes = 0;
  {
    std::lock_guard<std::mutex> g(g_harness.lock);
    decodes = g_harness.decodedVideo.size();
  }
  EXPECT_EQ(step(1), 400000);
  EXPECT_EQ(step(1), 440000);
  EXPECT_EQ(step(-1), 400000);
  EXPECT_EQ(step(-1), 360000);
  EXPECT_EQ(step(-1), 320000);
  EXPECT_EQ(step(1), 360000);
  EXPECT_EQ(AVStepPicture(m_engine, 0), 0);

  // Every step restarted at a key frame: the pictures before its target
  // were decoded without a frame, its own with one.
  std::vector<uint64_t> log;
  std::vector<bool> withFrame;
  {
    std::lock_guard<std::mutex> g(g_harness.lock);
    log.assign(g_harness.decodedVideo.begin() + static_cast<long>(decodes),
               g_harness.decodedVideo.end());
    withFrame.assign(g_harness.decodedWithFrame.begin() + static_cast<long>(decodes),
                     g_harness.decodedWithFrame.end());
  }
  const auto lastRestart = std::find(log.rbegin(), log.rend(), kBase);
  ASSERT_NE(lastRestart, log.rend());
  const size_t from = static_cast<size_t>(log.rend() - lastRestart) - 1;
  ASSERT_GE(log.size(), from + 10);
  for (size_t i = from; i < from + 9; ++i) {
    EXPECT_EQ(log[i], kBase + (i - from) * kPictureUs);
    EXPECT_FALSE(withFrame[i]) << log[i] - kBase;
  }
  EXPECT_EQ(log[from + 9], kBase + 360000);
  EXPECT_TRUE(withFrame[from + 9]);

  // Nothing before the first picture nor after the last.
  ASSERT_EQ(whilePaused([&] { return AVSeek(m_engine, 1960000); }), 1960000);
  EXPECT_EQ(AVStepPicture(m_engine, 1), 0);
  EXPECT_EQ(step(-1), 1920000);
  ASSERT_EQ(whilePaused([&] { return AVSeek(m_engine, 0); }), 0);
  EXPECT_EQ(AVStepPicture(m_engine, -1), 0);
  EXPECT_EQ(step(1), 40000);
  EXPECT_EQ(m_engine->state.load(), AV_STATE_PAUSED);
  // Playing on from a step: the sound comes back.
  const int calls = g_renderCalls;
  AVControl(m_engine, AV_CTRL_PLAY);
  AdvanceClock(100000);
  EXPECT_TRUE(WaitFor([&] { return g_renderCalls.load() > calls; }));
}

TEST_F(SpeedStepTest, ASeekMadeInsideTheSkippedRunOfAnotherCompletesWithItsOwnPicture) {
  // Seek A to 1.96 s decodes from the key frame at 1.6 s; while the decoder
  // is on 1.72 s, seek B to 0.36 s is made.
  AvCallbacks cb = test::HarnessCallbacks(nullptr, nullptr);
  cb.VideoDecode = HoldingVideoDecode;
  ASSERT_NE(openWith(Recording(50, false), cb), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 1; }));
  g_holdTs = kBase + 1720000;
  g_nextTarget = kBase + 360000;
  ASSERT_EQ(AVSeek(m_engine, 1960000), 1);
  ASSERT_TRUE(WaitFor([] { return g_held.load(); }));
  ASSERT_EQ(AVSeek(m_engine, 360000), 1);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 2; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(g_harness.pictureCount(), 2u);
  EXPECT_EQ(g_harness.pictureLog().back().timeStamp, kBase + 360000);
  EXPECT_EQ(m_engine->seekPending.load(), 0u);
  // After the hold: seek B's run from its key frame, without frames up to
  // its target, with one for it.
  std::lock_guard<std::mutex> g(g_harness.lock);
  const auto& log = g_harness.decodedVideo;
  const size_t from = g_decodesAtHold;
  ASSERT_GE(log.size(), from + 10);
  for (size_t i = 0; i < 10; ++i) {
    EXPECT_EQ(log[from + i], kBase + i * kPictureUs);
    EXPECT_EQ(g_harness.decodedWithFrame[from + i], i == 9) << i;
  }
}

}  // namespace
}  // namespace trevolo
