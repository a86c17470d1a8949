// avtool export: a recording as an MP4 or Matroska file that other players,
// editors and browsers open. The H.264 access units go into the file as they
// are, with the recording's own time stamps (the first exported picture at
// 0) and the parameter sets of the first key frame in the file's header. The
// sound is decoded by the player's AMR-NB decoder and encoded to AAC, copied
// as AMR-NB, or left out. The recording is read the way the player reads it,
// so a damaged recording gives what the player would show; the file is
// written under a temporary name and renamed once it is complete.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "audio/amr_decoder.h"
#include "engine/av_format.h"
#include "engine/frame_index.h"
#include "tools/avtool.h"
#include "tools/media/export_common.h"
#include "tools/media/gen_streams.h"
#include "video/h264_nal.h"
#include "video/h264_params.h"

namespace trevolo::avtool {
namespace {

constexpr const char* kName = "export";
constexpr const char* kUsage =
    "export IN.av OUT.mp4|OUT.mkv [--from HH:MM:SS[.mmm]] [--to HH:MM:SS[.mmm]] "
    "[--audio aac|copy|none]";

constexpr int64_t kUsPerSecond = 1000000;
constexpr AVRational kMicroseconds{1, 1000000};
constexpr AVRational kVideoTimeBase{1, 90000};  // the usual clock of MP4 video tracks
constexpr int kSampleRate = 8000;               // what the AMR-NB decoder gives
constexpr AVRational kSampleTimeBase{1, kSampleRate};
constexpr int64_t kAmrFrameSamples = 160;  // 20 ms
constexpr int64_t kAacBitRate = 24000;     // bits/s: clear speech at 8 kHz mono
// Sound frames within this of their place follow the previous frame
// directly; further away, silence fills the gap (AAC) or the time line
// has a gap (AMR-NB copy).
constexpr int64_t kJitterSamples = 80;  // 10 ms
// A picture time stamp that leaps further ahead than this is damage, as is
// one that goes back: the picture follows the previous one.
constexpr int64_t kMaxGapUs = 3600 * kUsPerSecond;
// Spacing of pictures placed that way: the last one seen up to this long.
constexpr int64_t kMaxPictureIntervalUs = kUsPerSecond;
constexpr int64_t kDefaultPictureUs = 40000;
// A recorder stores sound beside the pictures of the same moment; a sound
// time stamp further than this from the latest picture is damage (or sound
// that outlasts the pictures), and the frame follows the previous one.
constexpr int64_t kMaxSoundOffsetUs = 2 * kUsPerSecond;
// How far past the first picture to look for sound before leaving it out.
constexpr uint64_t kSoundProbeUs = 5 * kUsPerSecond;
constexpr auto kProgressInterval = std::chrono::milliseconds(200);
constexpr int kProgressBarWidth = 30;

enum class Sound { Aac, Copy, None };

struct ExportOptions {
  std::string input;
  std::string output;
  std::optional<int64_t> fromUs;
  std::optional<int64_t> toUs;
  Sound sound = Sound::Aac;
};

// "HH:MM:SS" or "HH:MM:SS.mmm" (one to three fraction digits) in microseconds.
bool ParseClock(const std::string& s, int64_t* us) {
  int64_t part[3] = {0, 0, 0};
  size_t i = 0;
  for (int p = 0; p < 3; ++p) {
    const size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 6)
      part[p] = part[p] * 10 + (s[i++] - '0');
    if (i == start || (p > 0 && (i - start != 2 || part[p] >= 60))) return false;
    if (p < 2 && (i >= s.size() || s[i++] != ':')) return false;
  }
  int64_t fraction = 0;
  if (i < s.size()) {
    if (s[i++] != '.') return false;
    int digits = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && digits < 3; ++i, ++digits)
      fraction = fraction * 10 + (s[i] - '0');
    if (digits == 0 || i != s.size()) return false;
    for (; digits < 3; ++digits) fraction *= 10;
  }
  *us = ((part[0] * 60 + part[1]) * 60 + part[2]) * kUsPerSecond + fraction * 1000;
  return true;
}

std::string FormatClock(int64_t us) {
  const int64_t ms = us / 1000;
  char text[40];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld",
                static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

bool EndsWith(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  if (s.size() < n) return false;
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
  }
  return true;
}

std::string ParseOptions(int argc, char** argv, ExportOptions* o) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--", 0) != 0) {
      files.push_back(a);
      continue;
    }
    if (i + 1 >= argc) return "option " + a + " needs a value";
    const std::string v = argv[++i];
    int64_t us = 0;
    if (a == "--from" || a == "--to") {
      if (!ParseClock(v, &us)) return "bad " + a + " '" + v + "' (HH:MM:SS or HH:MM:SS.mmm)";
      (a == "--from" ? o->fromUs : o->toUs) = us;
    } else if (a == "--audio") {
      if (v == "aac")
        o->sound = Sound::Aac;
      else if (v == "copy")
        o->sound = Sound::Copy;
      else if (v == "none")
        o->sound = Sound::None;
      else
        return "bad --audio '" + v + "' (aac, copy or none)";
    } else {
      return "unknown option '" + a + "'";
    }
  }
  if (files.size() != 2) return std::string("usage: avtool ") + kUsage;
  o->input = files[0];
  o->output = files[1];
  if (!EndsWith(o->output, ".mp4") && !EndsWith(o->output, ".mkv"))
    return o->output + ": the name must end in .mp4 or .mkv";
  if (o->fromUs && o->toUs && *o->toUs <= *o->fromUs) return "--to must lie after --from";
  return "";
}

// libavformat's own complaint about the last failure (its log goes here
// rather than to the terminal), which says more than an error code.
std::string g_libavComplaint;

void KeepLibavComplaint(void* avcl, int level, const char* format, va_list args) {
  if (level > AV_LOG_ERROR) return;
  static int printPrefix = 1;
  char line[512];
  av_log_format_line(avcl, level, format, args, line, sizeof line, &printPrefix);
  g_libavComplaint = line;
  while (!g_libavComplaint.empty() && g_libavComplaint.back() == '\n') g_libavComplaint.pop_back();
}

std::string AvError(const char* what, int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  std::string message = std::string(what) + ": " + text;
  if (!g_libavComplaint.empty()) message += " (" + g_libavComplaint + ")";
  return message;
}

// Calls fn(nal, size) for each NAL unit of an Annex B access unit, start
// codes and trailing zero bytes left off.
template <typename Fn>
void ForEachNal(std::span<const uint8_t> au, Fn fn) {
  const uint8_t* p = au.data();
  const uint8_t* const end = p + au.size();
  const uint8_t* nal = nullptr;
  auto emit = [&](const uint8_t* stop) {
    while (stop > nal && stop[-1] == 0) --stop;
    if (stop > nal) fn(nal, static_cast<size_t>(stop - nal));
  };
  for (const uint8_t* q = p; q + 3 <= end;) {
    if (q[2] > 1) {
      q += 3;
    } else if (q[0] == 0 && q[1] == 0 && q[2] == 1) {
      if (nal) emit(q);
      nal = q + 3;
      q += 3;
    } else {
      ++q;
    }
  }
  if (nal) emit(end);
}

// A picture that can be decoded on its own: it holds an IDR slice.
bool HasIdrSlice(std::span<const uint8_t> au) {
  bool idr = false;
  ForEachNal(au, [&](const uint8_t* nal, size_t) {
    idr = idr || h264::nalType(nal) == h264::kNalIdrSlice;
  });
  return idr;
}

// The parameter sets of a key frame in Annex B form, for the file's header,
// and the picture size its first SPS declares.
struct StreamHeader {
  std::vector<uint8_t> parameterSets;
  uint32_t width = 0;
  uint32_t height = 0;
};

bool ReadStreamHeader(std::span<const uint8_t> keyFrame, StreamHeader* out) {
  static constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};
  ForEachNal(keyFrame, [&](const uint8_t* nal, size_t size) {
    const int type = h264::nalType(nal);
    if (type != h264::kNalSps && type != h264::kNalPps) return;
    out->parameterSets.insert(out->parameterSets.end(), kStartCode, kStartCode + 4);
    out->parameterSets.insert(out->parameterSets.end(), nal, nal + size);
    if (type != h264::kNalSps || out->width != 0) return;
    h264::NalSplitter rbsp(size + 8);
    rbsp.split(out->parameterSets.data() + out->parameterSets.size() - size - 4, size + 4,
               [&](const uint8_t* unit, size_t n) {
                 if (auto sps = h264::parseSps(unit, n)) {
                   out->width = sps->width();
                   out->height = sps->height();
                 }
               });
  });
  return out->width > 0 && out->height > 0;
}

// Whether the recording carries sound: the key frame's block or those of
// the next seconds, read from `offset` on, hold a sound frame.
bool SoundFollows(const Block& key, const std::string& path, int64_t offset) {
  auto holdsSound = [](const Block& b) {
    return std::any_of(b.audioLength, b.audioLength + b.audioSlots, [](uint32_t n) { return n > 0; });
  };
  if (holdsSound(key)) return true;
  FileReader file;
  if (!file.open(path) || !file.seek(offset)) return false;
  BlockReader reader(file);
  Block b;
  while (reader.next(b) && b.videoTs - key.videoTs < kSoundProbeUs) {
    if (holdsSound(b)) return true;
  }
  return false;
}

// The output file: streams, the header, packets interleaved by time.
class Muxer {
 public:
  ~Muxer() {
    if (!m_ctx) return;
    if (m_ctx->pb) avio_closep(&m_ctx->pb);
    avformat_free_context(m_ctx);
  }

  std::string open(const char* format, const std::string& path) {
    int r = avformat_alloc_output_context2(&m_ctx, nullptr, format, path.c_str());
    if (r < 0) return AvError("the output format", r);
    r = avio_open(&m_ctx->pb, path.c_str(), AVIO_FLAG_WRITE);
    return r < 0 ? AvError(path.c_str(), r) : "";
  }
  AVStream* newStream() { return avformat_new_stream(m_ctx, nullptr); }
  bool wantsGlobalHeader() const { return (m_ctx->oformat->flags & AVFMT_GLOBALHEADER) != 0; }
  bool holdsNegativeTimes() const { return (m_ctx->oformat->flags & AVFMT_TS_NEGATIVE) != 0; }

  std::string start() {
    const int r = avformat_write_header(m_ctx, nullptr);
    return r < 0 ? AvError("the file header", r) : "";
  }

  // Writes (and takes) the packet, whose times are in `from` units.
  std::string write(AVPacket* p, AVStream* st, AVRational from) {
    p->stream_index = st->index;
    av_packet_rescale_ts(p, from, st->time_base);
    const int r = av_interleaved_write_frame(m_ctx, p);
    return r < 0 ? AvError("writing", r) : "";
  }

  std::string finish() {
    int r = av_write_trailer(m_ctx);
    if (r < 0) return AvError("the file trailer", r);
    avio_flush(m_ctx->pb);
    r = m_ctx->pb->error;
    const int closed = avio_closep(&m_ctx->pb);
    if (r < 0 || closed < 0) return AvError("writing", r < 0 ? r : closed);
    return "";
  }

 private:
  AVFormatContext* m_ctx = nullptr;
};

struct PacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

// Where each sound frame goes on the output's sample time line. Frames
// close to the end of the previous one, or with an untrusted time stamp,
// follow it directly; a later frame leaves a gap; a frame that overlaps what
// is already there is dropped.
class SoundTimeLine {
 public:
  // The sample position for a frame starting `us` after the first picture,
  // or -1 to drop it.
  int64_t place(int64_t us, bool trusted) {
    const int64_t target = us / (kUsPerSecond / kSampleRate);  // any time stamp, however damaged
    const int64_t gap = target - m_next;
    int64_t at = m_next;
    if (trusted && gap > kJitterSamples)
      at = target;
    else if (trusted && gap < -kAmrFrameSamples)
      return -1;
    m_next = at + kAmrFrameSamples;
    return at;
  }

 private:
  int64_t m_next = 0;
};

class SoundTrack {
 public:
  virtual ~SoundTrack() = default;
  // One stored AMR-NB frame of `size` bytes, starting `us` after the first
  // picture; an untrusted time only says that the frame comes next.
  virtual std::string add(int64_t us, bool trusted, const uint8_t* frame, uint32_t size) = 0;
  virtual std::string finish() = 0;
};

// The frames as they are, one packet each.
class AmrCopy final : public SoundTrack {
 public:
  AmrCopy(Muxer& mux, AVStream* st) : m_mux(mux), m_st(st) {}

  static AVStream* AddStream(Muxer& mux) {
    AVStream* st = mux.newStream();
    if (!st) return nullptr;
    st->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    st->codecpar->codec_id = AV_CODEC_ID_AMR_NB;
    st->codecpar->sample_rate = kSampleRate;
    st->codecpar->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    st->codecpar->frame_size = static_cast<int>(kAmrFrameSamples);
    st->time_base = kSampleTimeBase;
    return st;
  }

  std::string add(int64_t us, bool trusted, const uint8_t* frame, uint32_t size) override {
    // A frame whose length does not match its type byte is damaged; in a
    // file it would be misread as several frames or cut one short.
    if (size == 0 || media::AmrStoredFrameBytes(frame[0]) != static_cast<int>(size)) return "";
    const int64_t at = m_time.place(us, trusted);
    if (at < 0) return "";
    PacketPtr p(av_packet_alloc());
    if (!p || av_new_packet(p.get(), static_cast<int>(size)) < 0) return "out of memory";
    std::memcpy(p->data, frame, size);
    p->pts = p->dts = at;
    p->duration = kAmrFrameSamples;
    p->flags |= AV_PKT_FLAG_KEY;
    return m_mux.write(p.get(), m_st, kSampleTimeBase);
  }
  std::string finish() override { return ""; }

 private:
  Muxer& m_mux;
  AVStream* m_st;
  SoundTimeLine m_time;
};

// Decoded by the player's AMR-NB decoder, gaps filled with silence, encoded
// by libavcodec's AAC encoder.
class AacSound final : public SoundTrack {
 public:
  explicit AacSound(Muxer& mux) : m_mux(mux) {}
  ~AacSound() override {
    AMR_Decode_Exit(&m_amr);
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    avcodec_free_context(&m_enc);
  }

  std::string open() {
    if (AMR_Decode_Init(&m_amr) != kAmrOk) return "the AMR-NB decoder cannot start";
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec || !(m_enc = avcodec_alloc_context3(codec)))
      return "this libavcodec has no AAC encoder";
    m_enc->sample_rate = kSampleRate;
    m_enc->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    m_enc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m_enc->bit_rate = kAacBitRate;
    m_enc->time_base = kSampleTimeBase;
    if (m_mux.wantsGlobalHeader()) m_enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(m_enc, codec, nullptr);
    if (r < 0) return AvError("the AAC encoder", r);
    m_st = m_mux.newStream();
    m_frame = av_frame_alloc();
    m_packet = av_packet_alloc();
    if (!m_st || !m_frame || !m_packet) return "out of memory";
    if ((r = avcodec_parameters_from_context(m_st->codecpar, m_enc)) < 0)
      return AvError("the AAC stream", r);
    m_st->time_base = kSampleTimeBase;
    m_frame->format = m_enc->sample_fmt;
    m_frame->sample_rate = kSampleRate;
    m_frame->nb_samples = m_enc->frame_size;
    if ((r = av_channel_layout_copy(&m_frame->ch_layout, &m_enc->ch_layout)) < 0 ||
        (r = av_frame_get_buffer(m_frame, 0)) < 0)
      return AvError("the sound buffer", r);
    return "";
  }

  std::string add(int64_t us, bool trusted, const uint8_t* frame, uint32_t size) override {
    if (size == 0) return "";  // an empty slot: silence comes with the next frame
    const int64_t at = m_time.place(us, trusted);
    if (at < 0) return "";
    // The decoder reads as many bytes as the frame type implies, which a
    // damaged frame may not have: it reads from a zeroed copy.
    uint8_t copy[MAX_AUDIO_FRAME_BYTES + 32] = {};
    std::memcpy(copy, frame, size);
    int16_t pcm[kAmrFrameSamples];
    AMR_Decode_Frame(m_amr, copy, pcm, 0);
    for (int64_t gap = at - m_samples; gap > 0; --gap) {
      if (std::string e = put(0.0f); !e.empty()) return e;
    }
    for (int16_t s : pcm) {
      if (std::string e = put(static_cast<float>(s) / 32768.0f); !e.empty()) return e;
    }
    return "";
  }

  std::string finish() override {
    if (m_fill > 0) {
      if (std::string e = send(m_fill); !e.empty()) return e;
    }
    return encode(nullptr);
  }

 private:
  std::string put(float sample) {
    if (m_fill == 0) {
      const int r = av_frame_make_writable(m_frame);
      if (r < 0) return AvError("the sound buffer", r);
    }
    reinterpret_cast<float*>(m_frame->data[0])[m_fill++] = sample;
    ++m_samples;
    return m_fill == m_enc->frame_size ? send(m_fill) : "";
  }

  std::string send(int samples) {
    m_frame->nb_samples = samples;
    m_frame->pts = m_sent;
    m_sent += samples;
    m_fill = 0;
    return encode(m_frame);
  }

  std::string encode(AVFrame* frame) {
    int r = avcodec_send_frame(m_enc, frame);
    if (r < 0) return AvError("the AAC encoder", r);
    while ((r = avcodec_receive_packet(m_enc, m_packet)) >= 0) {
      // The encoder's first packet only primes its decoder and lies before
      // 0. MP4 keeps it and says so in an edit list; Matroska cannot, and
      // libavformat would then push every stream 128 ms late: it is left
      // out, at the cost of a softer start of the first 128 ms of sound.
      if (m_packet->pts + m_packet->duration <= 0 && !m_mux.holdsNegativeTimes()) {
        av_packet_unref(m_packet);
        continue;
      }
      if (std::string e = m_mux.write(m_packet, m_st, m_enc->time_base); !e.empty()) return e;
    }
    return r == AVERROR(EAGAIN) || r == AVERROR_EOF ? "" : AvError("the AAC encoder", r);
  }

  Muxer& m_mux;
  void* m_amr = nullptr;
  AVCodecContext* m_enc = nullptr;
  AVStream* m_st = nullptr;
  AVFrame* m_frame = nullptr;
  AVPacket* m_packet = nullptr;
  SoundTimeLine m_time;
  int m_fill = 0;         // samples in m_frame
  int64_t m_samples = 0;  // samples put, silence included
  int64_t m_sent = 0;     // samples handed to the encoder
};

// Percent done and speed on a terminal; nothing otherwise.
class Progress {
 public:
  explicit Progress(int64_t totalUs) : m_total(totalUs), m_shown(::isatty(STDERR_FILENO) == 1) {}

  void update(int64_t doneUs) {
    if (!m_shown) return;
    const auto now = Clock::now();
    if (now - m_last < kProgressInterval) return;
    m_last = now;
    draw(doneUs);
  }
  // Clears the bar, so that what follows starts on a clean line.
  ~Progress() {
    if (m_shown) std::fprintf(stderr, "\r%*s\r", kProgressBarWidth + 40, "");
  }

 private:
  using Clock = std::chrono::steady_clock;
  void draw(int64_t doneUs) {
    const double fraction =
        m_total > 0 ? std::clamp(static_cast<double>(doneUs) / m_total, 0.0, 1.0) : 0.0;
    const double seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
    const double speed = seconds > 0 ? static_cast<double>(doneUs) / kUsPerSecond / seconds : 0.0;
    char bar[kProgressBarWidth + 1];
    const int filled = static_cast<int>(fraction * kProgressBarWidth);
    for (int i = 0; i < kProgressBarWidth; ++i) bar[i] = i < filled ? '#' : '-';
    bar[kProgressBarWidth] = '\0';
    std::fprintf(stderr, "\rexport [%s] %3d%%  %.0fx real time ", bar,
                 static_cast<int>(fraction * 100), speed);
    std::fflush(stderr);
  }

  int64_t m_total;
  bool m_shown;
  Clock::time_point m_start = Clock::now();
  Clock::time_point m_last = m_start;
};

class Exporter {
 public:
  explicit Exporter(const ExportOptions& o) : m_o(o) {}

  // Returns an error message, empty on success.
  std::string run();

 private:
  std::string findStart(Block& key);
  std::string openOutput(const Block& key);
  std::string copyBlocks(Block& block, uint64_t spanUs);
  std::string addPicture(const Block& b);
  std::string addSound(const Block& b);
  std::string flushPicture();
  int64_t outputTime(uint64_t ts) const { return static_cast<int64_t>(ts - m_origin); }

  const ExportOptions& m_o;
  FileReader m_file;
  FrameIndex m_index;
  uint64_t m_end = UINT64_MAX;  // pictures from this time stamp on are left out
  uint64_t m_origin = 0;        // time stamp of the first exported picture
  PendingOutput m_output;
  Muxer m_mux;
  AVStream* m_video = nullptr;
  std::unique_ptr<SoundTrack> m_sound;
  PacketPtr m_held;       // the last picture, written when the next one shows its time is sound
  int64_t m_lastOut = 0;  // output time of the last picture, microseconds
  int64_t m_prevOut = 0;  // and of the one before it
  int64_t m_interval = kDefaultPictureUs;
  int64_t m_pictures = 0;
};

// Reads up to the key frame the export starts with.
std::string Exporter::findStart(Block& key) {
  if (!CheckAvFile(kName, m_o.input)) return "-";
  if (!m_file.open(m_o.input)) return m_o.input + ": cannot be opened";
  if (!m_index.allocate()) return "out of memory";
  BuildIndex(m_file, m_index);
  const auto duration = static_cast<int64_t>(m_index.last - m_index.first);
  if (m_o.fromUs) {
    if (*m_o.fromUs > duration)
      return "--from " + FormatClock(*m_o.fromUs) + " lies past the end of the recording (" +
             FormatClock(duration) + ")";
    PositionForSeek(m_file, m_index, m_index.first + static_cast<uint64_t>(*m_o.fromUs));
  }
  if (m_o.toUs) m_end = m_index.first + static_cast<uint64_t>(*m_o.toUs);
  BlockReader reader(m_file);
  while (reader.next(key)) {
    if (key.video.empty()) continue;
    if (key.videoTs >= m_end) break;
    if (IsKeyFrame(key.video.data(), static_cast<uint32_t>(key.video.size()),
                   static_cast<uint32_t>(key.video.size())))
      return "";
  }
  return m_o.input + ": no key frame to start from" + (m_o.toUs ? " before --to" : "");
}

std::string Exporter::openOutput(const Block& key) {
  StreamHeader header;
  if (!ReadStreamHeader(key.video, &header))
    return m_o.input + ": the first key frame has no readable SPS";
  // MP4 has no place for AMR-NB; its 3GPP sibling (the same box structure)
  // is where AMR-NB lives, and every MP4 reader opens it.
  const char* format = EndsWith(m_o.output, ".mkv") ? "matroska"
                       : m_o.sound == Sound::Copy   ? "3gp"
                                                    : "mp4";
  if (std::string e = m_output.create(m_o.output); !e.empty()) return e;
  if (std::string e = m_mux.open(format, m_output.tempPath()); !e.empty()) return e;

  m_video = m_mux.newStream();
  if (!m_video) return "out of memory";
  AVCodecParameters* par = m_video->codecpar;
  par->codec_type = AVMEDIA_TYPE_VIDEO;
  par->codec_id = AV_CODEC_ID_H264;
  par->width = static_cast<int>(header.width);
  par->height = static_cast<int>(header.height);
  par->extradata =
      static_cast<uint8_t*>(av_mallocz(header.parameterSets.size() + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!par->extradata) return "out of memory";
  std::memcpy(par->extradata, header.parameterSets.data(), header.parameterSets.size());
  par->extradata_size = static_cast<int>(header.parameterSets.size());
  m_video->time_base = kVideoTimeBase;

  if (m_o.sound != Sound::None && !SoundFollows(key, m_o.input, m_file.tell())) {
    std::fprintf(stderr, "avtool export: the recording has no sound\n");
  } else if (m_o.sound == Sound::Aac) {
    auto aac = std::make_unique<AacSound>(m_mux);
    if (std::string e = aac->open(); !e.empty()) return e;
    m_sound = std::move(aac);
  } else if (m_o.sound == Sound::Copy) {
    AVStream* st = AmrCopy::AddStream(m_mux);
    if (!st) return "out of memory";
    m_sound = std::make_unique<AmrCopy>(m_mux, st);
  }
  m_origin = key.videoTs;
  return m_mux.start();
}

std::string Exporter::flushPicture() {
  if (!m_held) return "";
  // The usual spacing, not the distance to the next picture, which may be
  // a damaged leap: the files take each picture's length from the next
  // picture's time anyway, and this one only counts for the last picture.
  m_held->duration = m_interval;
  std::string e = m_mux.write(m_held.get(), m_video, kMicroseconds);
  m_held.reset();
  return e;
}

std::string Exporter::addPicture(const Block& b) {
  int64_t out = outputTime(b.videoTs);
  if (m_held && m_pictures >= 2 && out - m_prevOut > 1 && out < m_lastOut) {
    // The held picture leapt ahead of both its neighbours: its time stamp
    // is the damaged one, and it goes between them.
    m_lastOut = m_prevOut + (out - m_prevOut) / 2;
    m_held->pts = m_held->dts = m_lastOut;
  } else if (m_pictures > 0 && (out <= m_lastOut || out - m_lastOut > kMaxGapUs)) {
    // A time stamp that goes back, repeats or leaps by more than an hour:
    // the picture follows the previous one, the pictures after it keep
    // their own time stamps.
    out = m_lastOut + m_interval;
  } else if (m_pictures > 0 && out - m_lastOut <= kMaxPictureIntervalUs) {
    m_interval = out - m_lastOut;
  }
  if (std::string e = flushPicture(); !e.empty()) return e;
  m_held.reset(av_packet_alloc());
  if (!m_held || av_new_packet(m_held.get(), static_cast<int>(b.video.size())) < 0)
    return "out of memory";
  std::memcpy(m_held->data, b.video.data(), b.video.size());
  m_held->pts = m_held->dts = out;
  if (HasIdrSlice(b.video)) m_held->flags |= AV_PKT_FLAG_KEY;
  m_prevOut = m_lastOut;
  m_lastOut = out;
  ++m_pictures;
  return "";
}

std::string Exporter::addSound(const Block& b) {
  for (uint32_t k = 0; k < b.audioSlots; ++k) {
    // Frame k starts k frames after the block's audio time stamp, the
    // 64-bit stamp plus a 32-bit offset.
    const uint64_t ts =
        b.audioTs + static_cast<uint32_t>(
                        k * static_cast<uint32_t>(kAmrFrameSamples * kUsPerSecond / kSampleRate));
    if (ts < m_origin || ts >= m_end) continue;
    const int64_t us = outputTime(ts);
    const bool trusted = us >= m_lastOut - kMaxSoundOffsetUs && us <= m_lastOut + kMaxSoundOffsetUs;
    if (std::string e = m_sound->add(us, trusted, b.audio[k], b.audioLength[k]); !e.empty())
      return e;
  }
  return "";
}

// Every block from the key frame on, up to the end of the cut.
std::string Exporter::copyBlocks(Block& block, uint64_t spanUs) {
  Progress progress(static_cast<int64_t>(spanUs));
  BlockReader reader(m_file);
  do {
    if (Interrupted()) return "interrupted";
    if (!block.video.empty()) {
      if (block.videoTs >= m_end) break;
      if (std::string e = addPicture(block); !e.empty()) return e;
    }
    if (m_sound) {
      if (std::string e = addSound(block); !e.empty()) return e;
    }
    progress.update(m_lastOut);
  } while (reader.next(block));
  return "";
}

std::string Exporter::run() {
  Block block;
  if (std::string e = findStart(block); !e.empty()) return e;
  if (m_o.fromUs) {
    std::fprintf(stderr, "avtool export: starting at the key frame at %s (--from %s)\n",
                 FormatClock(static_cast<int64_t>(block.videoTs - m_index.first)).c_str(),
                 FormatClock(*m_o.fromUs).c_str());
  }
  if (std::string e = openOutput(block); !e.empty()) return e;
  const uint64_t last = std::min(m_index.last, m_end);
  if (std::string e = copyBlocks(block, last > m_origin ? last - m_origin : 0); !e.empty())
    return e;

  if (std::string e = flushPicture(); !e.empty()) return e;
  if (m_sound) {
    if (std::string e = m_sound->finish(); !e.empty()) return e;
  }
  if (std::string e = m_mux.finish(); !e.empty()) return e;
  if (Interrupted()) return "interrupted";
  if (std::string e = m_output.commit(); !e.empty()) return e;
  std::printf("%s: %lld pictures, %.3f s\n", m_o.output.c_str(), static_cast<long long>(m_pictures),
              static_cast<double>(m_lastOut + m_interval) / kUsPerSecond);
  return "";
}

int CmdExport(int argc, char** argv) {
  ExportOptions o;
  if (std::string e = ParseOptions(argc, argv, &o); !e.empty()) return Fail(kName, e);
  av_log_set_callback(&KeepLibavComplaint);
  CatchInterrupts();
  std::string error;
  {
    Exporter exporter(o);
    error = exporter.run();
  }
  if (error.empty()) return kExitOk;
  if (error == "-") return kExitError;  // already reported
  return Fail(kName, error);
}

const CommandRegistrar kRegistrar(kName, kUsage, &CmdExport);

}  // namespace
}  // namespace trevolo::avtool
