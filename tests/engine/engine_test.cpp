// The threaded engine end to end, with controllable callbacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "engine/engine_internal.h"
#include "engine_harness.h"
#include "test_files.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;
using test::AudioMode;
using test::g_harness;
using test::kBase;
using test::RecordingPlan;
using test::SteadyClock;
using test::WaitFor;

// Audio frames accepted beyond a picture's own instant when it is shown
// (two 20 ms frames per 40 ms picture), pictures 5 to 19.
std::vector<long> AudioLead(const std::vector<test::RenderedPicture>& pics) {
  std::vector<long> lead;
  for (size_t n = 5; n < 20 && n < pics.size(); ++n) {
    lead.push_back(static_cast<long>(pics[n].audioAccepted) - static_cast<long>(2 * n));
  }
  return lead;
}

// A sound device that takes a frame only when the test lets it, and the
// engine's wall clock as that device's play position (20 ms per frame taken).
struct Gate {
  std::atomic<uint64_t> offered{0};   // AudioRender calls so far
  std::atomic<uint64_t> released{0};  // frames the device may take
  std::atomic<uint64_t> played{0};    // frames it took
  void reset() { offered = released = played = 0; }
  void open() { released = UINT64_MAX; }
};
Gate g_gate;

uint64_t GatedClock() { return 1'000'000'000 + g_gate.played.load() * 20000; }

int GatedAudioRender(const uint8_t*, uint32_t bytes, uint64_t position) {
  if (bytes != 320) return 0;
  const uint64_t n = g_gate.offered++;
  while (g_gate.released.load() <= n) std::this_thread::sleep_for(1ms);
  std::lock_guard<std::mutex> g(g_harness.lock);
  g_harness.audioPositions.push_back(position);
  g_gate.played = g_harness.audioPositions.size();
  return 1;
}

class EngineTest : public test::EngineFixture {
 protected:
  void SetUp() override {
    EngineFixture::SetUp();
    g_gate.reset();
  }
  void TearDown() override {
    g_gate.open();
    SetClockMicrosForTesting(nullptr);
    EngineFixture::TearDown();
    SetThreadStartFailureForTesting(0);
  }

  std::string write(const RecordingPlan& plan, size_t cutBytes = 0) {
    auto bytes = test::MakeRecording(plan);
    bytes.resize(bytes.size() - cutBytes);
    const std::string path = m_dir.file("r.av");
    test::WriteBytes(path, bytes);
    return path;
  }
};

TEST_F(EngineTest, CreateRefusesAndCallsNothing) {
  EXPECT_EQ(open(m_dir.file("missing.av")), nullptr);
  const std::string path = write({});
  AvCallbacks cb = test::HarnessCallbacks(path.c_str(), &m_duration);
  cb.LogText = nullptr;  // never called, still required
  EXPECT_EQ(AVCreate(&cb), nullptr);
  cb = test::HarnessCallbacks(path.c_str(), nullptr);
  EXPECT_EQ(AVCreate(&cb), nullptr);
  cb = test::HarnessCallbacks(nullptr, &m_duration);
  EXPECT_EQ(AVCreate(&cb), nullptr);
  EXPECT_EQ(AVCreate(nullptr), nullptr);
  EXPECT_EQ(g_harness.initCalls, 0);
  EXPECT_EQ(g_harness.otherCalls, 0);
  EXPECT_EQ(AVDestroy(nullptr), 0);
}

TEST_F(EngineTest, ThreadThatCannotStartUndoesEverything) {
  const std::string path = write({});
  for (int nth = 1; nth <= 5; ++nth) {
    g_harness.reset();
    SetThreadStartFailureForTesting(nth);
    EXPECT_EQ(open(path), nullptr) << "thread " << nth;
    EXPECT_EQ(g_harness.initCalls, 1);
    EXPECT_EQ(g_harness.exitCalls, 1);
    EXPECT_TRUE(g_harness.stateLog().empty());
  }
}

TEST_F(EngineTest, PlaysEveryPictureAndFrameInOrderThenStops) {
  ASSERT_NE(open(write({.pictures = 25})), nullptr);
  EXPECT_EQ(m_duration, 24u * 40000);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 25 && g_harness.audioCount() == 50; }));
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 3}));
  const auto pics = g_harness.pictureLog();
  for (size_t n = 0; n < pics.size(); ++n) EXPECT_EQ(pics[n].timeStamp, kBase + n * 40000) << n;
  const auto audio = g_harness.audioLog();
  for (size_t k = 0; k < audio.size(); ++k) EXPECT_EQ(audio[k], k * 20000) << k;
  EXPECT_EQ(AVDestroy(m_engine), 1);
  m_engine = nullptr;
  EXPECT_EQ(g_harness.exitCalls, 1);
}

TEST_F(EngineTest, SeekBounds) {
  ASSERT_NE(open(write({.pictures = 25})), nullptr);
  EXPECT_EQ(AVSeek(m_engine, 0), 1);
  EXPECT_EQ(AVSeek(m_engine, m_duration), 1);
  EXPECT_EQ(AVSeek(m_engine, m_duration + 1), -1);
  EXPECT_EQ(AVSeek(m_engine, UINT64_MAX), -1) << "a wrapped target is refused";
}

TEST_F(EngineTest, ControlModesThatChangeNothing) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 100})), nullptr);
  EXPECT_EQ(AVControl(m_engine, AV_CTRL_PLAY), 1);
  EXPECT_EQ(AVControl(m_engine, 7), 1);
  EXPECT_EQ(AVControl(m_engine, AV_CTRL_PAUSE), 1);
  EXPECT_EQ(AVControl(m_engine, AV_CTRL_PAUSE), 1);
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2}));
  EXPECT_EQ(AVControl(m_engine, AV_CTRL_STOP), 1);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  const auto t0 = SteadyClock::now();
  EXPECT_EQ(AVControl(m_engine, AV_CTRL_STOP), 1);
  EXPECT_LT(SteadyClock::now() - t0, 100ms) << "stop while stopped returns at once";
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2, 3}));
}

TEST_F(EngineTest, NothingIsPresentedWhilePaused) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 75})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 5; }));
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(50ms);  // a render already under way may finish
  const size_t pictures = g_harness.pictureCount();
  const size_t audio = g_harness.audioCount();
  std::this_thread::sleep_for(400ms);
  EXPECT_EQ(g_harness.pictureCount(), pictures);
  EXPECT_EQ(g_harness.audioCount(), audio);
  AVControl(m_engine, AV_CTRL_PLAY);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 75; }));
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2, 1, 3}));
}

TEST_F(EngineTest, SeekWhilePausedShowsOnePictureAndPausesAgain) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 125, .gop = 25})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 3; }));
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(50ms);
  const size_t before = g_harness.pictureCount();
  const uint64_t offset = 2500000 + 10000;  // between two pictures, mid-GOP
  ASSERT_EQ(AVSeek(m_engine, offset), 1);
  ASSERT_TRUE(waitForState(AV_STATE_PAUSED, 2));
  std::this_thread::sleep_for(300ms);
  const auto pics = g_harness.pictureLog();
  ASSERT_EQ(pics.size(), before + 1) << "exactly one picture is shown";
  const uint64_t target = kBase + offset;
  EXPECT_GE(pics.back().timeStamp, target);
  EXPECT_LT(pics.back().timeStamp, target + 1000000);
  EXPECT_EQ(pics.back().timeStamp, kBase + 2520000) << "the first picture at or after the target";
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2, 1, 2}));
}

TEST_F(EngineTest, SeekWhilePlayingResumesAtTheTarget) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 125, .gop = 25})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 3; }));
  const uint64_t offset = 3000000;
  const size_t picturesAtSeek = g_harness.pictureCount();
  const size_t audioAtSeek = g_harness.audioCount();
  EXPECT_EQ(g_harness.audioRestarts.load(), 0) << "the sound decoder restarts only at a break";
  ASSERT_EQ(AVSeek(m_engine, offset), 1);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= picturesAtSeek + 5; }));
  EXPECT_EQ(g_harness.audioRestarts.load(), 1) << "the sound decoder restarts after the seek";
  const auto pics = g_harness.pictureLog();
  // Pictures presented while the seek was being requested may still land
  // (at most one per poll); after them the target comes first.
  size_t firstNew = picturesAtSeek;
  while (firstNew < pics.size() && pics[firstNew].timeStamp < kBase + offset) ++firstNew;
  EXPECT_LE(firstNew - picturesAtSeek, 2u);
  ASSERT_LT(firstNew, pics.size());
  EXPECT_EQ(pics[firstNew].timeStamp, kBase + offset);
  for (size_t i = firstNew; i < pics.size(); ++i) EXPECT_GE(pics[i].timeStamp, kBase + offset);
  const auto audio = g_harness.audioLog();
  size_t staleAudio = 0;
  for (size_t i = audioAtSeek; i < audio.size(); ++i) staleAudio += audio[i] < offset;
  EXPECT_LE(staleAudio, 3u) << "only frames already at the device when the seek began";
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1})) << "a seek while playing changes no state";
}

TEST_F(EngineTest, StopRewindsAndPlayStartsAgain) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 100})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 5; }));
  AVControl(m_engine, AV_CTRL_STOP);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  std::this_thread::sleep_for(50ms);
  const size_t stoppedAt = g_harness.pictureCount();
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_harness.pictureCount(), stoppedAt) << "nothing is presented while stopped";
  AVControl(m_engine, AV_CTRL_PLAY);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() > stoppedAt; }));
  EXPECT_EQ(g_harness.pictureLog()[stoppedAt].timeStamp, kBase) << "played again from the start";
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 3, 1}));
}

TEST_F(EngineTest, FileCutShortInItsLastBlockStillEnds) {
  // The last block loses the end of its video payload: no packet carries the
  // last time stamp, yet the end is reported once everything has played.
  ASSERT_NE(open(write({.pictures = 20}, 50)), nullptr);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 3}));
  EXPECT_EQ(g_harness.pictureCount(), 19u);
}

TEST_F(EngineTest, DamagedStretchesArePassedOver) {
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.audioFormat(kAmrFormatWord);
  for (int n = 0; n < 10; ++n) {
    w.raw(std::vector<uint8_t>(static_cast<size_t>(n * 7), 0xFF));  // runs of 0xFF between records
    const uint64_t ts = kBase + static_cast<uint64_t>(n) * 40000;
    w.mediaBlock(ts, SyntheticAccessUnit(100, n == 0, 0), ts,
                 {test::AudioFrame(40, 1), test::AudioFrame(0, 0)});  // 40 > 36: misread to the next marker
  }
  const std::string path = m_dir.file("d.av");
  test::WriteBytes(path, bytes);
  ASSERT_NE(open(path), nullptr);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  // Each block's long frame is cut to 36 bytes; its video is then read four
  // bytes early, and the marker search finds the next block in step.
  ASSERT_TRUE(WaitFor([] { return g_harness.audioCount() == 10 && g_harness.pictureCount() == 10; }));
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 3}));
}

TEST_F(EngineTest, VideoWithoutAudioPlaysInRealTime) {
  ASSERT_NE(open(write({.pictures = 25, .audioPerPicture = 0, .audioFormat = false})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 25; }));
  auto pics = g_harness.pictureLog();
  const auto span = pics.back().at - pics.front().at;
  EXPECT_GT(span, 800ms) << "25 pictures at 25 fps take about a second";
  EXPECT_LT(span, 1500ms);

  // After a seek the picture does not freeze: video resumes from the target,
  // again at its own pace.
  ASSERT_EQ(AVSeek(m_engine, 200000), 1);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 25 + 20; }, 5000ms));
  pics = g_harness.pictureLog();
  EXPECT_EQ(pics[25].timeStamp, kBase + 200000);
  const auto resumed = pics[44].at - pics[25].at;
  EXPECT_GT(resumed, 600ms);
  EXPECT_LT(resumed, 1200ms);
}

TEST_F(EngineTest, PicturesFollowTheAudioClock) {
  // The clock moves only with the sound, so each picture is shown while the
  // frame of its instant is at the device: after exactly 2n accepted frames,
  // never one frame early or late.
  SetClockMicrosForTesting(GatedClock);
  const std::string path = write({.pictures = 50});
  AvCallbacks cb = test::HarnessCallbacks(path.c_str(), &m_duration);
  cb.AudioRender = GatedAudioRender;
  m_engine = AVCreate(&cb);
  ASSERT_NE(m_engine, nullptr);
  for (uint64_t k = 0; k < 100; ++k) {
    ASSERT_TRUE(WaitFor([k] { return g_gate.offered.load() > k; }, 3000ms)) << "frame " << k;
    // Frame k has been taken: the pictures up to its instant are due, and
    // the device holds the frame for a few of the video output's polls so
    // that a picture shown too early would show up here.
    const size_t due = k / 2 + 1;
    ASSERT_TRUE(WaitFor([due] { return g_harness.pictureCount() >= due; }, 3000ms)) << "frame " << k;
    std::this_thread::sleep_for(12ms);
    g_gate.released.store(k + 1);
  }
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  const auto pics = g_harness.pictureLog();
  ASSERT_EQ(pics.size(), 50u);
  for (size_t n = 0; n < pics.size(); ++n) {
    EXPECT_EQ(pics[n].timeStamp, kBase + n * 40000) << n;
    EXPECT_EQ(pics[n].audioAccepted, 2 * n) << "picture " << n;
  }
  EXPECT_EQ(g_harness.audioCount(), 100u);
}

TEST_F(EngineTest, OutputLatencyHoldsPicturesUntilTheirSoundIsHeard) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 50})), nullptr);
  EXPECT_EQ(AVSetOutputLatency(m_engine, 400000), 1);
  EXPECT_EQ(AVSetOutputLatency(nullptr, 1), -1);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 20; }));
  // 400 ms of sound in the device: each picture waits for some 20 more frames.
  for (long lead : AudioLead(g_harness.pictureLog())) {
    EXPECT_GE(lead, 16);
    EXPECT_LE(lead, 24);
  }

  // The picture that completes a seek does not wait for its sound: it is up
  // long before the 400 ms have passed, and the one after it waits again.
  const size_t atSeek = g_harness.pictureCount();
  const uint64_t target = 1000000;
  ASSERT_EQ(AVSeek(m_engine, target), 1);
  const auto seekedAt = test::SteadyClock::now();
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= atSeek + 8; }));
  const auto pics = g_harness.pictureLog();
  auto shown = std::find_if(pics.begin() + static_cast<long>(atSeek), pics.end(),
                            [&](const test::RenderedPicture& p) { return p.timeStamp >= kBase + target; });
  ASSERT_TRUE(shown + 1 < pics.end());
  EXPECT_EQ(shown->timeStamp, kBase + target);
  EXPECT_LT(shown->at - seekedAt, 250ms);
  EXPECT_GE((shown + 1)->audioAccepted - shown->audioAccepted, 16u) << "the next waits for its sound";
}

TEST_F(EngineTest, AudioBeforeTheFirstPictureIsNeverOffered) {
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.audioFormat(kAmrFormatWord);
  // The first block's audio starts two frames before its picture.
  for (int n = 0; n < 5; ++n) {
    const uint64_t ts = kBase + static_cast<uint64_t>(n) * 40000;
    w.mediaBlock(ts, SyntheticAccessUnit(100, n == 0, 0), ts - 40000,
                 {test::AudioFrame(32, 1), test::AudioFrame(32, 2)});
  }
  const std::string path = m_dir.file("early.av");
  test::WriteBytes(path, bytes);
  ASSERT_NE(open(path), nullptr);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  ASSERT_TRUE(WaitFor([] { return g_harness.audioCount() == 8; }));
  std::this_thread::sleep_for(100ms);
  const auto audio = g_harness.audioLog();
  ASSERT_EQ(audio.size(), 8u);
  EXPECT_EQ(audio.front(), 0u);
}

TEST_F(EngineTest, RefusedAudioIsOfferedAgainAndHoldsTheClock) {
  g_harness.audioMode = AudioMode::Refuse;
  ASSERT_NE(open(write({.pictures = 50})), nullptr);
  std::this_thread::sleep_for(300ms);
  EXPECT_EQ(g_harness.audioCount(), 0u);
  // Until the first sound frame is queued the wall clock runs, so a slow
  // start may let one more picture through; after that the clock stands.
  const size_t held = g_harness.pictureCount();
  EXPECT_LE(held, 2u) << "the clock stands at the first frame";
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(g_harness.pictureCount(), held) << "no picture while the sound is refused";
  g_harness.audioMode = AudioMode::Instant;
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED));
  ASSERT_TRUE(WaitFor([] { return g_harness.audioCount() == 100; }));
  EXPECT_EQ(g_harness.audioLog().front(), 0u) << "the refused frame is the one accepted later";
}

}  // namespace
}  // namespace trevolo
