// Fixed facts of the AMR-NB bit stream shared by the frame unpacker, the
// homing test and the tests.
#pragma once

#include <cstdint>

namespace trevolo::amr {

inline constexpr int kSpeechModes = 8;   // frame types 0..7: 4.75 to 12.2 kbit/s
inline constexpr int kSidFrameType = 8;  // comfort-noise parameters
inline constexpr int kNoDataFrameType = 15;
inline constexpr int kSidBits = 35;      // comfort-noise bits of a SID frame
inline constexpr int kSidExtraBits = 4;  // SID type indicator + 3 mode bits
inline constexpr int kSerialBits = 244;  // parameter-order bit array of the core

struct ModeLayout {
  int bits;              // speech bits per frame
  const uint8_t* order;  // transmitted bit i -> parameter-order position
};

// Indexed by speech mode 0..7.
extern const ModeLayout kModeLayouts[kSpeechModes];

}  // namespace trevolo::amr
