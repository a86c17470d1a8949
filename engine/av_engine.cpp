// AVCreate, AVDestroy, AVSeek, AVControl: the engine's outside surface, and
// the creation and teardown of its queues and threads.
#include <pthread.h>

#include <algorithm>
#include <filesystem>
#include <new>
#include <system_error>

#include "engine/engine_internal.h"

namespace trevolo {
namespace {

std::atomic<uint64_t (*)()> g_clockOverride{nullptr};
std::atomic<int> g_failThreadStart{0};  // n-th start fails (1-based), 0 = never
std::atomic<int> g_threadStarts{0};
std::atomic<bool> g_failReader{false};

bool FileExists(const char* path) {
  std::error_code ec;
  return std::filesystem::exists(std::filesystem::path(path), ec);
}

// One ready flag covers the video ring and the decoded-frame slot.
void SetVideoSideReady(AvEngine* e, bool ready) {
  e->videoRing.ready.store(ready);
  e->decoded.ready.store(ready);
}

// Audio side first: its locks, slots and indices, the PCM block, the decode thread.
bool CreateAudioSide(AvEngine* e) {
  e->audioRing.clear();
  e->pcm.clear();
  if (!e->pcm.allocate()) {
    e->audioRing.ready.store(false);
    return false;
  }
  e->audioDecodeStop.store(false);
  if (!StartThread(e->audioDecodeThread, "av-adecode", AudioDecodeThreadMain, e)) {
    e->pcm.free();
    return false;
  }
  e->audioRing.ready.store(true);
  return true;
}

bool CreateVideoSide(AvEngine* e) {
  e->decoded.clear();
  if (!e->videoRing.allocate()) {
    SetVideoSideReady(e, false);
    return false;
  }
  e->videoDecodeStop.store(false);
  if (!StartThread(e->videoDecodeThread, "av-vdecode", VideoDecodeThreadMain, e)) {
    e->videoRing.free();
    return false;
  }
  SetVideoSideReady(e, true);
  return true;
}

void DestroyAudioSide(AvEngine* e) {
  e->audioRing.ready.store(false);
  if (e->audioDecodeThread.joinable()) {
    e->audioDecodeStop.store(true);
    e->audioDecodeWake.notify();
    e->audioDecodeThread.join();
  }
  e->pcm.free();
}

void DestroyVideoSide(AvEngine* e) {
  SetVideoSideReady(e, false);
  if (e->videoDecodeThread.joinable()) {
    e->videoDecodeStop.store(true);
    e->videoDecodeWake.notify();
    e->videoDecodeThread.join();
  }
  e->videoRing.free();
  // The video output thread has ended by now, so this normally passes at once.
  for (int i = 0; i < kReleaseWaitTries && e->decoded.handedOut(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void Join(std::thread& t) {
  if (t.joinable()) t.join();
}

// Ends whatever threads run and releases everything; tolerates a half-built
// engine. Every thread is told to stop before any is waited for, so the
// waits overlap: each wait inside the engine watches its thread's stop flag,
// and the longest a thread can take to see it is one callback (a sound output
// that stops calling back makes AudioRender give up after its own bounded wait).
void Teardown(AvEngine* e, bool decodersInitialised) {
  e->audioOutputRunning.store(false);
  e->videoOutputRunning.store(false);
  e->readerStop.store(true);
  e->videoDecodeStop.store(true);
  e->audioDecodeStop.store(true);
  WakeAll(e);
  Join(e->audioOutputThread);
  Join(e->videoOutputThread);
  e->flushing.store(0);
  WakeAll(e);
  Join(e->readerThread);
  DestroyAudioSide(e);
  DestroyVideoSide(e);
  if (decodersInitialised) e->cb.DecoderExit();
  e->file.close();
  delete e;
}

bool StartOutputThread(std::atomic<bool>& running, std::thread& t, const char* name,
                       void (*f)(AvEngine*), AvEngine* e) {
  running.store(true);
  if (t.joinable()) return true;
  if (StartThread(t, name, f, e)) return true;
  running.store(false);
  return false;
}

bool RequiredSlotsPresent(const AvCallbacks* c) {
  return c->Duration && c->DecoderInit && c->AudioDecode && c->VideoDecode && c->DecoderExit &&
         c->StateNotify && c->AudioRender && c->VideoRender && c->LogText && c->LogValues;
}

// Waits until the reader has taken the command; false when the reader has
// ended and never will (the command is then withdrawn).
bool WaitForReader(AvEngine* e) {
  for (;;) {
    const uint64_t ticket = e->controlWake.ticket();
    if (e->command.load() == AV_CMD_NONE) return true;
    if (e->readerEnded.load()) {
      int cmd = e->command.load();
      if (cmd != AV_CMD_NONE && e->command.compare_exchange_strong(cmd, AV_CMD_NONE)) return false;
      continue;
    }
    // The reader wakes this wait when it takes the command or ends.
    WaitOn(e->controlWake, ticket, std::chrono::steady_clock::now() + kControlPoll);
  }
}

// Waits, within a bound, until the video output thread is not presenting a
// picture; after a pause is stored it then holds.
void WaitForVideoHold(AvEngine* e) {
  const auto end = std::chrono::steady_clock::now() + kPauseHoldWait;
  while (e->videoPresenting.load() && e->videoOutputRunning.load() &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

uint64_t ClockMicros() {
  if (auto* f = g_clockOverride.load()) return f();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  return static_cast<uint64_t>(ms.count()) * 1000u;
}

SteadyTime SteadyTimeOfClockMicros(uint64_t us) {
  // ClockMicros reaches `us` at the start of the millisecond holding it.
  const uint64_t ms = us / 1000 + (us % 1000 != 0);
  return SteadyTime(std::chrono::duration_cast<SteadyTime::duration>(
      std::chrono::milliseconds(static_cast<int64_t>(ms))));
}

void WaitOn(Wake& wake, uint64_t ticket, SteadyTime until) {
  // Every wait is re-checked by its caller, so ending one early costs a look.
  // The bound turns a wake that was somehow missed into a delay, not a hang.
  const auto bound = g_clockOverride.load() ? kPollInterval : kLongestWait;
  wake.wait(ticket, std::min(until, std::chrono::steady_clock::now() + bound));
}

void WakeAll(AvEngine* e) {
  e->readerWake.notify();
  e->videoDecodeWake.notify();
  e->audioDecodeWake.notify();
  e->audioOutputWake.notify();
  e->videoOutputWake.notify();
  e->controlWake.notify();
}

void SetClockMicrosForTesting(uint64_t (*clock)()) { g_clockOverride.store(clock); }

void SetThreadStartFailureForTesting(int nth) {
  g_threadStarts.store(0);
  g_failThreadStart.store(nth);
}

bool StartThread(std::thread& t, const char* name, void (*f)(AvEngine*), AvEngine* e) {
  const int n = ++g_threadStarts;
  if (g_failThreadStart.load() == n) return false;
  try {
    t = std::thread([name, f, e] {
      pthread_setname_np(pthread_self(), name);
      f(e);
    });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

bool ReaderFailsForTesting() { return g_failReader.load(); }

void SetReaderFailureForTesting(bool fail) { g_failReader.store(fail); }

bool SeekPending(AvEngine* e, uint64_t& target) {
  if (e->seekPending.load() == 0) return false;
  target = e->seekTarget.load();
  return true;
}

void SetState(AvEngine* e, int state) {
  e->state.store(state);
  WakeAll(e);
  e->cb.StateNotify(state);
}

}  // namespace trevolo

using namespace trevolo;

AvEngine* AVCreate(const AvCallbacks* callbacks) {
  if (!callbacks || !RequiredSlotsPresent(callbacks)) return nullptr;
  auto* e = new (std::nothrow) AvEngine();
  if (!e) return nullptr;
  e->cb = *callbacks;
  e->cb.FilePath = nullptr;  // the engine keeps its own copy of the path
  auto refuse = [e] {
    e->file.close();
    delete e;
    return static_cast<AvEngine*>(nullptr);
  };
  if (!callbacks->FilePath || !FileExists(callbacks->FilePath)) return refuse();
  try {
    e->path = callbacks->FilePath;
  } catch (const std::bad_alloc&) {
    return refuse();
  }
  if (!e->file.open(callbacks->FilePath)) return refuse();
  if (!e->index.allocate()) return refuse();

  BuildIndex(e->file, e->index);
  e->file.seek(0);
  *callbacks->Duration = e->index.last - e->index.first;

  e->cb.DecoderInit();
  if (!CreateAudioSide(e) || !CreateVideoSide(e)) {
    Teardown(e, true);
    return nullptr;
  }
  // The command and state are set before the reader starts, which reads them.
  e->command.store(AV_CMD_NONE);
  e->state.store(AV_STATE_PLAYING);
  if (!StartThread(e->readerThread, "av-reader", ReaderThreadMain, e) ||
      !StartOutputThread(e->audioOutputRunning, e->audioOutputThread, "av-aout",
                         AudioOutputThreadMain, e) ||
      !StartOutputThread(e->videoOutputRunning, e->videoOutputThread, "av-vout",
                         VideoOutputThreadMain, e)) {
    Teardown(e, true);
    return nullptr;
  }
  // Playing is reported before the reader reads anything, so every later
  // report (the end of a short file included) comes after it.
  e->cb.StateNotify(AV_STATE_PLAYING);
  e->started.store(true);
  e->readerWake.notify();
  return e;
}

int AVDestroy(AvEngine* engine) {
  if (!engine) return 0;
  Teardown(engine, true);
  return 1;
}

namespace {

// Moves playback to the time stamp `target` (within [first, last]); a picture
// step when `step`. Blocks until the reader has repositioned the file.
int SeekTo(AvEngine* e, uint64_t target, bool step) {
  e->flushing.store(1);
  // The clock starts again at the target once the reader has repositioned.
  e->pcm.withClock([](ClockFields& c) { c = ClockFields{}; });
  uint32_t seek = ++e->seekCount;
  if (seek == 0) seek = ++e->seekCount;  // 0 means no seek pending
  e->stepSeek.store(step ? seek : 0);  // before the number, which it is matched with
  e->seekTarget.store(target);
  e->seekPending.store(seek);
  e->command.store(AV_CMD_SEEK);  // only after the target, which the reader reads
  WakeAll(e);
  const bool taken = WaitForReader(e);
  if (!taken) {
    e->seekPending.store(0);
    e->stepSeek.store(0);
  }
  e->flushing.store(0);
  WakeAll(e);
  return taken ? 1 : -1;
}

// The time stamp of the video packet just before the one at `shown`, in
// file order: a walk from the key frame before it, on a reader of its own
// (the engine's belongs to the reader thread). False when there is none.
bool PreviousPictureTs(const AvEngine* e, uint64_t shown, uint64_t& previous) {
  const FrameIndex& index = e->index;
  if (shown <= index.first) return false;
  FileReader file;
  if (!file.open(e->path)) return false;
  if (!PositionForSeek(file, index, std::min(shown - 1, index.last))) return false;
  bool found = false;
  RecordWalker walker(file);
  walker.forEach([&](const ScannedBlock& b) {
    if (b.videoLength == 0) return true;
    if (b.videoTs >= shown) return false;
    if (b.videoTs >= index.first && (!found || b.videoTs > previous)) {
      previous = b.videoTs;
      found = true;
    }
    return true;
  });
  return found;
}

}  // namespace

int AVSeek(AvEngine* e, uint64_t offsetUs) {
  if (!e || !e->file.isOpen()) return -1;
  const uint64_t target = e->index.first + offsetUs;
  if (target < e->index.first || target > e->index.last) return -1;
  return SeekTo(e, target, false);
}

int AVSetOutputLatency(AvEngine* e, uint64_t latencyUs) {
  if (!e) return -1;
  e->outputLatency.store(latencyUs);
  WakeAll(e);  // due times move
  return 1;
}

int AVSetSpeed(AvEngine* e, uint32_t permille) {
  if (!e || permille < AV_SPEED_MIN || permille > AV_SPEED_MAX) return -1;
  SetClockSpeed(e, permille);
  WakeAll(e);  // due times move
  return 1;
}

int64_t AVShownPosition(AvEngine* e) {
  if (!e || !e->firstPictureShown.load()) return -1;
  const uint64_t at = e->lastShownTs.load();
  return at > e->index.first ? static_cast<int64_t>(at - e->index.first) : 0;
}

int AVStepPicture(AvEngine* e, int direction) {
  if (!e || !e->file.isOpen() || e->state.load() != AV_STATE_PAUSED) return -1;
  const bool shown = e->firstPictureShown.load();
  const uint64_t at = e->lastShownTs.load();
  uint64_t target = e->index.first;  // before any picture: the first one
  if (direction > 0) {
    // The first picture after the one shown.
    if (shown) {
      if (at >= e->index.last) return 0;
      target = std::max(at + 1, e->index.first);
    }
  } else if (direction < 0) {
    if (!shown || !PreviousPictureTs(e, at, target)) return 0;
  } else {
    return 0;
  }
  return SeekTo(e, target, true);
}

int AVControl(AvEngine* e, int mode) {
  if (!e || !e->file.isOpen()) return -1;
  switch (mode) {
    case AV_CTRL_PLAY: {
      std::lock_guard<std::mutex> g(e->stateLock);
      e->stepPending.store(0);
      e->stepSeek.store(0);
      if (e->state.load() != AV_STATE_PLAYING) {
        // The clock stood until now: it goes on from here, not from where
        // the audio output thread last held it.
        HoldClock(e);
        SetState(e, AV_STATE_PLAYING);
      }
      break;
    }
    case AV_CTRL_PAUSE: {
      {
        std::lock_guard<std::mutex> g(e->stateLock);
        if (e->state.load() != AV_STATE_PLAYING) break;
        StopClockForPause(e);
        e->state.store(AV_STATE_PAUSED);
      }
      WakeAll(e);
      // Reported once the picture being presented is complete, so whoever
      // copies the paused picture on this report gets a whole one.
      WaitForVideoHold(e);
      e->cb.StateNotify(AV_STATE_PAUSED);
      break;
    }
    case AV_CTRL_STOP: {
      e->stepPending.store(0);
      e->stepSeek.store(0);
      const int s = e->state.load();
      if (s != AV_STATE_PLAYING && s != AV_STATE_PAUSED) break;
      e->flushing.store(1);
      e->pcm.withClock([](ClockFields& c) { c = ClockFields{}; });  // starts again on play
      e->command.store(AV_CMD_STOP);
      WakeAll(e);
      std::this_thread::sleep_for(kStopSettle);
      if (!WaitForReader(e)) {
        // No reader to carry it out: the stop takes effect here.
        std::lock_guard<std::mutex> g(e->stateLock);
        e->seekPending.store(0);
        SetState(e, AV_STATE_STOPPED);
      }
      e->flushing.store(0);
      WakeAll(e);
      break;
    }
    default:
      break;
  }
  return 1;
}
