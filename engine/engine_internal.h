// The engine's shared state and the entry points of its five threads.
// Field groups name their owner; single words shared between threads are
// atomics, read and written whole.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
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

inline constexpr auto kPollInterval = std::chrono::milliseconds(5);   // presentation threads
inline constexpr auto kReaderWait = std::chrono::milliseconds(10);    // reader idle / audio slot
inline constexpr auto kVideoSlotWait = std::chrono::milliseconds(5);  // reader, video slot
inline constexpr auto kControlPoll = std::chrono::milliseconds(10);   // AVSeek / AVControl
inline constexpr auto kStopSettle = std::chrono::milliseconds(200);   // AVControl stop
inline constexpr int kReleaseWaitTries = 300;                         // x 10 ms at teardown
// How long AVControl waits for the video output thread to finish the picture
// it is presenting before it reports a pause.
inline constexpr auto kPauseHoldWait = std::chrono::milliseconds(1000);
// One PCM frame: 160 samples at 8000 Hz.
inline constexpr uint64_t kPcmFrameUs = 20000;

// Wall clock in microseconds: a millisecond tick count times 1000.
uint64_t ClockMicros();

// Test hooks: a replacement wall clock (null restores the real one), and
// making the n-th thread start of the next AVCreate fail (0 = never).
void SetClockMicrosForTesting(uint64_t (*clock)());
void SetThreadStartFailureForTesting(int nth);
// Makes the reader thread of the next AVCreate end at once, as it does when
// its scratch buffer cannot be allocated.
void SetReaderFailureForTesting(bool fail);
bool ReaderFailsForTesting();

// Pacing decision for a picture at `ts` against the presentation clock.
enum class Pacing { Hold, Show };
constexpr Pacing DecidePacing(uint64_t ts, uint64_t clock) {
  if (clock == 0) return Pacing::Hold;
  if (ts <= clock) return Pacing::Show;
  return ts - clock < PACE_AHEAD_LIMIT_US ? Pacing::Hold : Pacing::Show;
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
  // Set by the application: how long accepted sound takes to be heard.
  std::atomic<uint64_t> outputLatency{0};
  // The reader raises flushRequest when it carries out a seek; each decode
  // thread echoes it once its queues hold nothing from before. The reader
  // resumes only then, so no packet of the old position survives the seek.
  std::atomic<uint32_t> flushRequest{0};
  std::atomic<uint32_t> videoFlushAck{0};
  std::atomic<uint32_t> audioFlushAck{0};

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

// Starts `t` running f(e); false when the thread cannot be started.
bool StartThread(std::thread& t, void (*f)(AvEngine*), AvEngine* e);

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

// Reports a state change: stores it, then tells the application.
void SetState(AvEngine* e, int state);

}  // namespace trevolo
