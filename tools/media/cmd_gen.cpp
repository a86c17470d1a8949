// avtool gen: a synthetic recording whose every picture shows its own frame
// number and time, with a matching AMR-NB sound track.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "engine/av_format.h"
#include "tools/av_writer.h"
#include "tools/avtool.h"
#include "tools/media/gen_audio.h"
#include "tools/media/gen_streams.h"
#include "tools/media/gen_video.h"
#include "tools/media/test_pattern.h"

namespace trevolo::avtool {
namespace {

using media::Bytes;

constexpr const char* kName = "gen";
constexpr int kMinWidth = 96, kMinHeight = 64;
constexpr int kMaxWidth = 4096, kMaxHeight = 2304;
constexpr double kMaxSeconds = 3600.0;
constexpr int kMaxGop = 1000;

struct GenOptions {
  std::string output;
  media::VideoSettings video;
  double seconds = 10.0;
  std::optional<media::Signal> audio = media::Signal::Tone;
  int amrMode = 7;
};

bool ParseSize(const char* text, int* w, int* h) {
  const char* x = std::strchr(text, 'x');
  if (!x) return false;
  long lw = 0, lh = 0;
  const std::string ws(text, x);
  if (!media::ParseInt(ws.c_str(), kMinWidth, kMaxWidth, &lw) ||
      !media::ParseInt(x + 1, kMinHeight, kMaxHeight, &lh) || lw % 2 || lh % 2) {
    return false;
  }
  *w = static_cast<int>(lw);
  *h = static_cast<int>(lh);
  return true;
}

bool ParseSeconds(const char* text, double* out) {
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(v) || v <= 0 || v > kMaxSeconds) return false;
  *out = v;
  return true;
}

bool ParseAudio(const std::string& s, std::optional<media::Signal>* out) {
  if (s == "tone") *out = media::Signal::Tone;
  else if (s == "sweep") *out = media::Signal::Sweep;
  else if (s == "silence") *out = media::Signal::Silence;
  else if (s == "none") *out = std::nullopt;
  else return false;
  return true;
}

// One option with its value; on failure returns the message to print.
std::string ParseValueOption(const std::string& a, const char* v, GenOptions* o) {
  const std::string bad = "bad " + a + " '" + v + "' ";
  long n = 0;
  if (a == "-o") {
    o->output = v;
  } else if (a == "--size") {
    if (!ParseSize(v, &o->video.width, &o->video.height))
      return bad + "(even WxH from 96x64 to 4096x2304)";
  } else if (a == "--fps") {
    if (!media::ParseInt(v, media::kMinFps, media::kMaxFps, &n)) return bad + "(1 to 240)";
    o->video.fps = static_cast<int>(n);
  } else if (a == "--seconds") {
    if (!ParseSeconds(v, &o->seconds)) return bad + "(above 0, up to 3600)";
  } else if (a == "--profile") {
    o->video.profile = v;
    if (o->video.profile != "baseline" && o->video.profile != "main" && o->video.profile != "high")
      return bad + "(baseline, main or high)";
  } else if (a == "--gop") {
    if (!media::ParseInt(v, 1, kMaxGop, &n)) return bad + "(1 to 1000)";
    o->video.gop = static_cast<int>(n);
  } else if (a == "--audio") {
    if (!ParseAudio(v, &o->audio)) return bad + "(tone, sweep, silence or none)";
  } else if (a == "--amr-mode") {
    if (!media::ParseInt(v, 0, media::kAmrMaxMode, &n)) return bad + "(0 to 7)";
    o->amrMode = static_cast<int>(n);
  } else {
    return "unknown option '" + a + "'";
  }
  return "";
}

// Fills `o` from the command line; on failure returns the message to print.
std::string ParseOptions(int argc, char** argv, GenOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--interlaced") {
      o->video.interlaced = true;
      continue;
    }
    if (a.rfind('-', 0) != 0) return "unexpected argument '" + a + "'";
    if (i + 1 >= argc) return "option " + a + " needs a value";
    if (std::string e = ParseValueOption(a, argv[++i], o); !e.empty()) return e;
  }
  if (o->output.empty()) return "no output file (-o FILE)";
  // Checked here because x264 reports these straight to stderr or leaks
  // when it refuses them.
  if (o->video.interlaced && o->video.profile == "baseline")
    return "the baseline profile cannot be interlaced (use main or high)";
  // Each field of an interlaced picture is 4:2:0 itself.
  if (o->video.interlaced && o->video.height % 4 != 0)
    return "an interlaced picture needs a height divisible by 4";
  return "";
}

// Everything one run needs, torn down in one place.
class Generator {
 public:
  explicit Generator(const GenOptions& o) : m_o(o) {}
  ~Generator() {
    if (m_file) std::fclose(m_file);
  }

  // Returns an error message, empty on success.
  std::string run();
  bool createdOutput() const { return m_created; }

 private:
  std::string writeUnit(const media::EncodedUnit& unit);

  const GenOptions& m_o;
  std::FILE* m_file = nullptr;
  bool m_created = false;
  media::H264Encoder m_video;
  media::AmrEncoder m_amr;
  std::optional<media::SignalSource> m_signal;
  int64_t m_pictures = 0;
  int64_t m_written = 0;  // blocks written, which is the next picture expected
  int64_t m_idr = 0;
  int64_t m_audioFrames = 0;
  std::optional<AvWriter> m_writer;
};

std::string Generator::writeUnit(const media::EncodedUnit& unit) {
  if (unit.picture != m_written) return "encoder returned pictures out of order";
  if (unit.bytes.size() > MAX_VIDEO_PAYLOAD)
    return "picture " + std::to_string(unit.picture) + " needs " + std::to_string(unit.bytes.size()) +
           " bytes, more than a block can carry (262144)";
  const int fps = m_o.video.fps;
  const int64_t first = media::FirstAudioFrame(unit.picture, fps);
  std::vector<Bytes> audio;
  if (m_signal) {
    const int64_t end = media::FirstAudioFrame(unit.picture + 1, fps);
    for (int64_t k = first; k < end; ++k) {
      int16_t pcm[media::kAmrSamplesPerFrame];
      m_signal->nextFrame(pcm);
      Bytes frame;
      if (!m_amr.encode(pcm, m_o.amrMode, &frame)) return "the AMR-NB encoder failed";
      audio.push_back(std::move(frame));
    }
  }
  media::WritePictureBlock(*m_writer, unit.picture, fps, unit.bytes, first, audio);
  ++m_written;
  m_idr += unit.idr ? 1 : 0;
  m_audioFrames += static_cast<int64_t>(audio.size());
  return m_writer->ok() ? "" : m_o.output + ": write error";
}

std::string Generator::run() {
  const media::VideoSettings& v = m_o.video;
  m_pictures = std::max<int64_t>(1, std::llround(m_o.seconds * v.fps));
  if (m_pictures > kMaxTestFrameNumber + 1) return "too many pictures (at most 1000000)";
  std::string error;
  if (!m_video.open(v, &error)) return error;
  if (m_o.audio) {
    if (!m_amr.ok()) return "the AMR-NB encoder cannot start";
    m_signal.emplace(*m_o.audio);
  }
  m_file = std::fopen(m_o.output.c_str(), "wb");
  if (!m_file) return m_o.output + ": " + std::strerror(errno);
  m_created = true;
  m_writer.emplace(m_file);
  if (m_o.audio) m_writer->audioFormat(kAmrFormatWord);

  std::vector<media::EncodedUnit> units;
  for (int64_t i = 0; i <= m_pictures; ++i) {
    units.clear();
    if (i < m_pictures) {
      const int64_t ms = static_cast<int64_t>(media::PictureOffsetUs(i, v.fps) / 1000);
      DrawTestPicture(static_cast<int>(i), ms, v.width, v.height, m_video.inputPlanes());
      if (!m_video.encode(i, &units, &error)) return error;
    } else if (!m_video.flush(&units, &error)) {
      return error;
    }
    for (const auto& u : units) {
      if (std::string e = writeUnit(u); !e.empty()) return e;
    }
  }
  if (m_written != m_pictures) return "the encoder lost pictures";
  const int closed = std::fclose(m_file);
  m_file = nullptr;
  if (closed != 0) return m_o.output + ": write error";
  std::printf("%s: %lld pictures (%lld IDR), %lld audio frames, %llu bytes\n", m_o.output.c_str(),
              static_cast<long long>(m_written), static_cast<long long>(m_idr),
              static_cast<long long>(m_audioFrames),
              static_cast<unsigned long long>(m_writer->bytesWritten()));
  return "";
}

int CmdGen(int argc, char** argv) {
  GenOptions options;
  if (std::string e = ParseOptions(argc, argv, &options); !e.empty()) return Fail(kName, e);
  std::string error;
  bool created = false;
  {
    Generator gen(options);
    error = gen.run();
    created = gen.createdOutput();
  }
  if (error.empty()) return kExitOk;
  // A half-written recording is worse than none.
  if (created) std::remove(options.output.c_str());
  return Fail(kName, error);
}

const CommandRegistrar kRegistrar(
    kName,
    "gen -o FILE [--size WxH] [--fps N] [--seconds S] [--profile baseline|main|high] [--gop N] "
    "[--interlaced] [--audio tone|sweep|silence|none] [--amr-mode 0..7]",
    &CmdGen);

}  // namespace
}  // namespace trevolo::avtool
