#include "platform/looping_sound_buffer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

namespace {

using namespace trevolo::platform;
using namespace std::chrono_literals;

const SoundNotification kQuarters[] = {{0, 0}, {320, 1}, {640, 2}, {960, 3}};

TEST(SoundRingTest, RenderPlaysAroundTheRingAndSetsEachNotificationReached) {
  SoundRing ring(1280, 2);
  std::vector<uint8_t> content(1280);
  std::iota(content.begin(), content.end(), 0);
  SoundRegion r;
  ring.lock(0, 0, kLockEntireBuffer, &r);
  std::memcpy(r.first, content.data(), 1280);
  ring.unlock(r);
  EventSet events;
  ring.setNotifications(kQuarters, &events);

  std::vector<uint8_t> out(1280);
  ring.render(out.data(), 320);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 320, content.begin()));
  EXPECT_EQ(events.waitAny(0xF, 0ms), 1);  // reaching 320 sets notification 1 only
  EXPECT_EQ(events.waitAny(0xF, 0ms), EventSet::kTimedOut);

  ring.setPosition(1101);  // rounded down to a whole sample frame
  ring.render(out.data(), 320);  // 1100 .. 1279, then 0 .. 139
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 180, content.begin() + 1100));
  EXPECT_TRUE(std::equal(out.begin() + 180, out.begin() + 320, content.begin()));
  EXPECT_EQ(ring.position(), 140u);
  EXPECT_EQ(events.waitAny(0xF, 0ms), 0);
  ring.render(out.data(), 1280);  // a whole lap reaches every position
  EXPECT_EQ(events.waitAny(0xF, 0ms), 0);
  EXPECT_EQ(events.waitAny(0xF, 0ms), 1);
}

TEST(SoundRingTest, AStreamingRingPlaysEachWriteOnceThenSilence) {
  // A writer that stops (pause, end of file) must not leave its last chunks
  // looping; a plain looping ring replays them.
  for (const bool streaming : {true, false}) {
    SoundRing ring(640, 2, streaming, 0);
    SoundRegion r;
    ring.lock(0, 0, kLockEntireBuffer, &r);
    std::memset(r.first, 0x55, 640);
    ring.unlock(r);
    std::vector<uint8_t> out(640);
    ring.render(out.data(), 640);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x55), 640);
    ring.render(out.data(), 640);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0x55), streaming ? 0 : 640) << streaming;
  }
  // Unsigned 8-bit sound is silent at mid-scale.
  SoundRing eightBit(4, 1, true, 0x80);
  std::vector<uint8_t> out(4);
  eightBit.render(out.data(), 4);
  EXPECT_EQ(out, (std::vector<uint8_t>(4, 0x80)));
}

// The SDL-backed buffer on SDL's dummy driver: no sound card needed.
class LoopingSoundBufferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    ASSERT_EQ(createSoundDevice(&m_device), SoundResult::kOk);
    SoundBufferDesc desc{{1, 1, 8000, 16000, 2, 16, 0}, 1280, 320};
    ASSERT_EQ(m_device->createBuffer(desc, &m_buffer), SoundResult::kOk);
  }
  std::unique_ptr<SoundDevice> m_device;
  std::unique_ptr<SoundBuffer> m_buffer;
};

TEST_F(LoopingSoundBufferTest, NotifiesOnlyWhilePlayingAndKeepsTheCursorWhenStopped) {
  EventSet events;
  ASSERT_EQ(m_buffer->setNotificationPositions(kQuarters, &events), SoundResult::kOk);
  EXPECT_EQ(events.waitAny(0xF, 150ms), EventSet::kTimedOut);  // created stopped
  ASSERT_EQ(m_buffer->play(), SoundResult::kOk);
  EXPECT_EQ(events.waitAny(0xF, 2000ms), 1);  // pulls take chunks 0, 1, ... in turn
  EXPECT_EQ(events.waitAny(0xF, 2000ms), 2);
  m_buffer->stop();
  uint32_t stoppedAt = 0;
  uint32_t later = 0;
  m_buffer->getCurrentPosition(&stoppedAt, nullptr);
  for (int k = 0; k < 4; ++k) {
    events.reset(k);  // whatever the last pulls before the stop set
  }
  EXPECT_EQ(events.waitAny(0xF, 150ms), EventSet::kTimedOut);
  m_buffer->getCurrentPosition(&later, nullptr);
  EXPECT_EQ(later, stoppedAt);
  EXPECT_EQ(stoppedAt % 320, 0u);  // one pull per 320-byte period
}

TEST_F(LoopingSoundBufferTest, VolumeAttenuatesWhatThePullHandsOut) {
  auto* buffer = static_cast<LoopingSoundBuffer*>(m_buffer.get());
  SoundRegion r;
  ASSERT_EQ(buffer->lock(0, 4, 0, &r), SoundResult::kOk);
  const int16_t samples[2] = {16000, -16000};
  std::memcpy(r.first, samples, sizeof samples);
  buffer->unlock(r);
  auto pulled = [&](long volume) {  // the stopped device pulls nothing itself
    int16_t out[2];
    buffer->setVolume(volume);
    buffer->setCurrentPosition(0);
    buffer->pull(reinterpret_cast<uint8_t*>(out), sizeof out);
    return std::pair<int, int>(out[0], out[1]);
  };
  EXPECT_EQ(pulled(0), std::make_pair(16000, -16000));
  EXPECT_NEAR(pulled(-600).first, 8019, 40);  // -6 dB: about half
  EXPECT_NEAR(pulled(-600).second, -8019, 40);
  EXPECT_EQ(pulled(-10000), std::make_pair(0, 0));
  EXPECT_EQ(pulled(500), std::make_pair(16000, -16000));  // capped at full volume
}

// Writers that find the buffer lost at the same moment (the audio thread and
// the window writing silence) restore it once: a second device would stay
// open and call back into the buffer after it is gone.
TEST_F(LoopingSoundBufferTest, WritersRestoringALostBufferTogetherOpenOneDevice) {
  auto* buffer = static_cast<LoopingSoundBuffer*>(m_buffer.get());
  const int open = LoopingSoundBuffer::openDevicesForTesting();
  ASSERT_EQ(buffer->play(), SoundResult::kOk);
  for (int round = 0; round < 20; ++round) {
    buffer->loseDeviceForTesting();
    ASSERT_TRUE(buffer->isLost());
    std::atomic<int> ready{0};
    auto restore = [&] {
      ++ready;
      while (ready.load() < 2) {
      }
      return buffer->restore();
    };
    auto other = std::async(std::launch::async, restore);
    EXPECT_EQ(restore(), SoundResult::kOk);
    EXPECT_EQ(other.get(), SoundResult::kOk);
    ASSERT_EQ(LoopingSoundBuffer::openDevicesForTesting(), open) << "round " << round;
  }
  EXPECT_FALSE(buffer->isLost());
  m_buffer.reset();
  EXPECT_EQ(LoopingSoundBuffer::openDevicesForTesting(), open - 1);
}

}  // namespace
