// What the media callbacks carry from one file to the next, a video decode
// without a decoder, and the paused picture kept at the size it was shown.
#include <chrono>
#include <cstring>
#include <vector>

#include "tests/video/media_test_support.h"

namespace trevolo::test {
namespace {

using NewFileTest = MediaFixture;

TEST_F(NewFileTest, AStopOfThePreviousFileDropsNothingOfTheNext) {
  StateNotify(AV_STATE_STOPPED);  // the previous file ended
  m_media.snapshotPending.store(1);  // asked for; its next picture never came
  ASSERT_EQ(DecoderInit(), 1);       // the next file's decoders
  EXPECT_EQ(m_media.stopped.load(), 0);
  EXPECT_EQ(m_media.snapshotPending.load(), 0) << "no snapshot of the next file's first picture";
  PrepareSize(64, 32);
  std::vector<uint8_t> y(64 * 32, 40), u(64 * 32 / 4, 50), v(64 * 32 / 4, 60);
  YuvFrame frame{y.data(), u.data(), v.data(), 64, 32, 32, 0};
  VideoRender(&frame);
  EXPECT_EQ(m_renderer.shown().size(), 1u) << "its first picture is shown";
  DecoderExit();
}

TEST_F(NewFileTest, VideoDecodeWithoutADecoderReturnsAtOnce) {
  m_media.clock.store(&MonotonicMilliseconds);
  m_media.videoDecoder = nullptr;
  const std::vector<uint8_t> packet = {0, 0, 0, 1, 0x65, 0x88, 0x84, 0x00};
  YuvFrame frame;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(VideoDecode(packet.data(), static_cast<uint32_t>(packet.size()), 0, &frame), 0);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
}

TEST_F(NewFileTest, ThePausedPictureIsKeptAtTheSizeItWasShown) {
  PrepareSize(64, 32);
  std::vector<uint8_t> y(64 * 32, 77), u(64 * 32 / 4, 88), v(64 * 32 / 4, 99);
  YuvFrame frame{y.data(), u.data(), v.data(), 64, 32, 32, 0};
  VideoRender(&frame);
  // The decoder has moved on to a larger next picture before the copy.
  m_media.width.store(128);
  m_media.height.store(64);
  m_media.lastPicture.reset(new uint8_t[PICTURE_BUFFER_BYTES]);
  std::memset(m_media.lastPicture.get(), 0x5A, 128 * 64 * 3 / 2);
  SaveLastPicture();
  const uint8_t* last = m_media.lastPicture.get();
  EXPECT_EQ(last[0], 77);
  EXPECT_EQ(last[64 * 32 * 3 / 2 - 1], 99);
  EXPECT_EQ(last[64 * 32 * 3 / 2], 0x5A) << "nothing beyond the shown picture is copied";
  // It is shown again and saved at that size.
  EXPECT_EQ(m_media.lastWidth, 64);
  EXPECT_EQ(m_media.lastHeight, 32);
}

}  // namespace
}  // namespace trevolo::test
