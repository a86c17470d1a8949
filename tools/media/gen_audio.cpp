#include "tools/media/gen_audio.h"

#include <cmath>
#include <numbers>

extern "C" {
#include <opencore-amrnb/interf_enc.h>
}

namespace trevolo::media {
namespace {

constexpr double kToneHz = 440.0;
constexpr double kAmplitude = 8000.0;  // about -12 dBFS: clear, never clipping
// The sweep rises linearly through the telephone band and starts again.
constexpr double kSweepLowHz = 200.0;
constexpr double kSweepHighHz = 3400.0;
constexpr double kSweepSeconds = 4.0;
constexpr int kAmrMaxFrameBytes = 32;  // 12.2 kbit/s frame with its type byte

}  // namespace

void SignalSource::nextFrame(int16_t out[kAmrSamplesPerFrame]) {
  for (int i = 0; i < kAmrSamplesPerFrame; ++i, ++m_sample) {
    double value = 0.0;
    if (m_kind == Signal::Tone) {
      value = std::sin(2.0 * std::numbers::pi * kToneHz * static_cast<double>(m_sample) /
                       kAmrSampleRate);
    } else if (m_kind == Signal::Sweep) {
      const double period = kSweepSeconds * kAmrSampleRate;
      const double t = std::fmod(static_cast<double>(m_sample), period) / period;
      const double hz = kSweepLowHz + (kSweepHighHz - kSweepLowHz) * t;
      m_phase = std::fmod(m_phase + 2.0 * std::numbers::pi * hz / kAmrSampleRate,
                          2.0 * std::numbers::pi);
      value = std::sin(m_phase);
    }
    out[i] = static_cast<int16_t>(std::lround(value * kAmplitude));
  }
}

AmrEncoder::AmrEncoder() : m_state(Encoder_Interface_init(0)) {}

AmrEncoder::~AmrEncoder() {
  if (m_state) Encoder_Interface_exit(m_state);
}

bool AmrEncoder::encode(const int16_t pcm[kAmrSamplesPerFrame], int mode,
                        std::vector<uint8_t>* frame) {
  if (!m_state || mode < 0 || mode > kAmrMaxMode) return false;
  // The encoder writes at most 32 bytes; leave it room to spare.
  uint8_t out[2 * kAmrMaxFrameBytes];
  const int n = Encoder_Interface_Encode(m_state, static_cast<enum Mode>(mode), pcm, out, 0);
  if (n <= 0 || n > kAmrMaxFrameBytes) return false;
  frame->assign(out, out + n);
  return true;
}

}  // namespace trevolo::media
