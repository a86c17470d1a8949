// avtool play-window (also reached as `avtool play --window`): plays a
// recording in a plain window through the player's real media callbacks,
// renderer and sound output, the way the main window drives them, and ends
// when the file has played or the window is closed.
//
// --av-log writes, for each picture shown, its time against the audio clock
// at that moment (what the sound device is playing), for sync measurements.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/direct_sound.h"
#include "platform/window.h"
#include "tools/avtool.h"
#include "video/ddraw_renderer.h"
#include "video/jpeg_writer.h"
#include "video/media_callbacks.h"
#include "video/media_snapshot.h"

namespace trevolo::avtool {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kName = "play-window";
constexpr const char* kUsage =
    "play-window [--audio-driver NAME] [--snapshot-at MS] [--snapshot-path FILE] "
    "[--size WxH] [--av-log FILE] [--timeout-ms MS] FILE";

constexpr int kPumpTimeoutMs = 10;
constexpr auto kSoundRetry = std::chrono::milliseconds(500);  // sound device not yet open
// The player's stream: 8000 Hz mono 16-bit, one 20 ms frame per chunk.
constexpr unsigned long kChunkBytes = 320;
// A block written now is heard three chunks (60 ms) later.
constexpr int64_t kSoundLatencyUs = 3 * 20'000;
constexpr int kMaxWindowSide = 8192;

struct Options {
  std::string path, audioDriver, snapshotPath, avLogPath;
  long long snapshotAtMs = -1;
  long long timeoutMs = -1;
  int width = 640;
  int height = 360;
};

// One picture shown: its time since the first picture and the audio clock.
struct SyncSample {
  int64_t wallUs;
  int64_t pictureUs;
  int64_t audioUs;  // -1 before any sound was accepted
};

// Filled by the observers on the engine's output threads.
struct Measurements {
  Clock::time_point start = Clock::now();
  std::atomic<uint64_t> pictures{0};
  std::atomic<int64_t> audioPositionUs{-1};  // last accepted block
  std::atomic<int64_t> audioAcceptedAtUs{0};
  std::atomic<bool> withSound{false};
  uint64_t firstPictureTs = 0;  // video output thread only
  std::mutex lock;              // guards samples
  std::vector<SyncSample> samples;
  bool logging = false;
} g_measure;

int64_t SinceStartUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - g_measure.start)
      .count();
}

void OnAudioAccepted(uint64_t positionUs) {
  g_measure.audioAcceptedAtUs.store(SinceStartUs());
  g_measure.audioPositionUs.store(static_cast<int64_t>(positionUs));
}

// What is being heard: with a sound device the last accepted block is still
// three chunks away; without one the accepted frames are the clock.
int64_t AudioClockUs(int64_t nowUs) {
  const int64_t position = g_measure.audioPositionUs.load();
  if (position < 0) return -1;
  const int64_t latency = g_measure.withSound.load() ? kSoundLatencyUs : 0;
  return position - latency + (nowUs - g_measure.audioAcceptedAtUs.load());
}

void OnPictureShown(uint64_t timeStampUs) {
  if (g_measure.pictures.fetch_add(1) == 0) g_measure.firstPictureTs = timeStampUs;
  if (!g_measure.logging) return;
  const int64_t now = SinceStartUs();
  const SyncSample sample{now, static_cast<int64_t>(timeStampUs - g_measure.firstPictureTs),
                          AudioClockUs(now)};
  std::lock_guard<std::mutex> guard(g_measure.lock);
  g_measure.samples.push_back(sample);
}

bool ParseSize(const char* text, int* w, int* h) {
  int width = 0, height = 0;
  char tail = 0;
  if (std::sscanf(text, "%dx%d%c", &width, &height, &tail) != 2) return false;
  if (width <= 0 || height <= 0 || width > kMaxWindowSide || height > kMaxWindowSide) return false;
  *w = width;
  *h = height;
  return true;
}

bool ParseMs(const char* text, long long* out) {
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < 0) return false;
  *out = v;
  return true;
}

int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    bool ok = value != nullptr;
    if (a == "--audio-driver" && ok) o.audioDriver = value;
    else if (a == "--snapshot-at" && ok) ok = ParseMs(value, &o.snapshotAtMs);
    else if (a == "--snapshot-path" && ok) o.snapshotPath = value;
    else if (a == "--av-log" && ok) o.avLogPath = value;
    else if (a == "--timeout-ms" && ok) ok = ParseMs(value, &o.timeoutMs);
    else if (a == "--size" && ok) ok = ParseSize(value, &o.width, &o.height);
    else if (a[0] != '-' && o.path.empty()) { o.path = a; continue; }
    else return Fail(kName, "unexpected argument '" + a + "'; usage: avtool " + kUsage);
    if (!ok) return Fail(kName, "bad value for " + a + "; usage: avtool " + kUsage);
    ++i;
  }
  if (o.path.empty()) return Fail(kName, std::string("usage: avtool ") + kUsage);
  if (o.snapshotPath.empty()) {
    o.snapshotPath = "." + trevolo::snapshotFileName(trevolo::localSnapshotTime());
  }
  if (o.snapshotPath.size() >= kSnapshotPathBytes) return Fail(kName, "snapshot path too long");
  return kExitOk;
}

// The sound output as the main window opens it; null when the device
// cannot be opened (yet).
std::unique_ptr<CDirectSound> OpenSound() {
  _AUDIO_CONFIG format = {1, 1, 8000, 16000, 2, 16, 0};
  auto sound = std::make_unique<CDirectSound>();
  if (sound->CreateDSound(&format, kChunkBytes) != 1) return nullptr;
  sound->Play(0, 1);
  return sound;
}

// What the window learns from the callbacks, on its UI thread.
struct Session {
  bool ended = false;
  bool snapshotSaved = false;
  int width = 0, height = 0;
  uint32_t durationMs = 0;
  uint32_t positionMs = 0;
};

void HandleNotify(Session& s, uintptr_t wParam, intptr_t lParam) {
  // Duration and position carry the code in wParam, the others in lParam.
  if (wParam == PN_DURATION) {
    s.durationMs = static_cast<uint32_t>(lParam);
  } else if (wParam == PN_POSITION) {
    s.positionMs = static_cast<uint32_t>(lParam);
  } else if (lParam == PN_PICTURE_SIZE) {
    s.width = static_cast<int>(wParam >> 16);
    s.height = static_cast<int>(wParam & 0xFFFF);
  } else if (lParam == PN_PAUSED) {
    SaveLastPicture();
  } else if (lParam == PN_SNAPSHOT_SAVED) {
    s.snapshotSaved = true;
  } else if (lParam == PN_STOPPED) {
    s.ended = true;
  }
}

void RequestSnapshot(const std::string& path) {
  MediaContext& media = GetMediaContext();
  SetSnapshotPath(path);
  media.jpegQuality.store(kDefaultJpegQuality);
  media.snapshotPending.store(1);
}

bool WriteSyncLog(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (!f) return false;
  std::fprintf(f, "# wall_us picture_us audio_clock_us (picture time since the first picture)\n");
  std::lock_guard<std::mutex> guard(g_measure.lock);
  for (const SyncSample& s : g_measure.samples) {
    std::fprintf(f, "%lld %lld %lld\n", static_cast<long long>(s.wallUs),
                 static_cast<long long>(s.pictureUs), static_cast<long long>(s.audioUs));
  }
  return std::fclose(f) == 0;
}

// Pumps the window until the file has played, the window was closed or the
// time limit passed; opens the sound device late when it was busy.
void RunLoop(platform::Window& window, const Options& o, Session& s,
             std::unique_ptr<CDirectSound>& sound) {
  MediaContext& media = GetMediaContext();
  bool snapshotRequested = o.snapshotAtMs < 0;
  auto nextSoundTry = Clock::now() + kSoundRetry;
  while (!s.ended && !window.closeRequested()) {
    window.pumpOnce(kPumpTimeoutMs);
    const long long elapsedMs = SinceStartUs() / 1000;
    if (!snapshotRequested && elapsedMs >= o.snapshotAtMs) {
      RequestSnapshot(o.snapshotPath);
      snapshotRequested = true;
    }
    if (!sound && Clock::now() >= nextSoundTry) {
      sound = OpenSound();
      g_measure.withSound.store(sound != nullptr);
      media.soundOutput.store(sound.get());
      nextSoundTry = Clock::now() + kSoundRetry;
    }
    if (o.timeoutMs >= 0 && elapsedMs >= o.timeoutMs) break;
  }
}

// Ends playback the way the main window does: the engine first (its threads
// stop calling back), then the sound output.
void Shutdown(std::unique_ptr<CDirectSound>& sound) {
  MediaContext& media = GetMediaContext();
  if (media.engine != nullptr) {
    AVDestroy(media.engine);
    media.engine = nullptr;
  }
  media.soundOutput.store(nullptr);
  media.renderer.store(nullptr);
  media.videoWindow.store(nullptr);
  media.mainWindow.store(nullptr);
  media.pictureShown.store(nullptr);
  media.audioAccepted.store(nullptr);
  if (sound) {
    sound->Stop();
    sound.reset();
  }
  FreeLastPicture();
}

int CmdPlayWindow(int argc, char** argv) {
  Options o;
  if (int r = ParseOptions(argc, argv, o); r != kExitOk) return r;
  if (!CheckAvFile(kName, o.path)) return kExitError;
  if (!o.audioDriver.empty()) setenv("SDL_AUDIODRIVER", o.audioDriver.c_str(), 1);

  platform::WindowOptions windowOptions;
  windowOptions.title = "Trevolo - " + o.path;
  windowOptions.width = o.width;
  windowOptions.height = o.height;
  std::string error;
  std::unique_ptr<platform::Window> window = platform::Window::create(windowOptions, &error);
  if (!window) return Fail(kName, "cannot open a window: " + error);
  Session session;
  window->setMessageHandler([&session](uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (message == WM_PLAYER_NOTIFY) HandleNotify(session, wParam, lParam);
  });
  DDrawRenderer renderer;
  std::unique_ptr<CDirectSound> sound = OpenSound();
  g_measure.withSound.store(sound != nullptr);
  g_measure.logging = !o.avLogPath.empty();

  MediaContext& media = GetMediaContext();
  media.mainWindow.store(window.get());
  media.renderer.store(&renderer);
  media.videoWindow.store(window.get());
  media.soundOutput.store(sound.get());
  media.pictureShown.store(&OnPictureShown);
  media.audioAccepted.store(&OnAudioAccepted);
  media.filePath = o.path;
  media.duration = 0;
  g_measure.start = Clock::now();
  if (StartEngine() != 1) {
    Shutdown(sound);
    return Fail(kName, o.path + ": AVCreate fail");
  }
  RunLoop(*window, o, session, sound);
  const bool closed = window->closeRequested();
  Shutdown(sound);

  std::printf("duration_ms: %u\n", session.durationMs);
  std::printf("picture_size: %dx%d\n", session.width, session.height);
  std::printf("pictures_shown: %llu\n", static_cast<unsigned long long>(g_measure.pictures.load()));
  std::printf("last_position_ms: %u\n", session.positionMs);
  std::printf("sound_device: %s\n", g_measure.withSound.load() ? "yes" : "no");
  std::printf("renderer: %s\n", window->rendererName().c_str());
  std::printf("ended_by: %s\n", session.ended ? "end of file" : closed ? "window closed" : "time limit");
  if (o.snapshotAtMs >= 0) {
    std::printf("snapshot: %s\n", session.snapshotSaved ? o.snapshotPath.c_str() : "not saved");
  }
  if (!o.avLogPath.empty() && !WriteSyncLog(o.avLogPath)) {
    return Fail(kName, o.avLogPath + ": cannot be written");
  }
  return kExitOk;
}

CommandRegistrar reg(kName, kUsage, &CmdPlayWindow);

}  // namespace
}  // namespace trevolo::avtool
