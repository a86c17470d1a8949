// The H.264 decoder interface over arbitrary bytes. The first input byte
// chooses the creation attributes (deinterlacing, worker threads, the size
// limit); the rest is cut into calls before every 4-byte start code, as a
// recording hands over one access unit per call, and the decoder is drained
// with empty calls at the end. Every picture is read in full and checked
// against the limits it was created with.
#include <algorithm>
#include <cstring>

#include "fuzz/fuzz_util.h"
#include "video/h264_decoder.h"

using trevolo::fuzz::Touch;
using trevolo::fuzz::Use;

namespace {

constexpr uint64_t kCallSpacingUs = 40000;
constexpr int kMaxDrainCalls = 20;

struct Limits {
  uint32_t widthMbs;
  uint32_t heightMbs;
};
// 0 stands for the defaults (120 x 68 macroblocks).
constexpr Limits kLimitChoices[4] = {{0, 0}, {2, 6}, {22, 18}, {80, 45}};
constexpr Limits kDefaultLimits = {120, 68};

void CheckPicture(const H264DecPicture& p, const Limits& limits, uint64_t lastTimeStamp) {
  FUZZ_CHECK(p.y != nullptr && p.u != nullptr && p.v != nullptr);
  FUZZ_CHECK(p.width > 0 && p.height > 0);
  FUZZ_CHECK(p.width <= limits.widthMbs * 16 && p.height <= limits.heightMbs * 16);
  FUZZ_CHECK(p.pictureStructure == 0);
  FUZZ_CHECK(p.timeStamp % kCallSpacingUs == 0 && p.timeStamp <= lastTimeStamp);
  uint32_t sum = Touch(p.y, size_t{p.width} * p.height);
  sum += Touch(p.u, size_t{p.width / 2} * (p.height / 2));
  sum += Touch(p.v, size_t{p.width / 2} * (p.height / 2));
  Use(sum);
}

// The next call's data ends before the next 4-byte start code.
size_t CallEnd(const uint8_t* data, size_t size, size_t begin) {
  static constexpr uint8_t kStart[4] = {0, 0, 0, 1};
  const uint8_t* from = data + begin + 1;
  const uint8_t* found = std::search(from, data + size, kStart, kStart + 4);
  return static_cast<size_t>(found - data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t choice = data[0];
  H264DecAttr attr;
  attr.options = ((choice & 1) ? H264_OPT_DEINTERLACE : 0) | ((choice & 2) ? H264_OPT_THREADS : 0);
  const Limits chosen = kLimitChoices[(choice >> 2) & 3];
  attr.maxWidthMbs = chosen.widthMbs;
  attr.maxHeightMbs = chosen.heightMbs;
  const Limits limits = chosen.widthMbs == 0 ? kDefaultLimits : chosen;

  H264Decoder* decoder = H264DecCreate(&attr);
  FUZZ_CHECK(decoder != nullptr);
  H264DecPicture picture;
  uint64_t timeStamp = 0;
  for (size_t begin = 1; begin < size;) {
    const size_t end = CallEnd(data, size, begin);
    // Each call gets its own exact copy, so a read past its end is seen.
    const size_t length = end - begin;
    auto* copy = new uint8_t[length];
    std::memcpy(copy, data + begin, length);
    timeStamp += kCallSpacingUs;
    const int32_t result =
        H264DecDecode(decoder, copy, static_cast<uint32_t>(length), timeStamp, &picture, 0);
    delete[] copy;
    FUZZ_CHECK(result == H264_DEC_PICTURE || result == H264_DEC_NO_PICTURE);
    if (result == H264_DEC_PICTURE) {
      CheckPicture(picture, limits, timeStamp);
    } else {
      FUZZ_CHECK(picture.y == nullptr);
    }
    begin = end;
  }
  for (int i = 0; i < kMaxDrainCalls; ++i) {
    const int32_t result = H264DecDecode(decoder, nullptr, 0, 0, &picture, 0);
    if (result != H264_DEC_PICTURE) {
      FUZZ_CHECK(result == H264_DEC_NO_PICTURE);
      break;
    }
    CheckPicture(picture, limits, timeStamp);
  }
  FUZZ_CHECK(H264DecDestroy(decoder) == 1);
  return 0;
}
