#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/h264_nal.h"

namespace trevolo::h264 {
namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> Split(NalSplitter& s, const Bytes& data) {
  std::vector<Bytes> units;
  s.split(data.data(), data.size(), [&](const uint8_t* p, size_t n) { units.emplace_back(p, p + n); });
  return units;
}

TEST(H264NalSplitter, ThreeAndFourByteStartCodesGiveTheSameUnits) {
  NalSplitter s(64);
  const Bytes three = {0, 0, 1, 0x67, 0x11, 0x22, 0, 0, 1, 0x68, 0x33, 0, 0, 1, 0x65, 0x44, 0x80};
  const Bytes four = {0, 0, 0, 1, 0x67, 0x11, 0x22, 0, 0, 0, 1, 0x68, 0x33, 0, 0, 0, 1, 0x65, 0x44, 0x80};
  const std::vector<Bytes> want = {{0x67, 0x11, 0x22}, {0x68, 0x33}, {0x65, 0x44, 0x80}};
  EXPECT_EQ(Split(s, three), want);
  EXPECT_EQ(Split(s, four), want);
}

TEST(H264NalSplitter, EmulationPreventionBytesAreRemoved) {
  NalSplitter s(64);
  // 00 00 03 01 is payload 00 00 01, not a start code; 00 00 03 03 is 00 00 03.
  const Bytes data = {0, 0, 1, 0x65, 0xAA, 0, 0, 3, 1, 0xBB, 0, 0, 3, 3, 0, 0, 3, 0, 0x80};
  const std::vector<Bytes> want = {{0x65, 0xAA, 0, 0, 1, 0xBB, 0, 0, 3, 0, 0, 0, 0x80}};
  EXPECT_EQ(Split(s, data), want);
}

TEST(H264NalSplitter, NothingCarriesOverBetweenCalls) {
  NalSplitter s(64);
  // Bytes before the first start code of a call belong to no unit, and a
  // start code cut by the end of the previous call is not one.
  EXPECT_EQ(Split(s, Bytes{0x41, 0x9A, 0, 0}), std::vector<Bytes>{});
  EXPECT_EQ(Split(s, Bytes{1, 0x41, 0x9B, 0, 0, 1, 0x41, 0x9C}), std::vector<Bytes>({{0x41, 0x9C}}));
  // A unit ends with its call's data.
  EXPECT_EQ(Split(s, Bytes{0, 0, 1, 0x41, 0x9D}), std::vector<Bytes>({{0x41, 0x9D}}));
}

TEST(H264NalSplitter, TrailingZerosAndHeaderOnlyUnitsAreDropped) {
  NalSplitter s(64);
  const Bytes data = {0, 0, 1, 0x09, 0, 0, 1, 0x0C, 0, 0, 0, 0, 1, 0x41, 0x80, 0, 0, 0};
  EXPECT_EQ(Split(s, data), std::vector<Bytes>({{0x41, 0x80}}));
}

TEST(H264NalSplitter, UnitLargerThanTheBufferIsDroppedUpToTheNextStartCode) {
  NalSplitter s(16);
  Bytes data = {0, 0, 1, 0x0C};
  data.insert(data.end(), 40, 0xFF);  // 41 bytes: too long
  data.insert(data.end(), {0, 0, 1, 0x41, 0x77});
  data.insert(data.end(), {0, 0, 1, 0x41});
  data.insert(data.end(), 15, 0x55);  // exactly 16 bytes: fits
  const auto units = Split(s, data);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(units[0], (Bytes{0x41, 0x77}));
  EXPECT_EQ(units[1].size(), 16u);
}

// Whatever the payload, writing a unit as Annex B and splitting it again
// gives the unit back, and the written bytes hold no start code inside.
TEST(H264NalSplitter, AnnexBWritingRoundTrips) {
  std::mt19937 rng(7);
  NalSplitter s(4096);
  Bytes out(4096 * 2);
  for (int round = 0; round < 500; ++round) {
    Bytes nal(2 + rng() % 300);
    for (auto& b : nal) b = (rng() % 3 == 0) ? static_cast<uint8_t>(rng() % 4) : static_cast<uint8_t>(rng());
    nal[0] = 0x41;
    if (nal.back() == 0) nal.back() = 0x80;
    const size_t n = writeAnnexB(nal.data(), nal.size(), out.data(), out.size());
    ASSERT_GT(n, 0u);
    const Bytes written(out.begin(), out.begin() + static_cast<long>(n));
    const auto units = Split(s, written);
    ASSERT_EQ(units.size(), 1u) << "round " << round;
    EXPECT_EQ(units[0], nal) << "round " << round;
  }
  const Bytes nal = {0x41, 0, 0, 0, 0, 0, 0, 0x80};
  EXPECT_EQ(writeAnnexB(nal.data(), nal.size(), out.data(), 8), 0u) << "no room";
}

}  // namespace
}  // namespace trevolo::h264
