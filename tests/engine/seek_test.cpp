// Seeks to the very first time stamp, and seeks whose target falls between
// two pictures far apart.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/engine_internal.h"
#include "engine_harness.h"
#include "test_files.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;
using test::AudioMode;
using test::g_harness;
using test::kBase;
using test::WaitFor;

constexpr uint64_t kSparsePictureUs = 40000;
constexpr int kSparsePictures = 180;
constexpr size_t kSparseVideoBytes = 100000;  // 180 of them pass the full-index limit
constexpr uint64_t kGapPictureUs = 1200000;
constexpr int kGapPictures = 8;
constexpr int kAudioFramesPerGap = 60;  // 20 ms frames covering 1.2 s

class SeekTest : public test::EngineFixture {
 protected:
  // Pictures every `stepUs` from `firstTs`, key frames every `gop`, each
  // block carrying `audioFrames` frames of the same instant.
  std::string write(uint64_t firstTs, uint64_t stepUs, int pictures, int gop, size_t videoBytes,
                    int audioFrames) {
    std::vector<uint8_t> bytes;
    AvWriter w(&bytes);
    if (audioFrames > 0) w.audioFormat(kAmrFormatWord);
    for (int n = 0; n < pictures; ++n) {
      std::vector<std::vector<uint8_t>> audio;
      for (int k = 0; k < audioFrames; ++k) audio.push_back(test::AudioFrame(32, 1));
      const uint64_t ts = firstTs + static_cast<uint64_t>(n) * stepUs;
      const auto au = SyntheticAccessUnit(videoBytes, n % gop == 0, static_cast<uint32_t>(n));
      w.mediaBlock(ts, au, ts, audio);
    }
    const std::string path = m_dir.file("s.av");
    test::WriteBytes(path, bytes);
    return path;
  }

};

TEST_F(SeekTest, SeekToTimeStampZeroIsAnOrdinarySeek) {
  // A large file whose time stamps start at 0: its first time stamp is 0, so
  // a seek to offset 0 has target 0.
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write(0, kSparsePictureUs, kSparsePictures, 25, kSparseVideoBytes, 2)), nullptr);
  ASSERT_FALSE(m_engine->index.full);
  ASSERT_EQ(m_engine->index.first, 0u);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 10; }));

  // While paused: the picture at 0 is shown and the player pauses again.
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(50ms);
  const size_t before = g_harness.pictureCount();
  ASSERT_EQ(AVSeek(m_engine, 0), 1);
  EXPECT_TRUE(waitForState(AV_STATE_PAUSED, 2));
  std::this_thread::sleep_for(300ms);
  auto pics = g_harness.pictureLog();
  ASSERT_EQ(pics.size(), before + 1) << "exactly one picture is shown";
  EXPECT_EQ(pics.back().timeStamp, 0u);

  // Playing on, a later seek while playing leaves the player playing.
  AVControl(m_engine, AV_CTRL_PLAY);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= before + 5; }));
  const size_t atSeek = g_harness.pictureCount();
  ASSERT_EQ(AVSeek(m_engine, 2000000), 1);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= atSeek + 5; }));
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2, 1, 2, 1}));

  // While playing, a seek back to 0 resumes there, again without a pause.
  const size_t atRewind = g_harness.pictureCount();
  ASSERT_EQ(AVSeek(m_engine, 0), 1);
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() >= atRewind + 5; }));
  pics = g_harness.pictureLog();
  size_t firstNew = atRewind;
  while (firstNew < pics.size() && pics[firstNew].timeStamp != 0) ++firstNew;
  ASSERT_LT(firstNew, pics.size()) << "the picture at 0 is shown";
  EXPECT_LE(firstNew - atRewind, 2u);
  EXPECT_EQ(g_harness.stateLog(), (std::vector<int>{1, 2, 1, 2, 1}));
}

TEST_F(SeekTest, SeekBetweenPicturesFarApartShowsTheNextOne) {
  // Pictures 1.2 s apart, every one a key frame; a target of 2.5 s lies more
  // than a second before the next picture (3.6 s).
  g_harness.audioMode = AudioMode::Refuse;  // the clock stands at the first frame
  ASSERT_NE(open(write(kBase, kGapPictureUs, kGapPictures, 1, 200, kAudioFramesPerGap)), nullptr);
  AVControl(m_engine, AV_CTRL_PAUSE);
  g_harness.audioMode = AudioMode::Instant;
  std::this_thread::sleep_for(50ms);
  const size_t before = g_harness.pictureCount();

  ASSERT_EQ(AVSeek(m_engine, 2500000), 1);
  EXPECT_TRUE(waitForState(AV_STATE_PAUSED, 2));
  std::this_thread::sleep_for(200ms);
  auto pics = g_harness.pictureLog();
  ASSERT_EQ(pics.size(), before + 1) << "the first picture after the target is shown";
  EXPECT_EQ(pics.back().timeStamp, kBase + 3 * kGapPictureUs);

  // The seek is complete: every later picture is shown too.
  AVControl(m_engine, AV_CTRL_PLAY);
  ASSERT_TRUE(waitForState(AV_STATE_STOPPED, 1));
  ASSERT_TRUE(WaitFor([&] { return g_harness.pictureCount() == before + 5; }, 2000ms));
  pics = g_harness.pictureLog();
  for (size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(pics[before + i].timeStamp, kBase + (3 + i) * kGapPictureUs) << i;
  }
}

TEST_F(SeekTest, SeekIntoAGapWithoutAudioKeepsVideoGoing) {
  // Video alone, paced by the wall clock from the target: the picture at
  // 3.6 s comes some 1.1 s after a seek to 2.5 s, and the next ones follow.
  ASSERT_NE(open(write(kBase, kGapPictureUs, kGapPictures, 1, 200, 0)), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 1; }));
  ASSERT_EQ(AVSeek(m_engine, 2500000), 1);
  const auto seekedAt = test::SteadyClock::now();
  ASSERT_TRUE(WaitFor([] {
    const auto pics = g_harness.pictureLog();
    return pics.size() >= 2 && pics.back().timeStamp >= kBase + 4 * kGapPictureUs;
  }, 5000ms));
  const auto pics = g_harness.pictureLog();
  auto shown = std::find_if(pics.begin(), pics.end(), [](const test::RenderedPicture& p) {
    return p.timeStamp == kBase + 3 * kGapPictureUs;
  });
  ASSERT_NE(shown, pics.end());
  EXPECT_GT(shown->at - seekedAt, 900ms);
  EXPECT_LT(shown->at - seekedAt, 1600ms);
  for (auto p = shown; p != pics.end(); ++p) {
    EXPECT_GE(p->timeStamp, kBase + 3 * kGapPictureUs) << "nothing from before the target";
  }
}

}  // namespace
}  // namespace trevolo
