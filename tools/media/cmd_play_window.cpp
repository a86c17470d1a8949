// avtool play-window (also reached as `avtool play --window`): plays a
// recording in the player's own window, CTrevoloDlg, exactly as the player
// does (its renderer, sound output, notifications and snapshot button), and
// ends when the file has played, the window was closed or the time limit
// passed. The summary is read from the window's status lines and flags.
//
// --av-log writes, for each picture shown, its time against the audio clock
// at that moment (what the sound device is playing), for sync measurements.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/layout.h"
#include "app/trevolo_dlg.h"
#include "base/messages.h"
#include "platform/file_chooser.h"
#include "platform/ttf_font.h"
#include "platform/window.h"
#include "tools/avtool.h"
#include "tools/media/play_window_report.h"
#include "video/media_callbacks.h"
#include "video/media_context.h"

namespace trevolo::avtool {
namespace {

using Clock = std::chrono::steady_clock;
using app::CTrevoloDlg;

constexpr const char* kName = "play-window";
constexpr const char* kUsage =
    "play-window [--audio-driver NAME] [--snapshot-at MS] [--av-log FILE] [--timeout-ms MS] "
    "[--hidden] [--verbose] FILE";

constexpr int kPumpTimeoutMs = 10;

// Options that earlier versions took, with what to do instead.
struct RemovedOption {
  const char* name;
  const char* reason;
};
constexpr RemovedOption kRemovedOptions[] = {
    {"--size", "the player window has one size"},
    {"--snapshot-path",
     "the snapshot goes where the player puts it; the summary's snapshot line names the file"},
};

struct Options {
  std::string path, audioDriver, avLogPath;
  long long snapshotAtMs = -1;
  long long timeoutMs = -1;
  bool hidden = false;
  bool verbose = false;
};

// One picture shown: its time since the first picture and the audio clock.
struct SyncSample {
  int64_t wallUs;
  int64_t pictureUs;
  int64_t audioUs;  // -1 before any sound was accepted
};

// Filled by the observers on the engine's output threads. `start` and
// `logging` are set before the engine exists and only read afterwards.
struct Measurements {
  Clock::time_point start = Clock::now();
  bool logging = false;
  std::atomic<uint64_t> pictures{0};
  std::atomic<int64_t> audioPositionUs{-1};  // start of the last accepted block
  std::atomic<int64_t> audioAcceptedAtUs{0};
  uint64_t firstPictureTs = 0;  // video output thread only
  std::mutex lock;              // guards samples
  std::vector<SyncSample> samples;
} g_measure;

int64_t SinceStartUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - g_measure.start)
      .count();
}

void OnAudioAccepted(uint64_t positionUs) {
  g_measure.audioAcceptedAtUs.store(SinceStartUs());
  g_measure.audioPositionUs.store(static_cast<int64_t>(positionUs));
}

// What is being heard: with a sound device the accepted block reaches the ear
// one output latency later; without one the accepted frames are the clock.
int64_t AudioClockUs(int64_t nowUs) {
  const bool withSound = GetMediaContext().soundOutput.load() != nullptr;
  return HeardAudioUs(g_measure.audioPositionUs.load(), g_measure.audioAcceptedAtUs.load(), nowUs,
                      withSound ? static_cast<int64_t>(kSoundOutputLatencyUs) : 0);
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

// The last position the engine reported (what PN_POSITION carried), in ms.
int64_t LastPositionMs() {
  const int64_t position = g_measure.audioPositionUs.load();
  return position < 0 ? 0 : position / 1000;
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

bool ParseMs(const char* text, long long* out) {
  char* end = nullptr;
  const long long v = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || v < 0) return false;
  *out = v;
  return true;
}

const RemovedOption* FindRemoved(const std::string& name) {
  for (const RemovedOption& r : kRemovedOptions) {
    if (name == r.name) return &r;
  }
  return nullptr;
}

int ParseOptions(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--hidden") { o.hidden = true; continue; }
    if (a == "--verbose") { o.verbose = true; continue; }
    if (const RemovedOption* removed = FindRemoved(a)) {
      return Fail(kName, a + " is no longer accepted: " + removed->reason);
    }
    bool ok = value != nullptr;
    if (a == "--audio-driver" && ok) o.audioDriver = value;
    else if (a == "--snapshot-at" && ok) ok = ParseMs(value, &o.snapshotAtMs);
    else if (a == "--av-log" && ok) o.avLogPath = value;
    else if (a == "--timeout-ms" && ok) ok = ParseMs(value, &o.timeoutMs);
    else if (a[0] != '-' && o.path.empty()) { o.path = a; continue; }
    else return Fail(kName, "unexpected argument '" + a + "'; usage: avtool " + kUsage);
    if (!ok) return Fail(kName, "bad value for " + a + "; usage: avtool " + kUsage);
    ++i;
  }
  if (o.path.empty()) return Fail(kName, std::string("usage: avtool ") + kUsage);
  return kExitOk;
}

// What the window reports while it plays. The window may report before
// create() returns, when `dlg` is still null.
struct Session {
  CTrevoloDlg* dlg = nullptr;
  PlayWindowReport report;
  bool verbose = false;
};

std::unique_ptr<CTrevoloDlg> OpenWindow(const Options& o, Session& session, std::string* error) {
  app::PlayerOptions options;
  options.hidden = o.hidden;
  // No instance folder: this window never takes part in single-instance
  // hand-over, so it neither steals nor answers a running player's launches.
  options.instanceFolder.clear();
  options.messageBox = [](const std::string& caption, const std::string& text) {
    std::fprintf(stderr, "avtool %s: %s: %s\n", kName, caption.c_str(), text.c_str());
  };
  options.status = [&session](const std::string& line) {
    session.report.onStatus(line, session.dlg != nullptr ? session.dlg->durationMs() : 0);
    if (session.verbose) std::fprintf(stderr, "%s\n", line.c_str());
  };
  return CTrevoloDlg::create(options, error);
}

void InstallObservers(const Options& o) {
  MediaContext& media = GetMediaContext();
  g_measure.logging = !o.avLogPath.empty();
  media.pictureShown.store(&OnPictureShown);
  media.audioAccepted.store(&OnAudioAccepted);
}

// After the window (and with it the engine) is gone.
void RemoveObservers() {
  MediaContext& media = GetMediaContext();
  media.pictureShown.store(nullptr);
  media.audioAccepted.store(nullptr);
}

void ShutDownDisplay() {
  // The window's open-file button may have started GTK, which keeps using
  // fontconfig to the end.
  platform::TtfFont::shutdown(!platform::FileChooser::toolkitStarted());
  platform::Window::shutdown();
}

// Pumps the window until the file has played, the window was closed or the
// time limit passed. The snapshot is taken through the window's own button
// command once its time has come and the window is playing.
// *soundSeen tells whether a sound device was open at some point: the
// window closes it again when the file stops.
EndReason RunLoop(CTrevoloDlg& dlg, const Options& o, const PlayWindowReport& report,
                  bool* soundSeen) {
  app::DialogWindow& window = dlg.window();
  bool snapshotTaken = o.snapshotAtMs < 0;
  while (!report.ended()) {
    *soundSeen = *soundSeen || dlg.soundReady();
    if (!window.pumpOnce(kPumpTimeoutMs)) return EndReason::WindowClosed;
    const long long elapsedMs = SinceStartUs() / 1000;
    if (!snapshotTaken && elapsedMs >= o.snapshotAtMs && dlg.flags().active) {
      window.send(WM_COMMAND, static_cast<uintptr_t>(app::IDC_CAPTURE), 0);
      snapshotTaken = true;
    }
    if (o.timeoutMs >= 0 && elapsedMs >= o.timeoutMs) return EndReason::TimeLimit;
  }
  return EndReason::EndOfFile;
}

int CmdPlayWindow(int argc, char** argv) {
  Options o;
  if (int r = ParseOptions(argc, argv, o); r != kExitOk) return r;
  if (!CheckAvFile(kName, o.path)) return kExitError;
  if (!o.audioDriver.empty()) setenv("SDL_AUDIODRIVER", o.audioDriver.c_str(), 1);

  Session session;
  session.verbose = o.verbose;
  std::string error;
  std::unique_ptr<CTrevoloDlg> dlg = OpenWindow(o, session, &error);
  if (!dlg) {
    ShutDownDisplay();
    return Fail(kName, "cannot open the player window: " + error);
  }
  session.dlg = dlg.get();
  InstallObservers(o);
  g_measure.start = Clock::now();
  dlg->OnFileChosen(o.path);
  const bool started = GetMediaContext().engine != nullptr;

  SummaryFacts facts;
  if (started) {
    bool soundSeen = dlg->soundReady();
    facts.endedBy = RunLoop(*dlg, o, session.report, &soundSeen);
    facts.soundDevice = soundSeen;
    facts.renderer = dlg->window().platformWindow().rendererName();
    facts.snapshotRequested = o.snapshotAtMs >= 0;
  }
  dlg.reset();  // the engine first, then the window's devices
  session.dlg = nullptr;
  RemoveObservers();
  ShutDownDisplay();
  if (!started) return Fail(kName, o.path + ": AVCreate fail");

  facts.picturesShown = g_measure.pictures.load();
  facts.lastPositionMs = LastPositionMs();
  std::fputs(FormatSummary(session.report, facts).c_str(), stdout);
  if (!o.avLogPath.empty() && !WriteSyncLog(o.avLogPath)) {
    return Fail(kName, o.avLogPath + ": cannot be written");
  }
  return kExitOk;
}

CommandRegistrar reg(kName, kUsage, &CmdPlayWindow);

}  // namespace
}  // namespace trevolo::avtool
