// avtool demux on damaged recordings: it must hand out what the player's
// reader would queue, no more and no less.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/media/media_test_util.h"
#include "tools/av_writer.h"
#include "tools/media/gen_streams.h"

namespace trevolo::test {
namespace {

constexpr uint64_t kTs = 1'000'000;

Bytes Frame(size_t size, uint8_t first) {
  Bytes f(size);
  for (size_t i = 0; i < size; ++i) f[i] = static_cast<uint8_t>(first + i % 0x30);
  return f;
}

Bytes Block(const Bytes& video, const std::vector<Bytes>& audio) {
  Bytes out;
  AvWriter(&out).mediaBlock(kTs, video, kTs, audio);
  return out;
}

void Append(Bytes& to, const Bytes& from, size_t begin = 0, size_t end = SIZE_MAX) {
  end = std::min(end, from.size());
  to.insert(to.end(), from.begin() + static_cast<long>(begin), from.begin() + static_cast<long>(end));
}

class Demux : public ::testing::Test {
 protected:
  RunResult demux(const Bytes& recording) {
    WriteBytes(dir.path("in.av"), recording);
    return RunAvtool("demux " + dir.path("in.av") + " --video " + dir.path("out.h264") +
                     " --audio " + dir.path("out.amr"));
  }
  Bytes video() { return ReadBytes(dir.path("out.h264")); }
  Bytes audio() { return ReadBytes(dir.path("out.amr")); }
  TempDir dir;
};

TEST_F(Demux, DamagedRecordingGivesWhatThePlayerWouldRead) {
  Bytes file, wantVideo, wantAudio(media::kAmrMagic, media::kAmrMagic + media::kAmrMagicBytes);
  AvWriter w(&file);
  // Garbage first, with a false marker (FF 88) and two trailing 0xFF bytes.
  w.raw(Bytes{0x00, 0x12, 0xFF, 0x88, 0xFF, 0xFF});
  w.audioFormat(kAmrFormatWord);

  // Plain blocks, one with an empty slot, separated by garbage.
  const Bytes a = SyntheticAccessUnit(100, true, 1), b = SyntheticAccessUnit(90, false, 2);
  w.raw(Block(a, {Frame(32, 0x20), Frame(32, 0x21)}));
  w.raw(Bytes{0x01, 0x02, 0xFF, 0xFF});
  w.raw(Block(b, {Frame(13, 0x22), {}, Frame(14, 0x23)}));
  Append(wantVideo, a);
  Append(wantVideo, b);
  for (const auto& f : {Frame(32, 0x20), Frame(32, 0x21), Frame(13, 0x22), Frame(14, 0x23)}) {
    Append(wantAudio, f);
  }

  // Type 2 and type 9 headers are bare: their "payload" is searched through.
  const Bytes c = SyntheticAccessUnit(50, false, 3);
  w.header(2, 5, 100, kTs, kTs);
  w.raw(Block(c, {}));
  w.header(9, 1, 50, kTs, kTs);
  w.raw(Frame(50, 0x30));
  w.raw(Block(c, {}));
  Append(wantVideo, c);
  Append(wantVideo, c);

  // 70 frames: only 64 length entries are read, so the frames and the
  // video are read from the wrong places until the next marker.
  std::vector<Bytes> seventy;
  for (int k = 0; k < 70; ++k) seventy.push_back(Frame(10, static_cast<uint8_t>(0x20 + k % 16)));
  const Bytes many = Block(SyntheticAccessUnit(300, false, 4), seventy);
  w.raw(many);
  for (int k = 0; k < 64; ++k) Append(wantAudio, many, 28 + 128 + 10 * k, 28 + 128 + 10 * (k + 1));
  Append(wantVideo, many, 28 + 128 + 640, 28 + 128 + 640 + 300);

  // A 40-byte frame is cut to 36; the next frame starts right behind the cut.
  const Bytes longFrame = Block(SyntheticAccessUnit(200, false, 5), {Frame(40, 0x40), Frame(20, 0x50)});
  w.raw(longFrame);
  Append(wantAudio, longFrame, 32, 68);
  Append(wantAudio, longFrame, 68, 88);
  Append(wantVideo, longFrame, 88, 288);

  // Video above 256 KiB is cut to 256 KiB.
  const Bytes big = SyntheticAccessUnit(MAX_VIDEO_PAYLOAD + 100, true, 6);
  w.raw(Block(big, {}));
  Append(wantVideo, big, 0, MAX_VIDEO_PAYLOAD);

  // The file ends inside the last block's video: its audio is read, its
  // picture is lost.
  const Bytes last = Block(SyntheticAccessUnit(500, false, 7), {Frame(32, 0x60), Frame(32, 0x61)});
  w.raw(Bytes(last.begin(), last.begin() + 28 + 4 + 64 + 100));
  Append(wantAudio, Frame(32, 0x60));
  Append(wantAudio, Frame(32, 0x61));

  const RunResult r = demux(file);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(video(), wantVideo);
  EXPECT_EQ(audio(), wantAudio);
  EXPECT_NE(r.out.find("8 blocks, 7 access units, 72 audio frames, 1 audio format records"),
            std::string::npos)
      << r.out;
}

TEST_F(Demux, MarkerSplitAcrossReadsAndLongMarkerRunsAreFound) {
  const Bytes au = SyntheticAccessUnit(64, true, 9);
  for (size_t lead = 0; lead < 60; ++lead) {
    Bytes file(lead, 0x11);
    file.push_back(0xFF);  // four 0xFF bytes then 0x88 is still a marker
    Append(file, Block(au, {Frame(13, 0x20)}));
    ASSERT_EQ(demux(file).status, 0);
    ASSERT_EQ(video(), au) << lead;
    Bytes wantAudio(media::kAmrMagic, media::kAmrMagic + media::kAmrMagicBytes);
    Append(wantAudio, Frame(13, 0x20));
    ASSERT_EQ(audio(), wantAudio) << lead;
  }
}

TEST_F(Demux, RefusesWhatIsNoRecording) {
  WriteBytes(dir.path("none.av"), Bytes(1000, 0x42));
  WriteBytes(dir.path("good.av"), Block(SyntheticAccessUnit(64, true, 1), {}));
  const std::string out = " --video " + dir.path("v.h264");
  const std::string cases[] = {
      "demux " + dir.path("none.av") + out,
      "demux " + dir.path("missing.av") + out,
      "demux " + dir.path("none.av"),
      "demux" + out,
      "demux " + dir.path("good.av") + " --video " + dir.path("no/dir/v.h264"),
      "demux " + dir.path("good.av") + " --video",
  };
  for (const auto& args : cases) {
    const RunResult r = RunAvtool(args);
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
  }
}

}  // namespace
}  // namespace trevolo::test
