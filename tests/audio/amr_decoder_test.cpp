// AMR_Decode_*: handle life cycle, argument refusals, agreement with
// opencore's own decoder, the three layouts, quality bit, SID mode bits,
// no-data frames and the bytes each frame may read.
#include "audio/amr_decoder.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>

#include "audio/amr_tables.h"
#include "tests/audio/amr_test_frames.h"

namespace trevolo::amr::test {
namespace {

constexpr uint8_t kNoDataStorage = 0x7C;  // layout 0: FT 15, Q 1

int TypeOf(const Frame& storage) { return (storage[0] >> 3) & 0x0F; }

std::vector<Frame> AllLayouts(const std::vector<Frame>& storage, int layout) {
  std::vector<Frame> out;
  for (const Frame& f : storage) out.push_back(ToLayout(f, layout));
  return out;
}

// All eight modes one after another, each with speech, SID and no-data frames.
std::vector<Frame> MixedStream() {
  std::vector<Frame> frames;
  for (int mode = 0; mode < kSpeechModes; ++mode)
    frames = Concat(frames, Encode(TestSignal(110, 100 + mode), mode, true));
  return frames;
}

TEST(AmrDecodeInit, CreatesAndFreesHandle) {
  EXPECT_EQ(AMR_Decode_Init(nullptr), kAmrErrorInit);

  int dummy = 0;
  void* handle = &dummy;
  ASSERT_EQ(AMR_Decode_Init(&handle), kAmrOk);
  EXPECT_NE(handle, nullptr);
  EXPECT_NE(handle, &dummy);
  AMR_Decode_Exit(&handle);
  EXPECT_EQ(handle, nullptr);
  AMR_Decode_Exit(&handle);  // already null: nothing happens
  AMR_Decode_Exit(nullptr);
}

TEST(AmrDecodeFrame, RefusesBadArgumentsInOrderWithoutSideEffects) {
  const std::vector<Frame> frames = Encode(TestSignal(30, 1), 7, false);
  void* dec = nullptr;
  ASSERT_EQ(AMR_Decode_Init(&dec), kAmrOk);
  int16_t pcm[kAmrFrameSamples];
  for (size_t i = 0; i < 10; ++i) AMR_Decode_Frame(dec, frames[i].data(), pcm, 0);

  int16_t guard[kAmrFrameSamples];
  std::fill(std::begin(guard), std::end(guard), int16_t{0x5555});
  const uint8_t* frame = frames[10].data();
  EXPECT_EQ(AMR_Decode_Frame(nullptr, nullptr, nullptr, 7), kAmrErrorNullHandle);
  EXPECT_EQ(AMR_Decode_Frame(nullptr, frame, guard, 0), kAmrErrorNullHandle);
  EXPECT_EQ(AMR_Decode_Frame(dec, nullptr, nullptr, 7), kAmrErrorNullFrame);
  EXPECT_EQ(AMR_Decode_Frame(dec, nullptr, guard, 0), kAmrErrorNullFrame);
  EXPECT_EQ(AMR_Decode_Frame(dec, frame, nullptr, 7), kAmrErrorNullOutput);
  EXPECT_EQ(AMR_Decode_Frame(dec, frame, guard, 3), kAmrErrorLayout);
  EXPECT_EQ(AMR_Decode_Frame(dec, frame, guard, -1), kAmrErrorLayout);
  EXPECT_TRUE(
      std::all_of(std::begin(guard), std::end(guard), [](int16_t s) { return s == 0x5555; }));

  // The refused calls left the decoder exactly where it was.
  Pcm tail;
  for (size_t i = 10; i < frames.size(); ++i) {
    ASSERT_EQ(AMR_Decode_Frame(dec, frames[i].data(), pcm, 0), kAmrOk);
    tail.insert(tail.end(), pcm, pcm + kAmrFrameSamples);
  }
  AMR_Decode_Exit(&dec);
  const Pcm whole = DecodeAll(frames, 0);
  EXPECT_EQ(tail, Pcm(whole.begin() + 10 * kAmrFrameSamples, whole.end()));
}

// opencore's decoder reads the comfort-noise mode of a SID frame least
// significant bit first; ours most significant first. With that difference
// undone, both must give the same samples for every mode, speech, SID and
// no-data frames alike.
TEST(AmrDecodeFrame, MatchesOpencoreDecoderInEveryMode) {
  for (int mode = 0; mode < kSpeechModes; ++mode) {
    SCOPED_TRACE(mode);
    const std::vector<Frame> frames = Encode(TestSignal(220, 10 + mode), mode, true);
    std::vector<Frame> reference;
    int counts[16] = {};
    for (const Frame& f : frames) {
      ++counts[TypeOf(f)];
      reference.push_back(TypeOf(f) == kSidFrameType ? ReverseSidModeBits(f) : f);
    }
    ASSERT_GT(counts[mode], 100);
    ASSERT_GT(counts[kSidFrameType], 5);
    ASSERT_GT(counts[kNoDataFrameType], 50);

    const Pcm pcm = DecodeAll(frames, 0);
    EXPECT_EQ(pcm, DecodeReference(reference));
    // 10.2 kbit/s (110) as opencore sends it reads 011 here: the comfort
    // noise of mode 3 is decoded, which opencore's reading does not give.
    if (mode == 6) {
      EXPECT_NE(pcm, DecodeReference(frames));
    }
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](int16_t s) { return (s & 7) == 0; }));
    EXPECT_GT(*std::max_element(pcm.begin(), pcm.end()), 2000);
  }
}

TEST(AmrDecodeFrame, ThreeLayoutsGiveIdenticalPcm) {
  const std::vector<Frame> frames = MixedStream();
  const Pcm storage = DecodeAll(frames, 0);
  EXPECT_EQ(DecodeAll(AllLayouts(frames, 1), 1), storage);
  EXPECT_EQ(DecodeAll(AllLayouts(frames, 2), 2), storage);
}

// Marks the frames of one type bad (every `step`-th of them); `missing` gets
// a no-data frame in their place instead.
int MarkFramesBad(const std::vector<Frame>& good, int type, size_t step, std::vector<Frame>& bad,
                  std::vector<Frame>& missing) {
  bad = missing = good;
  int marked = 0;
  for (size_t i = 0, seen = 0; i < good.size(); ++i) {
    if (TypeOf(good[i]) != type || seen++ % step != 0) continue;
    bad[i] = MarkBad(good[i]);
    missing[i] = Frame{kNoDataStorage};
    ++marked;
  }
  return marked;
}

TEST(AmrDecodeFrame, ClearedQualityBitConcealsTheFrame) {
  const std::vector<Frame> good = Encode(TestSignal(220, 5), 7, true);
  const Pcm goodPcm = DecodeAll(good, 0);
  for (const int type : {7, kSidFrameType}) {  // bad speech, bad SID
    SCOPED_TRACE(type);
    std::vector<Frame> bad, missing;
    ASSERT_GT(MarkFramesBad(good, type, type == kSidFrameType ? 1 : 9, bad, missing), 5);
    const Pcm badPcm = DecodeAll(bad, 0);
    EXPECT_NE(badPcm, goodPcm);
    EXPECT_NE(badPcm, DecodeAll(missing, 0));  // concealment is not "no data"
    EXPECT_EQ(DecodeAll(AllLayouts(bad, 1), 1), badPcm);
    // Layout 2 has no quality bit: the same frames decode as good ones.
    EXPECT_EQ(DecodeAll(AllLayouts(bad, 2), 2), goodPcm);
  }
}

TEST(AmrDecodeFrame, ReservedFrameTypesDecodeAsNoData) {
  const std::vector<Frame> speech = Encode(TestSignal(40, 9), 6, false);
  for (int layout = 0; layout <= 2; ++layout) {
    const auto typeByte = [layout](int type) {
      return static_cast<uint8_t>(layout == 0   ? type << 3 | 0x04
                                  : layout == 1 ? type << 4 | 0x08
                                                : type);
    };
    std::vector<Frame> expected = AllLayouts(speech, layout), reserved = expected;
    for (int type = 9; type <= 15; ++type) {
      expected.push_back(Frame{typeByte(15)});
      reserved.push_back(Frame{typeByte(type)});
    }
    EXPECT_EQ(DecodeAll(reserved, layout), DecodeAll(expected, layout)) << "layout " << layout;
  }
}

TEST(AmrDecodeFrame, FirstNoDataFrameDecodesInLowestMode) {
  // Only the two highest modes post-filter differently, so the first frame
  // tells mode 0 from a remembered 12.2 kbit/s.
  std::vector<Frame> frames = {Frame{kNoDataStorage}, Frame{kNoDataStorage}};
  frames = Concat(frames, Encode(TestSignal(20, 2), 7, false));
  const Pcm pcm = DecodeAll(frames, 0);
  EXPECT_EQ(pcm, DecodeReference(frames));
  EXPECT_NE(Pcm(pcm.begin(), pcm.begin() + kAmrFrameSamples), Pcm(kAmrFrameSamples, 0));
}

// Bytes per frame type 0..15 in layouts 0, 1 and 2.
constexpr int kFrameBytes[3][16] = {
    {13, 14, 16, 18, 20, 21, 27, 32, 6, 1, 1, 1, 1, 1, 1, 1},
    {15, 16, 18, 20, 22, 23, 29, 34, 8, 1, 1, 1, 1, 1, 1, 1},
    {13, 14, 16, 18, 19, 21, 26, 31, 6, 1, 1, 1, 1, 1, 1, 1},
};

// Each frame is placed so that it ends exactly at an inaccessible page: one
// byte too many read faults the test.
TEST(AmrDecodeFrame, ReadsNoByteBeyondTheFrame) {
  const long page = sysconf(_SC_PAGESIZE);
  auto* mem = static_cast<uint8_t*>(
      mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(mem, MAP_FAILED);
  ASSERT_EQ(mprotect(mem + page, page, PROT_NONE), 0);
  void* dec = nullptr;
  ASSERT_EQ(AMR_Decode_Init(&dec), kAmrOk);
  int16_t pcm[kAmrFrameSamples];
  uint32_t lcg = 12345;
  for (int layout = 0; layout <= 2; ++layout) {
    for (int type = 0; type < 16; ++type) {
      uint8_t* frame = mem + page - kFrameBytes[layout][type];
      for (int i = 0; i < kFrameBytes[layout][type]; ++i)
        frame[i] = static_cast<uint8_t>((lcg = lcg * 69069u + 1) >> 24);
      frame[0] = static_cast<uint8_t>(layout == 0   ? (frame[0] & 0x83) | type << 3
                                      : layout == 1 ? (frame[0] & 0x0F) | type << 4
                                                    : (frame[0] & 0xF0) | type);
      EXPECT_EQ(AMR_Decode_Frame(dec, frame, pcm, layout), kAmrOk);
    }
  }
  AMR_Decode_Exit(&dec);
  munmap(mem, 2 * page);
}

}  // namespace
}  // namespace trevolo::amr::test
