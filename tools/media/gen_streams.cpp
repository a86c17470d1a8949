#include "tools/media/gen_streams.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "engine/av_format.h"

namespace trevolo::media {

uint64_t PictureOffsetUs(int64_t picture, int fps) {
  const uint64_t p = picture < 0 ? 0 : static_cast<uint64_t>(picture);
  const uint64_t f = static_cast<uint64_t>(fps);
  return (p * 1000000u + f / 2) / f;
}

int64_t FirstAudioFrame(int64_t picture, int fps) {
  return static_cast<int64_t>((PictureOffsetUs(picture, fps) + kAmrFrameUs - 1) / kAmrFrameUs);
}

void WritePictureBlock(AvWriter& writer, int64_t picture, int fps,
                       std::span<const uint8_t> accessUnit, int64_t firstAudio,
                       const std::vector<Bytes>& audio) {
  const uint64_t videoTs = kTimeBaseUs + PictureOffsetUs(picture, fps);
  // A block without audio still needs some audio time stamp; its own time
  // is the least surprising one.
  const uint64_t audioTs =
      audio.empty() ? videoTs : kTimeBaseUs + static_cast<uint64_t>(firstAudio) * kAmrFrameUs;
  writer.mediaBlock(videoTs, accessUnit, audioTs, audio);
}

int AmrStoredFrameBytes(uint8_t typeByte) {
  // Payload bytes per frame type (4.75 to 12.2 kbit/s, SID), plus the type
  // byte; type 15 is "no data"; 9 to 14 have no size we could skip by.
  static constexpr int kPayload[9] = {12, 13, 15, 17, 19, 20, 26, 31, 5};
  const int type = (typeByte >> 3) & 0x0F;
  if (type <= 8) return kPayload[type] + 1;
  if (type == 15) return 1;
  return -1;
}

bool ParseAmrStorage(const Bytes& file, std::vector<Bytes>* frames, std::string* error) {
  frames->clear();
  if (file.size() < kAmrMagicBytes || std::memcmp(file.data(), kAmrMagic, kAmrMagicBytes) != 0) {
    *error = "not an AMR-NB storage file (no \"#!AMR\" header)";
    return false;
  }
  size_t pos = kAmrMagicBytes;
  while (pos < file.size()) {
    const int bytes = AmrStoredFrameBytes(file[pos]);
    if (bytes < 0) {
      *error = "unknown AMR frame type " + std::to_string((file[pos] >> 3) & 0x0F) +
               " at byte " + std::to_string(pos);
      return false;
    }
    if (file.size() - pos < static_cast<size_t>(bytes)) {
      *error = "AMR frame at byte " + std::to_string(pos) + " is cut off by the end of the file";
      return false;
    }
    frames->emplace_back(file.begin() + static_cast<std::ptrdiff_t>(pos),
                         file.begin() + static_cast<std::ptrdiff_t>(pos) + bytes);
    pos += static_cast<size_t>(bytes);
  }
  return true;
}

namespace {

struct ParserDeleter {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct ContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};

}  // namespace

bool SplitAccessUnits(const Bytes& stream, std::vector<Bytes>* units, std::string* error) {
  units->clear();
  std::unique_ptr<AVCodecParserContext, ParserDeleter> parser(av_parser_init(AV_CODEC_ID_H264));
  std::unique_ptr<AVCodecContext, ContextDeleter> ctx(
      avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_H264)));
  if (!parser || !ctx) {
    *error = "libavcodec has no H.264 parser";
    return false;
  }
  const uint8_t* data = stream.data();
  size_t left = stream.size();
  size_t emitted = 0;
  // An empty input flushes the parser's last access unit.
  for (bool flushing = false;;) {
    uint8_t* out = nullptr;
    int outSize = 0;
    const int chunk = static_cast<int>(std::min<size_t>(left, 1 << 20));
    const int used = av_parser_parse2(parser.get(), ctx.get(), &out, &outSize,
                                      flushing ? nullptr : data, flushing ? 0 : chunk,
                                      AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) {
      *error = "the H.264 parser failed";
      return false;
    }
    if (outSize > 0) {
      units->emplace_back(out, out + outSize);
      emitted += static_cast<size_t>(outSize);
    }
    if (flushing) break;
    data += used;
    left -= static_cast<size_t>(used);
    if (left == 0) flushing = true;
  }
  if (emitted != stream.size()) {
    *error = "the H.264 parser did not hand back the stream whole (" + std::to_string(emitted) +
             " of " + std::to_string(stream.size()) + " bytes)";
    return false;
  }
  return true;
}

bool StartsWithSps(std::span<const uint8_t> unit) {
  return IsKeyFrame(unit.data(), static_cast<uint32_t>(std::min<size_t>(unit.size(), 8)),
                    static_cast<uint32_t>(std::min<size_t>(unit.size(), UINT32_MAX)));
}

bool ReadWholeFile(const std::string& path, Bytes* out, std::string* error) {
  out->clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t buf[65536];
  size_t got;
  while ((got = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + got);
  const bool bad = std::ferror(f) != 0;
  std::fclose(f);
  if (bad) {
    *error = path + ": read error";
    return false;
  }
  return true;
}

bool ParseInt(const char* text, long min, long max, long* out) {
  if (!text || !*text) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || v < min || v > max) return false;
  *out = v;
  return true;
}

}  // namespace trevolo::media
