// Playback from start to end: what is presented before the end is reported,
// the order of the reports, commands to an engine whose reader has ended,
// sound held to its time stamp, pauses and stops around a seek.
#include <gtest/gtest.h>

#include <algorithm>
#include <future>

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

// A wall clock that moves only when the test says so.
std::atomic<uint64_t> g_fakeNow{1000000000};
uint64_t FakeClock() { return g_fakeNow.load(); }
void AdvanceClock(uint64_t us) { g_fakeNow += us; }

// What had been presented when the end was reported.
std::atomic<long> g_picturesAtEnd{-1};
std::atomic<long> g_audioAtEnd{-1};
void RecordingStateNotify(int s) {
  if (s == AV_STATE_STOPPED && g_picturesAtEnd.load() < 0) {
    g_picturesAtEnd = static_cast<long>(g_harness.pictureCount());
    g_audioAtEnd = static_cast<long>(g_harness.audioCount());
  }
  test::HStateNotify(s);
}

// Engine threads that call back before playing was reported.
std::atomic<int> g_callsBeforePlaying{0};
void CountIfNotPlaying() {
  if (g_harness.stateLog().empty()) ++g_callsBeforePlaying;
}
void EarlyAudioFormat(const AvAudioFormat*) { CountIfNotPlaying(); }
int EarlyVideoDecode(const uint8_t* d, uint32_t n, uint64_t ts, YuvFrame* f) {
  CountIfNotPlaying();
  return test::HVideoDecode(d, n, ts, f);
}

// A picture that takes a while to present, and whether one was being
// presented when a pause was reported.
std::atomic<bool> g_inRender{false};
std::atomic<int> g_pausesDuringRender{0};
void SlowVideoRender(YuvFrame* f) {
  g_inRender = true;
  std::this_thread::sleep_for(150ms);
  test::HVideoRender(f);
  g_inRender = false;
}
void PauseCheckingStateNotify(int s) {
  if (s == AV_STATE_PAUSED && g_inRender.load()) ++g_pausesDuringRender;
  test::HStateNotify(s);
}

// Pictures that fail to decode while the flag is set.
std::atomic<bool> g_decodeFails{false};
int FailingVideoDecode(const uint8_t* d, uint32_t n, uint64_t ts, YuvFrame* f) {
  if (g_decodeFails.load()) return 0;
  return test::HVideoDecode(d, n, ts, f);
}

// Pictures every 40 ms from kBase; block n carries two 20 ms sound frames of
// its own instant when `sound(n)`.
template <typename Sound>
std::vector<uint8_t> Recording(int pictures, Sound sound) {
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.audioFormat(kAmrFormatWord);
  for (int n = 0; n < pictures; ++n) {
    std::vector<std::vector<uint8_t>> audio;
    if (sound(n)) audio = {test::AudioFrame(32, 1), test::AudioFrame(32, 2)};
    const uint64_t ts = kBase + static_cast<uint64_t>(n) * 40000;
    w.mediaBlock(ts, SyntheticAccessUnit(100, n % 10 == 0, static_cast<uint32_t>(n)), ts, audio);
  }
  return bytes;
}

class PlaybackTest : public test::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    g_picturesAtEnd = g_audioAtEnd = -1;
    g_callsBeforePlaying = 0;
    g_inRender = false;
    g_pausesDuringRender = 0;
    g_decodeFails = false;
  }
  void TearDown() override {
    EngineFixture::TearDown();
    SetClockMicrosForTesting(nullptr);
    SetReaderFailureForTesting(false);
  }

  std::string write(const std::vector<uint8_t>& bytes) {
    const std::string path = m_dir.file("p.av");
    test::WriteBytes(path, bytes);
    return path;
  }
  AvEngine* openWith(const std::string& path, const AvCallbacks& changes) {
    m_path = path;
    AvCallbacks cb = changes;
    cb.FilePath = m_path.c_str();
    cb.Duration = &m_duration;
    m_engine = AVCreate(&cb);
    return m_engine;
  }
  AvCallbacks callbacks() { return test::HarnessCallbacks(nullptr, nullptr); }
};

TEST_F(PlaybackTest, TheEndIsReportedAfterTheLastPictureAndSound) {
  // A sound device that plays in real time: the last picture is decoded long
  // before its sound is heard, and the end must wait for both.
  g_harness.audioMode = AudioMode::RealTime;
  AvCallbacks cb = callbacks();
  cb.StateNotify = RecordingStateNotify;
  ASSERT_NE(openWith(write(Recording(25, [](int) { return true; })), cb), nullptr);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  EXPECT_EQ(g_picturesAtEnd.load(), 25);
  EXPECT_EQ(g_audioAtEnd.load(), 50);
  AVDestroy(m_engine);
  m_engine = nullptr;

  // A damaged header mid-file whose picture carries the last time stamp does
  // not end playback there.
  g_harness.reset();
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.audioFormat(kAmrFormatWord);
  for (int n = 0; n < 20; ++n) {
    const uint64_t ts = kBase + static_cast<uint64_t>(n) * 40000;
    const uint64_t videoTs = n == 5 ? kBase + 19 * 40000 : ts;
    w.mediaBlock(videoTs, SyntheticAccessUnit(100, n == 0, 0), ts,
                 {test::AudioFrame(32, 1), test::AudioFrame(32, 2)});
  }
  ASSERT_NE(open(write(bytes)), nullptr);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  EXPECT_EQ(g_harness.pictureCount(), 20u);
  EXPECT_EQ(g_harness.audioCount(), 40u);
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 3}));
}

TEST_F(PlaybackTest, PlayingIsReportedBeforeAnythingElse) {
  // A file of one picture ends at once; every engine thread's first call and
  // the end come after the playing report.
  AvCallbacks cb = callbacks();
  cb.AudioFormat = EarlyAudioFormat;
  cb.VideoDecode = EarlyVideoDecode;
  const std::string path = write(Recording(1, [](int) { return true; }));
  for (int round = 0; round < 20; ++round) {
    g_harness.reset();
    ASSERT_NE(openWith(path, cb), nullptr);
    ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
    EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 3})) << "round " << round;
    AVDestroy(m_engine);
    m_engine = nullptr;
  }
  EXPECT_EQ(g_callsBeforePlaying.load(), 0);
}

TEST_F(PlaybackTest, CommandsFinishWhenTheReaderHasEnded) {
  SetReaderFailureForTesting(true);
  ASSERT_NE(open(write(Recording(25, [](int) { return true; }))), nullptr);
  EXPECT_TRUE(waitForState(AV_STATE_STOPPED)) << "an engine that cannot read has ended";
  // Each command runs on its own thread, so a hang shows as a failure; the
  // reader's part is then done by hand to let it return.
  auto within = [this](auto command) {
    auto done = std::async(std::launch::async, command);
    const bool finished = done.wait_for(2s) == std::future_status::ready;
    if (!finished) m_engine->command.store(AV_CMD_NONE);
    return std::make_pair(finished, done.get());
  };
  EXPECT_EQ(within([this] { return AVSeek(m_engine, 200000); }), std::make_pair(true, -1));
  EXPECT_EQ(within([this] { return AVControl(m_engine, AV_CTRL_PLAY); }), std::make_pair(true, 1));
  EXPECT_EQ(within([this] { return AVControl(m_engine, AV_CTRL_STOP); }), std::make_pair(true, 1));
  EXPECT_EQ(g_harness.lastState(), AV_STATE_STOPPED);
}

TEST_F(PlaybackTest, SoundThatStartsLateWaitsForItsTime) {
  // Sound from 1 s on, pictures from 0: with the wall clock standing, only
  // the first picture is due and the sound is not.
  SetClockMicrosForTesting(FakeClock);
  ASSERT_NE(open(write(Recording(50, [](int n) { return n >= 25; }))), nullptr);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_harness.pictureCount(), 1u);
  EXPECT_EQ(g_harness.audioCount(), 0u);
  // Half a second later: the pictures up to 480 ms, still no sound.
  AdvanceClock(500000);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 13; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_harness.pictureCount(), 13u);
  EXPECT_EQ(g_harness.audioCount(), 0u);
  // The sound starts when its time has come; all of it and every picture
  // are presented.
  AdvanceClock(480000);
  ASSERT_TRUE(WaitFor([] { return g_harness.audioCount() > 0; }));
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  EXPECT_EQ(g_harness.audioLog().front(), 1000000u);
  EXPECT_EQ(g_harness.audioCount(), 50u);
  EXPECT_EQ(g_harness.pictureCount(), 50u);
}

TEST_F(PlaybackTest, SeekIntoAStretchWithoutSoundRunsOnTheWallClock) {
  // Sound until 1 s and again from 3 s; a seek to 1.52 s lands between.
  SetClockMicrosForTesting(FakeClock);
  ASSERT_NE(open(write(Recording(100, [](int n) { return n < 25 || n >= 75; }))), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.audioCount() == 50; }));
  // The clock stands now: let the pictures already due come out first.
  std::this_thread::sleep_for(200ms);
  const size_t atSeek = g_harness.pictureCount();
  ASSERT_EQ(AVSeek(m_engine, 1520000), 1);
  // The picture at the target is shown at once, the next only as the clock
  // runs on from there.
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() > atSeek; }));
  std::this_thread::sleep_for(200ms);
  auto pics = g_harness.pictureLog();
  ASSERT_EQ(pics.size(), atSeek + 1) << "last: " << pics.back().timeStamp - kBase;
  EXPECT_EQ(pics.back().timeStamp, kBase + 1520000);
  AdvanceClock(400000);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() == atSeek + 11; }));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_harness.pictureCount(), atSeek + 11);
  EXPECT_EQ(g_harness.pictureLog().back().timeStamp, kBase + 1920000);
  // The sound clock takes over again when the sound returns, at its time.
  AdvanceClock(1000000);
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_harness.audioCount(), 50u);
  AdvanceClock(60000);
  ASSERT_TRUE(WaitFor([] { return g_harness.audioCount() > 50; }));
  EXPECT_EQ(g_harness.audioLog()[50], 3000000u);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  EXPECT_EQ(g_harness.pictureCount(), atSeek + 62);
}

TEST_F(PlaybackTest, TheClockStandsWhilePausedAndStartsAnewAfterTheEnd) {
  // Video alone runs on the wall clock; time spent paused is not made up
  // for with a burst of pictures on resuming.
  SetClockMicrosForTesting(FakeClock);
  ASSERT_NE(open(write(Recording(100, [](int) { return false; }))), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 1; }));
  AdvanceClock(400000);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 11; }));
  AVControl(m_engine, AV_CTRL_PAUSE);
  AdvanceClock(2000000);
  std::this_thread::sleep_for(100ms);
  AVControl(m_engine, AV_CTRL_PLAY);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_harness.pictureCount(), 11u);
  AdvanceClock(400000);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 21; }));
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(g_harness.pictureCount(), 21u);
  // Played to the end and played again: it starts from the first picture at
  // its own pace, not at the clock the end left behind.
  AdvanceClock(4000000);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  ASSERT_EQ(g_harness.pictureCount(), 100u);
  AVControl(m_engine, AV_CTRL_PLAY);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() > 100; }));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_harness.pictureCount(), 101u);
  EXPECT_EQ(g_harness.pictureLog().back().timeStamp, kBase);
}

TEST_F(PlaybackTest, PauseIsReportedOnceThePictureIsComplete) {
  g_harness.audioMode = AudioMode::RealTime;
  AvCallbacks cb = callbacks();
  cb.VideoRender = SlowVideoRender;
  cb.StateNotify = PauseCheckingStateNotify;
  ASSERT_NE(openWith(write(Recording(50, [](int) { return true; })), cb), nullptr);
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(WaitFor([] { return g_inRender.load(); }));
    AVControl(m_engine, AV_CTRL_PAUSE);
    EXPECT_FALSE(g_inRender.load());
    AVControl(m_engine, AV_CTRL_PLAY);
  }
  EXPECT_EQ(g_pausesDuringRender.load(), 0);
}

TEST_F(PlaybackTest, AStopEndsASeekNoPictureCompleted) {
  // The seek's pictures fail to decode; after a stop, playing again starts
  // from the beginning instead of passing over everything before the target.
  g_harness.audioMode = AudioMode::RealTime;
  AvCallbacks cb = callbacks();
  cb.VideoDecode = FailingVideoDecode;
  ASSERT_NE(openWith(write(Recording(125, [](int) { return true; })), cb), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 3; }));
  g_decodeFails = true;
  ASSERT_EQ(AVSeek(m_engine, 3000000), 1);
  AVControl(m_engine, AV_CTRL_STOP);
  const size_t stoppedAt = g_harness.pictureCount();
  g_decodeFails = false;
  AVControl(m_engine, AV_CTRL_PLAY);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() > stoppedAt; }));
  EXPECT_EQ(g_harness.pictureLog()[stoppedAt].timeStamp, kBase);
}

}  // namespace
}  // namespace trevolo
