// Controllable callbacks for running a real engine in tests. The engine takes
// plain function pointers, so the harness state is a single global.
#pragma once

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/av_engine.h"

namespace trevolo::test {

using SteadyClock = std::chrono::steady_clock;

struct RenderedPicture {
  uint64_t timeStamp;
  SteadyClock::time_point at;
  size_t audioAccepted;  // audio frames accepted before this picture was shown
};

enum class AudioMode {
  Instant,   // accepts every frame at once
  RealTime,  // a device that plays one 20 ms frame every 20 ms
  Refuse,    // never accepts
};

struct Harness {
  std::mutex lock;
  std::vector<int> states;
  std::vector<RenderedPicture> pictures;
  std::vector<uint64_t> audioPositions;
  std::vector<uint64_t> decodedVideo;  // time stamps given to VideoDecode
  std::vector<bool> decodedWithFrame;  // whether each of those calls wanted a picture
  std::atomic<int> initCalls{0};
  std::atomic<int> exitCalls{0};
  std::atomic<int> otherCalls{0};  // any callback but init and exit
  std::atomic<int> audioRestarts{0};  // AudioDecode calls with a null frame
  // The player's frames point into the decoder's own picture, which its next
  // call reuses: no packet may be decoded while the picture before it renders.
  std::atomic<bool> rendering{false};
  std::atomic<int> decodesWhileRendering{0};
  std::atomic<AudioMode> audioMode{AudioMode::Instant};
  SteadyClock::time_point deviceEnd{};
  uint8_t planes[64 * 3 / 2] = {};

  void reset() {
    std::lock_guard<std::mutex> g(lock);
    states.clear();
    pictures.clear();
    audioPositions.clear();
    decodedVideo.clear();
    decodedWithFrame.clear();
    initCalls = exitCalls = otherCalls = audioRestarts = decodesWhileRendering = 0;
    rendering = false;
    audioMode = AudioMode::Instant;
    deviceEnd = {};
  }
  std::vector<int> stateLog() {
    std::lock_guard<std::mutex> g(lock);
    return states;
  }
  size_t pictureCount() {
    std::lock_guard<std::mutex> g(lock);
    return pictures.size();
  }
  std::vector<RenderedPicture> pictureLog() {
    std::lock_guard<std::mutex> g(lock);
    return pictures;
  }
  size_t audioCount() {
    std::lock_guard<std::mutex> g(lock);
    return audioPositions.size();
  }
  std::vector<uint64_t> audioLog() {
    std::lock_guard<std::mutex> g(lock);
    return audioPositions;
  }
  int lastState() {
    std::lock_guard<std::mutex> g(lock);
    return states.empty() ? 0 : states.back();
  }
};

inline Harness g_harness;

inline int HInit() { return ++g_harness.initCalls; }
inline int HExit() { return ++g_harness.exitCalls; }
inline int HAudioDecode(const uint8_t* frame, uint8_t* out) {
  ++g_harness.otherCalls;
  if (!frame) {
    ++g_harness.audioRestarts;
    return 1;
  }
  std::memset(out, 0, 320);
  return 1;
}
inline int HVideoDecode(const uint8_t*, uint32_t, uint64_t ts, YuvFrame* f) {
  ++g_harness.otherCalls;
  if (g_harness.rendering.load()) ++g_harness.decodesWhileRendering;
  {
    std::lock_guard<std::mutex> g(g_harness.lock);
    g_harness.decodedVideo.push_back(ts);
    g_harness.decodedWithFrame.push_back(f != nullptr);
  }
  if (!f) return 1;  // decoded as a reference only
  f->y = g_harness.planes;
  f->u = g_harness.planes + 64;
  f->v = g_harness.planes + 80;
  f->yStride = 8;
  f->uStride = f->vStride = 4;
  f->timeStamp = 12345;  // the engine overwrites it with the packet's
  return 1;
}
inline void HStateNotify(int s) {
  ++g_harness.otherCalls;
  std::lock_guard<std::mutex> g(g_harness.lock);
  g_harness.states.push_back(s);
}
inline int HAudioRender(const uint8_t*, uint32_t bytes, uint64_t position) {
  ++g_harness.otherCalls;
  if (bytes != 320) return 0;
  switch (g_harness.audioMode.load()) {
    case AudioMode::Refuse:
      return 0;
    case AudioMode::RealTime: {
      // Holds three frames; the writer waits until the next one fits.
      const auto frame = std::chrono::milliseconds(20);
      const auto now = SteadyClock::now();
      if (g_harness.deviceEnd < now) g_harness.deviceEnd = now;
      std::this_thread::sleep_until(g_harness.deviceEnd - 2 * frame);
      g_harness.deviceEnd += frame;
      break;
    }
    case AudioMode::Instant:
      break;
  }
  std::lock_guard<std::mutex> g(g_harness.lock);
  g_harness.audioPositions.push_back(position);
  return 1;
}
inline void HVideoRender(YuvFrame* f) {
  ++g_harness.otherCalls;
  g_harness.rendering = true;
  {
    std::lock_guard<std::mutex> g(g_harness.lock);
    g_harness.pictures.push_back(
        {f->timeStamp, SteadyClock::now(), g_harness.audioPositions.size()});
  }
  // As long as a copy of a large picture takes, so a decode racing it shows.
  std::this_thread::sleep_for(std::chrono::microseconds(300));
  g_harness.rendering = false;
}
inline int HLogText(const char*, const wchar_t*) { return 1; }
inline int HLogValues(const wchar_t*, int64_t, int64_t, int64_t, int64_t) { return 1; }

inline AvCallbacks HarnessCallbacks(const char* path, uint64_t* duration) {
  AvCallbacks cb;
  cb.FilePath = path;
  cb.Duration = duration;
  cb.DecoderInit = HInit;
  cb.AudioDecode = HAudioDecode;
  cb.VideoDecode = HVideoDecode;
  cb.DecoderExit = HExit;
  cb.StateNotify = HStateNotify;
  cb.AudioFormat = nullptr;
  cb.AudioRender = HAudioRender;
  cb.VideoRender = HVideoRender;
  cb.LogText = HLogText;
  cb.LogValues = HLogValues;
  return cb;
}

// Polls `cond` every millisecond until it holds or `limit` passes.
template <typename Cond>
bool WaitFor(Cond cond, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
  const auto end = SteadyClock::now() + limit;
  while (SteadyClock::now() < end) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return cond();
}

}  // namespace trevolo::test

// The fixture every threaded engine test starts from: a fresh harness, a
// scratch folder, an engine opened through the harness callbacks and
// destroyed at the end, and a wait for a number of state reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "test_files.h"

namespace trevolo::test {

class EngineFixture : public ::testing::Test {
 protected:
  void SetUp() override { g_harness.reset(); }
  void TearDown() override {
    if (m_engine) AVDestroy(m_engine);
    EXPECT_EQ(g_harness.decodesWhileRendering.load(), 0)
        << "a packet was decoded while the picture before it was being rendered";
  }

  AvEngine* open(const std::string& path) {
    m_path = path;
    AvCallbacks cb = HarnessCallbacks(m_path.c_str(), &m_duration);
    m_engine = AVCreate(&cb);
    return m_engine;
  }

  bool waitForState(int state, size_t count = 1,
                    std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    return WaitFor([&] {
      auto s = g_harness.stateLog();
      return static_cast<size_t>(std::count(s.begin(), s.end(), state)) >= count;
    }, limit);
  }

  TempDir m_dir;
  std::string m_path;
  uint64_t m_duration = 0;
  AvEngine* m_engine = nullptr;
};

}  // namespace trevolo::test
