#include <gtest/gtest.h>

#include <vector>

#include "tests/video/h264_test_util.h"
#include "video/h264_gate.h"
#include "video/h264_params.h"

namespace trevolo::h264 {
namespace {

using test::Bytes;

class BitWriter {
 public:
  void bit(uint32_t b) {
    if (m_bits % 8 == 0) m_bytes.push_back(0);
    if (b) m_bytes.back() |= static_cast<uint8_t>(0x80 >> (m_bits % 8));
    ++m_bits;
  }
  void bits(uint32_t v, int n) {
    for (int i = n - 1; i >= 0; --i) bit((v >> i) & 1);
  }
  void ue(uint32_t v) {
    const uint64_t x = uint64_t{v} + 1;
    int len = 0;
    while ((x >> len) > 1) ++len;
    bits(0, len);
    bits(static_cast<uint32_t>(x), len + 1);
  }
  void se(int32_t v) { ue(v > 0 ? static_cast<uint32_t>(2 * v - 1) : static_cast<uint32_t>(-2 * v)); }
  Bytes finish() {
    bit(1);  // rbsp_stop_one_bit
    m_bits = (m_bits + 7) / 8 * 8;
    return m_bytes;
  }

 private:
  Bytes m_bytes;
  size_t m_bits = 0;
};

struct SpsFields {
  uint32_t profile = 77;
  uint32_t widthMbs = 11;
  uint32_t heightUnits = 9;
  bool frameMbsOnly = true;
  uint32_t cropRight = 0, cropBottom = 0, cropLeft = 0, cropTop = 0;
  bool scalingLists = false;
  int reorder = -1;  // written in a VUI bitstream restriction when >= 0
};

Bytes MakeSps(const SpsFields& s) {
  BitWriter w;
  w.bits(0x67, 8);
  w.bits(s.profile, 8);
  w.bits(0, 8);
  w.bits(40, 8);  // level 4.0
  w.ue(0);        // sps id
  if (s.profile == 100) {
    w.ue(1);  // 4:2:0
    w.ue(0);
    w.ue(0);
    w.bit(0);
    w.bit(s.scalingLists);
    if (s.scalingLists) {
      for (int i = 0; i < 8; ++i) {
        w.bit(i % 2);  // every other list present
        if (i % 2) {
          for (int j = 0; j < (i < 6 ? 16 : 64); ++j) w.se(j == 0 ? 8 : 1);
        }
      }
    }
  }
  w.ue(0);  // log2_max_frame_num - 4
  w.ue(0);  // POC type 0
  w.ue(2);  // log2_max_poc_lsb - 4
  w.ue(2);  // max_num_ref_frames
  w.bit(0);
  w.ue(s.widthMbs - 1);
  w.ue(s.heightUnits - 1);
  w.bit(s.frameMbsOnly);
  if (!s.frameMbsOnly) w.bit(1);  // MBAFF
  w.bit(1);                       // direct_8x8_inference
  const bool crop = s.cropLeft || s.cropRight || s.cropTop || s.cropBottom;
  w.bit(crop);
  if (crop) {
    w.ue(s.cropLeft);
    w.ue(s.cropRight);
    w.ue(s.cropTop);
    w.ue(s.cropBottom);
  }
  w.bit(s.reorder >= 0);  // vui_parameters_present_flag
  if (s.reorder >= 0) {
    for (int i = 0; i < 8; ++i) w.bit(0);  // no SAR .. no pic_struct
    w.bit(1);                               // bitstream_restriction_flag
    w.bit(1);
    for (int i = 0; i < 4; ++i) w.ue(i);
    w.ue(static_cast<uint32_t>(s.reorder));
    w.ue(4);
  }
  return w.finish();
}

const SizeLimits kPlayerLimits{120, 67};

TEST(H264Params, FrameHeightLimitIsInclusive) {
  const Bytes largest = MakeSps({.widthMbs = 120, .heightUnits = 67});
  EXPECT_TRUE(spsAcceptable(*parseSps(largest.data(), largest.size()), kPlayerLimits));
  const Bytes tall = MakeSps({.widthMbs = 120, .heightUnits = 68});
  EXPECT_FALSE(spsAcceptable(*parseSps(tall.data(), tall.size()), kPlayerLimits));
  const Bytes wide = MakeSps({.widthMbs = 121, .heightUnits = 10});
  EXPECT_FALSE(spsAcceptable(*parseSps(wide.data(), wide.size()), kPlayerLimits));
  const Bytes narrow = MakeSps({.widthMbs = 1, .heightUnits = 10});
  EXPECT_FALSE(spsAcceptable(*parseSps(narrow.data(), narrow.size()), kPlayerLimits));
}

TEST(H264Params, StreamsWithFieldsAreLimitedToHalfTheRowsPerField) {
  // 67 rows allow 33 rows per field: 1,056 lines interlaced, not 1,072.
  const Bytes fits = MakeSps({.widthMbs = 120, .heightUnits = 33, .frameMbsOnly = false});
  const Bytes tooTall = MakeSps({.widthMbs = 120, .heightUnits = 34, .frameMbsOnly = false});
  const auto a = parseSps(fits.data(), fits.size());
  ASSERT_TRUE(a);
  EXPECT_EQ(a->frameHeightMbs(), 66u);
  EXPECT_TRUE(spsAcceptable(*a, kPlayerLimits));
  EXPECT_FALSE(spsAcceptable(*parseSps(tooTall.data(), tooTall.size()), kPlayerLimits));
}

TEST(H264Params, OnlyBaselineMainAndHighAreAccepted) {
  for (uint32_t profile : {66u, 77u, 100u, 88u, 110u}) {
    const Bytes b = MakeSps({.profile = profile});
    const auto sps = parseSps(b.data(), b.size());
    const bool supported = profile == 66 || profile == 77 || profile == 100;
    EXPECT_EQ(sps && spsAcceptable(*sps, kPlayerLimits), supported) << profile;
  }
}

TEST(H264Params, CropWindowScalesByCropUnits) {
  // 4:2:0 frames crop in steps of 2 pixels; with fields, rows in steps of 4.
  const Bytes frame = MakeSps({.widthMbs = 22, .heightUnits = 18, .cropRight = 3, .cropBottom = 1,
                               .cropLeft = 1, .cropTop = 1});
  auto sps = parseSps(frame.data(), frame.size());
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->width(), 352u - 8);
  EXPECT_EQ(sps->height(), 288u - 4);
  EXPECT_EQ(sps->cropLeft, 2u);
  const Bytes fields = MakeSps({.widthMbs = 22, .heightUnits = 9, .frameMbsOnly = false, .cropBottom = 2});
  sps = parseSps(fields.data(), fields.size());
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->height(), 288u - 8);
  // A window that leaves nothing is malformed.
  const Bytes empty = MakeSps({.widthMbs = 2, .heightUnits = 2, .cropRight = 16});
  EXPECT_FALSE(parseSps(empty.data(), empty.size()));
}

TEST(H264Params, HighProfileScalingListsAndVuiReorderingAreRead) {
  const Bytes b = MakeSps({.profile = 100, .widthMbs = 20, .heightUnits = 12, .cropBottom = 4,
                           .scalingLists = true, .reorder = 2});
  const auto sps = parseSps(b.data(), b.size());
  ASSERT_TRUE(sps);
  EXPECT_EQ(sps->height(), 192u - 8);  // fields after the lists were read in step
  EXPECT_TRUE(sps->reorderDeclared);
  EXPECT_EQ(sps->maxNumReorderFrames, 2u);
  // Truncated inside the lists: malformed.
  EXPECT_FALSE(parseSps(b.data(), 12));
}

Bytes MakePps(uint32_t ppsId, uint32_t spsId) {
  BitWriter w;
  w.bits(0x68, 8);
  w.ue(ppsId);
  w.ue(spsId);
  w.bit(0);  // CAVLC; the gate reads no further
  return w.finish();
}

// A slice header as far as the gate reads it, for SPS made by MakeSps
// (4-bit frame_num, 6-bit POC lsb).
Bytes MakeSlice(bool idr, uint32_t sliceType, uint32_t frameNum, uint32_t pocLsb, uint32_t ppsId = 0) {
  BitWriter w;
  w.bits(idr ? 0x65 : 0x41, 8);
  w.ue(0);  // first_mb_in_slice
  w.ue(sliceType);
  w.ue(ppsId);
  w.bits(frameNum, 4);
  if (idr) w.ue(0);
  w.bits(pocLsb, 6);
  for (int i = 0; i < 16; ++i) w.bit(1);  // the rest of a slice
  return w.finish();
}

bool Admit(StreamGate& g, const Bytes& nal) { return g.admit(nal.data(), nal.size()); }

constexpr uint32_t kP = 0, kB = 1, kI = 2;

TEST(H264Gate, SlicesNeedAcceptedParameterSetsAndStartAtAnIntraSlice) {
  StreamGate g(kPlayerLimits);
  EXPECT_FALSE(Admit(g, MakeSlice(true, kI, 0, 0)));  // no parameter sets yet
  EXPECT_FALSE(Admit(g, MakePps(0, 0)));               // its SPS is missing
  EXPECT_TRUE(Admit(g, MakeSps({})));
  EXPECT_FALSE(Admit(g, MakeSlice(true, kI, 0, 0)));  // the PPS came too early
  EXPECT_TRUE(Admit(g, MakePps(0, 0)));
  EXPECT_FALSE(Admit(g, MakeSlice(false, kP, 1, 2)));  // not before an intra slice
  EXPECT_TRUE(Admit(g, MakeSlice(false, kI, 2, 4)));   // a non-IDR I slice starts
  EXPECT_TRUE(Admit(g, MakeSlice(false, kP, 3, 6)));
  // The same SPS again keeps its PPS; a replacement beyond the limits drops
  // both, and slices naming them.
  EXPECT_TRUE(Admit(g, MakeSps({})));
  EXPECT_TRUE(Admit(g, MakeSlice(false, kP, 4, 8)));
  EXPECT_FALSE(Admit(g, MakeSps({.widthMbs = 120, .heightUnits = 68})));
  EXPECT_FALSE(Admit(g, MakeSlice(false, kP, 5, 10)));
  EXPECT_FALSE(Admit(g, MakePps(0, 0)));
  EXPECT_FALSE(Admit(g, MakeSlice(true, kI, 0, 0)));
  // Unsupported profile: the same.
  EXPECT_FALSE(Admit(g, MakeSps({.profile = 88})));
  EXPECT_FALSE(Admit(g, MakePps(0, 0)));
  // Delimiters, end of sequence, filler, partitions: never.
  for (uint8_t header : {0x09, 0x0A, 0x0B, 0x0C, 0x02, 0x14}) {
    EXPECT_FALSE(Admit(g, Bytes{header, 0x80})) << int(header);
  }
}

struct OrderCase {
  const char* what;
  SpsFields sps;
  std::vector<Bytes> slices;
  bool reorders;
};

TEST(H264Gate, ReorderingIsDeclaredOrSeen) {
  const SpsFields main{};
  const SpsFields baseline{.profile = 66};
  const SpsFields declaredNone{.reorder = 0};
  const SpsFields declaredTwo{.reorder = 2};
  std::vector<OrderCase> cases = {
      {"P pictures two apart", main,
       {MakeSlice(true, kI, 0, 0), MakeSlice(false, kP, 1, 2), MakeSlice(false, kP, 2, 4)}, false},
      {"a P picture sent ahead of B pictures", main,
       {MakeSlice(true, kI, 0, 0), MakeSlice(false, kP, 1, 6)}, true},
      {"an IDR picture shown after others", main, {MakeSlice(true, kI, 0, 4)}, true},
      {"the order count goes back", main,
       {MakeSlice(true, kI, 0, 0), MakeSlice(false, kP, 1, 2), MakeSlice(false, kP, 2, 0)}, true},
      {"a B slice", main, {MakeSlice(true, kI, 0, 0), MakeSlice(false, kB, 1, 2)}, true},
      {"Baseline has no B pictures", baseline,
       {MakeSlice(true, kI, 0, 0), MakeSlice(false, kP, 1, 8)}, false},
      {"declared: none", declaredNone,
       {MakeSlice(true, kI, 0, 0), MakeSlice(false, kB, 1, 8)}, false},
      {"declared: two", declaredTwo, {MakeSlice(true, kI, 0, 0)}, true},
  };
  // 6-bit order counts wrap from 62 to 0 without a gap.
  std::vector<Bytes> wrapping = {MakeSlice(true, kI, 0, 0)};
  for (uint32_t n = 1; n < 40; ++n) wrapping.push_back(MakeSlice(false, kP, n % 16, (2 * n) % 64));
  cases.push_back({"the order count wraps", main, wrapping, false});
  for (const auto& c : cases) {
    StreamGate g(kPlayerLimits);
    ASSERT_TRUE(Admit(g, MakeSps(c.sps))) << c.what;
    ASSERT_TRUE(Admit(g, MakePps(0, 0))) << c.what;
    for (const auto& s : c.slices) ASSERT_TRUE(Admit(g, s)) << c.what;
    EXPECT_EQ(g.reorderingPossible(), c.reorders) << c.what;
  }
}

}  // namespace
}  // namespace trevolo::h264
