// Ring rules: capacity of n - 1, wrap-around, flush, the ready flag, and the
// pure pacing and seek-window decisions.
#include <gtest/gtest.h>

#include "engine/engine_internal.h"
#include "engine/queues.h"

namespace trevolo {
namespace {

TEST(VideoRing, HoldsNinetyNineAndWraps) {
  auto ring = std::make_unique<VideoPacketRing>();
  ASSERT_TRUE(ring->allocate());
  EXPECT_EQ(ring->reserve(), nullptr) << "not ready yet";
  ring->commit(5, 5);
  EXPECT_TRUE(ring->empty()) << "a commit while not ready does nothing";
  ring->ready = true;

  for (uint32_t i = 0; i < VIDEO_RING_SLOTS - 1; ++i) {
    ASSERT_NE(ring->reserve(), nullptr) << i;
    ring->commit(i + 1, 1000 + i);
  }
  EXPECT_EQ(ring->reserve(), nullptr) << "one slot always stays empty";
  ring->advance();
  ASSERT_NE(ring->reserve(), nullptr);
  ring->commit(777, 7777);  // written into slot 99; write wraps to 0

  // Everything comes out in order, the last one after the wrap.
  for (uint32_t i = 1; i < VIDEO_RING_SLOTS - 1; ++i) {
    const VideoPacket* p = ring->peek();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->length, i + 1);
    EXPECT_EQ(p->timeStamp, 1000 + i);
    ring->advance();
  }
  ASSERT_NE(ring->peek(), nullptr);
  EXPECT_EQ(ring->peek()->timeStamp, 7777u);
  ring->advance();
  EXPECT_TRUE(ring->empty());

  // Every slot owns its own 256 KiB buffer.
  uint8_t* a = ring->reserve();
  ring->commit(1, 1);
  uint8_t* b = ring->reserve();
  EXPECT_NE(a, b);
  a[kVideoSlotBytes - 1] = 1;
  b[kVideoSlotBytes - 1] = 2;
}

TEST(VideoRing, FlushEmptiesAtOnce) {
  auto ring = std::make_unique<VideoPacketRing>();
  ASSERT_TRUE(ring->allocate());
  ring->ready = true;
  for (int i = 0; i < 40; ++i) {
    ring->reserve();
    ring->commit(1, static_cast<uint64_t>(i));
  }
  ring->flush();
  EXPECT_TRUE(ring->empty());
  EXPECT_EQ(ring->peek(), nullptr);
  ASSERT_NE(ring->reserve(), nullptr);
  ring->commit(9, 99);
  EXPECT_EQ(ring->peek()->timeStamp, 99u);
}

TEST(AudioRing, HoldsOneHundredNinetyNineAndWraps) {
  auto ring = std::make_unique<AudioPacketRing>();
  ring->clear();
  EXPECT_EQ(ring->reserve(), nullptr);
  ring->ready = true;
  for (int lap = 0; lap < 3; ++lap) {
    for (uint32_t i = 0; i < AUDIO_RING_SLOTS - 1; ++i) {
      uint8_t* slot = ring->reserve();
      ASSERT_NE(slot, nullptr);
      slot[0] = static_cast<uint8_t>(i);
      ring->commit(36, i);
    }
    EXPECT_EQ(ring->reserve(), nullptr);
    for (uint32_t i = 0; i < AUDIO_RING_SLOTS - 1; ++i) {
      const AudioPacket* p = ring->peek();
      ASSERT_NE(p, nullptr);
      EXPECT_EQ(p->data[0], static_cast<uint8_t>(i));
      EXPECT_EQ(p->timeStamp, i);
      ring->advance();
    }
    EXPECT_TRUE(ring->empty());
  }
}

TEST(PcmRing, HoldsSevenFramesAndMovesTheClock) {
  PcmRing pcm;
  ASSERT_TRUE(pcm.allocate());
  for (uint32_t i = 0; i < PCM_RING_SLOTS - 1; ++i) {
    uint8_t* out = pcm.writeSlot();
    ASSERT_NE(out, nullptr);
    std::memset(out, static_cast<int>(i + 1), PCM_FRAME_BYTES);
    pcm.commit(100 + i);
  }
  EXPECT_EQ(pcm.writeSlot(), nullptr) << "the 8th frame is refused";

  uint8_t dst[PCM_FRAME_BYTES];
  uint64_t ts = 0;
  for (uint32_t i = 0; i < PCM_RING_SLOTS - 1; ++i) {
    bool sawFrame = false;
    ASSERT_TRUE(pcm.take(dst, ts, [&](ClockFields& c, bool taken, uint64_t t) {
      sawFrame = taken;
      c.audioClock = t;
    }));
    EXPECT_TRUE(sawFrame);
    EXPECT_EQ(ts, 100 + i);
    EXPECT_EQ(dst[0], i + 1);
    EXPECT_EQ(dst[PCM_FRAME_BYTES - 1], i + 1);
  }
  EXPECT_EQ(pcm.withClock([](ClockFields& c) { return c.audioClock; }), 106u);
  bool called = false;
  EXPECT_FALSE(pcm.take(dst, ts, [&](ClockFields&, bool taken, uint64_t) {
    called = true;
    EXPECT_FALSE(taken);
  }));
  EXPECT_TRUE(called) << "an empty ring still runs the clock update";
  // The write index wraps from 7 to 0.
  for (int i = 0; i < 5; ++i) {
    ASSERT_NE(pcm.writeSlot(), nullptr);
    pcm.commit(200 + static_cast<uint64_t>(i));
  }
  EXPECT_FALSE(pcm.empty());
}

TEST(Pacing, AgainstTheClock) {
  constexpr uint64_t k = 5000000;
  EXPECT_EQ(DecidePacing(k, k), Pacing::Show);
  EXPECT_EQ(DecidePacing(k - 1, k), Pacing::Show) << "late pictures go at once";
  EXPECT_EQ(DecidePacing(k + 1, k), Pacing::Hold);
  EXPECT_EQ(DecidePacing(k + PACE_AHEAD_LIMIT_US - 1, k), Pacing::Hold);
  EXPECT_EQ(DecidePacing(k + PACE_AHEAD_LIMIT_US, k), Pacing::Show) << "far ahead: shown at once";
  EXPECT_EQ(DecidePacing(0, 0), Pacing::Hold) << "no clock yet holds everything";
  EXPECT_EQ(DecidePacing(k, 0), Pacing::Hold);
}

TEST(Pacing, SeekWindow) {
  constexpr uint64_t t = 9000000;
  EXPECT_TRUE(CompletesSeek(t, t));
  EXPECT_TRUE(CompletesSeek(t + 999999, t));
  EXPECT_TRUE(CompletesSeek(t + 1000000, t)) << "the next picture, however far after the target";
  EXPECT_FALSE(CompletesSeek(t - 1, t));
  EXPECT_TRUE(CompletesSeek(0, 0)) << "a target of 0 is a target like any other";
  EXPECT_FALSE(CompletesSeek(0, 1));
}

}  // namespace
}  // namespace trevolo
