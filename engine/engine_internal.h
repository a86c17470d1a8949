// The engine's shared state and the entry points of its five threads.
// Field groups name their owner; single words shared between threads are
// atomics, read and written whole.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "engine/av_engine.h"
#include "engine/av_format.h"
#include "engine/file_reader.h"
#include "engine/frame_index.h"
#include "engine/queues.h"

namespace trevolo {

// Requests from the controlling thread to the reader.
inline constexpr int AV_CMD_NONE = 0;
inline constexpr int AV_CMD_STOP = 3;
inline constexpr int AV_CMD_SEEK = 16;

inline constexpr uint64_t PACE_AHEAD_LIMIT_US = 3000000;

// The longest a thread waits for something it cannot be woken for (a sound
// output refusing a frame, a clock replaced in tests).
inline constexpr auto kPollInterval = std::chrono::milliseconds(5);
// The longest any engine thread blocks even when it waits for a wake: five
// threads paused then look once every two seconds each.
inline constexpr auto kLongestWait = std::chrono::milliseconds(2000);
inline constexpr auto kControlPoll = std::chrono::milliseconds(10);   // AVSeek / AVControl
inline constexpr auto kStopSettle = std::chrono::milliseconds(200);   // AVControl stop
inline constexpr int kReleaseWaitTries = 300;                         // x 10 ms at teardown
// How long AVControl waits for the video output thread to finish the picture
// it is presenting before it reports a pause.
inline constexpr auto kPauseHoldWait = std::chrono::milliseconds(1000);
// One PCM frame: 160 samples at 8000 Hz.
inline constexpr uint64_t kPcmFrameUs = 20000;
// A producer that found its ring full resumes once this many slots are free
// again, so it wakes once per batch rather than once per slot.
inline constexpr uint32_t kVideoRoomToResume = 10;  // of 99: 0.4 s at 25 fps
inline constexpr uint32_t kAudioRoomToResume = 20;  // of 199: 0.4 s of sound
inline constexpr uint32_t kPcmRoomToResume = 4;     // of 7: 3 frames (60 ms) still queued
// videoDue when no picture waits for the clock.
inline constexpr uint64_t kNoPictureDue = UINT64_MAX;
// What the reader waits for room in (readerWaitsFor).
inline constexpr int kReaderWaitsForNothing = 0;
inline constexpr int kReaderWaitsForAudioRoom = 1;
inline constexpr int kReaderWaitsForVideoRoom = 2;

using SteadyTime = std::chrono::steady_clock::time_point;
inline constexpr SteadyTime kForever = SteadyTime::max();

// Wakes the thread that waits on it. The waiter takes a ticket before it
// looks at what it waits for; a notify after that ticket ends the wait at
// once, so a change made between the look and the wait is never missed.
class Wake {
 public:
  uint64_t ticket() const { return m_count.load(); }
  void notify() {
    {
      std::lock_guard<std::mutex> g(m_lock);
      m_count.fetch_add(1);
    }
    m_changed.notify_all();
  }
  // Blocks until a notify after `ticket`, or until `until`.
  void wait(uint64_t ticket, SteadyTime until) {
    std::unique_lock<std::mutex> g(m_lock);
    auto notified = [&] { return m_count.load() != ticket; };
    if (until == kForever) {
      m_changed.wait(g, notified);
    } else {
      m_changed.wait_until(g, until, notified);
    }
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::atomic<uint64_t> m_count{0};  // notifies so far; changed under m_lock
};

// Wall clock in microseconds: a millisecond tick count times 1000.
uint64_t ClockMicros();
// The moment ClockMicros() reaches `us`.
SteadyTime SteadyTimeOfClockMicros(uint64_t us);
// Waits on `wake` as Wake::wait does. With a replacement clock installed the
// wait lasts at most kPollInterval, since times computed from that clock mean
// nothing to the real one.
void WaitOn(Wake& wake, uint64_t ticket, SteadyTime until = kForever);

// Test hooks: a replacement wall clock (null restores the real one), and
// making the n-th thread start of the next AVCreate fail (0 = never).
void SetClockMicrosForTesting(uint64_t (*clock)());
void SetThreadStartFailureForTesting(int nth);
// Makes the reader thread of the next AVCreate end at once, as it does when
// its scratch buffer cannot be allocated.
void SetReaderFailureForTesting(bool fail);
bool ReaderFailsForTesting();

// Points where the video output thread is between two operations whose order
// decides a race with the controlling thread. A hook installed by a test runs
// there, so the test can make its competing command at exactly that moment.
enum class RaceWindow {
  // The seek a picture is judged against has been read; flushing has not
  // been checked yet.
  SeekJudged,
  // A seek made while paused has had its picture shown and its step flag
  // taken; the pause has not been stored yet (stateLock is held).
  StepTaken,
};
using RaceWindowHook = void (*)(AvEngine* e, RaceWindow window);
// Null (the default) removes the hook; set it before AVCreate and clear it
// after AVDestroy. Without a hook each point costs one relaxed load.
void SetRaceWindowHookForTesting(RaceWindowHook hook);

// Pacing decision for a picture at `ts` against the presentation clock.
enum class Pacing { Hold, Show };
constexpr Pacing DecidePacing(uint64_t ts, uint64_t clock) {
  if (clock == 0) return Pacing::Hold;
  if (ts <= clock) return Pacing::Show;
  return ts - clock < PACE_AHEAD_LIMIT_US ? Pacing::Hold : Pacing::Show;
}

// Clock time that passes in `wallUs` of wall time at `speed` thousandths of
// normal, saturating.
constexpr uint64_t ClockSpan(uint64_t wallUs, uint32_t speed) {
  if (speed == AV_SPEED_NORMAL) return wallUs;
  return wallUs > UINT64_MAX / speed ? UINT64_MAX : wallUs * speed / AV_SPEED_NORMAL;
}
// Wall time the clock takes to advance by `clockUs` at `speed`, rounded up so
// that the clock has got there by then; saturating.
constexpr uint64_t WallSpan(uint64_t clockUs, uint32_t speed) {
  if (speed == AV_SPEED_NORMAL) return clockUs;
  if (clockUs > UINT64_MAX / AV_SPEED_NORMAL) return UINT64_MAX / AV_SPEED_NORMAL;
  return (clockUs * AV_SPEED_NORMAL + speed - 1) / speed;
}

// After a seek to `target`, pictures before it are discarded and the first
// picture at or after it is shown and completes the seek, however far past
// the target it lies (pictures may be seconds apart, or fail to decode).
constexpr bool CompletesSeek(uint64_t ts, uint64_t target) { return ts >= target; }

}  // namespace trevolo

struct AvEngine {
  // Set once by AVCreate.
  trevolo::FileReader file;  // reader thread only once threads run
  AvCallbacks cb{};
  trevolo::FrameIndex index;
  std::string path;  // AVStepPicture opens its own reader on it

  // Atomic, polled by every thread.
  std::atomic<int> flushing{0};
  std::atomic<int> state{0};
  std::atomic<int> command{trevolo::AV_CMD_NONE};
  std::atomic<int> stepPending{0};
  std::atomic<int> readerIdle{0};
  // Set by AVCreate once it has reported playing; the reader starts reading
  // only then, so no state report can come before that one.
  std::atomic<bool> started{false};
  // Set when the reader thread has ended; commands then wait for nobody.
  std::atomic<bool> readerEnded{false};
  // Serialises state changes that depend on stepPending (the step's pause
  // after a seek made while paused, play, pause, end of stream).
  std::mutex stateLock;
  // Any value of the target is valid, 0 included. seekPending holds the
  // number of the seek still waiting for its first picture (seeks are
  // numbered from 1), 0 when none is; the number lets the picture that
  // completes a seek clear only its own, never a later one.
  std::atomic<uint64_t> seekTarget{0};
  std::atomic<uint32_t> seekPending{0};
  uint32_t seekCount = 0;  // controlling thread only
  // A PCM frame the audio output thread has taken and not yet had accepted
  // or dropped; the end of the stream waits for it.
  std::atomic<bool> audioHeld{false};
  // True while the video output thread may be presenting a picture: from
  // its pause check to the release of the picture. A pause is reported only
  // once this is false, so the picture on screen is complete by then.
  std::atomic<bool> videoPresenting{false};
  // Set once the first picture of the file has been presented; until then
  // a decoded picture is shown at once instead of waiting for its sound.
  std::atomic<bool> firstPictureShown{false};
  // Set by the application: how long accepted sound takes to be heard
  // (wall time, whatever the speed).
  std::atomic<uint64_t> outputLatency{0};
  // How fast the clock runs, in thousandths of the wall clock's pace.
  // Changed under the PCM lock together with the clock's anchor; the clock
  // code reads it under that lock, so wall time turns into clock time at
  // one speed per anchor.
  std::atomic<uint32_t> speed{AV_SPEED_NORMAL};
  // The time stamp of the last picture handed to VideoRender (meaningful
  // once firstPictureShown is set): where a picture step starts from.
  std::atomic<uint64_t> lastShownTs{0};
  // The number of the seek a picture step made while that step lasts (until
  // its picture is shown and paused, or play, stop, the end or another seek
  // comes first); 0 when no step is under way. A step's picture is shown as
  // soon as it is decoded, and no sound is taken meanwhile.
  std::atomic<uint32_t> stepSeek{0};
  // The reader raises flushRequest when it carries out a seek; each decode
  // thread echoes it once its queues hold nothing from before. The reader
  // resumes only then, so no packet of the old position survives the seek.
  std::atomic<uint32_t> flushRequest{0};
  std::atomic<uint32_t> videoFlushAck{0};
  std::atomic<uint32_t> audioFlushAck{0};
  // The clock value the picture held by the video output thread waits for
  // (kNoPictureDue: none). The audio output thread, which runs the clock,
  // wakes the video output thread when the clock reaches it.
  std::atomic<uint64_t> videoDue{trevolo::kNoPictureDue};
  // Which full ring the reader waits for room in; its consumer wakes it.
  std::atomic<int> readerWaitsFor{trevolo::kReaderWaitsForNothing};

  // One per thread: a thread with nothing to do blocks on its own until
  // whatever it waits for changes. The control wake serves AVSeek/AVControl.
  trevolo::Wake readerWake;
  trevolo::Wake videoDecodeWake;
  trevolo::Wake audioDecodeWake;
  trevolo::Wake audioOutputWake;
  trevolo::Wake videoOutputWake;
  trevolo::Wake controlWake;

  // The queues (each guarded by its own lock).
  trevolo::VideoPacketRing videoRing;
  trevolo::DecodedFrameSlot decoded;
  trevolo::AudioPacketRing audioRing;
  trevolo::PcmRing pcm;  // its lock also guards the clock fields

  // Reader thread only.
  AvAudioFormat audioFormat{};

  // Thread control.
  std::atomic<bool> readerStop{false};
  std::atomic<bool> videoDecodeStop{false};
  std::atomic<bool> audioDecodeStop{false};
  std::atomic<bool> audioOutputRunning{false};
  std::atomic<bool> videoOutputRunning{false};
  std::thread readerThread;
  std::thread videoDecodeThread;
  std::thread audioDecodeThread;
  std::thread audioOutputThread;
  std::thread videoOutputThread;
};

namespace trevolo {

void ReaderThreadMain(AvEngine* e);
void VideoDecodeThreadMain(AvEngine* e);
void AudioDecodeThreadMain(AvEngine* e);
void AudioOutputThreadMain(AvEngine* e);
void VideoOutputThreadMain(AvEngine* e);

// Starts `t` running f(e) under `name` (at most 15 characters, shown by
// `top -H` and debuggers); false when the thread cannot be started.
bool StartThread(std::thread& t, const char* name, void (*f)(AvEngine*), AvEngine* e);

// What TakePcmFrame did with the frame at the ring's read slot.
enum class PcmTake {
  None,  // nothing taken: the ring is empty, the frame is not due yet, or not playing
  Play,  // taken to be played; the clock now stands at its time stamp
  Drop,  // taken to be dropped (flushing, before a seek target or the first time stamp)
};
// Copies the PCM frame at the ring's read slot out when it is due, and runs
// the clock.
PcmTake TakePcmFrame(AvEngine* e, uint8_t* dst, uint32_t bytes, uint64_t& timeStamp);
// While nothing plays (paused, stopped), the clock stands where it is.
void HoldClock(AvEngine* e);

// The seek a picture is judged against: its number (0 = none) and target.
struct SeekView {
  uint32_t pending = 0;
  uint64_t target = 0;
};

// Whether the pending picture is handed to the video output thread now. The
// seek state is read into `seek` before the flushing check, so a seek made
// after that check is never completed by this picture.
bool TakeDecodedFrame(AvEngine* e, uint64_t& timeStamp, SeekView& seek);
void ReleaseDecodedFrame(AvEngine* e);

// Whether a seek waits for its first picture; its target goes to `target`.
bool SeekPending(AvEngine* e, uint64_t& target);

// Reports a state change: stores it, wakes every thread, then tells the
// application.
void SetState(AvEngine* e, int state);

// Wakes every engine thread (and a waiting AVSeek/AVControl): for a change
// any of them may wait for, such as a command, a state, flushing or a stop.
void WakeAll(AvEngine* e);

// A pause stops the clock where it stands now: when it has been running on
// the wall clock, at the wall clock's value rather than the one the audio
// output thread last computed. Called under stateLock before the pause is
// stored.
void StopClockForPause(AvEngine* e);

// Makes the clock run at `permille` thousandths of the wall clock's pace
// from now on, anchoring it first at the value it has reached, so the
// change makes it neither jump nor stall.
void SetClockSpeed(AvEngine* e, uint32_t permille);

// Whether a packet at `ts` can never be shown: a seek waits for its picture
// and `ts` lies before its target.
bool BeforeSeekTarget(AvEngine* e, uint64_t ts);

}  // namespace trevolo
