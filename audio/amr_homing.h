// Decoder homing frames: the frame a freshly reset encoder sends for the
// encoder homing input (160 samples of 0x0008). Two of them in a row make the
// decoder answer with that input pattern; one resets the decoder.
#pragma once

#include <cstdint>

#include "audio/amr_tables.h"

namespace trevolo::amr {

inline constexpr int16_t kHomingOutputSample = 0x0008;

enum class HomingSpan {
  kFirstSubframe,  // the parameters up to the end of the first subframe
  kWholeFrame,
};

// True when serial[] (parameter order) matches the decoder homing frame of
// speech mode `mode` (0..7) over `span`.
bool IsHomingFrame(const int16_t serial[kSerialBits], int32_t mode, HomingSpan span);

}  // namespace trevolo::amr
