// avtool play: runs a real engine headless behind stand-in or real decoders
// and prints its timeline: every state notification as it happens, then a
// summary of what was presented.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/avtool.h"
#include "tools/md5.h"

namespace trevolo::avtool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kAudioFrameTime = std::chrono::milliseconds(20);  // one 160-sample frame at 8 kHz
constexpr int kDeviceFrames = 3;          // stand-in device buffer: 60 ms of sound
constexpr auto kQuietTime = std::chrono::milliseconds(300);  // nothing presented: done
constexpr auto kDrainLimit = std::chrono::seconds(5);

struct Event {
  long long atMs;
  enum Kind { Pause, Resume, Seek } kind;
  uint64_t offsetUs;
};

// Everything the callbacks touch; they are plain functions, so it is global.
struct Session {
  Clock::time_point start;
  bool fast = false;
  const DecoderBackend* backend = nullptr;
  std::FILE* yuv = nullptr;
  std::FILE* pcm = nullptr;
  bool framemd5 = false;

  std::mutex lock;  // guards states and output
  std::vector<int> states;
  std::atomic<int> lastState{0};
  std::atomic<uint64_t> audioFrames{0};
  std::atomic<uint64_t> pictures{0};
  std::atomic<uint64_t> firstPictureUs{0};
  std::atomic<uint64_t> lastPictureUs{0};
  std::atomic<uint64_t> activity{0};  // bumps on every presentation
} g_session;

long long ElapsedMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - g_session.start)
      .count();
}

const char* StateName(int s) {
  switch (s) {
    case AV_STATE_PLAYING: return "playing";
    case AV_STATE_PAUSED: return "paused";
    case AV_STATE_STOPPED: return "stopped";
    default: return "?";
  }
}

// ---- stand-in decoders ---------------------------------------------------------

constexpr int kNullPictureSize = 16;
uint8_t g_nullPlanes[kNullPictureSize * kNullPictureSize * 3 / 2];

int NullInit() { return 1; }
int NullExit() { return 1; }
int NullAudioDecode(const uint8_t*, uint8_t* pcmOut) {
  std::memset(pcmOut, 0, 320);
  return 1;
}
int NullVideoDecode(const uint8_t* data, uint32_t length, uint64_t, YuvFrame* f) {
  // A flat picture whose brightness comes from the packet, so pictures differ.
  const uint8_t shade = length > 5 ? data[5] : 0;
  if (!f) return 0;  // decoded for reference only: no picture wanted
  std::memset(g_nullPlanes, shade, sizeof g_nullPlanes);
  f->y = g_nullPlanes;
  f->u = g_nullPlanes + kNullPictureSize * kNullPictureSize;
  f->v = f->u + kNullPictureSize * kNullPictureSize / 4;
  f->yStride = kNullPictureSize;
  f->uStride = f->vStride = kNullPictureSize / 2;
  return 1;
}
void NullPictureSize(int* w, int* h) { *w = *h = kNullPictureSize; }

const DecoderBackend kNullBackend = {"null", NullInit, NullExit, NullAudioDecode, NullVideoDecode,
                                     NullPictureSize};
DecoderBackendRegistrar regNull(&kNullBackend);

// ---- engine callbacks ------------------------------------------------------------

int CbDecoderInit() { return g_session.backend->init(); }
int CbDecoderExit() { return g_session.backend->exit(); }
int CbAudioDecode(const uint8_t* f, uint8_t* out) { return g_session.backend->audioDecode(f, out); }
int CbVideoDecode(const uint8_t* d, uint32_t n, uint64_t ts, YuvFrame* f) {
  return g_session.backend->videoDecode(d, n, ts, f);
}

void CbStateNotify(int state) {
  std::lock_guard<std::mutex> g(g_session.lock);
  g_session.states.push_back(state);
  g_session.lastState.store(state);
  std::printf("[%7lld ms] state %d (%s)\n", ElapsedMs(), state, StateName(state));
  std::fflush(stdout);
}

void CbAudioFormat(const AvAudioFormat* f) {
  std::lock_guard<std::mutex> g(g_session.lock);
  std::printf("[%7lld ms] audio format 0x%08x 0x%04x\n", ElapsedMs(), f->format, f->extra);
}

int CbAudioRender(const uint8_t* pcm, uint32_t bytes, uint64_t) {
  const uint64_t n = g_session.audioFrames.load();
  if (!g_session.fast) {
    // A device that holds kDeviceFrames frames and plays one every 20 ms:
    // the writer blocks until the frame fits. An underrun restarts it.
    static Clock::time_point deviceEnd;  // when what is buffered has played
    const auto now = Clock::now();
    if (deviceEnd < now) deviceEnd = now;
    std::this_thread::sleep_until(deviceEnd - kAudioFrameTime * (kDeviceFrames - 1));
    deviceEnd += kAudioFrameTime;
  }
  if (g_session.pcm) std::fwrite(pcm, 1, bytes, g_session.pcm);
  g_session.audioFrames.store(n + 1);
  g_session.activity.fetch_add(1);
  return 1;
}

void WritePlanes(const YuvFrame* f, int w, int h, Md5* md5) {
  auto emit = [&](const uint8_t* base, int stride, int cw, int ch) {
    for (int r = 0; r < ch; ++r) {
      const uint8_t* row = base + static_cast<ptrdiff_t>(r) * stride;
      if (g_session.yuv) std::fwrite(row, 1, static_cast<size_t>(cw), g_session.yuv);
      if (md5) md5->update(row, static_cast<size_t>(cw));
    }
  };
  emit(f->y, f->yStride, w, h);
  emit(f->u, f->uStride, w / 2, h / 2);
  emit(f->v, f->vStride, w / 2, h / 2);
}

void CbVideoRender(YuvFrame* f) {
  const uint64_t index = g_session.pictures.load();
  if (index == 0) g_session.firstPictureUs.store(f->timeStamp);
  g_session.lastPictureUs.store(f->timeStamp);
  if (g_session.yuv || g_session.framemd5) {
    int w = 0, h = 0;
    g_session.backend->pictureSize(&w, &h);
    Md5 md5;
    WritePlanes(f, w, h, g_session.framemd5 ? &md5 : nullptr);
    if (g_session.framemd5) {
      std::lock_guard<std::mutex> g(g_session.lock);
      std::printf("%llu %d %d %s\n", static_cast<unsigned long long>(index), w, h,
                  md5.hexDigest().c_str());
    }
  }
  g_session.pictures.store(index + 1);
  g_session.activity.fetch_add(1);
}

int CbLogText(const char*, const wchar_t*) { return 1; }
int CbLogValues(const wchar_t*, int64_t, int64_t, int64_t, int64_t) { return 1; }

// ---- command line -------------------------------------------------------------

bool ParseSeek(const char* s, Event& ev) {
  const char* colon = std::strchr(s, ':');
  if (!colon || colon == s || !colon[1]) return false;
  char* end = nullptr;
  ev.atMs = std::strtoll(s, &end, 10);
  if (end != colon || ev.atMs < 0) return false;
  ev.offsetUs = std::strtoull(colon + 1, &end, 10);
  ev.kind = Event::Seek;
  return *end == '\0' && colon[1] != '-';
}

bool ParsePause(const char* s, std::vector<Event>& events) {
  char* end = nullptr;
  const long long at = std::strtoll(s, &end, 10);
  long long hold = 1000;
  if (end == s || at < 0) return false;
  if (*end == ':') hold = std::strtoll(end + 1, &end, 10);
  if (*end != '\0' || hold < 0) return false;
  events.push_back({at, Event::Pause, 0});
  events.push_back({at + hold, Event::Resume, 0});
  return true;
}

constexpr const char* kUsage =
    "play [--window ...] [--fast] [--decoders null|real] [--pause-at MS[:HOLD_MS]] [--seek MS:OFFSET_US]... "
    "[--yuv OUT] [--pcm OUT] [--framemd5] [--timeout-ms MS] FILE";

struct Options {
  std::vector<Event> events;
  std::string path, decoders = "null", yuvPath, pcmPath;
  long long timeoutMs = -1;
};

int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (!std::strcmp(a, "--fast")) {
      g_session.fast = true;
    } else if (!std::strcmp(a, "--framemd5")) {
      g_session.framemd5 = true;
    } else if (!std::strcmp(a, "--pause-at") && hasValue) {
      if (!ParsePause(argv[++i], o.events)) return Fail("play", "bad --pause-at value");
    } else if (!std::strcmp(a, "--seek") && hasValue) {
      Event ev{};
      if (!ParseSeek(argv[++i], ev)) return Fail("play", "bad --seek value (MS:OFFSET_US)");
      o.events.push_back(ev);
    } else if (!std::strcmp(a, "--decoders") && hasValue) {
      o.decoders = argv[++i];
    } else if (!std::strcmp(a, "--yuv") && hasValue) {
      o.yuvPath = argv[++i];
    } else if (!std::strcmp(a, "--pcm") && hasValue) {
      o.pcmPath = argv[++i];
    } else if (!std::strcmp(a, "--timeout-ms") && hasValue) {
      o.timeoutMs = std::atoll(argv[++i]);
    } else if (a[0] != '-' && o.path.empty()) {
      o.path = a;
    } else {
      return Fail("play", std::string("unexpected argument '") + a + "'; usage: avtool " + kUsage);
    }
  }
  if (o.path.empty()) return Fail("play", std::string("usage: avtool ") + kUsage);
  std::stable_sort(o.events.begin(), o.events.end(),
                   [](const Event& a, const Event& b) { return a.atMs < b.atMs; });
  return kExitOk;
}

void RunEvent(AvEngine* engine, const Event& ev) {
  switch (ev.kind) {
    case Event::Pause:
      AVControl(engine, AV_CTRL_PAUSE);
      break;
    case Event::Resume:
      AVControl(engine, AV_CTRL_PLAY);
      break;
    case Event::Seek: {
      const int r = AVSeek(engine, ev.offsetUs);
      std::lock_guard<std::mutex> g(g_session.lock);
      std::printf("[%7lld ms] seek to +%llu us: %s\n", ElapsedMs(),
                  static_cast<unsigned long long>(ev.offsetUs), r == 1 ? "done" : "refused");
      break;
    }
  }
}

// Plays until the end of the stream has been reported and presentation has
// gone quiet, or until the time limit.
void RunTimeline(AvEngine* engine, const std::vector<Event>& events, long long timeoutMs) {
  size_t next = 0;
  Clock::time_point endSeen{};
  uint64_t lastActivity = 0;
  Clock::time_point lastChange = Clock::now();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const long long now = ElapsedMs();
    while (next < events.size() && events[next].atMs <= now) RunEvent(engine, events[next++]);
    if (timeoutMs >= 0 && now >= timeoutMs) {
      std::printf("[%7lld ms] time limit reached\n", now);
      return;
    }
    const uint64_t activity = g_session.activity.load();
    if (activity != lastActivity) {
      lastActivity = activity;
      lastChange = Clock::now();
    }
    if (next < events.size() || g_session.lastState.load() != AV_STATE_STOPPED) {
      endSeen = {};
      continue;
    }
    if (endSeen == Clock::time_point{}) endSeen = Clock::now();
    if (Clock::now() - lastChange >= kQuietTime || Clock::now() - endSeen >= kDrainLimit) return;
  }
}

int CmdPlay(int argc, char** argv) {
  // In a window, through the player's own media path: a command of its own.
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--window")) {
      std::vector<char*> rest(argv, argv + argc);
      rest.erase(rest.begin() + i);
      rest[0] = const_cast<char*>("play-window");
      return RunCommand("play-window", static_cast<int>(rest.size()), rest.data());
    }
  }
  Options o;
  if (int r = ParseOptions(argc, argv, o); r != kExitOk) return r;
  g_session.backend = FindDecoderBackend(o.decoders);
  if (!g_session.backend) return Fail("play", "no decoders named '" + o.decoders + "' in this build");
  if (!CheckAvFile("play", o.path)) return kExitError;
  if (!o.yuvPath.empty() && !(g_session.yuv = std::fopen(o.yuvPath.c_str(), "wb"))) {
    return Fail("play", o.yuvPath + ": cannot be written");
  }
  if (!o.pcmPath.empty() && !(g_session.pcm = std::fopen(o.pcmPath.c_str(), "wb"))) {
    return Fail("play", o.pcmPath + ": cannot be written");
  }

  uint64_t duration = 0;
  AvCallbacks cb;
  cb.FilePath = o.path.c_str();
  cb.Duration = &duration;
  cb.DecoderInit = CbDecoderInit;
  cb.AudioDecode = CbAudioDecode;
  cb.VideoDecode = CbVideoDecode;
  cb.DecoderExit = CbDecoderExit;
  cb.StateNotify = CbStateNotify;
  cb.AudioFormat = CbAudioFormat;
  cb.AudioRender = CbAudioRender;
  cb.VideoRender = CbVideoRender;
  cb.LogText = CbLogText;
  cb.LogValues = CbLogValues;

  g_session.start = Clock::now();
  AvEngine* engine = AVCreate(&cb);
  if (!engine) return Fail("play", o.path + ": the engine could not open it");
  std::printf("[%7lld ms] opened %s, duration %llu us\n", ElapsedMs(), o.path.c_str(),
              static_cast<unsigned long long>(duration));
  std::fflush(stdout);

  long long timeout = o.timeoutMs;
  if (timeout < 0) {
    const long long lastEvent = o.events.empty() ? 0 : o.events.back().atMs;
    timeout = static_cast<long long>(duration / 1000) * (g_session.fast ? 0 : 1) + lastEvent + 30000;
  }
  RunTimeline(engine, o.events, timeout);
  AVDestroy(engine);
  if (g_session.yuv) std::fclose(g_session.yuv);
  if (g_session.pcm) std::fclose(g_session.pcm);

  std::string states;
  for (int s : g_session.states) {
    if (!states.empty()) states += ',';
    states += std::to_string(s);
  }
  std::printf("states: %s\n", states.c_str());
  std::printf("audio_frames: %llu\n", static_cast<unsigned long long>(g_session.audioFrames.load()));
  std::printf("pictures: %llu\n", static_cast<unsigned long long>(g_session.pictures.load()));
  std::printf("first_picture_us: %llu\n",
              static_cast<unsigned long long>(g_session.firstPictureUs.load()));
  std::printf("last_picture_us: %llu\n",
              static_cast<unsigned long long>(g_session.lastPictureUs.load()));
  return kExitOk;
}

CommandRegistrar reg("play", kUsage, &CmdPlay);

}  // namespace
}  // namespace trevolo::avtool
