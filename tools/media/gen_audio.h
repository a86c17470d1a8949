// Synthetic speech-band signals and the AMR-NB encoder that turns them into
// stored frames for `avtool gen` (and for tests that need AMR input).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trevolo::media {

inline constexpr int kAmrSamplesPerFrame = 160;  // 20 ms at 8000 Hz
inline constexpr int kAmrSampleRate = 8000;
inline constexpr int kAmrMaxMode = 7;  // 12.2 kbit/s

enum class Signal { Tone, Sweep, Silence };

// Produces the signal 160 samples at a time; the same calls give the same
// samples.
class SignalSource {
 public:
  explicit SignalSource(Signal kind) : m_kind(kind) {}
  void nextFrame(int16_t out[kAmrSamplesPerFrame]);

 private:
  Signal m_kind;
  int64_t m_sample = 0;   // samples produced so far
  double m_phase = 0.0;   // radians, for the sweep
};

// One opencore AMR-NB encoder (no DTX, so every frame is speech).
class AmrEncoder {
 public:
  AmrEncoder();
  ~AmrEncoder();
  AmrEncoder(const AmrEncoder&) = delete;
  AmrEncoder& operator=(const AmrEncoder&) = delete;

  bool ok() const { return m_state != nullptr; }

  // Encodes 160 samples in `mode` (0..7) into a stored frame: the type byte
  // and the payload. False when the encoder fails.
  bool encode(const int16_t pcm[kAmrSamplesPerFrame], int mode, std::vector<uint8_t>* frame);

 private:
  void* m_state = nullptr;
};

}  // namespace trevolo::media
