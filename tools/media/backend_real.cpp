// The real decoders behind `avtool play --decoders real`: H.264 through the
// decoder interface with the player's attributes, AMR-NB in storage layout.
// Headless: pictures and sound go wherever `avtool play` sends them.
#include <cstring>

#include "audio/amr_decoder.h"
#include "tools/avtool.h"
#include "video/h264_decoder.h"

namespace trevolo::avtool {
namespace {

// The player's attributes: up to 1920 x 1072, two reference frames,
// interlaced pictures shown as progressive frames, no worker threads.
constexpr H264DecAttr kPlayerAttr{0, 0, 120, 67, 2, H264_OPT_DEINTERLACE, nullptr};
constexpr int32_t kStorageLayout = 0;

struct RealDecoders {
  H264Decoder* video = nullptr;
  void* audio = nullptr;
  H264DecPicture picture;
  int width = 0;
  int height = 0;
} g_real;

int RealInit() {
  g_real.width = g_real.height = 0;
  g_real.video = H264DecCreate(&kPlayerAttr);
  if (!g_real.video) return 0;
  return AMR_Decode_Init(&g_real.audio) == kAmrOk ? 1 : 0;
}

int RealExit() {
  AMR_Decode_Exit(&g_real.audio);
  H264DecDestroy(g_real.video);
  g_real.video = nullptr;
  return 1;
}

int RealAudioDecode(const uint8_t* frame, uint8_t* pcmOut) {
  if (frame == nullptr) {
    // A seek: the next frame does not follow the last one; start afresh.
    AMR_Decode_Exit(&g_real.audio);
    return AMR_Decode_Init(&g_real.audio) == kAmrOk ? 1 : 0;
  }
  // The engine's PCM slots are plain bytes; decode into aligned samples.
  int16_t pcm[kAmrFrameSamples] = {};
  AMR_Decode_Frame(g_real.audio, frame, pcm, kStorageLayout);
  std::memcpy(pcmOut, pcm, sizeof pcm);
  return 1;
}

int RealVideoDecode(const uint8_t* data, uint32_t length, uint64_t timeStamp, YuvFrame* f) {
  if (!g_real.video) return 0;
  if (H264DecDecode(g_real.video, data, length, timeStamp, &g_real.picture, 0) != H264_DEC_PICTURE) {
    return 0;
  }
  if (!f) return 0;  // decoded for reference only: the picture is not wanted
  const H264DecPicture& p = g_real.picture;
  g_real.width = static_cast<int>(p.width);
  g_real.height = static_cast<int>(p.height);
  f->y = p.y;
  f->u = p.u;
  f->v = p.v;
  f->yStride = static_cast<int32_t>(p.width);
  f->uStride = f->vStride = static_cast<int32_t>(p.width / 2);
  return 1;
}

void RealPictureSize(int* w, int* h) {
  *w = g_real.width;
  *h = g_real.height;
}

const DecoderBackend kRealBackend = {"real",          RealInit,        RealExit,
                                     RealAudioDecode, RealVideoDecode, RealPictureSize};
DecoderBackendRegistrar reg(&kRealBackend);

}  // namespace
}  // namespace trevolo::avtool
