// The AMR-NB decoder interface: the first byte picks the frame layout (0, 1,
// 2, or 3, which must be refused); the rest is a run of frames, each handed
// over in a buffer of exactly the size its frame type implies, so any read
// past that is seen. Sizes of the standard frame types are checked too.
#include <cstring>

#include "audio/amr_decoder.h"
#include "audio/amr_frame.h"
#include "fuzz/fuzz_util.h"

using trevolo::fuzz::Use;

namespace {

// Bytes of frame types 0..8 (the eight speech modes and SID) and of 15 (no
// data) in the storage and IF2 layouts; the three-byte header layout is the
// storage layout with two more header bytes.
constexpr int kStorageBytes[9] = {13, 14, 16, 18, 20, 21, 27, 32, 6};
constexpr int kIf2Bytes[9] = {13, 14, 16, 18, 19, 21, 26, 31, 6};

void CheckFrameSize(uint8_t first, int layout, int bytes) {
  const int type = trevolo::amr::FrameType(first, layout);
  FUZZ_CHECK(type >= 0 && type <= 15);
  if (type == 15) {
    FUZZ_CHECK(bytes == 1 || (layout == 1 && bytes == 3));
  } else if (type <= 8) {
    const int expected =
        layout == 2 ? kIf2Bytes[type] : kStorageBytes[type] + (layout == 1 ? 2 : 0);
    FUZZ_CHECK(bytes == expected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int32_t layout = data[0] % 4;
  void* decoder = nullptr;
  FUZZ_CHECK(AMR_Decode_Init(&decoder) == kAmrOk && decoder != nullptr);
  int16_t pcm[kAmrFrameSamples];
  uint32_t sum = 0;
  for (size_t at = 1; at < size;) {
    if (layout == 3) {
      // Refused before any frame byte is read, and the output stays as it was.
      std::memset(pcm, 0x5A, sizeof pcm);
      FUZZ_CHECK(AMR_Decode_Frame(decoder, data + at, pcm, layout) == kAmrErrorLayout);
      for (int16_t s : pcm) FUZZ_CHECK(s == 0x5A5A);
      break;
    }
    const int bytes = trevolo::amr::FrameBytes(data[at], layout);
    CheckFrameSize(data[at], layout, bytes);
    if (bytes <= 0 || size - at < static_cast<size_t>(bytes)) break;
    auto* frame = new uint8_t[bytes];
    std::memcpy(frame, data + at, bytes);
    const uint32_t result = AMR_Decode_Frame(decoder, frame, pcm, layout);
    delete[] frame;
    FUZZ_CHECK(result == kAmrOk);
    for (int16_t s : pcm) sum += static_cast<uint16_t>(s);
    at += bytes;
  }
  Use(sum);
  AMR_Decode_Exit(&decoder);
  FUZZ_CHECK(decoder == nullptr);
  return 0;
}
