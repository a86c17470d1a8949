// MediaContext: the state the engine callbacks share with the main window.
// There is one engine at a time, so one process-wide context serves every
// engine; it outlives them all. The main window publishes its window, the
// renderer and the sound output here; DecoderInit and DecoderExit create and
// free the per-engine decoders and picture buffer.
//
// Field groups are labelled with who writes them. Words that one thread
// writes and another reads are atomics, read and written whole; there is no
// lock: the engine never decodes a picture before the previous one was
// rendered or discarded, and DecoderInit/DecoderExit run while no engine
// thread does.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "base/messages.h"
#include "engine/av_engine.h"
#include "video/h264_decoder.h"

class CDirectSound;
class DDrawRenderer;

namespace trevolo::platform {
class Window;
}  // namespace trevolo::platform

// The notification message and its codes, for the callbacks that post them.
using trevolo::PN_DURATION;
using trevolo::PN_FIRST_PICTURE;
using trevolo::PN_PAUSED;
using trevolo::PN_PICTURE_SIZE;
using trevolo::PN_PLAYING;
using trevolo::PN_POSITION;
using trevolo::PN_SNAPSHOT_SAVED;
using trevolo::PN_STOPPED;
using trevolo::WM_PLAYER_NOTIFY;

// One contiguous I420 picture of the largest size the buffers are made for
// (1920 x 1080 x 4: generous, so reads a little past the V plane stay inside).
inline constexpr size_t PICTURE_BUFFER_BYTES = 8'294'400;
// From taking a PCM frame to hearing it through CDirectSound: the wait for
// room in the device (about one 20 ms chunk at most) plus the 60 ms of sound
// the device buffer holds ahead of the play cursor. Measured: 74 to 80 ms.
inline constexpr uint64_t kSoundOutputLatencyUs = 75'000;
// One plane of the largest picture the decoder is allowed to deliver
// (1920 x 1080 luma samples).
inline constexpr size_t PLANE_BUFFER_BYTES = 2'073'600;

inline constexpr int kDefaultVolume = 100;       // percent
inline constexpr int kDefaultJpegQuality = 100;  // 1 to 100

// Milliseconds of a monotonic clock; the pacing of AudioRender without a
// sound device reads it. Tests install their own.
using MillisecondClock = uint64_t (*)();
uint64_t MonotonicMilliseconds();

// Optional observers for measuring tools (the A/V sync log of play-window).
// Called on the engine's output threads; must not block.
using PictureObserver = void (*)(uint64_t timeStampUs);
using AudioObserver = void (*)(uint64_t positionUs);

struct MediaContext {
  // Set by the main window at start-up (sound output: once the device opens).
  std::atomic<trevolo::MessageTarget*> mainWindow{nullptr};
  std::atomic<DDrawRenderer*> renderer{nullptr};
  std::atomic<trevolo::platform::Window*> videoWindow{nullptr};
  std::atomic<CDirectSound*> soundOutput{nullptr};  // null: no sound device

  // Main window's thread only.
  AvEngine* engine = nullptr;   // set by StartEngine, cleared when destroyed
  uint64_t duration = 0;        // microseconds; written by AVCreate
  std::string filePath;         // UTF-8 bytes, handed to AVCreate

  // Created by DecoderInit, freed by DecoderExit (no engine thread runs then);
  // used by the decode threads in between.
  H264Decoder* videoDecoder = nullptr;
  void* audioDecoder = nullptr;
  H264DecAttr decoderAttr{};
  H264DecPicture decoderPicture{};  // video decode thread
  std::unique_ptr<uint8_t[]> workPicture;  // I420, written by VideoRender only
  // Held while VideoRender writes workPicture's pixels and while the main
  // window copies them (SaveLastPicture), so a paused picture is never torn.
  std::mutex workPictureLock;
  // The size of the picture in workPicture (under workPictureLock): the
  // decoder may already have moved width and height on to the next picture.
  int32_t workWidth = 0;
  int32_t workHeight = 0;
  std::unique_ptr<uint8_t[]> lastPicture;  // survives engines; main window's thread
  int32_t lastWidth = 0;                   // lastPicture's size, same thread
  int32_t lastHeight = 0;

  // Picture size in pixels; 0 until the first decoded picture. Written by the
  // video decode thread, read by the output thread and the main window.
  std::atomic<int32_t> width{0};
  std::atomic<int32_t> height{0};

  // Flags polled across threads.
  std::atomic<int> stopped{0};            // 1 between a stop report and the next play report
  std::atomic<int> firstPictureShown{0};  // set when 500006 was posted for this engine
  std::atomic<int> snapshotPending{0};    // a snapshot waits for the next rendered picture
  std::atomic<int> jpegQuality{kDefaultJpegQuality};
  std::atomic<int> volume{kDefaultVolume};  // percent, 0 to 100
  std::atomic<int> pacingStarted{0};        // 0: the next AudioRender restarts pacingBase
  // Playback speed in thousandths of normal; set by the main window, applied
  // to every engine, read by AudioRender.
  std::atomic<int> speed{AV_SPEED_NORMAL};

  // Audio output thread only (cleared through pacingStarted by others).
  uint64_t pacingBase = 0;  // milliseconds
  uint64_t pacedUs = 0;     // recording time accepted since pacingBase, microseconds

  std::atomic<MillisecondClock> clock{&MonotonicMilliseconds};
  std::atomic<PictureObserver> pictureShown{nullptr};
  std::atomic<AudioObserver> audioAccepted{nullptr};
};

// The process-wide context.
MediaContext& GetMediaContext();
