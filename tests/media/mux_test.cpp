// avtool mux and its reverse: a reference stream and an AMR file encoded
// here go into a recording and come back out byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/media/media_test_util.h"
#include "tools/av_writer.h"
#include "tools/media/gen_streams.h"

namespace trevolo::test {
namespace {

const std::string kStream = std::string(TREVOLO_TESTDATA_DIR) + "/h264/BA_MW_D.264";
constexpr size_t kStreamPictures = 100;

class Mux : public ::testing::Test {
 protected:
  TempDir dir;
};

Bytes Concat(const std::vector<Bytes>& parts, const Bytes& prefix = {}) {
  Bytes all = prefix;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST_F(Mux, RoundTripGivesBackTheSameBytes) {
  const std::string amr = dir.path("in.amr"), av = dir.path("m.av");
  const auto frames = WriteAmrFile(amr, 200);  // 4 s, as long as the 100 pictures
  ASSERT_EQ(frames.size(), 200u);
  RunResult r = RunAvtool("mux --video " + kStream + " --audio " + amr + " -o " + av);
  ASSERT_EQ(r.status, 0) << r.err;

  const auto records = ParseRecording(ReadBytes(av));
  ASSERT_EQ(records.size(), 1 + kStreamPictures);
  EXPECT_EQ(records[0].header.type, AV_REC_AUDIO_FORMAT);
  EXPECT_EQ(Le16(records[0].header.format), kAmrFormatWord);
  std::vector<Bytes> units, audio;
  for (size_t i = 1; i < records.size(); ++i) {
    const auto& rec = records[i];
    ASSERT_EQ(rec.header.type, AV_REC_MEDIA);
    EXPECT_EQ(rec.header.videoTs, media::kTimeBaseUs + (i - 1) * 40000);
    EXPECT_EQ(rec.header.audioTs, media::kTimeBaseUs + (i - 1) * 40000);
    EXPECT_EQ(rec.audio.size(), 2u);
    units.push_back(rec.video);
    audio.insert(audio.end(), rec.audio.begin(), rec.audio.end());
  }
  EXPECT_EQ(Concat(units), ReadBytes(kStream));
  EXPECT_EQ(audio, frames);
  EXPECT_TRUE(IsKeyFrame(units[0].data(), 8, static_cast<uint32_t>(units[0].size())));

  r = RunAvtool("demux " + av + " --video " + dir.path("o.h264") + " --audio " + dir.path("o.amr"));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ReadBytes(dir.path("o.h264")), ReadBytes(kStream));
  EXPECT_EQ(ReadBytes(dir.path("o.amr")), ReadBytes(amr));
}

TEST_F(Mux, SoundLongerThanThePicturesIsKeptInAudioOnlyBlocks) {
  const std::string amr = dir.path("in.amr"), av = dir.path("m.av");
  const auto frames = WriteAmrFile(amr, 230);  // 0.6 s past the last picture at 25 fps
  ASSERT_EQ(RunAvtool("mux --video " + kStream + " --audio " + amr + " -o " + av).status, 0);
  const auto records = ParseRecording(ReadBytes(av));
  ASSERT_EQ(records.size(), 1 + kStreamPictures + 15);
  for (size_t i = 1 + kStreamPictures; i < records.size(); ++i) {
    EXPECT_EQ(records[i].header.videoLength, 0u);
    EXPECT_EQ(records[i].audio.size(), 2u);
  }
  ASSERT_EQ(RunAvtool("demux " + av + " --audio " + dir.path("o.amr")).status, 0);
  EXPECT_EQ(ReadBytes(dir.path("o.amr")), ReadBytes(amr));
}

TEST_F(Mux, FrameRateSetsTheTimeLine) {
  const std::string amr = dir.path("in.amr"), av = dir.path("m.av");
  WriteAmrFile(amr, 50);
  ASSERT_EQ(RunAvtool("mux --video " + kStream + " --audio " + amr + " --fps 30 -o " + av).status, 0);
  const auto records = ParseRecording(ReadBytes(av));
  ASSERT_EQ(records.size(), 1 + kStreamPictures);
  // 33,333 us pictures: the 50 frames (1 s) spread over the first 30 pictures.
  size_t frames = 0;
  for (size_t i = 1; i < records.size(); ++i) {
    EXPECT_EQ(records[i].header.videoTs, media::kTimeBaseUs + media::PictureOffsetUs(i - 1, 30));
    EXPECT_LE(records[i].audio.size(), 2u);
    if (i > 30) {
      EXPECT_TRUE(records[i].audio.empty()) << i;
    }
    frames += records[i].audio.size();
  }
  EXPECT_EQ(frames, 50u);
}

TEST_F(Mux, WithoutAudioThereIsNoFormatRecord) {
  const std::string av = dir.path("m.av");
  ASSERT_EQ(RunAvtool("mux --video " + kStream + " -o " + av).status, 0);
  const auto records = ParseRecording(ReadBytes(av));
  ASSERT_EQ(records.size(), kStreamPictures);
  EXPECT_TRUE(std::all_of(records.begin(), records.end(), [](const Record& r) {
    return r.header.type == AV_REC_MEDIA && r.header.audioFrames == 0;
  }));
}

TEST_F(Mux, BadInputFailsWithOneLineAndNoFile) {
  const std::string good = dir.path("good.amr");
  WriteAmrFile(good, 10);
  Bytes amr = ReadBytes(good);
  WriteBytes(dir.path("nomagic.amr"), Bytes(amr.begin() + 6, amr.end()));
  Bytes badType = amr;
  badType[6] = 0x4C;  // frame type 9
  WriteBytes(dir.path("badtype.amr"), badType);
  WriteBytes(dir.path("cut.amr"), Bytes(amr.begin(), amr.end() - 3));
  WriteBytes(dir.path("text.h264"), Bytes{'h', 'e', 'l', 'l', 'o'});
  WriteBytes(dir.path("empty.h264"), Bytes{});

  const std::string out = dir.path("bad.av");
  const std::string cases[] = {
      "--video " + dir.path("missing.h264") + " -o " + out,
      "--video " + dir.path("text.h264") + " -o " + out,
      "--video " + dir.path("empty.h264") + " -o " + out,
      "--video " + kStream + " --audio " + dir.path("missing.amr") + " -o " + out,
      "--video " + kStream + " --audio " + dir.path("nomagic.amr") + " -o " + out,
      "--video " + kStream + " --audio " + dir.path("badtype.amr") + " -o " + out,
      "--video " + kStream + " --audio " + dir.path("cut.amr") + " -o " + out,
      "--video " + kStream + " --fps 0 -o " + out,
      "--video " + kStream,
      "--audio " + good + " -o " + out,
      "--video " + kStream + " --wrong x -o " + out,
      "--video " + kStream + " -o " + dir.path("no/such/dir.av"),
  };
  for (const auto& args : cases) {
    const RunResult r = RunAvtool("mux " + args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
    EXPECT_FALSE(FileExists(out)) << args;
  }
}

}  // namespace
}  // namespace trevolo::test
