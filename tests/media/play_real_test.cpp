// A generated recording played end to end through the engine with the real
// decoders: every picture shows the frame number it should, in order, and
// the sound is the generator's signal at its level and in time.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/media/gen_audio.h"
#include "tools/media/test_pattern.h"

namespace trevolo {
namespace {

namespace fs = std::filesystem;

struct Dir {
  fs::path path;
  Dir() {
    std::string tmpl = (fs::temp_directory_path() / "trevolo-play-XXXXXX").string();
    path = ::mkdtemp(tmpl.data());
  }
  ~Dir() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  std::string file(const char* name) const { return (path / name).string(); }
};

int RunAvtool(const std::string& args, std::string* out = nullptr) {
  const std::string cmd = std::string(AVTOOL_PATH) + " " + args + " 2>&1";
  std::FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return -1;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
    if (out) out->append(buf, n);
  }
  const int st = ::pclose(p);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

TEST(PlayReal, EveryPictureInOrderAndTheSoundInTime) {
  constexpr int kWidth = 320, kHeight = 240, kPictures = 100, kAudioFrames = 200;
  Dir dir;
  const std::string rec = dir.file("r.av");
  ASSERT_EQ(RunAvtool("gen -o " + rec + " --size 320x240 --seconds 4 --gop 25 --audio sweep"), 0);
  std::string out;
  ASSERT_EQ(RunAvtool("play --fast --decoders real --yuv " + dir.file("v.yuv") + " --pcm " +
                    dir.file("a.pcm") + " " + rec,
                &out),
            0)
      << out;
  EXPECT_NE(out.find("states: 1,3\n"), std::string::npos) << out;

  const auto yuv = ReadAll(dir.file("v.yuv"));
  const size_t pictureBytes = kWidth * kHeight * 3 / 2;
  ASSERT_EQ(yuv.size(), pictureBytes * kPictures);
  for (int n = 0; n < kPictures; ++n) {
    EXPECT_EQ(ReadFrameNumber(yuv.data() + n * pictureBytes, kWidth, kWidth, kHeight), n);
  }

  // The decoded sound against the generator's own signal.
  const auto pcmBytes = ReadAll(dir.file("a.pcm"));
  ASSERT_EQ(pcmBytes.size(), static_cast<size_t>(kAudioFrames) * 320);
  std::vector<double> decoded(pcmBytes.size() / 2), source(decoded.size());
  for (size_t i = 0; i < decoded.size(); ++i) {
    decoded[i] = static_cast<int16_t>(pcmBytes[2 * i] | (pcmBytes[2 * i + 1] << 8));
  }
  media::SignalSource signal(media::Signal::Sweep);
  for (int f = 0; f < kAudioFrames; ++f) {
    int16_t frame[media::kAmrSamplesPerFrame];
    signal.nextFrame(frame);
    for (int i = 0; i < media::kAmrSamplesPerFrame; ++i) source[f * 160 + i] = frame[i];
  }
  auto rms = [](const std::vector<double>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t i = from; i < to; ++i) sum += s[i] * s[i];
    return std::sqrt(sum / static_cast<double>(to - from));
  };
  const size_t from = 1600, to = decoded.size() - 1600;  // past the codec's start-up
  const double levelDb = 20 * std::log10(rms(decoded, from, to) / rms(source, from, to));
  EXPECT_NEAR(levelDb, 0.0, 1.5);

  // The lag that lines the two up best: the codec's own few samples at most.
  int bestLag = 0;
  double best = -1e300;
  for (int lag = -160; lag <= 160; ++lag) {
    double c = 0;
    for (size_t i = from; i < to; ++i) c += decoded[i] * source[static_cast<size_t>(static_cast<long>(i) - lag)];
    if (c > best) {
      best = c;
      bestLag = lag;
    }
  }
  EXPECT_GE(bestLag, 0);
  EXPECT_LE(bestLag, 40) << "no more than 5 ms behind the source";
}

}  // namespace
}  // namespace trevolo
