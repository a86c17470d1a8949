// A recording through the whole engine: the input as a file image opened with
// AVCreate (stand-in decoders and outputs that read every byte they are given),
// played for a moment, sought, paused and resumed as the input says, then
// destroyed. Catches faults of the reader thread and of teardown that only
// show with the threads running.
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/av_engine.h"
#include "engine/av_format.h"
#include "fuzz/fuzz_util.h"

using trevolo::fuzz::Touch;
using trevolo::fuzz::Use;

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kPlayFor = std::chrono::milliseconds(20);
constexpr int kPictureSide = 16;

std::atomic<int> g_state{0};
uint8_t g_planes[kPictureSide * kPictureSide * 3 / 2];

int Init() { return 1; }
int Exit() { return 1; }
int AudioDecode(const uint8_t* frame, uint8_t* pcm) {
  // Its length is the decoder's business; the stand-in reads none of it.
  if (frame == nullptr) return 1;  // a seek's restart: nothing to write
  std::memset(pcm, 0, 320);
  return 1;
}
int VideoDecode(const uint8_t* data, uint32_t length, uint64_t, YuvFrame* f) {
  Use(Touch(data, length));
  if (!f) return 0;  // decoded for reference only: no picture wanted
  f->y = g_planes;
  f->u = g_planes + kPictureSide * kPictureSide;
  f->v = f->u + kPictureSide * kPictureSide / 4;
  f->yStride = kPictureSide;
  f->uStride = f->vStride = kPictureSide / 2;
  return length > 0 && data[0] != 0xEE;  // some pictures do not decode
}
void StateNotify(int state) { g_state.store(state); }
int AudioRender(const uint8_t* pcm, uint32_t bytes, uint64_t) {
  Use(Touch(pcm, bytes));
  return 1;
}
void VideoRender(YuvFrame* f) { Use(Touch(f->y, kPictureSide) + Touch(f->v, kPictureSide / 2)); }
int LogText(const char*, const wchar_t*) { return 1; }
int LogValues(const wchar_t*, int64_t, int64_t, int64_t, int64_t) { return 1; }

void PlayUntilStoppedOr(Clock::duration limit) {
  const auto until = Clock::now() + limit;
  while (g_state.load() != AV_STATE_STOPPED && Clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trevolo::fuzz::MemoryFile image(data, size);
  uint64_t duration = 0;
  AvCallbacks cb;
  cb.FilePath = image.path().c_str();
  cb.Duration = &duration;
  cb.DecoderInit = Init;
  cb.AudioDecode = AudioDecode;
  cb.VideoDecode = VideoDecode;
  cb.DecoderExit = Exit;
  cb.StateNotify = StateNotify;
  cb.AudioRender = AudioRender;
  cb.VideoRender = VideoRender;
  cb.LogText = LogText;
  cb.LogValues = LogValues;
  g_state.store(0);
  AvEngine* engine = AVCreate(&cb);
  if (engine == nullptr) return 0;
  FUZZ_CHECK(g_state.load() == AV_STATE_PLAYING || g_state.load() == AV_STATE_STOPPED);
  PlayUntilStoppedOr(kPlayFor);

  // The last bytes of the input choose up to three operations: seeks to an
  // offset (within the duration or just past it), pauses and resumes.
  const size_t ops = size >= 4 ? data[size - 1] % 4 : 0;
  for (size_t i = 0; i < ops; ++i) {
    const uint8_t op = data[size - 2 - i];
    switch (op % 4) {
      case 0:
      case 1: {
        // Step 0..62 of the duration, or (63) just past its end.
        const uint64_t step = op >> 2;
        const uint64_t offset = step == 63 ? duration + 1 : duration / 62 * step;
        const int result = AVSeek(engine, offset);
        FUZZ_CHECK(result == (offset <= duration ? 1 : -1));
        PlayUntilStoppedOr(kPlayFor / 3);
        break;
      }
      case 2:
        FUZZ_CHECK(AVControl(engine, AV_CTRL_PAUSE) == 1);
        break;
      case 3:
        FUZZ_CHECK(AVControl(engine, AV_CTRL_PLAY) == 1);
        PlayUntilStoppedOr(kPlayFor / 3);
        break;
    }
  }
  FUZZ_CHECK(AVDestroy(engine) == 1);
  return 0;
}
