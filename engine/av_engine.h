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
  // Decodes one sound packet into 320 bytes of PCM. `frame` is null once
  // after each seek or stop, before the first packet of the new position:
  // what follows does not continue what was decoded before, so a decoder
  // that carries state from frame to frame starts afresh (pcmOut320 is not
  // written then and the result is not used).
  int (*AudioDecode)(const uint8_t* frame, uint8_t* pcmOut320) = nullptr;
  // Decodes one video packet into `frame`; non-zero when a picture came out.
  // `frame` is null for a packet whose picture can never be shown (it lies
  // before the target of a seek that waits for its picture): decode it as a
  // reference for the packets after it, but copy no picture out. The result
  // of such a call is not used.
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

// Playback speed in thousandths of normal (1000: normal speed). The clock, and
// with it the pace of pictures and sound frames, runs that many times faster;
// the output latency stays a wall-clock time. 1 when set, -1 for a null
// engine or a speed outside [AV_SPEED_MIN, AV_SPEED_MAX].
inline constexpr uint32_t AV_SPEED_NORMAL = 1000;
inline constexpr uint32_t AV_SPEED_MIN = 100;
inline constexpr uint32_t AV_SPEED_MAX = 16000;
int AVSetSpeed(AvEngine* engine, uint32_t permille);

// While paused: moves to the next (direction > 0) or previous (direction < 0)
// picture, shows it and stays paused, as a seek made while paused does (state
// reports: playing, then paused once the picture is shown). No sound is
// played meanwhile; the picture is shown as soon as it is decoded. 1 when a
// step was started, 0 when there is no picture that way, -1 for a null
// engine, without an open file, or when not paused (a step still under way
// included).
int AVStepPicture(AvEngine* engine, int direction);

// Microseconds from the first time stamp of the file to the picture last
// shown: where a picture step left the playback, since no sound reports it.
// -1 for a null engine or before the first picture.
int64_t AVShownPosition(AvEngine* engine);

// AV_CTRL_PLAY resumes, AV_CTRL_PAUSE pauses, AV_CTRL_STOP stops and rewinds
// (blocking at least 200 ms). 1 for every mode, -1 without an open file.
int AVControl(AvEngine* engine, int mode);
