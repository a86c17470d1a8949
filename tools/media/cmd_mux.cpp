// avtool mux: an H.264 Annex B stream and an AMR-NB storage file into one
// .av recording, one access unit per media block, each block carrying the
// audio frames of its picture's instant.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/av_format.h"
#include "tools/av_writer.h"
#include "tools/avtool.h"
#include "tools/media/gen_streams.h"

namespace trevolo::avtool {
namespace {

using media::Bytes;

constexpr const char* kName = "mux";

struct MuxOptions {
  std::string video;
  std::string audio;
  std::string output;
  int fps = 25;
};

std::string ParseOptions(int argc, char** argv, MuxOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return "option " + a + " needs a value";
    const char* v = argv[++i];
    long n = 0;
    if (a == "--video") {
      o->video = v;
    } else if (a == "--audio") {
      o->audio = v;
    } else if (a == "-o") {
      o->output = v;
    } else if (a == "--fps") {
      if (!media::ParseInt(v, media::kMinFps, media::kMaxFps, &n))
        return "bad --fps '" + std::string(v) + "' (1 to 240)";
      o->fps = static_cast<int>(n);
    } else {
      return "unknown option '" + a + "'";
    }
  }
  if (o->video.empty()) return "no video input (--video IN.h264)";
  if (o->output.empty()) return "no output file (-o FILE)";
  return "";
}

// An Annex B stream starts with a start code, perhaps after zero bytes.
bool LooksLikeAnnexB(const Bytes& s) {
  size_t i = 0;
  while (i < s.size() && s[i] == 0) ++i;
  return i >= 2 && i < s.size() && s[i] == 1;
}

std::string LoadVideo(const std::string& path, std::vector<Bytes>* units) {
  Bytes stream;
  std::string error;
  if (!media::ReadWholeFile(path, &stream, &error)) return error;
  if (!LooksLikeAnnexB(stream)) return path + ": not an H.264 Annex B stream (no start code at its start)";
  if (!media::SplitAccessUnits(stream, units, &error)) return path + ": " + error;
  if (units->empty()) return path + ": no access units";
  for (size_t i = 0; i < units->size(); ++i) {
    if ((*units)[i].size() > MAX_VIDEO_PAYLOAD)
      return path + ": access unit " + std::to_string(i) + " has " +
             std::to_string((*units)[i].size()) + " bytes, more than a block can carry (262144)";
  }
  return "";
}

std::string LoadAudio(const std::string& path, std::vector<Bytes>* frames) {
  Bytes file;
  std::string error;
  if (!media::ReadWholeFile(path, &file, &error)) return error;
  if (!media::ParseAmrStorage(file, frames, &error)) return path + ": " + error;
  return "";
}

// Writes the blocks; pictures beyond the video's end carry only audio, so
// a sound track longer than the pictures is kept whole.
std::string WriteRecording(std::FILE* f, const MuxOptions& o, const std::vector<Bytes>& units,
                           const std::vector<Bytes>& audio, int64_t* blocks) {
  AvWriter w(f);
  if (!o.audio.empty()) w.audioFormat(kAmrFormatWord);
  const auto total = static_cast<int64_t>(audio.size());
  for (int64_t i = 0;; ++i) {
    const int64_t first = std::min(media::FirstAudioFrame(i, o.fps), total);
    const int64_t end = std::min(media::FirstAudioFrame(i + 1, o.fps), total);
    const bool hasVideo = i < static_cast<int64_t>(units.size());
    if (!hasVideo && first >= total) break;
    const std::vector<Bytes> frames(audio.begin() + first, audio.begin() + end);
    const std::span<const uint8_t> au =
        hasVideo ? std::span<const uint8_t>(units[static_cast<size_t>(i)]) : std::span<const uint8_t>();
    media::WritePictureBlock(w, i, o.fps, au, first, frames);
    *blocks = i + 1;
  }
  return w.ok() ? "" : o.output + ": write error";
}

int CmdMux(int argc, char** argv) {
  MuxOptions o;
  if (std::string e = ParseOptions(argc, argv, &o); !e.empty()) return Fail(kName, e);
  std::vector<Bytes> units, audio;
  if (std::string e = LoadVideo(o.video, &units); !e.empty()) return Fail(kName, e);
  if (!o.audio.empty()) {
    if (std::string e = LoadAudio(o.audio, &audio); !e.empty()) return Fail(kName, e);
  }
  std::FILE* f = std::fopen(o.output.c_str(), "wb");
  if (!f) return Fail(kName, o.output + ": " + std::strerror(errno));
  int64_t blocks = 0;
  std::string error = WriteRecording(f, o, units, audio, &blocks);
  if (std::fclose(f) != 0 && error.empty()) error = o.output + ": write error";
  if (!error.empty()) {
    std::remove(o.output.c_str());
    return Fail(kName, error);
  }
  size_t keys = 0;
  for (const auto& u : units) keys += media::StartsWithSps(u) ? 1 : 0;
  std::printf("%s: %zu access units (%zu key frames), %zu audio frames, %lld blocks\n",
              o.output.c_str(), units.size(), keys, audio.size(), static_cast<long long>(blocks));
  return kExitOk;
}

const CommandRegistrar kRegistrar(kName, "mux --video IN.h264 [--audio IN.amr] [--fps N] -o FILE",
                                  &CmdMux);

}  // namespace
}  // namespace trevolo::avtool
