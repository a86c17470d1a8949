// Public surface of the playback engine: one open .av file per AvEngine, four
// operations, a table of application callbacks and three state codes.
// The engine knows nothing of codecs, windows or devices; everything it cannot
// do itself it asks of the application through AvCallbacks.
#pragma once

#include <cstdint>

// A 4:2:0 picture as the engine passes it between VideoDecode and VideoRender.
// Plane memory belongs to the decoder and stays valid until the next
// VideoDecode call. The engine itself reads and writes only timeStamp, which
// it overwrites with the packet's time stamp after each successful decode.
struct YuvFrame {
  uint8_t* y = nullptr;
  uint8_t* u = nullptr;
  uint8_t* v = nullptr;
  int32_t yStride = 0;
  int32_t uStride = 0;
  int32_t vStride = 0;
  uint64_t timeStamp = 0;  // microseconds
};

enum AvState : int {
  AV_STATE_PLAYING = 1,
  AV_STATE_PAUSED = 2,
  AV_STATE_STOPPED = 3,
};

enum AvControlMode : int {
  AV_CTRL_PLAY = 1,
  AV_CTRL_PAUSE = 2,
  AV_CTRL_STOP = 3,
};

// The 6-byte audio format record carried by type-1 records (header bytes 6..11).
#pragma pack(push, 1)
struct AvAudioFormat {
  uint32_t format;  // low 16 bits: samples-per-frame index (bits 13..15), rate index (10..12)
  uint16_t extra;
};
#pragma pack(pop)
static_assert(sizeof(AvAudioFormat) == 6);

// The callback table handed to AVCreate. The engine copies it; it may live on
// the caller's stack. Slot order is part of the contract.
struct AvCallbacks {
  const char* FilePath = nullptr;  // NUL-terminated path (bytes, UTF-8 on Linux)
  uint64_t* Duration = nullptr;    // receives last - first time stamp, microseconds

  int (*DecoderInit)() = nullptr;
  int (*AudioDecode)(const uint8_t* frame, uint8_t* pcmOut320) = nullptr;
  int (*VideoDecode)(const uint8_t* data, uint32_t length, uint64_t timeStamp,
                     YuvFrame* frame) = nullptr;
  int (*DecoderExit)() = nullptr;
  void (*StateNotify)(int state) = nullptr;
  void (*AudioFormat)(const AvAudioFormat* format) = nullptr;  // may be null
  int (*AudioRender)(const uint8_t* pcm, uint32_t bytes, uint64_t positionUs) = nullptr;
  void (*VideoRender)(YuvFrame* frame) = nullptr;
  int (*LogText)(const char* text, const wchar_t* wide) = nullptr;
  int (*LogValues)(const wchar_t* label, int64_t a, int64_t b, int64_t c, int64_t d) = nullptr;
};

struct AvEngine;

// Indexes the file, calls DecoderInit, starts the five engine threads and
// reports AV_STATE_PLAYING. Returns null (having undone everything and called
// no callback but, at most, DecoderInit/DecoderExit) on any failure.
AvEngine* AVCreate(const AvCallbacks* callbacks);

// Stops every thread, calls DecoderExit, frees the engine. 0 for null, else 1.
int AVDestroy(AvEngine* engine);

// Moves playback to first time stamp + offsetUs. Blocks until the reader has
// repositioned the file. -1 when the target is outside [first, last].
int AVSeek(AvEngine* engine, uint64_t offsetUs);

// How long after AudioRender accepts a frame that frame is heard, in
// microseconds (the sound output's buffering). Pictures are held that much
// longer, so that each meets its sound. 0 (the default) paces pictures by the
// frames as they are taken. -1 for a null engine, else 1.
int AVSetOutputLatency(AvEngine* engine, uint64_t latencyUs);

// AV_CTRL_PLAY resumes, AV_CTRL_PAUSE pauses, AV_CTRL_STOP stops and rewinds
// (blocking at least 200 ms). 1 for every mode, -1 without an open file.
int AVControl(AvEngine* engine, int mode);
