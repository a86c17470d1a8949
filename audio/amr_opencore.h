// The frame-level speech decoder inside opencore-amrnb's static archive. Its
// public interface takes only storage-format frames and cannot express a bad
// speech or bad SID frame, so the decoder calls one level lower. These entry
// points have no installed header; their prototypes are those of the 3GPP
// fixed-point decoder's frame interface, which opencore keeps (C linkage;
// the mode and receive-type enums are passed as int).
#pragma once

#include <cstdint>

extern "C" {

// Allocates and resets the state that holds the speech decoder, the
// post-filter and the output high-pass filter. Returns 0 on success; on
// failure *state is null. `id` is unused.
int16_t GSMInitDecode(void** state, int8_t* id);

// Puts all three sub-states back to their initial values. Returns 0.
int16_t Speech_Decode_Frame_reset(void* state);

// Frees the state and nulls *state; tolerates null.
void GSMDecodeFrameExit(void** state);

// Decodes one frame: serial[] in parameter order (one bit per word),
// `mode` 0..7, `rxType` the receive frame type, 160 samples to synth[],
// already post-filtered, high-pass filtered and cut to 13 bits.
void GSMFrameDecode(void* state, int mode, int16_t* serial, int rxType, int16_t* synth);

}  // extern "C"
