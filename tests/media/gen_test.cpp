// avtool gen: same arguments give the same bytes, the records are laid out
// as a recorder lays them out, and every decoded picture shows its number.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/media/media_test_util.h"
#include "tools/av_writer.h"
#include "tools/media/gen_streams.h"
#include "tools/media/test_pattern.h"

namespace trevolo::test {
namespace {

using media::kTimeBaseUs;

class Gen : public ::testing::Test {
 protected:
  // Runs gen into `name` and returns the recording's bytes.
  Bytes gen(const std::string& name, const std::string& args) {
    const RunResult r = RunAvtool("gen -o " + dir.path(name) + " " + args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadBytes(dir.path(name));
  }
  TempDir dir;
};

TEST_F(Gen, SameArgumentsGiveSameBytesAndEveryArgumentCounts) {
  const std::string base = "--size 160x120 --seconds 0.6";
  const Bytes first = gen("a.av", base);
  ASSERT_GT(first.size(), 1000u);
  EXPECT_EQ(gen("b.av", base), first);
  const char* variants[] = {"--size 176x120", "--fps 30",         "--seconds 0.7",
                            "--profile high", "--gop 5",          "--interlaced",
                            "--audio sweep",  "--audio silence",  "--amr-mode 3"};
  for (const char* v : variants) {
    EXPECT_NE(gen("v.av", base + " " + v), first) << v;
  }
}

// The audio frames of every block start within its picture's interval, in
// order, none lost, and the block's audio time stamp is its first frame's.
void ExpectAudioFollowsPictures(const std::vector<Record>& blocks, int fps, size_t frameBytes,
                                uint8_t typeByte) {
  uint64_t nextFrame = 0;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const auto& h = blocks[i].header;
    const uint64_t start = kTimeBaseUs + media::PictureOffsetUs(static_cast<int64_t>(i), fps);
    const uint64_t end = kTimeBaseUs + media::PictureOffsetUs(static_cast<int64_t>(i) + 1, fps);
    EXPECT_EQ(h.videoTs, start) << i;
    for (size_t k = 0; k < blocks[i].audio.size(); ++k) {
      const uint64_t ts = kTimeBaseUs + (nextFrame + k) * media::kAmrFrameUs;
      EXPECT_GE(ts, start) << i;
      EXPECT_LT(ts, end) << i;
      EXPECT_EQ(blocks[i].audio[k].size(), frameBytes);
      EXPECT_EQ(blocks[i].audio[k][0], typeByte);
    }
    if (!blocks[i].audio.empty()) {
      EXPECT_EQ(h.audioTs, kTimeBaseUs + nextFrame * media::kAmrFrameUs);
    }
    nextFrame += blocks[i].audio.size();
  }
  // The sound lasts as long as the pictures: up to the end of the last one.
  const uint64_t total = media::PictureOffsetUs(static_cast<int64_t>(blocks.size()), fps);
  EXPECT_EQ(nextFrame, (total + media::kAmrFrameUs - 1) / media::kAmrFrameUs);
}

TEST_F(Gen, RecordsCarryOneAccessUnitAndTheAudioOfItsInstant) {
  const auto records = ParseRecording(gen("s.av", "--size 160x120 --seconds 2 --gop 10"));
  ASSERT_EQ(records.size(), 51u);
  EXPECT_EQ(records[0].header.type, AV_REC_AUDIO_FORMAT);
  EXPECT_EQ(Le16(records[0].header.format), kAmrFormatWord);
  EXPECT_EQ(AudioFrameDurationUs(Le16(records[0].header.format)), 20000u);
  const std::vector<Record> blocks(records.begin() + 1, records.end());
  for (size_t i = 0; i < blocks.size(); ++i) {
    ASSERT_EQ(blocks[i].header.type, AV_REC_MEDIA);
    const Bytes& v = blocks[i].video;
    ASSERT_GE(v.size(), 8u);
    // IDR pictures lead with SPS (and PPS) behind a 4-byte start code;
    // the others begin with a slice, never with an SPS.
    EXPECT_EQ(Bytes(v.begin(), v.begin() + 4), (Bytes{0, 0, 0, 1})) << i;
    if (i % 10 == 0) {
      EXPECT_EQ(v[4] & 0x1F, 7) << i;
      EXPECT_TRUE(IsKeyFrame(v.data(), 8, static_cast<uint32_t>(v.size()))) << i;
    } else {
      EXPECT_EQ(v[4] & 0x1F, 1) << i;
    }
    EXPECT_EQ(blocks[i].audio.size(), 2u) << i;  // 40 ms pictures, 20 ms frames
  }
  ExpectAudioFollowsPictures(blocks, 25, 32, 0x3C);
}

TEST_F(Gen, OddFrameRatesAndOtherModesKeepAudioInStep) {
  auto records = ParseRecording(gen("f.av", "--size 160x120 --seconds 1 --fps 30 --amr-mode 0"));
  ASSERT_EQ(records.size(), 31u);
  ExpectAudioFollowsPictures({records.begin() + 1, records.end()}, 30, 13, 0x04);

  records = ParseRecording(gen("g.av", "--size 160x120 --seconds 3 --fps 1 --audio silence"));
  ASSERT_EQ(records.size(), 4u);
  ExpectAudioFollowsPictures({records.begin() + 1, records.end()}, 1, 32, 0x3C);
  EXPECT_EQ(records[1].audio.size(), 50u);
}

TEST_F(Gen, NoAudioMeansNoFormatRecordAndEmptyBlocks) {
  const auto records = ParseRecording(gen("n.av", "--size 160x120 --seconds 1 --audio none"));
  ASSERT_EQ(records.size(), 25u);
  for (const auto& r : records) {
    EXPECT_EQ(r.header.type, AV_REC_MEDIA);
    EXPECT_EQ(r.header.audioFrames, 0);
    EXPECT_GT(r.header.videoLength, 0u);
  }
}

// gen, demux, decode with ffmpeg: every picture shows its own number and time.
void ExpectPicturesReadBack(const TempDir& dir, const std::string& args, int width, int height,
                            int pictures) {
  const std::string av = dir.path("d.av"), h264 = dir.path("d.h264"), yuv = dir.path("d.yuv");
  ASSERT_EQ(RunAvtool("gen -o " + av + " " + args).status, 0);
  ASSERT_EQ(RunAvtool("demux " + av + " --video " + h264).status, 0);
  ASSERT_EQ(DecodeH264(h264, yuv, width, height), pictures) << args;
  const auto numbers = ReadFrameNumbers(yuv, width, height);
  for (int i = 0; i < pictures; ++i) EXPECT_EQ(numbers[i], i) << args;
  const Bytes all = ReadBytes(yuv);
  const size_t picture = static_cast<size_t>(width) * height * 3 / 2;
  for (int i = 0; i < pictures; ++i) {
    EXPECT_EQ(ReadTimeMs(&all[i * picture], width, width, height), i * 40) << args;
  }
}

TEST_F(Gen, DecodedPicturesShowTheirFrameNumbers) {
  ExpectPicturesReadBack(dir, "--seconds 2", 640, 360, 50);
  ExpectPicturesReadBack(dir, "--size 320x240 --seconds 2 --profile baseline --gop 7", 320, 240, 50);
  ExpectPicturesReadBack(dir, "--size 1280x720 --seconds 1 --profile high", 1280, 720, 25);
  ExpectPicturesReadBack(dir, "--size 320x240 --seconds 1 --interlaced", 320, 240, 25);
}

TEST_F(Gen, BadArgumentsFailWithOneLineAndNoFile) {
  const char* bad[] = {"--size 100",        "--size 99x64",      "--size 0x0",
                       "--size 8192x8192",  "--fps 0",           "--fps 25x",
                       "--seconds -1",      "--seconds nan",     "--profile extended",
                       "--gop 0",           "--audio loud",      "--amr-mode 8",
                       "--bogus 1",         "--fps",             "--interlaced --profile baseline",
                       "--size 322x242 --interlaced"};
  for (const char* args : bad) {
    const std::string out = dir.path("bad.av");
    const RunResult r = RunAvtool("gen -o " + out + " " + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
    EXPECT_EQ(r.err.rfind("avtool gen: ", 0), 0u) << r.err;
    EXPECT_FALSE(FileExists(out)) << args;
  }
  EXPECT_EQ(RunAvtool("gen --seconds 1").status, 1);
  EXPECT_EQ(RunAvtool("gen -o " + dir.path("missing/x.av")).status, 1);
}

}  // namespace
}  // namespace trevolo::test
