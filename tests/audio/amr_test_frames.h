// Test input for the AMR-NB decoder, made at test time with opencore's
// encoder from deterministic signals, and converters between frame layouts.
#pragma once

#include <cstdint>
#include <vector>

namespace trevolo::amr::test {

using Frame = std::vector<uint8_t>;
using Pcm = std::vector<int16_t>;

// A speech-like signal: voiced stretches (two drifting harmonics with an
// envelope, plus a little noise) separated by near-silence, so that an
// encoder with DTX emits speech, SID and no-data frames.
Pcm TestSignal(int frames, uint32_t seed);

// Encodes whole 160-sample frames into storage-layout (layout 0) frames.
std::vector<Frame> Encode(const Pcm& pcm, int mode, bool dtx);

// What a freshly created encoder emits for the encoder homing input: the
// decoder homing frame of `mode`, in layout 0.
Frame HomingFrame(int mode);

// Rewrites a layout-0 frame in `layout` (0, 1 or 2): same frame type, quality,
// speech bits and, for SID frames, the same comfort-noise mode value.
Frame ToLayout(const Frame& storage, int layout);

// Layout-0 SID frame with its three mode bits in reverse order.
Frame ReverseSidModeBits(const Frame& storage);

// Layout-0 frame with its quality bit cleared.
Frame MarkBad(const Frame& storage);

// Decodes frames of one layout with a fresh AMR_Decode_Init decoder; every
// call must return 0.
Pcm DecodeAll(const std::vector<Frame>& frames, int layout);

// Decodes layout-0 frames with opencore's public decoder (reference).
Pcm DecodeReference(const std::vector<Frame>& frames);

// Concatenation helper.
std::vector<Frame> Concat(std::vector<Frame> a, const std::vector<Frame>& b);

}  // namespace trevolo::amr::test
