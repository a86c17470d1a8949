#include "audio/amr_frame.h"

#include <cstring>

namespace trevolo::amr {
namespace {

constexpr int kSidModeBits = 3;

// Bytes before the first speech bit; layout 2 starts inside byte 0.
int HeaderBytes(int layout) {
  return layout == kLayoutHeader3 ? 3 : layout == kLayoutStorage ? 1 : 0;
}

// Reads the i-th speech bit (counting from 0) of a frame in stream order.
// Layouts 0 and 1 run from bit 7 down to bit 0 of each byte after the header;
// layout 2 starts at bit 4 of byte 0 and runs from bit 0 up to bit 7.
class SpeechBits {
 public:
  SpeechBits(const uint8_t* frame, int layout)
      : m_base(frame + HeaderBytes(layout)), m_msbFirst(layout != kLayoutIf2) {}

  int16_t operator[](int i) const {
    if (m_msbFirst) return static_cast<int16_t>((m_base[i >> 3] >> (7 - (i & 7))) & 1);
    const int pos = i + kIf2FirstBit;
    return static_cast<int16_t>((m_base[pos >> 3] >> (pos & 7)) & 1);
  }

 private:
  static constexpr int kIf2FirstBit = 4;
  const uint8_t* m_base;
  bool m_msbFirst;
};

// The quality bit; layout 2 has none and counts every frame as good.
bool QualityGood(uint8_t firstByte, int layout) {
  if (layout == kLayoutStorage) return (firstByte >> 2) & 1;
  if (layout == kLayoutHeader3) return (firstByte >> 3) & 1;
  return true;
}

int PayloadBits(int frameType) {
  if (frameType < kSpeechModes) return kModeLayouts[frameType].bits;
  if (frameType == kSidFrameType) return kSidBits + kSidExtraBits;
  return 0;
}

// The SID frame's own bits go to the array in order; the type indicator and
// the comfort-noise mode follow them. Layouts 0 and 1 carry the mode most
// significant bit first, layout 2 least significant bit first.
UnpackedFrame UnpackSid(const SpeechBits& bits, int layout, bool good, int16_t* serial) {
  for (int i = 0; i < kSidBits; ++i) serial[i] = bits[i];
  const bool update = bits[kSidBits] != 0;
  int32_t mode = 0;
  for (int k = 0; k < kSidModeBits; ++k) {
    const int32_t bit = bits[kSidBits + 1 + k];
    mode = layout == kLayoutIf2 ? mode | (bit << k) : (mode << 1) | bit;
  }
  UnpackedFrame out;
  out.mode = mode;
  out.rxType = !good ? RxType::kSidBad : update ? RxType::kSidUpdate : RxType::kSidFirst;
  return out;
}

}  // namespace

int FrameType(uint8_t firstByte, int layout) {
  if (layout == kLayoutStorage) return (firstByte >> 3) & 0x0F;
  if (layout == kLayoutHeader3) return firstByte >> 4;
  return firstByte & 0x0F;
}

int FrameBytes(uint8_t firstByte, int layout) {
  const int bits = PayloadBits(FrameType(firstByte, layout));
  if (bits == 0) return 1;  // no data: the type byte alone
  if (layout == kLayoutIf2) return (bits + 4 + 7) / 8;
  return HeaderBytes(layout) + (bits + 7) / 8;
}

UnpackedFrame UnpackFrame(const uint8_t* frame, int layout, int16_t serial[kSerialBits]) {
  std::memset(serial, 0, kSerialBits * sizeof(int16_t));
  const int frameType = FrameType(frame[0], layout);
  if (frameType > kSidFrameType) return UnpackedFrame{};  // 9..15: no data

  const SpeechBits bits(frame, layout);
  const bool good = QualityGood(frame[0], layout);
  if (frameType == kSidFrameType) return UnpackSid(bits, layout, good, serial);

  const ModeLayout& mode = kModeLayouts[frameType];
  for (int i = 0; i < mode.bits; ++i) serial[mode.order[i]] = bits[i];
  UnpackedFrame out;
  out.mode = frameType;
  out.rxType = good ? RxType::kSpeechGood : RxType::kSpeechBad;
  return out;
}

}  // namespace trevolo::amr
