// The application's side of the engine's callback table: decoding through
// the H.264 and AMR-NB decoders, presenting pictures through the renderer,
// pushing sound into the sound output, and turning everything the user
// interface must learn into WM_PLAYER_NOTIFY posts to the main window. No
// callback touches a window in any other way, and none waits for it.
//
// Every callback works on the process-wide MediaContext (media_context.h).
#pragma once

#include <cstdint>

#include "engine/av_engine.h"
#include "video/media_context.h"

// The ten callbacks, in the table's slot order.
int DecoderInit();
int AudioDecode(const uint8_t* frame, uint8_t* pcmOut320);
int VideoDecode(const uint8_t* data, uint32_t length, uint64_t timeStamp, YuvFrame* frame);
int DecoderExit();
void StateNotify(int state);
void AudioFormat(const AvAudioFormat* format);
int AudioRender(const uint8_t* pcm, uint32_t bytes, uint64_t positionUs);
void VideoRender(YuvFrame* frame);
int LogText(const char* text, const wchar_t* wide);
int LogValues(const wchar_t* label, int64_t a, int64_t b, int64_t c, int64_t d);

// The table StartEngine hands to AVCreate, pointing at the context's path
// and duration.
AvCallbacks MakeMediaCallbacks();

// Creates the engine for the context's filePath and keeps it in `engine`.
// On success posts PN_DURATION with the duration in milliseconds and returns
// 1; returns 0 when AVCreate refused. The caller destroys any previous
// engine and clears `duration` first.
int StartEngine();

// Forwards a play (1), pause (2) or stop (3) request to the current engine,
// if there is one. Always 0.
int ControlEngine(int mode);

// The playback speed, in thousandths of normal, for the current engine and
// every later one: pictures and sound run that much faster; sound keeps its
// pitch up to twice normal speed and is muted above, and pictures wait for
// the sound as long as it takes to be heard at that speed. Speeds outside
// the engine's range are ignored. PlaybackSpeed() reads it.
void SetPlaybackSpeed(int permille);
int PlaybackSpeed();

// Tells the current engine how long pictures wait for their sound: the
// sound output's latency at the current speed, 0 without a sound output or
// while the sound is muted. For when the sound output opens or closes while
// an engine runs; StartEngine and SetPlaybackSpeed apply it themselves.
void ApplySoundLatency();

// While paused, shows the next (direction > 0) or previous (< 0) picture and
// stays paused: AVStepPicture's result, -1 without an engine.
int StepPicture(int direction);
// Milliseconds from the start of the file to the picture last shown; -1
// without an engine or before its first picture.
int64_t ShownPictureMs();

// Keeps a copy of the picture last handed to the display in lastPicture, so
// it can be shown and saved after its engine is gone or while paused.
void SaveLastPicture();

// Shows one contiguous I420 picture of the context's current size (or of the
// size given) through the renderer, when there is a renderer and a video window.
void PresentPicture(const uint8_t* picture);
void PresentPicture(const uint8_t* picture, int width, int height);
// The same for a picture in three packed planes (strides width, width / 2).
void PresentPlanes(const uint8_t* y, const uint8_t* u, const uint8_t* v, int width, int height);

// Frees lastPicture; the main window calls it when it is destroyed.
void FreeLastPicture();

// Scales `count` signed 16-bit samples in place by volume / 100, truncating
// toward zero. Volumes of 100 and more leave them untouched.
void ScalePcmVolume(int16_t* samples, uint32_t count, int volume);
