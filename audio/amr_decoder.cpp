#include "audio/amr_decoder.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "audio/amr_frame.h"
#include "audio/amr_homing.h"
#include "audio/amr_opencore.h"

namespace {

using trevolo::amr::HomingSpan;
using trevolo::amr::IsHomingFrame;
using trevolo::amr::kHomingOutputSample;
using trevolo::amr::kSerialBits;
using trevolo::amr::RxType;
using trevolo::amr::UnpackedFrame;
using trevolo::amr::UnpackFrame;

// Output samples carry 13 significant bits. opencore's core already cuts them
// unless its archive was built with NO13BIT; the mask keeps the output the
// same either way.
constexpr int16_t kOutputMask = static_cast<int16_t>(0xFFF8);

// Behind a handle. Used by one thread at a time; nothing is shared between
// handles.
struct AmrDecoder {
  void* core = nullptr;    // speech decoder, post-filter and high-pass states
  int32_t prevMode = 0;    // mode of the last frame that carried one
  int16_t homing = 0;      // this frame is a decoder homing frame
  int16_t prevHoming = 1;  // the previous frame was one (a fresh decoder counts as homed)
  int16_t serial[kSerialBits] = {};
  int16_t synth[kAmrFrameSamples] = {};  // aligned scratch; pcm may be any address
};

void ResetDecoder(AmrDecoder* dec) {
  Speech_Decode_Frame_reset(dec->core);
  dec->prevMode = 0;
}

void RunCore(AmrDecoder* dec, int32_t mode, RxType rxType) {
  GSMFrameDecode(dec->core, mode, dec->serial, static_cast<int>(rxType), dec->synth);
  for (int16_t& s : dec->synth) s = static_cast<int16_t>(s & kOutputMask);
}

// Decodes the unpacked frame in dec->serial into dec->synth, with decoder
// homing: a homing frame right after a homed state answers with the encoder
// homing pattern instead of decoding, and any homing frame resets the decoder
// afterwards.
void DecodeUnpacked(AmrDecoder* dec, int32_t mode, RxType rxType) {
  if (dec->prevHoming) dec->homing = IsHomingFrame(dec->serial, mode, HomingSpan::kFirstSubframe);
  if (dec->homing && dec->prevHoming) {
    std::fill(std::begin(dec->synth), std::end(dec->synth), kHomingOutputSample);
  } else {
    RunCore(dec, mode, rxType);
  }
  if (!dec->prevHoming) dec->homing = IsHomingFrame(dec->serial, mode, HomingSpan::kWholeFrame);
  if (dec->homing) ResetDecoder(dec);
  dec->prevHoming = dec->homing;
}

}  // namespace

extern "C" {

uint32_t AMR_Decode_Init(void** handle) {
  if (handle == nullptr) return kAmrErrorInit;
  *handle = nullptr;
  auto* dec = new (std::nothrow) AmrDecoder;
  if (dec == nullptr) return kAmrErrorInit;
  if (GSMInitDecode(&dec->core, nullptr) != 0 || dec->core == nullptr) {
    GSMDecodeFrameExit(&dec->core);
    delete dec;
    return kAmrErrorInit;
  }
  ResetDecoder(dec);
  *handle = dec;
  return kAmrOk;
}

uint32_t AMR_Decode_Frame(void* handle, const uint8_t* frame, int16_t* pcm, int32_t layout) {
  if (handle == nullptr) return kAmrErrorNullHandle;
  if (frame == nullptr) return kAmrErrorNullFrame;
  if (pcm == nullptr) return kAmrErrorNullOutput;
  if (layout < 0 || layout > 2) return kAmrErrorLayout;

  auto* dec = static_cast<AmrDecoder*>(handle);
  const UnpackedFrame unpacked = UnpackFrame(frame, layout, dec->serial);
  // A frame without data is decoded in the mode of the last frame that had one.
  int32_t mode = dec->prevMode;
  if (unpacked.rxType != RxType::kNoData) {
    mode = unpacked.mode;
    dec->prevMode = mode;
  }
  DecodeUnpacked(dec, mode, unpacked.rxType);
  std::memcpy(pcm, dec->synth, sizeof dec->synth);
  return kAmrOk;
}

void AMR_Decode_Exit(void** handle) {
  if (handle == nullptr || *handle == nullptr) return;
  auto* dec = static_cast<AmrDecoder*>(*handle);
  GSMDecodeFrameExit(&dec->core);
  delete dec;
  *handle = nullptr;
}

}  // extern "C"
