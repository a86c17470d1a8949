// CPU cost of the engine's own threads: plays a recording in real time behind
// stand-in callbacks (a device that takes one 20 ms frame every 20 ms, decoders
// that do nothing), then holds it paused, and reports the process CPU time of
// each phase as a share of one core. The main thread only sleeps meanwhile.
// It also counts the engine threads' wake-ups (voluntary context switches of
// every thread but the main one) in each phase, beside the pictures and sound
// frames the engine handed out, which is what a wake-up budget is set against.
// Last, the same wake-ups without the engine: threads that only wait for one
// another and for the same due times, the floor this machine's scheduler puts
// under any player that wakes this often.
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "engine/av_engine.h"

namespace {

using Clock = std::chrono::steady_clock;
uint8_t g_planes[16 * 16 * 3 / 2];
Clock::time_point g_deviceEnd;
std::atomic<uint64_t> g_pictures{0};
std::atomic<uint64_t> g_soundFrames{0};

int Init() { return 1; }
int Exit() { return 1; }
int AudioDecode(const uint8_t*, uint8_t* out) {
  std::memset(out, 0, 320);
  return 1;
}
int VideoDecode(const uint8_t*, uint32_t, uint64_t, YuvFrame* f) {
  if (!f) return 0;  // decoded for reference only
  f->y = g_planes;
  f->u = g_planes + 256;
  f->v = g_planes + 320;
  f->yStride = 16;
  f->uStride = f->vStride = 8;
  return 1;
}
void StateNotify(int) {}
int AudioRender(const uint8_t*, uint32_t, uint64_t) {
  g_soundFrames.fetch_add(1);
  const auto frame = std::chrono::milliseconds(20);
  const auto now = Clock::now();
  if (g_deviceEnd < now) g_deviceEnd = now;
  std::this_thread::sleep_until(g_deviceEnd - 2 * frame);
  g_deviceEnd += frame;
  return 1;
}
void VideoRender(YuvFrame*) { g_pictures.fetch_add(1); }
int LogText(const char*, const wchar_t*) { return 1; }
int LogValues(const wchar_t*, int64_t, int64_t, int64_t, int64_t) { return 1; }

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Voluntary context switches of every thread of this process except the
// main one: each is a thread going to sleep, so one wake-up to follow.
uint64_t EngineWakeUps() {
  uint64_t total = 0;
  const std::string self = std::to_string(getpid());
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    if (task.path().filename() == self) continue;
    std::ifstream status(task.path() / "status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) {
        total += std::strtoull(line.c_str() + line.find(':') + 1, nullptr, 10);
      }
    }
  }
  return total;
}

struct Phase {
  double cpuPercent = 0;
  double wakeUps = 0;  // per second, and so the rest
  double pictures = 0;
  double soundFrames = 0;
};

Phase Measure(double seconds) {
  const double cpu0 = CpuSeconds();
  const uint64_t wake0 = EngineWakeUps();
  const uint64_t pictures0 = g_pictures.load();
  const uint64_t frames0 = g_soundFrames.load();
  const auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
  Phase p;
  p.cpuPercent = (CpuSeconds() - cpu0) / wall * 100.0;
  p.wakeUps = static_cast<double>(EngineWakeUps() - wake0) / wall;
  p.pictures = static_cast<double>(g_pictures.load() - pictures0) / wall;
  p.soundFrames = static_cast<double>(g_soundFrames.load() - frames0) / wall;
  return p;
}

// A thread that sleeps until it is woken or its due time comes, as the
// engine's threads do.
struct Sleeper {
  std::mutex lock;
  std::condition_variable wake;
  uint64_t calls = 0;
  void notify() {
    {
      std::lock_guard<std::mutex> g(lock);
      ++calls;
    }
    wake.notify_one();
  }
  // Waits for a notify after `seen` or for `until`; the calls so far.
  uint64_t wait(uint64_t seen, Clock::time_point until = Clock::time_point::max()) {
    std::unique_lock<std::mutex> g(lock);
    if (until == Clock::time_point::max()) {
      wake.wait(g, [&] { return calls != seen; });
    } else {
      wake.wait_until(g, until, [&] { return calls != seen; });
    }
    return calls;
  }
};

// The engine's wake-ups while playing, with nothing done in between: a sound
// device thread woken every 20 ms that wakes a sound decoder every fourth
// frame; a picture thread woken at each picture's due time (40 ms) that wakes
// a picture decoder; a reader that wakes every 400 ms.
Phase WakeUpFloor(double seconds) {
  std::atomic<bool> stop{false};
  Sleeper soundDecoder, pictureDecoder;
  std::thread decoders[2];
  Sleeper* sleepers[2] = {&soundDecoder, &pictureDecoder};
  for (int i = 0; i < 2; ++i) {
    decoders[i] = std::thread([&, i] {
      uint64_t seen = 0;
      while (!stop.load()) seen = sleepers[i]->wait(seen);
    });
  }
  std::thread device([&] {
    auto due = Clock::now();
    for (uint64_t frame = 1; !stop.load(); ++frame) {
      due += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(due);
      if (frame % 4 == 0) soundDecoder.notify();
    }
  });
  std::thread pictures([&] {
    Sleeper clock;
    auto due = Clock::now();
    while (!stop.load()) {
      due += std::chrono::milliseconds(40);
      clock.wait(0, due);
      pictureDecoder.notify();
    }
  });
  std::thread reader([&] {
    Sleeper idle;
    while (!stop.load()) idle.wait(0, Clock::now() + std::chrono::milliseconds(400));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Phase floor = Measure(seconds);
  stop.store(true);
  soundDecoder.notify();
  pictureDecoder.notify();
  for (std::thread* t : {&decoders[0], &decoders[1], &device, &pictures, &reader}) t->join();
  return floor;
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
  const Phase playing = Measure(seconds);
  AVControl(e, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const Phase paused = Measure(seconds);
  AVDestroy(e);
  const Phase floor = WakeUpFloor(seconds);
  std::printf("engine CPU while playing: %.3f%% of one core over %.0f s\n", playing.cpuPercent,
              seconds);
  std::printf("engine CPU while paused:  %.3f%% of one core over %.0f s\n", paused.cpuPercent,
              seconds);
  std::printf("engine wake-ups while playing: %.1f/s (%.1f pictures/s, %.1f sound frames/s)\n",
              playing.wakeUps, playing.pictures, playing.soundFrames);
  std::printf("engine wake-ups while paused:  %.1f/s\n", paused.wakeUps);
  std::printf("the same wake-ups without the engine: %.3f%% of one core, %.1f/s\n",
              floor.cpuPercent, floor.wakeUps);
  return 0;
}
