// Decoder homing: a homing frame resets the decoder; a homing frame that
// follows one (or a fresh decoder) is answered with 160 samples of 0x0008.
#include <gtest/gtest.h>

#include <algorithm>

#include "audio/amr_decoder.h"
#include "audio/amr_tables.h"
#include "tests/audio/amr_test_frames.h"

namespace trevolo::amr::test {
namespace {

bool IsHomingPattern(const int16_t* pcm) {
  return std::all_of(pcm, pcm + kAmrFrameSamples, [](int16_t s) { return s == 0x0008; });
}

// Decodes frames one by one with one decoder and tells, per frame, whether
// the output was the homing pattern.
class Decoder {
 public:
  Decoder() { EXPECT_EQ(AMR_Decode_Init(&m_handle), kAmrOk); }
  ~Decoder() { AMR_Decode_Exit(&m_handle); }

  bool decode(const Frame& frame, int layout = 0) {
    EXPECT_EQ(AMR_Decode_Frame(m_handle, frame.data(), m_pcm, layout), kAmrOk);
    m_all.insert(m_all.end(), m_pcm, m_pcm + kAmrFrameSamples);
    return IsHomingPattern(m_pcm);
  }
  void decode(const std::vector<Frame>& frames) {
    for (const Frame& f : frames) decode(f);
  }
  const Pcm& all() const { return m_all; }

 private:
  void* m_handle = nullptr;
  int16_t m_pcm[kAmrFrameSamples] = {};
  Pcm m_all;
};

// The homing frame of `mode` with its last parameter bit (part of the last
// subframe) inverted: it matches the homing frame only up to the end of the
// first subframe.
Frame PartialHomingFrame(int mode) {
  Frame frame = HomingFrame(mode);
  const ModeLayout& layout = kModeLayouts[mode];
  const int sent = static_cast<int>(
      std::find(layout.order, layout.order + layout.bits, layout.bits - 1) - layout.order);
  frame[1 + sent / 8] ^= static_cast<uint8_t>(0x80 >> (sent % 8));
  return frame;
}

TEST(AmrHoming, SecondHomingFrameInARowGivesHomingPattern) {
  for (int layout = 0; layout <= 2; ++layout) {
    for (int mode = 0; mode < kSpeechModes; ++mode) {
      SCOPED_TRACE(testing::Message() << "layout " << layout << " mode " << mode);
      const Frame homing = ToLayout(HomingFrame(mode), layout);
      Decoder dec;
      for (const Frame& f : Encode(TestSignal(20, 4), mode, false))
        EXPECT_FALSE(dec.decode(ToLayout(f, layout), layout));
      EXPECT_FALSE(dec.decode(homing, layout));  // decoded normally, then reset
      EXPECT_TRUE(dec.decode(homing, layout));
      EXPECT_TRUE(dec.decode(homing, layout));
    }
  }
}

TEST(AmrHoming, FreshDecoderCountsAsHomed) {
  Decoder dec;
  EXPECT_TRUE(dec.decode(HomingFrame(3)));
}

TEST(AmrHoming, HomingFrameResetsDecoderAndMode) {
  // The continuation starts with no data: after the reset it must decode in
  // mode 0 again, not in the 12.2 kbit/s mode heard before the homing frame.
  std::vector<Frame> after = {Frame{0x7C}};
  after = Concat(after, Encode(TestSignal(60, 8), 2, true));
  Decoder fresh;
  fresh.decode(after);

  Decoder used;
  used.decode(Encode(TestSignal(50, 6), 7, true));
  used.decode(Encode(TestSignal(3, 6), 7, false));  // ends on speech
  used.decode(HomingFrame(7));
  const size_t start = used.all().size();
  used.decode(after);
  EXPECT_EQ(Pcm(used.all().begin() + static_cast<long>(start), used.all().end()), fresh.all());
}

TEST(AmrHoming, WhenHomedOnlyTheFirstSubframeIsCompared) {
  for (int mode = 0; mode < kSpeechModes; ++mode) {
    SCOPED_TRACE(mode);
    Decoder homed;
    EXPECT_TRUE(homed.decode(PartialHomingFrame(mode)));
    EXPECT_TRUE(homed.decode(HomingFrame(mode)));  // still homed: the partial frame reset too

    Decoder running;  // not homed: the whole frame must match
    running.decode(Encode(TestSignal(10, 1), mode, false));
    EXPECT_FALSE(running.decode(PartialHomingFrame(mode)));
    EXPECT_FALSE(running.decode(HomingFrame(mode)));  // no reset happened before
    EXPECT_TRUE(running.decode(HomingFrame(mode)));
  }
}

TEST(AmrHoming, NoDataFrameEndsTheHomedState) {
  Decoder dec;
  EXPECT_FALSE(dec.decode(Frame{0x7C}));
  EXPECT_FALSE(dec.decode(HomingFrame(5)));
  EXPECT_TRUE(dec.decode(HomingFrame(5)));
}

}  // namespace
}  // namespace trevolo::amr::test
