// avtool demux: the H.264 access units and AMR-NB frames of a recording,
// read record by record exactly as the player's reader reads them: the
// same marker search, the same cuts of oversized lengths, and a short read
// ends the recording with the record being read dropped from that point.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "engine/av_format.h"
#include "engine/file_reader.h"
#include "tools/avtool.h"
#include "tools/media/gen_streams.h"

namespace trevolo::avtool {
namespace {

constexpr const char* kName = "demux";

struct DemuxOptions {
  std::string input;
  std::string video;
  std::string audio;
};

struct DemuxCounts {
  int64_t blocks = 0;
  int64_t accessUnits = 0;
  int64_t audioFrames = 0;
  int64_t formatRecords = 0;
};

std::string ParseOptions(int argc, char** argv, DemuxOptions* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("-", 0) != 0) {
      if (!o->input.empty()) return "more than one input file";
      o->input = a;
      continue;
    }
    if (i + 1 >= argc) return "option " + a + " needs a value";
    const char* v = argv[++i];
    if (a == "--video") o->video = v;
    else if (a == "--audio") o->audio = v;
    else return "unknown option '" + a + "'";
  }
  if (o->input.empty()) return "no input recording";
  if (o->video.empty() && o->audio.empty()) return "nothing to write (--video OUT.h264, --audio OUT.amr)";
  return "";
}

// Where the streams go; a stream nobody asked for is read and dropped.
class Outputs {
 public:
  ~Outputs() { close(); }
  std::string open(const DemuxOptions& o) {
    if (!o.video.empty() && !(m_video = std::fopen(o.video.c_str(), "wb")))
      return o.video + ": " + std::strerror(errno);
    if (!o.audio.empty() && !(m_audio = std::fopen(o.audio.c_str(), "wb")))
      return o.audio + ": " + std::strerror(errno);
    if (m_audio) put(m_audio, media::kAmrMagic, media::kAmrMagicBytes);
    return "";
  }
  void video(const uint8_t* p, size_t n) { put(m_video, p, n); }
  void audio(const uint8_t* p, size_t n) { put(m_audio, p, n); }
  bool close() {
    const bool video = CloseOne(&m_video);
    const bool audio = CloseOne(&m_audio);
    return m_ok && video && audio;
  }

 private:
  void put(std::FILE* f, const void* p, size_t n) {
    if (f && n > 0 && std::fwrite(p, 1, n, f) != n) m_ok = false;
  }
  static bool CloseOne(std::FILE** f) {
    std::FILE* g = *f;
    *f = nullptr;
    return !g || std::fclose(g) == 0;
  }

  std::FILE* m_video = nullptr;
  std::FILE* m_audio = nullptr;
  bool m_ok = true;
};

// Reads one media block's payload. False when a short read ends the data.
bool ReadMediaBlock(FileReader& file, const AvRecordHeader& h, Outputs& out, DemuxCounts& n) {
  uint16_t lengths[MAX_AUDIO_FRAMES_PER_BLOCK];
  const uint32_t frames = std::min<uint32_t>(h.audioFrames, MAX_AUDIO_FRAMES_PER_BLOCK);
  uint8_t table[2 * MAX_AUDIO_FRAMES_PER_BLOCK];
  if (frames > 0 && file.read(table, 2 * frames) < 2 * frames) return false;
  for (uint32_t k = 0; k < frames; ++k) lengths[k] = Le16(table + 2 * k);
  for (uint32_t k = 0; k < frames; ++k) {
    const uint32_t len = std::min<uint32_t>(lengths[k], MAX_AUDIO_FRAME_BYTES);
    if (len == 0) continue;  // an empty slot holds no bytes
    uint8_t frame[MAX_AUDIO_FRAME_BYTES];
    if (file.read(frame, len) < len) return false;
    out.audio(frame, len);
    ++n.audioFrames;
  }
  if (h.videoLength == 0) return true;
  const uint32_t len = std::min<uint32_t>(h.videoLength, MAX_VIDEO_PAYLOAD);
  std::vector<uint8_t> video(len);
  if (file.read(video.data(), len) < len) return false;
  out.video(video.data(), len);
  ++n.accessUnits;
  return true;
}

void Demux(FileReader& file, Outputs& out, DemuxCounts& n) {
  MarkerReader records(MarkerReader::Mode::Playback);
  AvRecordHeader h;
  while (records.next(file, h)) {
    if (h.type == AV_REC_AUDIO_FORMAT) {
      ++n.formatRecords;
    } else if (h.type == AV_REC_MEDIA) {
      ++n.blocks;
      if (!ReadMediaBlock(file, h, out, n)) return;
    }
    // Every other type is a bare header: the search goes on right behind it.
  }
}

int CmdDemux(int argc, char** argv) {
  DemuxOptions o;
  if (std::string e = ParseOptions(argc, argv, &o); !e.empty()) return Fail(kName, e);
  if (!CheckAvFile(kName, o.input)) return kExitError;
  FileReader file;
  if (!file.open(o.input)) return Fail(kName, o.input + ": cannot be opened");
  Outputs out;
  if (std::string e = out.open(o); !e.empty()) return Fail(kName, e);
  DemuxCounts n;
  Demux(file, out, n);
  if (!out.close()) return Fail(kName, "write error");
  std::printf("%s: %lld blocks, %lld access units, %lld audio frames, %lld audio format records\n",
              o.input.c_str(), static_cast<long long>(n.blocks),
              static_cast<long long>(n.accessUnits), static_cast<long long>(n.audioFrames),
              static_cast<long long>(n.formatRecords));
  return kExitOk;
}

const CommandRegistrar kRegistrar(kName, "demux FILE [--video OUT.h264] [--audio OUT.amr]",
                                  &CmdDemux);

}  // namespace
}  // namespace trevolo::avtool
