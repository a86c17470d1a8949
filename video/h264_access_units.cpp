#include "video/h264_access_units.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace trevolo::h264 {

std::vector<std::vector<uint8_t>> splitAccessUnits(const uint8_t* data, size_t size) {
  std::vector<std::vector<uint8_t>> units;
  AVCodecParserContext* parser = av_parser_init(AV_CODEC_ID_H264);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
  if (!parser || !ctx) {
    av_parser_close(parser);
    avcodec_free_context(&ctx);
    return units;
  }
  // The parser hands out each unit once the next one begins; an empty call
  // at the end flushes the last.
  size_t pos = 0;
  bool flushed = false;
  while (!flushed) {
    constexpr size_t kChunk = 1 << 16;
    const size_t n = std::min(kChunk, size - pos);
    uint8_t* out = nullptr;
    int outSize = 0;
    const int used = av_parser_parse2(parser, ctx, &out, &outSize, n ? data + pos : nullptr,
                                      static_cast<int>(n), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) break;
    pos += static_cast<size_t>(used);
    if (outSize > 0) units.emplace_back(out, out + outSize);
    flushed = n == 0 && outSize == 0;
  }
  av_parser_close(parser);
  avcodec_free_context(&ctx);
  return units;
}

}  // namespace trevolo::h264
