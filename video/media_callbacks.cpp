#include "video/media_callbacks.h"

#include <chrono>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "audio/amr_decoder.h"
#include "audio/direct_sound.h"
#include "base/messages.h"
#include "video/media_snapshot.h"
#include "video/sound_speed.h"

namespace {

// Decoder set-up: the picture size limit keeps every picture inside the
// work picture (120 x 67 macroblocks = 1920 x 1072, two reference frames,
// interlaced pictures deinterlaced, no worker threads: the decoder runs on
// the engine's video decode thread alone).
constexpr uint32_t kMaxWidthMbs = 120;
constexpr uint32_t kMaxHeightMbs = 67;
constexpr uint32_t kRefFrames = 2;

// How long VideoDecode keeps draining the decoder after an error.
constexpr uint64_t kDrainLimitMs = 100;

// Without a sound device, or while the sound is muted at a high speed, one
// 20 ms PCM frame is accepted per 20 ms of recording at the playback speed.
constexpr uint64_t kPcmFrameUs = 20'000;
// Room for the largest PCM block scaled per call (the engine's are 320 bytes).
constexpr uint32_t kMaxPcmBlockBytes = 4096;
// The sound output takes whole blocks of this size (its chunk).
constexpr uint32_t kSoundBlockBytes = SoundSpeed::kBlockSamples * 2;
// A frame whose position is further than this from where the last one
// ended starts a new stretch of sound (a seek, a stop, a step, a new file):
// what the stretcher still holds belongs to the old position. Closer ones
// are time stamp jitter.
constexpr uint64_t kSoundJumpUs = 20'000;
constexpr uint64_t kNoPosition = UINT64_MAX;

// The sound at other speeds: the stretcher and where the last accepted frame
// ended. Audio output thread only; DecoderInit resets it while no engine
// thread runs.
struct SpeedSound {
  SoundSpeed stretcher;
  uint64_t nextPositionUs = kNoPosition;
};
SpeedSound g_speedSound;

// Posts a notification. A missing main window (start-up, tests, headless
// tools) drops it rather than posting nowhere.
void Notify(uintptr_t wParam, intptr_t lParam) {
  trevolo::MessageTarget* window = GetMediaContext().mainWindow.load();
  if (window != nullptr) window->post(WM_PLAYER_NOTIFY, wParam, lParam);
}

// Milliseconds travel in the low 32 bits of lParam.
intptr_t LowMilliseconds(uint64_t microseconds) {
  return static_cast<intptr_t>(static_cast<uint32_t>(microseconds / 1000));
}

size_t LumaBytes(int width, int height) {
  return static_cast<size_t>(width) * static_cast<size_t>(height);
}

// Copies `rows` rows of `rowBytes` from a strided plane into packed memory.
void CopyPlane(uint8_t* out, const uint8_t* in, int stride, int rowBytes, int rows) {
  if (stride == rowBytes) {
    std::memcpy(out, in, static_cast<size_t>(rowBytes) * static_cast<size_t>(rows));
    return;
  }
  for (int r = 0; r < rows; ++r) {
    std::memcpy(out + static_cast<size_t>(r) * rowBytes, in + static_cast<ptrdiff_t>(r) * stride,
                static_cast<size_t>(rowBytes));
  }
}

// Copies bytes with stores that go around the cache: for a large buffer
// that is not read again soon, it saves reading the destination in first
// and keeps the cache for what is.
void StreamCopy(uint8_t* out, const uint8_t* in, size_t bytes) {
#if defined(__SSE2__)
  const size_t head = (16 - (reinterpret_cast<uintptr_t>(out) & 15)) & 15;
  if (bytes < head + 64) {
    std::memcpy(out, in, bytes);
    return;
  }
  std::memcpy(out, in, head);
  size_t done = head;
  for (; done + 64 <= bytes; done += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + done), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + done + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + done + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(out + done + 48), d);
  }
  _mm_sfence();  // the streamed bytes are visible before the lock is let go
  std::memcpy(out + done, in + done, bytes - done);
#else
  std::memcpy(out, in, bytes);
#endif
}

// After a decoder error, pull out what it still holds with empty calls until
// it delivers a picture, within the drain limit.
int32_t DrainAfterError(MediaContext& media, uint64_t startMs) {
  const MillisecondClock clock = media.clock.load();
  for (;;) {
    const int32_t result =
        H264DecDecode(media.videoDecoder, nullptr, 0, 0, &media.decoderPicture, 0);
    if (result == H264_DEC_PICTURE) return result;
    if (clock() - startMs > kDrainLimitMs) return result;
  }
}

// Publishes a new picture size; the same size never posts twice in a row.
void NotePictureSize(MediaContext& media, int width, int height) {
  if (width == media.width.load() && height == media.height.load()) return;
  media.width.store(width);
  media.height.store(height);
  Notify((static_cast<uintptr_t>(width) << 16) + static_cast<uintptr_t>(height), PN_PICTURE_SIZE);
}

// Carries out a pending snapshot from the picture just copied: one attempt,
// then the request is gone whether or not it succeeded.
void TakePendingSnapshot(MediaContext& media, int width, int height) {
  if (media.snapshotPending.load() == 0) return;
  if (WriteJpegSnapshot(media.workPicture.get(), width, height, media.jpegQuality.load()) == 1) {
    Notify(0, PN_SNAPSHOT_SAVED);
  }
  media.snapshotPending.store(0);
}

// Pacing by the clock: true when the next 20 ms frame is due, the recording
// time accepted since pacingBase running `permille` / 1000 times as fast as
// the clock.
bool PcmFrameDue(MediaContext& media, uint64_t nowMs, int permille) {
  const uint64_t elapsedUs =
      (nowMs - media.pacingBase) * static_cast<uint64_t>(permille);  // ms x permille = us
  if (elapsedUs < media.pacedUs + kPcmFrameUs) return false;
  media.pacedUs += kPcmFrameUs;
  return true;
}

// Hands one PCM block to the sound output at the given volume. The block is
// scaled in a copy: the engine offers the same block again when the device
// refuses it, and scaling it in place would lower it once per offer.
bool WriteScaled(CDirectSound& sound, const uint8_t* pcm, uint32_t bytes, int volume) {
  alignas(int16_t) static thread_local uint8_t scaled[kMaxPcmBlockBytes];
  if (bytes > sizeof scaled || volume >= 100) {
    // Full volume needs no copy; a block larger than any the engine makes
    // goes out unscaled rather than being refused for ever.
    return sound.WriteDataToBuf(const_cast<uint8_t*>(pcm), bytes) != 0;
  }
  std::memcpy(scaled, pcm, bytes);
  ScalePcmVolume(reinterpret_cast<int16_t*>(scaled), bytes / 2, volume);
  return sound.WriteDataToBuf(scaled, bytes) != 0;
}

// Writes the stretched blocks that are ready; false when the device refused
// one, which stays for the next call.
bool WriteStretched(SoundSpeed& stretcher, CDirectSound& sound, int volume) {
  while (stretcher.hasBlock()) {
    if (!WriteScaled(sound, reinterpret_cast<const uint8_t*>(stretcher.block()), kSoundBlockBytes,
                     volume)) {
      return false;
    }
    stretcher.popBlock();
  }
  return true;
}

// Hands one PCM frame to the sound output at `permille`, its pitch kept. At
// normal speed, with nothing held from another speed, it goes out as it is;
// otherwise through the stretcher, which gives out fewer (faster) or more
// (slower) whole blocks than it takes. Blocks the device refused are written
// before the frame is taken: false then means the frame was not taken.
bool WriteSound(MediaContext& media, CDirectSound& sound, const uint8_t* pcm, uint32_t bytes,
                int permille) {
  SoundSpeed& stretcher = g_speedSound.stretcher;
  const int volume = media.volume.load();
  if (bytes > kMaxPcmBlockBytes ||
      (permille == SoundSpeed::kNormalSpeed && stretcher.empty() && !stretcher.fadesIn())) {
    return WriteScaled(sound, pcm, bytes, volume);
  }
  if (!WriteStretched(stretcher, sound, volume)) return false;
  stretcher.setSpeed(permille);
  // Without memory for the stretcher the frame goes out unstretched.
  if (!stretcher.put(pcm, bytes / 2)) return WriteScaled(sound, pcm, bytes, volume);
  WriteStretched(stretcher, sound, volume);
  return true;
}

// Muting at a high speed: what the stretcher holds is faded out and written,
// so the sound stops without a click. A device that refuses it is not waited
// for: the rest is dropped.
void FinishSound(MediaContext& media, CDirectSound& sound) {
  SoundSpeed& stretcher = g_speedSound.stretcher;
  if (stretcher.empty()) return;
  stretcher.finish();
  if (!WriteStretched(stretcher, sound, media.volume.load())) stretcher.clear();
}

// Drops what the stretcher holds when this frame does not follow the last
// one accepted.
void NoteSoundPosition(uint64_t positionUs) {
  const uint64_t expected = g_speedSound.nextPositionUs;
  const uint64_t distance = positionUs > expected ? positionUs - expected : expected - positionUs;
  if (expected == kNoPosition || distance > kSoundJumpUs) g_speedSound.stretcher.clear();
}

// How long after AudioRender takes a frame it is heard at `permille`, in
// wall-clock microseconds: the device's own latency plus what the stretcher
// holds, played at that speed. 0 when the sound is muted: nothing to wait for.
uint64_t SoundLatencyUs(int permille) {
  if (permille > SoundSpeed::kMaxPitchKeptSpeed) return 0;
  return kSoundOutputLatencyUs +
         SoundSpeed::QueuedMediaUs(permille) * SoundSpeed::kNormalSpeed /
             static_cast<uint64_t>(permille);
}

// Hands the context's speed, and the picture delay that goes with it, to the
// current engine.
void ApplySpeed(MediaContext& media) {
  AVSetSpeed(media.engine, static_cast<uint32_t>(media.speed.load()));
  ApplySoundLatency();
}

}  // namespace

uint64_t MonotonicMilliseconds() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

MediaContext& GetMediaContext() {
  static MediaContext context;
  return context;
}

int DecoderInit() {
  MediaContext& media = GetMediaContext();
  // Nothing of the previous file carries over: a stop it reported must not
  // drop this file's first pictures and sound.
  media.stopped.store(0);
  media.pacingStarted.store(0);
  g_speedSound.stretcher.clear();
  g_speedSound.nextPositionUs = kNoPosition;
  // A snapshot asked for while the last file played, whose next picture
  // never came, is not taken from this file's first picture.
  media.snapshotPending.store(0);
  media.width.store(0);
  media.height.store(0);
  media.decoderAttr = H264DecAttr{};
  media.decoderAttr.maxWidthMbs = kMaxWidthMbs;
  media.decoderAttr.maxHeightMbs = kMaxHeightMbs;
  media.decoderAttr.refFrames = kRefFrames;
  media.decoderAttr.options = H264_OPT_DEINTERLACE;
  media.workPicture.reset(new (std::nothrow) uint8_t[PICTURE_BUFFER_BYTES]);
  {
    std::lock_guard<std::mutex> guard(media.workPictureLock);
    media.workWidth = media.workHeight = 0;
  }
  // A failed set-up is left for DecoderExit to undo: the engine plays on
  // either way, showing nothing without a video decoder and staying silent
  // without an audio decoder.
  media.videoDecoder = H264DecCreate(&media.decoderAttr);
  if (media.videoDecoder == nullptr) return 0;
  if (AMR_Decode_Init(&media.audioDecoder) != kAmrOk) return 0;
  return 1;
}

int AudioDecode(const uint8_t* frame, uint8_t* pcmOut320) {
  MediaContext& media = GetMediaContext();
  if (frame == nullptr) {
    // After a seek or stop: the speech decoder's memory of the old position
    // would turn the first frames of the new one into a loud burst.
    // A decoder that could not be made before is tried again here.
    if (media.audioDecoder != nullptr) AMR_Decode_Exit(&media.audioDecoder);
    AMR_Decode_Init(&media.audioDecoder);
    return 1;
  }
  if (media.audioDecoder == nullptr) {
    // Without a decoder every frame is silence, not whatever the block held.
    std::memset(pcmOut320, 0, 320);
    return 1;
  }
  // The result is not needed: a refused frame leaves silence or the previous
  // block in the output, which the engine plays either way.
  AMR_Decode_Frame(media.audioDecoder, frame, reinterpret_cast<int16_t*>(pcmOut320), 0);
  return 1;
}

int VideoDecode(const uint8_t* data, uint32_t length, uint64_t timeStamp, YuvFrame* frame) {
  MediaContext& media = GetMediaContext();
  // Without a decoder (its set-up failed) there is nothing to decode or drain.
  if (media.videoDecoder == nullptr) return 0;
  int32_t result = H264DecDecode(media.videoDecoder, data, length, timeStamp,
                                 &media.decoderPicture, 0);
  const uint64_t decodedAtMs = media.clock.load()();
  if (result == H264_DEC_NO_PICTURE) return 0;
  if (result != H264_DEC_PICTURE) result = DrainAfterError(media, decodedAtMs);
  if (result != H264_DEC_PICTURE || frame == nullptr) return 0;

  const H264DecPicture& picture = media.decoderPicture;
  const int width = static_cast<int>(picture.width);
  const int height = static_cast<int>(picture.height);
  // A picture beyond the largest the player shows is refused; the decoder
  // limits keep well inside it, so this only guards against a changed limit.
  if (width <= 0 || height <= 0 || LumaBytes(width, height) > PLANE_BUFFER_BYTES) return 0;
  NotePictureSize(media, width, height);

  // The frame points at the decoder's own packed planes: they stay valid
  // until its next call, and the engine decodes the next packet only after
  // this picture was rendered or discarded, so no copy is needed to keep it.
  frame->y = picture.y;
  frame->u = picture.u;
  frame->v = picture.v;
  frame->yStride = width;
  frame->uStride = width / 2;
  frame->vStride = width / 2;
  frame->timeStamp = picture.timeStamp;
  return 1;
}

int DecoderExit() {
  MediaContext& media = GetMediaContext();
  media.firstPictureShown.store(0);
  AMR_Decode_Exit(&media.audioDecoder);
  if (media.videoDecoder != nullptr) {
    H264DecDestroy(media.videoDecoder);
    media.videoDecoder = nullptr;
  }
  SaveLastPicture();
  media.workPicture.reset();
  {
    std::lock_guard<std::mutex> guard(media.workPictureLock);
    media.workWidth = media.workHeight = 0;
  }
  return 1;
}

void StateNotify(int state) {
  MediaContext& media = GetMediaContext();
  if (media.mainWindow.load() == nullptr) return;
  switch (state) {
    case AV_STATE_PLAYING:
      media.stopped.store(0);
      Notify(0, PN_PLAYING);
      break;
    case AV_STATE_PAUSED:
      Notify(0, PN_PAUSED);
      break;
    case AV_STATE_STOPPED:
      media.stopped.store(1);
      Notify(0, PN_STOPPED);
      break;
    default:
      break;
  }
}

// The sound format is fixed for this player (8000 Hz mono, 16-bit).
void AudioFormat(const AvAudioFormat*) {}

int AudioRender(const uint8_t* pcm, uint32_t bytes, uint64_t positionUs) {
  MediaContext& media = GetMediaContext();
  if (media.stopped.load() != 0) return 0;
  const uint64_t nowMs = media.clock.load()();
  const int permille = media.speed.load();
  if (media.pacingStarted.load() == 0) {
    media.pacingBase = nowMs;
    media.pacedUs = 0;
    media.pacingStarted.store(1);
  }
  NoteSoundPosition(positionUs);
  CDirectSound* sound = media.soundOutput.load();
  if (sound != nullptr && permille <= SoundSpeed::kMaxPitchKeptSpeed) {
    // The device takes the sound at its own pace, which paces the engine.
    if (!WriteSound(media, *sound, pcm, bytes, permille)) return 0;
  } else {
    // No device, or muted: frames are taken by the clock and not heard.
    if (sound != nullptr) FinishSound(media, *sound);
    if (!PcmFrameDue(media, nowMs, permille)) return 0;
  }
  g_speedSound.nextPositionUs = positionUs + kPcmFrameUs;
  if (AudioObserver observer = media.audioAccepted.load()) observer(positionUs);
  Notify(PN_POSITION, LowMilliseconds(positionUs));
  return 1;
}

void VideoRender(YuvFrame* frame) {
  MediaContext& media = GetMediaContext();
  const int width = media.width.load();
  const int height = media.height.load();
  if (frame == nullptr || media.stopped.load() != 0 || width == 0 || height == 0 ||
      !media.workPicture || media.renderer.load() == nullptr ||
      media.videoWindow.load() == nullptr) {
    return;
  }
  if (media.firstPictureShown.load() == 0) {
    Notify(0, PN_FIRST_PICTURE);
    media.firstPictureShown.store(1);
  }
  uint8_t* work = media.workPicture.get();
  const size_t lumaBytes = LumaBytes(width, height);
  // A picture in packed planes goes to the display first, straight from the
  // decoder, while its rows are still in the cache; the copy kept for
  // snapshots and pausing is read only then, so it bypasses the cache.
  const bool packed = frame->yStride == width && frame->uStride == width / 2 &&
                      frame->vStride == width / 2;
  if (packed) PresentPlanes(frame->y, frame->u, frame->v, width, height);
  {
    std::lock_guard<std::mutex> guard(media.workPictureLock);
    if (packed) {
      StreamCopy(work, frame->y, lumaBytes);
      StreamCopy(work + lumaBytes, frame->u, lumaBytes / 4);
      StreamCopy(work + lumaBytes + lumaBytes / 4, frame->v, lumaBytes / 4);
    } else {
      CopyPlane(work, frame->y, frame->yStride, width, height);
      CopyPlane(work + lumaBytes, frame->u, frame->uStride, width / 2, height / 2);
      CopyPlane(work + lumaBytes + lumaBytes / 4, frame->v, frame->vStride, width / 2,
                height / 2);
    }
    media.workWidth = width;
    media.workHeight = height;
  }
  TakePendingSnapshot(media, width, height);
  if (!packed) PresentPicture(work, width, height);
  if (PictureObserver observer = media.pictureShown.load()) observer(frame->timeStamp);
}

// The engine never calls the two log slots; they exist because the table
// must be complete.
int LogText(const char*, const wchar_t*) { return 1; }
int LogValues(const wchar_t*, int64_t, int64_t, int64_t, int64_t) { return 1; }

AvCallbacks MakeMediaCallbacks() {
  MediaContext& media = GetMediaContext();
  AvCallbacks table;
  table.FilePath = media.filePath.c_str();
  table.Duration = &media.duration;
  table.DecoderInit = DecoderInit;
  table.AudioDecode = AudioDecode;
  table.VideoDecode = VideoDecode;
  table.DecoderExit = DecoderExit;
  table.StateNotify = StateNotify;
  table.AudioFormat = AudioFormat;
  table.AudioRender = AudioRender;
  table.VideoRender = VideoRender;
  table.LogText = LogText;
  table.LogValues = LogValues;
  return table;
}

int StartEngine() {
  MediaContext& media = GetMediaContext();
  const AvCallbacks table = MakeMediaCallbacks();
  media.engine = AVCreate(&table);
  if (media.engine == nullptr) return 0;
  ApplySpeed(media);
  Notify(PN_DURATION, LowMilliseconds(media.duration));
  return 1;
}

int ControlEngine(int mode) {
  MediaContext& media = GetMediaContext();
  if (media.engine != nullptr) AVControl(media.engine, mode);
  return 0;
}

void SetPlaybackSpeed(int permille) {
  if (permille < static_cast<int>(AV_SPEED_MIN) || permille > static_cast<int>(AV_SPEED_MAX)) {
    return;
  }
  MediaContext& media = GetMediaContext();
  if (media.speed.exchange(permille) == permille) return;
  // Clock pacing starts again from the next frame at the new speed.
  media.pacingStarted.store(0);
  if (media.engine != nullptr) ApplySpeed(media);
}

int PlaybackSpeed() { return GetMediaContext().speed.load(); }

void ApplySoundLatency() {
  MediaContext& media = GetMediaContext();
  if (media.engine == nullptr) return;
  // With a sound device, pictures wait for their sound to come out of it.
  const bool withSound = media.soundOutput.load() != nullptr;
  AVSetOutputLatency(media.engine, withSound ? SoundLatencyUs(media.speed.load()) : 0);
}

int StepPicture(int direction) {
  MediaContext& media = GetMediaContext();
  return media.engine != nullptr ? AVStepPicture(media.engine, direction) : -1;
}

int64_t ShownPictureMs() {
  const int64_t us = AVShownPosition(GetMediaContext().engine);
  return us < 0 ? -1 : us / 1000;
}

void SaveLastPicture() {
  MediaContext& media = GetMediaContext();
  if (!media.workPicture) return;
  if (!media.lastPicture) {
    media.lastPicture.reset(new (std::nothrow) uint8_t[PICTURE_BUFFER_BYTES]);
    if (!media.lastPicture) return;
  }
  std::lock_guard<std::mutex> guard(media.workPictureLock);
  const size_t bytes = LumaBytes(media.workWidth, media.workHeight) * 3 / 2;
  std::memcpy(media.lastPicture.get(), media.workPicture.get(),
              bytes < PICTURE_BUFFER_BYTES ? bytes : PICTURE_BUFFER_BYTES);
  media.lastWidth = media.workWidth;
  media.lastHeight = media.workHeight;
}

void FreeLastPicture() { GetMediaContext().lastPicture.reset(); }

void ScalePcmVolume(int16_t* samples, uint32_t count, int volume) {
  if (volume >= 100) return;
  const double factor = (volume < 0 ? 0 : volume) / 100.0;
  for (uint32_t i = 0; i < count; ++i) {
    samples[i] = static_cast<int16_t>(samples[i] * factor);
  }
}
