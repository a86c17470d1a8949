// avtool export and avtool thumbnail: the pictures go into MP4 and Matroska
// unchanged and on the recording's time line, cuts start at a key frame,
// damage and interruptions never leave a broken file, and the preview shows
// the picture at 10% of the recording.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/media/media_test_util.h"
#include "tools/av_writer.h"
#include "tools/media/gen_streams.h"
#include "tools/media/test_pattern.h"

namespace trevolo::test {
namespace {

// Standard output of a shell command.
std::string Capture(const std::string& cmd) {
  std::string out;
  if (std::FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// What ffprobe finds in a file: its streams, its duration and the times of
// its pictures.
struct Probe {
  std::string codecs;  // "h264,aac"
  double duration = -1;
  std::vector<double> pictureTimes;  // seconds
};

Probe ProbeFile(const std::string& file) {
  Probe p;
  const std::string out = Capture(
      "ffprobe -v error -show_entries packet=codec_type,pts_time:stream=codec_name:format=duration "
      "-of compact " +
      file);
  size_t at = 0;
  for (size_t end; (end = out.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string line = out.substr(at, end - at);
    const std::string value = line.substr(line.rfind('=') + 1);
    if (line.rfind("packet|codec_type=video|", 0) == 0)
      p.pictureTimes.push_back(std::atof(value.c_str()));
    else if (line.rfind("stream|", 0) == 0)
      p.codecs += (p.codecs.empty() ? "" : ",") + value;
    else if (line.rfind("format|", 0) == 0)
      p.duration = std::atof(value.c_str());
  }
  return p;
}

// NAL units of an Annex B access unit, start codes and trailing zeros left off.
std::vector<Bytes> Nals(const Bytes& au) {
  std::vector<Bytes> nals;
  size_t begin = SIZE_MAX;
  auto close = [&](size_t end) {
    while (end > begin && au[end - 1] == 0) --end;
    if (begin != SIZE_MAX && end > begin) nals.emplace_back(au.begin() + begin, au.begin() + end);
  };
  for (size_t i = 0; i + 3 <= au.size(); ++i) {
    if (au[i] == 0 && au[i + 1] == 0 && au[i + 2] == 1) {
      close(i);
      begin = i + 3;
      i += 2;
    }
  }
  close(au.size());
  return nals;
}

// Decodes the whole file as a check (`errors` gets what ffmpeg says, nothing
// when all is well) and copies its pictures out as NAL units.
std::vector<std::vector<Bytes>> DecodeAndCopyPictures(const std::string& file,
                                                      const std::string& h264,
                                                      std::string* errors) {
  *errors = Capture("ffmpeg -nostdin -v error -y -i " + file +
                    " -map 0:v -c copy -bsf:v h264_mp4toannexb -f h264 " + h264 +
                    " -map 0 -f null - 2>&1 || echo ffmpeg failed");
  std::vector<Bytes> units;
  std::string error;
  media::SplitAccessUnits(ReadBytes(h264), &units, &error);
  std::vector<std::vector<Bytes>> pictures;
  for (const auto& u : units) pictures.push_back(Nals(u));
  return pictures;
}

constexpr int kPictures =
    100;  // of the shared recording: 4 s at 25 pictures/s, a key frame each second

class Export : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_shared = new TempDir;
    const RunResult r =
        RunAvtool("gen -o " + s_shared->path("in.av") + " --size 160x120 --seconds 4 --gop 25");
    ASSERT_EQ(r.status, 0) << r.err;
  }
  static void TearDownTestSuite() {
    delete s_shared;
    s_shared = nullptr;
  }
  static std::string recording() { return s_shared->path("in.av"); }

  std::string gen(const std::string& name, const std::string& args) {
    const RunResult r = RunAvtool("gen -o " + dir.path(name) + " " + args);
    EXPECT_EQ(r.status, 0) << r.err;
    return dir.path(name);
  }
  // Names in the scratch directory, which must hold nothing half-written.
  std::vector<std::string> files() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path("")))
      names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
  }

  static TempDir* s_shared;
  TempDir dir;
};
TempDir* Export::s_shared = nullptr;

TEST_F(Export, EveryPictureUnchangedOnTheRecordingsTimeLine) {
  ASSERT_EQ(RunAvtool("demux " + recording() + " --video " + dir.path("in.h264")).status, 0);
  std::vector<Bytes> units;
  std::string error;
  ASSERT_TRUE(media::SplitAccessUnits(ReadBytes(dir.path("in.h264")), &units, &error)) << error;
  ASSERT_EQ(units.size(), size_t{kPictures});

  const struct {
    const char* name;
    const char* audio;
    const char* codecs;
  } cases[] = {{"a.mp4", "aac", "h264,aac"},
               {"b.mkv", "aac", "h264,aac"},
               {"c.mp4", "copy", "h264,amr_nb"},
               {"d.mkv", "copy", "h264,amr_nb"},
               {"e.mp4", "none", "h264"}};
  for (const auto& c : cases) {
    const std::string out = dir.path(c.name);
    const RunResult r = RunAvtool("export " + recording() + " " + out + " --audio " + c.audio);
    ASSERT_EQ(r.status, 0) << c.name << ": " << r.err;
    EXPECT_EQ(r.err, "") << c.name;
    const auto pictures = DecodeAndCopyPictures(out, dir.path("out.h264"), &error);
    EXPECT_EQ(error, "") << c.name;
    ASSERT_EQ(pictures.size(), units.size()) << c.name;
    for (size_t i = 0; i < units.size(); ++i)
      EXPECT_EQ(pictures[i], Nals(units[i])) << c.name << " " << i;

    const Probe probe = ProbeFile(out);
    EXPECT_EQ(probe.codecs, c.codecs) << c.name;
    EXPECT_NEAR(probe.duration, 4.0, 0.0015) << c.name;
    ASSERT_EQ(probe.pictureTimes.size(), units.size()) << c.name;
    for (size_t i = 0; i < units.size(); ++i)
      EXPECT_NEAR(probe.pictureTimes[i], 0.04 * i, 0.0006) << c.name << i;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"a.mp4", "b.mkv", "c.mp4", "d.mkv", "e.mp4",
                                               "in.h264", "out.h264"}));
}

TEST_F(Export, CutStartsAtTheKeyFrameBeforeFromAndEndsBeforeTo) {
  const std::string out = dir.path("cut.mp4");
  const RunResult r =
      RunAvtool("export " + recording() + " " + out + " --from 00:00:01.500 --to 00:00:03");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("key frame at 00:00:01.000"), std::string::npos) << r.err;
  const Probe probe = ProbeFile(out);
  EXPECT_NEAR(probe.duration, 2.0, 0.0015);
  ASSERT_EQ(probe.pictureTimes.size(), 50u);
  EXPECT_NEAR(probe.pictureTimes.front(), 0.0, 1e-6);

  // The pictures are 25 to 74 of the recording: their drawn numbers say so.
  const std::string errors =
      Capture("ffmpeg -nostdin -v error -i " + out + " -f rawvideo -pix_fmt yuv420p " +
              dir.path("cut.yuv") + " 2>&1");
  EXPECT_EQ(errors, "");
  const std::vector<int> numbers = ReadFrameNumbers(dir.path("cut.yuv"), 160, 120);
  ASSERT_EQ(numbers.size(), 50u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(numbers[static_cast<size_t>(i)], 25 + i);

  // Cuts that hold no picture and bad arguments are refused, with no file left behind.
  for (const char* args : {" --from 00:00:05", " --from 00:00:02 --to 00:00:01.999",
                           " --to 00:00:00.000", " --from 1:2", " --audio mp3"}) {
    const RunResult bad = RunAvtool("export " + recording() + " " + dir.path("bad.mp4") + args);
    EXPECT_EQ(bad.status, 1) << args;
    EXPECT_EQ(Lines(bad.err), 1u) << args << ": " << bad.err;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"cut.mp4", "cut.yuv"}));
}

TEST_F(Export, DamagedRecordingsGiveWhatPlaysOrNothing) {
  const std::vector<Record> records = ParseRecording(ReadBytes(recording()));
  ASSERT_EQ(records.size(), size_t{kPictures} + 1);  // the audio format record, then the blocks
  Bytes damaged;
  AvWriter w(&damaged);
  w.raw(Bytes{0x00, 0xFF, 0x88, 0xFF, 0xFF});  // garbage ending in 0xFF before the first marker
  w.audioFormat(kAmrFormatWord);
  for (size_t i = 1; i < records.size(); ++i) {
    const AvRecordHeader& h = records[i].header;
    // Pictures with time stamps before the first picture (20), twenty
    // minutes ahead (40) and an hour and a half ahead (60); sound ten
    // minutes ahead (70); garbage after picture 30.
    uint64_t videoTs = h.videoTs, audioTs = h.audioTs;
    if (i == 21) videoTs -= 5'000'000;
    if (i == 41) videoTs += 1'200'000'000;
    if (i == 61) videoTs += 5'400'000'000;
    if (i == 71) audioTs += 600'000'000;
    w.mediaBlock(videoTs, records[i].video, audioTs, records[i].audio);
    if (i == 31) w.raw(Bytes{0x12, 0xFF, 0xFF, 0xFF, 0x34});
  }
  damaged.resize(damaged.size() - 40);  // the last block is cut short
  WriteBytes(dir.path("damaged.av"), damaged);

  for (const char* name : {"damaged.mp4", "damaged.mkv"}) {
    const std::string out = dir.path(name);
    const RunResult r = RunAvtool("export " + dir.path("damaged.av") + " " + out);
    ASSERT_EQ(r.status, 0) << name << ": " << r.err;
    std::string errors;
    EXPECT_EQ(DecodeAndCopyPictures(out, dir.path("out.h264"), &errors).size(),
              size_t{kPictures} - 1)
        << name;
    EXPECT_EQ(errors, "") << name;
    const Probe probe = ProbeFile(out);
    EXPECT_NEAR(probe.duration, 3.96, 0.0015) << name;
    ASSERT_EQ(probe.pictureTimes.size(), size_t{kPictures} - 1) << name;
    for (size_t i = 1; i < probe.pictureTimes.size(); ++i)
      EXPECT_NEAR(probe.pictureTimes[i] - probe.pictureTimes[i - 1], 0.04, 0.0011)
          << name << " " << i;
  }
  std::filesystem::remove(dir.path("out.h264"));

  // Nothing that plays: refused with one line and no file.
  Bytes noKeyFrame;
  AvWriter(&noKeyFrame).mediaBlock(1000, SyntheticAccessUnit(200, false, 1), 1000, {});
  WriteBytes(dir.path("nokey.av"), noKeyFrame);
  WriteBytes(dir.path("none.av"), Bytes(5000, 0x42));
  WriteBytes(dir.path("cutkey.av"),
             Bytes(damaged.begin(), damaged.begin() + 200));  // the first key frame cut short
  for (const char* name : {"nokey.av", "none.av", "cutkey.av", "missing.av"}) {
    const RunResult r = RunAvtool("export " + dir.path(name) + " " + dir.path("x.mp4"));
    EXPECT_EQ(r.status, 1) << name;
    EXPECT_EQ(Lines(r.err), 1u) << name << ": " << r.err;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"cutkey.av", "damaged.av", "damaged.mkv",
                                               "damaged.mp4", "nokey.av", "none.av"}));
}

TEST_F(Export, InterruptedOrFailedExportLeavesNoFile) {
  // A long recording: the shared 4 s repeated for 20 minutes, so the export
  // is still running when it is interrupted.
  const std::vector<Record> records = ParseRecording(ReadBytes(recording()));
  ASSERT_EQ(records.size(), size_t{kPictures} + 1);
  {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(dir.path("long.av").c_str(), "wb"),
                                                      &std::fclose);
    ASSERT_TRUE(f);
    AvWriter w(f.get());
    w.audioFormat(kAmrFormatWord);
    for (uint64_t s = 0; s < 1200; s += 4) {
      for (size_t i = 1; i < records.size(); ++i) {
        const AvRecordHeader& h = records[i].header;
        w.mediaBlock(h.videoTs + s * 1'000'000, records[i].video, h.audioTs + s * 1'000'000,
                     records[i].audio);
      }
    }
    ASSERT_TRUE(w.ok());
  }
  const std::string in = dir.path("long.av");
  const std::string err = s_shared->path("err");
  for (int sig : {SIGINT, SIGTERM}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, STDERR_FILENO);
      const std::string out = dir.path("long.mp4");
      ::execl(AVTOOL_PATH, AVTOOL_PATH, "export", in.c_str(), out.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    // Interrupted once the temporary file exists.
    for (int i = 0; i < 1000 && files().size() < 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << sig;
    EXPECT_EQ(Capture("cat " + err), "avtool export: interrupted\n") << sig;
    EXPECT_EQ(files(), std::vector<std::string>{"long.av"}) << sig;
  }

  // A disk that fills up (here: a file size limit) ends the export with an error.
  const int status = std::system(("ulimit -f 64; trap '' XFSZ; " + std::string(AVTOOL_PATH) +
                                  " export " + in + " " + dir.path("long.mkv") + " 2>" + err)
                                     .c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(Lines(Capture("cat " + err)), 1u) << Capture("cat " + err);
  EXPECT_EQ(files(), std::vector<std::string>{"long.av"});
}

// A PNG picture's size and the frame number it shows.
struct Thumb {
  int width = 0;
  int height = 0;
  int frame = -1;
};

Thumb ReadThumb(const std::string& png, const std::string& scratch) {
  Thumb t;
  const Bytes head = ReadBytes(png);
  if (head.size() < 24) return t;
  t.width =
      (head[16] << 24) | (head[17] << 16) | (head[18] << 8) | head[19];  // from the IHDR chunk
  t.height = (head[20] << 24) | (head[21] << 16) | (head[22] << 8) | head[23];
  std::system(
      ("ffmpeg -nostdin -v error -y -i " + png + " -f rawvideo -pix_fmt gray " + scratch).c_str());
  const Bytes y = ReadBytes(scratch);
  if (y.size() == static_cast<size_t>(t.width) * t.height)
    t.frame = ReadFrameNumber(y.data(), t.width, t.width, t.height);
  return t;
}

TEST_F(Export, ThumbnailShowsThePictureAtOneTenthScaledToSize) {
  // 15 s at 5 pictures/s: 10% of the 14.8 s from the first to the last picture is 1.48 s,
  // picture 7.
  const std::string wide =
      gen("wide.av", "--size 192x108 --fps 5 --seconds 15 --gop 50 --audio none");
  const std::string tall = gen("tall.av", "--size 160x288 --fps 5 --seconds 15 --audio none");
  const struct {
    std::string args;
    int width, height, frame;
  } cases[] = {{wide, 256, 144, 7},
               {"-s 320 " + wide, 320, 180, 7},
               {"-s 400 " + tall, 222, 400, 7},
               {recording(), 256, 192, 0}};  // under 10 s: the first key frame
  for (const auto& c : cases) {
    const RunResult r = RunAvtool("thumbnail " + c.args + " " + dir.path("t.png"));
    ASSERT_EQ(r.status, 0) << c.args << ": " << r.err;
    const Thumb t = ReadThumb(dir.path("t.png"), dir.path("t.gray"));
    EXPECT_EQ(t.width, c.width) << c.args;
    EXPECT_EQ(t.height, c.height) << c.args;
    EXPECT_EQ(t.frame, c.frame) << c.args;
  }

  // Damaged: nothing to decode, or no recording at all; and bad sizes.
  Bytes undecodable;
  AvWriter(&undecodable).mediaBlock(1000, SyntheticAccessUnit(300, true, 1), 1000, {});
  WriteBytes(dir.path("undecodable.av"), undecodable);
  WriteBytes(dir.path("none.av"), Bytes(5000, 0x42));
  for (const std::string& args :
       {dir.path("undecodable.av"), dir.path("none.av"), "-s 0 " + wide, "-s 5000 " + wide}) {
    const RunResult r = RunAvtool("thumbnail " + args + " " + dir.path("bad.png"));
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_EQ(Lines(r.err), 1u) << args << ": " << r.err;
  }
  EXPECT_EQ(files(), (std::vector<std::string>{"none.av", "t.gray", "t.png", "tall.av",
                                               "undecodable.av", "wide.av"}));
}

}  // namespace
}  // namespace trevolo::test
