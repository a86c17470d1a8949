// The AMR-NB decoder's exported face: three plain functions with unmangled
// names that create a decoder, turn one packed frame into 160 PCM samples
// (8000 Hz mono, signed 16-bit, native byte order) and free the decoder.
//
// Frame layouts accepted by AMR_Decode_Frame:
//   0  AMR storage format frame: one header byte (FT in bits 6..3, Q in bit 2),
//      speech bits from byte 1, most significant bit first.
//   1  three header bytes (FT in bits 7..4 and Q in bit 3 of byte 0; bytes 1
//      and 2 are not read), speech bits from byte 3, most significant first.
//   2  IF2: FT in bits 3..0 of byte 0, the first four speech bits in bits
//      4..7 of byte 0, then each byte from bit 0 up to bit 7.
// There is no length argument: exactly the bytes that the frame type implies
// are read (a no-data frame is one byte).
#pragma once

#include <cstdint>

// Results. Every code but kAmrOk has the 0xB1222xxx form.
inline constexpr uint32_t kAmrOk = 0;
inline constexpr uint32_t kAmrErrorLayout = 0xB1222002;  // layout is not 0, 1 or 2
inline constexpr uint32_t kAmrErrorNullHandle = 0xB1222011;
inline constexpr uint32_t kAmrErrorNullFrame = 0xB1222012;
inline constexpr uint32_t kAmrErrorNullOutput = 0xB1222013;
inline constexpr uint32_t kAmrErrorInit = 0xB1222101;  // null address or out of memory
// The speech core failed. opencore's frame decoder reports no failures, so
// this code is reserved and not returned today.
inline constexpr uint32_t kAmrErrorDecode = 0xB1222103;

inline constexpr int kAmrFrameSamples = 160;  // 20 ms at 8000 Hz
inline constexpr int kAmrFrameBytesOut = kAmrFrameSamples * 2;

extern "C" {

// Creates a decoder and stores its handle in *handle. *handle is set to null
// first (when handle is not null) and stays null on failure.
uint32_t AMR_Decode_Init(void** handle);

// Decodes one frame of the given layout into pcm[0..159]. Arguments are
// checked in this order before any frame byte is read: handle, frame, pcm,
// layout; on a refusal neither pcm nor the decoder changes.
uint32_t AMR_Decode_Frame(void* handle, const uint8_t* frame, int16_t* pcm, int32_t layout);

// Frees the decoder and nulls *handle; does nothing when handle or *handle is
// null.
void AMR_Decode_Exit(void** handle);

}  // extern "C"
