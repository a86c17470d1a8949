// avtool synth: a structurally valid recording with stand-in payloads (SPS-led
// key frames, filler slices, filler audio frames). Enough for the engine,
// which never looks inside the media; used for demos, tests and benchmarks.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/av_writer.h"
#include "tools/avtool.h"

namespace trevolo::avtool {
namespace {

constexpr uint64_t kBaseTimeUs = 1700000000000000ull;  // a plausible recorder epoch
constexpr uint32_t kAudioFrameUs = 20000;
constexpr size_t kAmrFrameBytes = 32;  // a 12.2 kbit/s frame with its type byte

struct SynthOptions {
  std::string out;
  double seconds = 10;
  int fps = 25;
  int gop = 50;
  size_t videoBytes = 4000;
  bool audio = true;
};

int CmdSynth(int argc, char** argv) {
  SynthOptions o;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool v = i + 1 < argc;
    if (!std::strcmp(a, "-o") && v) o.out = argv[++i];
    else if (!std::strcmp(a, "--seconds") && v) o.seconds = std::atof(argv[++i]);
    else if (!std::strcmp(a, "--fps") && v) o.fps = std::atoi(argv[++i]);
    else if (!std::strcmp(a, "--gop") && v) o.gop = std::atoi(argv[++i]);
    else if (!std::strcmp(a, "--video-bytes") && v) o.videoBytes = std::strtoull(argv[++i], nullptr, 10);
    else if (!std::strcmp(a, "--no-audio")) o.audio = false;
    else return Fail("synth", std::string("unexpected argument '") + a + "'");
  }
  if (o.out.empty() || o.seconds <= 0 || o.fps <= 0 || o.fps > 1000 || o.gop <= 0 ||
      o.videoBytes < 8 || o.videoBytes > 262144) {
    return Fail("synth", "usage: avtool synth -o FILE [--seconds S] [--fps N] [--gop N] "
                         "[--video-bytes 8..262144] [--no-audio]");
  }
  std::FILE* f = std::fopen(o.out.c_str(), "wb");
  if (!f) return Fail("synth", o.out + ": cannot be written");
  AvWriter w(f);
  if (o.audio) w.audioFormat(kAmrFormatWord);

  const auto frames = static_cast<uint64_t>(o.seconds * o.fps);
  uint64_t audioUs = 0;  // audio written so far, relative to the start
  for (uint64_t n = 0; n < frames; ++n) {
    const uint64_t videoUs = n * 1000000 / static_cast<uint64_t>(o.fps);
    const uint64_t nextUs = (n + 1) * 1000000 / static_cast<uint64_t>(o.fps);
    std::vector<std::vector<uint8_t>> audio;
    const uint64_t audioStart = audioUs;
    while (o.audio && audioUs < nextUs && audio.size() < 64) {
      std::vector<uint8_t> frame(kAmrFrameBytes, static_cast<uint8_t>(0x40 + audio.size()));
      frame[0] = 0x3C;  // mode 7, quality bit set
      audio.push_back(std::move(frame));
      audioUs += kAudioFrameUs;
    }
    const auto au = SyntheticAccessUnit(o.videoBytes, n % static_cast<uint64_t>(o.gop) == 0,
                                        static_cast<uint32_t>(n));
    w.mediaBlock(kBaseTimeUs + videoUs, au, kBaseTimeUs + audioStart, audio);
  }
  const bool ok = w.ok() && std::fclose(f) == 0;
  if (!ok) return Fail("synth", o.out + ": write failed");
  std::printf("%s: %llu pictures, %llu bytes\n", o.out.c_str(),
              static_cast<unsigned long long>(frames),
              static_cast<unsigned long long>(w.bytesWritten()));
  return kExitOk;
}

CommandRegistrar reg("synth",
                     "synth -o FILE [--seconds S] [--fps N] [--gop N] [--video-bytes B] [--no-audio]",
                     &CmdSynth);

}  // namespace
}  // namespace trevolo::avtool
