// The decoding core is libavcodec's H.264 decoder. This wrapper owns what the
// rest of the player relies on: splitting the bytes into NAL units, which
// units reach the core, the size and profile limits, where decoding starts,
// the output order, the packed output planes and the result codes.
#include "video/h264_decoder.h"

#include <new>

#include "video/h264_core.h"

namespace {

constexpr uint32_t kMinWidthMbs = 2, kMaxWidthMbs = 352, kDefaultWidthMbs = 120;
constexpr uint32_t kMinHeightMbs = 6, kMaxHeightMbs = 256, kDefaultHeightMbs = 68;
constexpr uint32_t kDefaultRefFrames = 4, kMaxRefFrames = 16;

trevolo::h264::DecoderConfig clampAttributes(const H264DecAttr& attr) {
  trevolo::h264::DecoderConfig c;
  c.maxWidthMbs = attr.maxWidthMbs >= kMinWidthMbs && attr.maxWidthMbs <= kMaxWidthMbs
                      ? attr.maxWidthMbs
                      : kDefaultWidthMbs;
  c.maxHeightMbs = attr.maxHeightMbs >= kMinHeightMbs && attr.maxHeightMbs <= kMaxHeightMbs
                       ? attr.maxHeightMbs
                       : kDefaultHeightMbs;
  c.refFrames = attr.refFrames == 0              ? kDefaultRefFrames
                : attr.refFrames > kMaxRefFrames ? kMaxRefFrames
                                                 : attr.refFrames;
  c.deinterlace = (attr.options & H264_OPT_DEINTERLACE) != 0;
  c.sliceThreads = (attr.options & H264_OPT_THREADS) != 0;
  return c;
}

}  // namespace

struct H264Decoder {
  trevolo::h264::DecoderCore core;
};

H264Decoder* H264DecCreate(const H264DecAttr* attr) {
  if (!attr) return nullptr;
  auto* decoder = new (std::nothrow) H264Decoder;
  if (!decoder) return nullptr;
  if (!decoder->core.open(clampAttributes(*attr))) {
    delete decoder;
    return nullptr;
  }
  return decoder;
}

int32_t H264DecDecode(H264Decoder* decoder, const uint8_t* data, uint32_t length,
                      uint64_t timeStamp, H264DecPicture* picture, uint32_t /*reserved*/) {
  if (!decoder || !picture) return H264_DEC_BAD_ARGUMENT;
  picture->y = picture->u = picture->v = nullptr;
  trevolo::h264::OutputPicture out;
  const bool got = (!data || length == 0) ? decoder->core.drain(out)
                                          : decoder->core.decode(data, length, timeStamp, out);
  if (!got) return H264_DEC_NO_PICTURE;
  picture->y = out.y;
  picture->u = out.u;
  picture->v = out.v;
  picture->width = out.width;
  picture->height = out.height;
  picture->codedLumaStride = out.codedLumaStride;
  picture->codedChromaStride = out.codedChromaStride;
  picture->pictureStructure = 0;
  picture->timeStamp = out.timeStamp;
  return H264_DEC_PICTURE;
}

int H264DecDestroy(H264Decoder* decoder) {
  if (!decoder) return 0;
  delete decoder;
  return 1;
}
