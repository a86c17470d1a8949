// Unpacking of one packed AMR-NB frame (any of the three layouts) into the
// speech core's parameter-order bit array, its receive type and its mode.
// Pure functions: no decoder state is involved.
#pragma once

#include <cstdint>

#include "audio/amr_tables.h"

namespace trevolo::amr {

// Receive frame types as the speech core numbers them.
enum class RxType : int32_t {
  kSpeechGood = 0,
  kSpeechBad = 3,
  kSidFirst = 4,
  kSidUpdate = 5,
  kSidBad = 6,
  kNoData = 7,
};

inline constexpr int kLayoutStorage = 0;  // one header byte, MSB first
inline constexpr int kLayoutHeader3 = 1;  // three header bytes, MSB first
inline constexpr int kLayoutIf2 = 2;      // FT in the low nibble, LSB first
inline constexpr int32_t kNoMode = -1;

struct UnpackedFrame {
  RxType rxType = RxType::kNoData;
  int32_t mode = kNoMode;  // speech mode 0..7 the frame carries; kNoMode for no data
};

// Frame type (0..15) of a frame of a valid layout, from its first byte.
int FrameType(uint8_t firstByte, int layout);

// Bytes a frame of a valid layout occupies (and that unpacking reads),
// determined by its first byte alone.
int FrameBytes(uint8_t firstByte, int layout);

// Clears serial[] and fills it from the frame; reads FrameBytes() bytes at
// most. layout must be 0, 1 or 2.
UnpackedFrame UnpackFrame(const uint8_t* frame, int layout, int16_t serial[kSerialBits]);

}  // namespace trevolo::amr
