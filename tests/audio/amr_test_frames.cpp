#include "tests/audio/amr_test_frames.h"

#include <gtest/gtest.h>
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>

#include <cmath>
#include <numbers>

#include "audio/amr_decoder.h"

namespace trevolo::amr::test {
namespace {

constexpr int kSamples = 160;
constexpr int kCycleFrames = 100;  // 2 s: 1.2 s voiced, 0.8 s near-silence
constexpr int kVoicedFrames = 60;
// Payload bits of frame types 0..8 (SID: 35 bits, indicator, 3 mode bits).
constexpr int kPayloadBits[9] = {95, 103, 118, 134, 148, 159, 204, 244, 39};
constexpr int kSidModeBit = 36;  // first of the three comfort-noise mode bits

int PayloadBits(int frameType) { return frameType <= 8 ? kPayloadBits[frameType] : 0; }

// Stream-order bits of a layout-0 frame's payload.
std::vector<int> StorageBits(const Frame& storage) {
  const int n = PayloadBits((storage[0] >> 3) & 0x0F);
  std::vector<int> bits(n);
  for (int i = 0; i < n; ++i) bits[i] = (storage[1 + i / 8] >> (7 - i % 8)) & 1;
  return bits;
}

void PutMsbFirst(Frame& out, size_t start, const std::vector<int>& bits) {
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[start + i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
}

}  // namespace

Pcm TestSignal(int frames, uint32_t seed) {
  Pcm pcm(static_cast<size_t>(frames) * kSamples);
  uint32_t lcg = seed;
  double phase = 0;
  for (size_t n = 0; n < pcm.size(); ++n) {
    lcg = lcg * 1664525u + 1013904223u;
    const double noise = static_cast<int32_t>(lcg >> 16 & 0xFFFF) - 32768.0;
    const int frame = static_cast<int>(n / kSamples);
    const int inCycle = frame % kCycleFrames;
    if (inCycle >= kVoicedFrames) {
      pcm[n] = static_cast<int16_t>(noise / 8192.0);
      continue;
    }
    const double t = static_cast<double>(n) / 8000.0;
    const double f0 = 140.0 + 60.0 * std::sin(2 * std::numbers::pi * 0.7 * t);
    phase += 2 * std::numbers::pi * f0 / 8000.0;
    const double envelope = std::sin(std::numbers::pi * (inCycle * kSamples + n % kSamples) /
                                     (kVoicedFrames * kSamples));
    const double v =
        envelope * (5000 * std::sin(phase) + 2500 * std::sin(3 * phase + 0.5)) + noise / 160.0;
    pcm[n] = static_cast<int16_t>(v);
  }
  return pcm;
}

std::vector<Frame> Encode(const Pcm& pcm, int mode, bool dtx) {
  void* enc = Encoder_Interface_init(dtx ? 1 : 0);
  std::vector<Frame> frames;
  for (size_t at = 0; at + kSamples <= pcm.size(); at += kSamples) {
    uint8_t out[64] = {};
    const int n = Encoder_Interface_Encode(enc, static_cast<Mode>(mode), &pcm[at], out, 0);
    frames.emplace_back(out, out + n);
  }
  Encoder_Interface_exit(enc);
  return frames;
}

Frame HomingFrame(int mode) { return Encode(Pcm(kSamples, 0x0008), mode, false).at(0); }

Frame ToLayout(const Frame& storage, int layout) {
  const int type = (storage[0] >> 3) & 0x0F;
  const int quality = (storage[0] >> 2) & 1;
  std::vector<int> bits = StorageBits(storage);
  if (layout == 0) return storage;
  if (layout == 1) {
    Frame out(3 + (bits.size() + 7) / 8, 0);
    out[0] = static_cast<uint8_t>(type << 4 | quality << 3);
    out[1] = 0xA5;  // not read by the decoder
    out[2] = 0x5A;
    PutMsbFirst(out, 3, bits);
    return out;
  }
  if (type == 8) {  // layout 2 carries the comfort-noise mode value LSB first
    const int mode = bits[kSidModeBit] << 2 | bits[kSidModeBit + 1] << 1 | bits[kSidModeBit + 2];
    for (int k = 0; k < 3; ++k) bits[kSidModeBit + k] = (mode >> k) & 1;
  }
  Frame out(bits.empty() ? 1 : (bits.size() + 4 + 7) / 8, 0);
  out[0] = static_cast<uint8_t>(type);
  for (size_t i = 0; i < bits.size(); ++i)
    if (bits[i]) out[(i + 4) / 8] |= static_cast<uint8_t>(1 << ((i + 4) % 8));
  return out;
}

Frame ReverseSidModeBits(const Frame& storage) {
  std::vector<int> bits = StorageBits(storage);
  std::swap(bits[kSidModeBit], bits[kSidModeBit + 2]);
  Frame out(storage.size(), 0);
  out[0] = storage[0];
  PutMsbFirst(out, 1, bits);
  return out;
}

Frame MarkBad(const Frame& storage) {
  Frame out = storage;
  out[0] &= static_cast<uint8_t>(~0x04);
  return out;
}

Pcm DecodeAll(const std::vector<Frame>& frames, int layout) {
  void* dec = nullptr;
  EXPECT_EQ(AMR_Decode_Init(&dec), kAmrOk);
  Pcm pcm;
  int16_t out[kSamples];
  for (const Frame& f : frames) {
    EXPECT_EQ(AMR_Decode_Frame(dec, f.data(), out, layout), kAmrOk);
    pcm.insert(pcm.end(), out, out + kSamples);
  }
  AMR_Decode_Exit(&dec);
  return pcm;
}

Pcm DecodeReference(const std::vector<Frame>& frames) {
  void* dec = Decoder_Interface_init();
  Pcm pcm;
  int16_t out[kSamples];
  for (const Frame& f : frames) {
    Decoder_Interface_Decode(dec, f.data(), out, 0);
    pcm.insert(pcm.end(), out, out + kSamples);
  }
  Decoder_Interface_exit(dec);
  return pcm;
}

std::vector<Frame> Concat(std::vector<Frame> a, const std::vector<Frame>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace trevolo::amr::test
