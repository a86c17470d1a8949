// avtool amr [--layout 0|1|2] [--bench] IN -o OUT.pcm: decodes a file of
// concatenated AMR-NB frames through AMR_Decode_Frame into raw signed 16-bit
// little-endian PCM (8000 Hz mono). Layout 0 input may start with the "#!AMR\n"
// storage-file header. --bench also times the decoding and prints the speed.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/amr_decoder.h"
#include "audio/amr_frame.h"
#include "tools/avtool.h"

namespace trevolo::avtool {
namespace {

constexpr char kCommand[] = "amr";
constexpr char kUsage[] = "amr [--layout 0|1|2] [--bench] IN -o OUT.pcm";
constexpr char kStorageMagic[] = "#!AMR\n";
constexpr size_t kStorageMagicBytes = sizeof kStorageMagic - 1;
constexpr double kFrameSeconds = 0.020;
constexpr double kMinBenchSeconds = 1.0;  // repeat passes until this much decode time

struct Options {
  int layout = 0;
  bool bench = false;
  std::string in;
  std::string out;
};

bool ParseOptions(int argc, char** argv, Options& opt, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--bench") {
      opt.bench = true;
    } else if (arg == "--layout" && i + 1 < argc) {
      const std::string v = argv[++i];
      if (v != "0" && v != "1" && v != "2") {
        error = "layout must be 0, 1 or 2";
        return false;
      }
      opt.layout = v[0] - '0';
    } else if (arg == "-o" && i + 1 < argc) {
      opt.out = argv[++i];
    } else if (opt.in.empty() && !arg.empty() && arg[0] != '-') {
      opt.in = arg;
    } else {
      error = "unexpected argument '" + arg + "'";
      return false;
    }
  }
  if (opt.in.empty() || (opt.out.empty() && !opt.bench)) {
    error = std::string("usage: avtool ") + kUsage;
    return false;
  }
  return true;
}

bool ReadAll(const std::string& path, std::vector<uint8_t>& data) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Offsets of the frames in data[start..]; fails on a frame cut short by the
// end of the file, so the decoder never reads past the data.
bool SplitFrames(const std::vector<uint8_t>& data, size_t start, int layout,
                 std::vector<size_t>& offsets, std::string& error) {
  for (size_t at = start; at < data.size();) {
    const size_t need = static_cast<size_t>(amr::FrameBytes(data[at], layout));
    if (data.size() - at < need) {
      error = "frame at byte " + std::to_string(at) + " needs " + std::to_string(need) +
              " bytes, only " + std::to_string(data.size() - at) + " left";
      return false;
    }
    offsets.push_back(at);
    at += need;
  }
  return true;
}

// One pass with a fresh decoder; pcm receives little-endian samples.
bool DecodePass(const std::vector<uint8_t>& data, const std::vector<size_t>& offsets, int layout,
                std::vector<uint8_t>* pcm) {
  void* dec = nullptr;
  if (AMR_Decode_Init(&dec) != kAmrOk) return false;
  int16_t out[kAmrFrameSamples];
  for (size_t at : offsets) {
    AMR_Decode_Frame(dec, &data[at], out, layout);
    if (!pcm) continue;
    for (int16_t s : out) {
      const auto u = static_cast<uint16_t>(s);
      pcm->push_back(static_cast<uint8_t>(u & 0xFF));
      pcm->push_back(static_cast<uint8_t>(u >> 8));
    }
  }
  AMR_Decode_Exit(&dec);
  return true;
}

void Bench(const std::vector<uint8_t>& data, const std::vector<size_t>& offsets, int layout) {
  using Clock = std::chrono::steady_clock;
  int passes = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    DecodePass(data, offsets, layout, nullptr);
    ++passes;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < kMinBenchSeconds);
  const double audio = static_cast<double>(offsets.size()) * kFrameSeconds * passes;
  const double frames = static_cast<double>(offsets.size()) * passes;
  std::printf(
      "frames %zu x %d passes, audio %.2f s, decode %.3f s, %.2f us/frame, "
      "%.0fx real time\n",
      offsets.size(), passes, audio, elapsed, frames > 0 ? elapsed * 1e6 / frames : 0.0,
      elapsed > 0 ? audio / elapsed : 0.0);
}

int CmdAmr(int argc, char** argv) {
  Options opt;
  std::string error;
  if (!ParseOptions(argc, argv, opt, error)) return Fail(kCommand, error);
  std::vector<uint8_t> data;
  if (!ReadAll(opt.in, data)) return Fail(kCommand, opt.in + ": cannot be read");

  size_t start = 0;
  const bool magic = data.size() >= 5 && std::memcmp(data.data(), kStorageMagic, 5) == 0;
  if (magic) {
    // "#!AMR-WB\n" and the multichannel header also start with "#!AMR".
    if (opt.layout != 0 || data.size() < kStorageMagicBytes ||
        std::memcmp(data.data(), kStorageMagic, kStorageMagicBytes) != 0)
      return Fail(kCommand, opt.in + ": not a single-channel AMR-NB file for layout 0");
    start = kStorageMagicBytes;
  }
  std::vector<size_t> offsets;
  if (!SplitFrames(data, start, opt.layout, offsets, error))
    return Fail(kCommand, opt.in + ": " + error);

  std::vector<uint8_t> pcm;
  pcm.reserve(offsets.size() * kAmrFrameBytesOut);
  if (!DecodePass(data, offsets, opt.layout, &pcm))
    return Fail(kCommand, "cannot create the decoder");
  if (!opt.out.empty()) {
    std::ofstream out(opt.out, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(pcm.data()), static_cast<std::streamsize>(pcm.size()));
    if (!out.flush()) return Fail(kCommand, opt.out + ": cannot be written");
  }
  if (opt.bench) Bench(data, offsets, opt.layout);
  return kExitOk;
}

CommandRegistrar reg(kCommand, kUsage, &CmdAmr);

}  // namespace
}  // namespace trevolo::avtool
