// H.264 decoder behind three operations: create with attributes, decode one
// run of Annex B bytes per call, destroy. Used on one thread at a time (the
// engine's video decode thread); create and destroy while no decode runs.
//
// Output: at most one picture per call, copied into buffers the decoder owns
// (8-bit 4:2:0, tightly packed planes, cropped as the stream says). Pictures
// of ordinary streams come out in decoding order, each from the call whose
// data started it. Streams with B-frames come out in display order instead,
// each picture with the time stamp of the call that carried it: showing them
// in decoding order would jump back and forth in time. A stream counts as
// such once its SPS declares reordering or, where it declares nothing, once
// a B slice or a gap in the picture order count shows it. Display order holds
// pictures back; a call with no data then hands them out one by one, as at
// the end of a stream, and decoding resumes at the next IDR or I slice.
#pragma once

#include <cstdint>

#include "engine/av_engine.h"  // YuvFrame

// Creation attributes. Out-of-range values are replaced, see H264DecCreate.
struct H264DecAttr {
  uint32_t reserved0 = 0;
  uint32_t reserved1 = 0;
  uint32_t maxWidthMbs = 0;     // 2..352, else 120
  uint32_t maxHeightMbs = 0;    // frame rows, 6..256, else 68
  uint32_t refFrames = 0;       // 1..16; 0 means 4, more than 16 means 16
  uint32_t options = 0;         // H264_OPT_* bits
  void* userRecord = nullptr;   // not used
};

// Interlaced pictures come out as progressive frames.
inline constexpr uint32_t H264_OPT_DEINTERLACE = 16;
// Four worker threads share the slices of each picture.
inline constexpr uint32_t H264_OPT_THREADS = 32;

enum H264DecResult : int32_t {
  H264_DEC_PICTURE = 0,
  H264_DEC_NO_PICTURE = -2,
  H264_DEC_BAD_ARGUMENT = -3,
};

// Output record, filled by H264DecDecode. The plane pointers are null after a
// call that returns no picture; otherwise they stay valid until the next
// H264DecDecode or H264DecDestroy on the same handle.
struct H264DecPicture {
  uint8_t* y = nullptr;  // height rows of width bytes
  uint8_t* u = nullptr;  // height/2 rows of width/2 bytes
  uint8_t* v = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t codedLumaStride = 0;    // of the core's own picture; informational
  int32_t codedChromaStride = 0;
  uint32_t reserved8to12[5] = {};
  uint32_t pictureStructure = 0;  // 0 frame (always: fields are output as frames)
  uint32_t reserved14to16[3] = {};
  uint64_t timeStamp = 0;         // the time stamp passed with this picture's data
  uint32_t reserved19to22[4] = {};
};

struct H264Decoder;  // opaque

// Returns null for a null attribute pointer or when the core or the buffers
// cannot be set up (nothing is left allocated then).
H264Decoder* H264DecCreate(const H264DecAttr* attr);

// data/length: Annex B bytes; timeStamp: returned with the picture they
// start; reserved: not read. Returns an H264DecResult.
int32_t H264DecDecode(H264Decoder* decoder, const uint8_t* data, uint32_t length,
                      uint64_t timeStamp, H264DecPicture* picture, uint32_t reserved);

// Stops the worker threads and frees everything. 0 for a null handle, else 1.
int H264DecDestroy(H264Decoder* decoder);
