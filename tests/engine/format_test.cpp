// The record format: header decoding, audio frame durations, the key-frame
// test and the resynchronising marker search.
#include <gtest/gtest.h>

#include <random>

#include "engine/av_format.h"
#include "test_files.h"

namespace trevolo {
namespace {

using test::TempDir;
using test::WriteBytes;

TEST(AudioFrameDuration, FromSamplesAndRateIndices) {
  EXPECT_EQ(AudioFrameDurationUs(AudioFormatWord(1, 0)), 20000u);  // 160 @ 8000
  EXPECT_EQ(AudioFrameDurationUs(AudioFormatWord(0, 7)), 1666u);   // 80 @ 48000, remainder dropped
  EXPECT_EQ(AudioFrameDurationUs(AudioFormatWord(6, 0)), 256000u);  // 6 and 7 read as 2048
  EXPECT_EQ(AudioFrameDurationUs(AudioFormatWord(7, 0)), 256000u);
  EXPECT_EQ(AudioFrameDurationUs(AudioFormatWord(5, 6)), 46439u);   // 2048 @ 44100
  // Bits 0..9 are not part of the format.
  EXPECT_EQ(AudioFrameDurationUs(AudioFormatWord(1, 0) | 0x3FF), 20000u);
}

TEST(KeyFrame, OnlyAFourByteStartCodeAndAnSps) {
  const uint8_t sps[8] = {0, 0, 0, 1, 0x67, 0x42, 0, 0x1e};
  const uint8_t spsOtherNri[8] = {0, 0, 0, 1, 0x27, 0x42, 0, 0x1e};
  const uint8_t idr[8] = {0, 0, 0, 1, 0x65, 0x88, 0, 0};
  const uint8_t shortStart[8] = {0, 0, 1, 0x67, 0x42, 0, 0x1e, 0};
  EXPECT_TRUE(IsKeyFrame(sps, 8, 8));
  EXPECT_TRUE(IsKeyFrame(spsOtherNri, 8, 1000));
  EXPECT_FALSE(IsKeyFrame(idr, 8, 8));
  EXPECT_FALSE(IsKeyFrame(shortStart, 8, 8));
  EXPECT_FALSE(IsKeyFrame(sps, 8, 7));  // a payload below 8 bytes is never a key frame
}

TEST(Header, FieldsAreLittleEndian) {
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.header(0, 0x1234, 0x89ABCDEF, 0x0102030405060708ull, 0x1112131415161718ull);
  const AvRecordHeader h = ParseHeader(bytes.data());
  EXPECT_EQ(h.type, 0);
  EXPECT_EQ(h.audioFrames, 0x1234);
  EXPECT_EQ(h.videoLength, 0x89ABCDEFu);
  EXPECT_EQ(h.videoTs, 0x0102030405060708ull);
  EXPECT_EQ(h.audioTs, 0x1112131415161718ull);
}

// Reads every header from `bytes` with a marker reader in `mode`.
std::vector<uint64_t> ReadHeaderStamps(const std::vector<uint8_t>& bytes, MarkerReader::Mode mode) {
  TempDir dir;
  const std::string path = dir.file("f.av");
  WriteBytes(path, bytes);
  FileReader file;
  EXPECT_TRUE(file.open(path));
  MarkerReader reader(mode);
  std::vector<uint64_t> stamps;
  AvRecordHeader h;
  while (reader.next(file, h)) stamps.push_back(h.videoTs);
  return stamps;
}

// Garbage that holds no marker of its own: any 0x88 after three 0xFF is changed.
std::vector<uint8_t> Garbage(std::mt19937& rng, size_t n) {
  std::vector<uint8_t> g(n);
  std::uniform_int_distribution<int> pick(0, 9);
  std::uniform_int_distribution<int> any(0, 255);
  int run = 0;
  for (auto& b : g) {
    const int p = pick(rng);
    b = p < 4 ? 0xFF : p < 6 ? 0x88 : static_cast<uint8_t>(any(rng));
    if (b == 0x88 && run >= 3) b = 0x87;
    run = b == 0xFF ? run + 1 : 0;
  }
  return g;
}

TEST(MarkerSearch, FindsEveryRecordAfterAnyGarbage) {
  std::mt19937 rng(12345);
  std::uniform_int_distribution<size_t> len(0, 90);
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> bytes;
    AvWriter w(&bytes);
    std::vector<uint64_t> expected;
    const int records = 1 + round % 7;
    for (int r = 0; r < records; ++r) {
      w.raw(Garbage(rng, len(rng)));
      // Bare type-2 headers: the reader consumes nothing but the header.
      w.header(2, 0, 0, static_cast<uint64_t>(round * 100 + r), 0);
      expected.push_back(static_cast<uint64_t>(round * 100 + r));
    }
    // Garbage at the end is no record either.
    w.raw(Garbage(rng, len(rng)));
    for (auto mode : {MarkerReader::Mode::Playback, MarkerReader::Mode::Scanner}) {
      EXPECT_EQ(ReadHeaderStamps(bytes, mode), expected) << "round " << round;
    }
  }
}

TEST(MarkerSearch, MarkerShapes) {
  auto withPrefix = [](std::vector<uint8_t> prefix, bool fourFF) {
    std::vector<uint8_t> bytes = std::move(prefix);
    AvWriter w(&bytes);
    if (fourFF) bytes.push_back(0xFF);  // FF FF FF FF 88 ...
    w.header(2, 0, 0, 77, 0);
    return bytes;
  };
  // Four 0xFF before 0x88 is a marker, also right at the start of the file.
  EXPECT_EQ(ReadHeaderStamps(withPrefix({}, true), MarkerReader::Mode::Playback),
            std::vector<uint64_t>{77});
  // Garbage that ends in one or two 0xFF bytes does not hide the record.
  EXPECT_EQ(ReadHeaderStamps(withPrefix({1, 2, 0xFF}, false), MarkerReader::Mode::Playback),
            std::vector<uint64_t>{77});
  EXPECT_EQ(ReadHeaderStamps(withPrefix({1, 0xFF, 0xFF}, false), MarkerReader::Mode::Scanner),
            std::vector<uint64_t>{77});
  // FF FF 88 is no marker: the bytes after it are not a record.
  std::vector<uint8_t> notMarker(60, 0x11);
  notMarker[0] = notMarker[1] = 0xFF;
  notMarker[2] = 0x88;
  EXPECT_TRUE(ReadHeaderStamps(notMarker, MarkerReader::Mode::Playback).empty());
}

TEST(MarkerSearch, MarkerSplitAcrossReads) {
  // 26 bytes of garbage, the first read of 28 bytes ends in FF FF; the next
  // read starts with FF 88.
  for (size_t pad = 20; pad < 60; ++pad) {
    std::vector<uint8_t> bytes(pad, 0x01);
    AvWriter w(&bytes);
    w.header(2, 0, 0, 5, 0);
    w.header(2, 0, 0, 6, 0);
    EXPECT_EQ(ReadHeaderStamps(bytes, MarkerReader::Mode::Playback),
              (std::vector<uint64_t>{5, 6}))
        << "pad " << pad;
  }
}

TEST(MarkerSearch, HeaderCutShortIsNotARecord) {
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.header(2, 0, 0, 1, 0);
  w.header(2, 0, 0, 2, 0);
  for (size_t cut = 1; cut < 28; ++cut) {
    std::vector<uint8_t> shortened(bytes.begin(), bytes.end() - static_cast<long>(cut));
    for (auto mode : {MarkerReader::Mode::Playback, MarkerReader::Mode::Scanner}) {
      EXPECT_EQ(ReadHeaderStamps(shortened, mode), std::vector<uint64_t>{1}) << "cut " << cut;
    }
  }
}

}  // namespace
}  // namespace trevolo
