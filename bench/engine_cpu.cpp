// CPU cost of the engine's own threads: plays a recording in real time behind
// stand-in callbacks (a device that takes one 20 ms frame every 20 ms, decoders
// that do nothing), then holds it paused, and reports the process CPU time of
// each phase as a share of one core. The main thread only sleeps meanwhile.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "engine/av_engine.h"

namespace {

using Clock = std::chrono::steady_clock;
uint8_t g_planes[16 * 16 * 3 / 2];
Clock::time_point g_deviceEnd;

int Init() { return 1; }
int Exit() { return 1; }
int AudioDecode(const uint8_t*, uint8_t* out) {
  std::memset(out, 0, 320);
  return 1;
}
int VideoDecode(const uint8_t*, uint32_t, uint64_t, YuvFrame* f) {
  f->y = g_planes;
  f->u = g_planes + 256;
  f->v = g_planes + 320;
  f->yStride = 16;
  f->uStride = f->vStride = 8;
  return 1;
}
void StateNotify(int) {}
int AudioRender(const uint8_t*, uint32_t, uint64_t) {
  const auto frame = std::chrono::milliseconds(20);
  const auto now = Clock::now();
  if (g_deviceEnd < now) g_deviceEnd = now;
  std::this_thread::sleep_until(g_deviceEnd - 2 * frame);
  g_deviceEnd += frame;
  return 1;
}
void VideoRender(YuvFrame*) {}
int LogText(const char*, const wchar_t*) { return 1; }
int LogValues(const wchar_t*, int64_t, int64_t, int64_t, int64_t) { return 1; }

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

double Measure(double seconds) {
  const double cpu0 = CpuSeconds();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  return (CpuSeconds() - cpu0) / wall * 100.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: engine_cpu FILE [SECONDS]\n");
    return 2;
  }
  const double seconds = argc > 2 ? std::atof(argv[2]) : 60.0;
  uint64_t duration = 0;
  AvCallbacks cb;
  cb.FilePath = argv[1];
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
  AvEngine* e = AVCreate(&cb);
  if (!e) {
    std::fprintf(stderr, "engine_cpu: cannot open %s\n", argv[1]);
    return 1;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // past the start-up
  const double playing = Measure(seconds);
  AVControl(e, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const double paused = Measure(seconds);
  AVDestroy(e);
  std::printf("engine CPU while playing: %.3f%% of one core over %.0f s\n", playing, seconds);
  std::printf("engine CPU while paused:  %.3f%% of one core over %.0f s\n", paused, seconds);
  return 0;
}
