// The four presentation threads: video decode, audio decode, audio output and
// video output, with the audio-driven clock that paces the pictures.
//
// A thread with nothing to do blocks on its own Wake until what it waits for
// changes; whoever changes it wakes it. Time enters in two places only: the
// audio output thread, which runs the clock, waits until the clock reaches
// the next sound frame or the picture the video output thread holds; and the
// video decode thread waits out the output latency at the end of the stream.
#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <new>

#include "engine/engine_internal.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;

std::atomic<RaceWindowHook> g_raceWindowHook{nullptr};

void EnterRaceWindow(AvEngine* e, RaceWindow window) {
  if (RaceWindowHook hook = g_raceWindowHook.load(std::memory_order_relaxed)) hook(e, window);
}

bool HeldByPause(AvEngine* e) {
  return !e->flushing.load() && e->state.load() == AV_STATE_PAUSED;
}

// The end of the stream is the end of the data: the reader has met it and
// everything queued has been presented, including the PCM frame the audio
// output thread holds and the picture being shown. (A time stamp at or after
// the last one says nothing: a damaged header can carry one mid-file, and a
// file cut short never delivers the packet that carries the last one.)
bool DrainedAtEndOfData(AvEngine* e) {
  return e->readerIdle.load() && e->state.load() == AV_STATE_PLAYING && !e->flushing.load() &&
         e->command.load() == AV_CMD_NONE && e->videoRing.empty() && e->audioRing.empty() &&
         e->pcm.empty() && !e->audioHeld.load() && !e->decoded.pending();
}

void ReportEndOfStream(AvEngine* e) {
  std::lock_guard<std::mutex> g(e->stateLock);
  if (e->state.load() != AV_STATE_PLAYING) return;  // paused meanwhile: ends on resume
  e->readerIdle.store(0);
  e->stepPending.store(0);
  e->stepSeek.store(0);
  e->seekPending.store(0);  // a seek no picture completed ends here
  e->pcm.withClock([](ClockFields& c) { c = ClockFields{}; });  // playing again starts anew
  SetState(e, AV_STATE_STOPPED);
}

// The clock read off the wall clock from its anchor: the last frame taken,
// or the last known position (the start, a seek target, a pause), running
// at `speed`.
uint64_t WallClockFrom(const ClockFields& c, uint64_t now, uint32_t speed) {
  const uint64_t run = ClockSpan(now > c.lastFetchWall ? now - c.lastFetchWall : 0, speed);
  return run > UINT64_MAX - c.lastFetchTs ? UINT64_MAX : c.lastFetchTs + run;
}

// While nothing plays the clock stands: its anchor moves along with the
// wall clock.
void HoldAnchor(ClockFields& c, uint64_t now) {
  if (c.lastFetchWall == 0) return;
  c.lastFetchTs = c.audioClock;
  c.lastFetchWall = now;
}

// A sound frame is due once the clock has reached the end of the frame
// before it, so a continuous run of frames is never held, while sound that
// starts late or resumes after a gap waits for its time. A frame further
// ahead than the pacing limit (a damaged time stamp) is due at once, as a
// picture would be.
bool SoundFrameDue(uint64_t ts, uint64_t clock) {
  const uint64_t due = clock + kPcmFrameUs;
  return ts <= due || ts - due >= PACE_AHEAD_LIMIT_US;
}

// The longest the audio output thread waits for the clock to reach a time:
// beyond the pacing limit everything is due at once anyway.
constexpr uint64_t kLongestClockWaitUs = PACE_AHEAD_LIMIT_US;

// When, running on the wall clock from its anchor at `speed`, the clock
// reaches `clock` (at most kLongestClockWaitUs from `now`, a damaged time
// stamp included).
SteadyTime WhenClockReaches(const ClockFields& c, uint64_t clock, uint64_t now, uint32_t speed) {
  const uint64_t ahead = WallSpan(clock > c.lastFetchTs ? clock - c.lastFetchTs : 0, speed);
  const uint64_t wall = ahead > UINT64_MAX - c.lastFetchWall ? UINT64_MAX : c.lastFetchWall + ahead;
  return SteadyTimeOfClockMicros(std::min(wall, now + kLongestClockWaitUs));
}

// When the audio output thread, finding no frame to take, next has work:
// the clock reaching the frame at the head of the PCM ring, or the picture
// the video output thread holds. kForever while the clock stands or when
// neither is known; a new frame or picture wakes it then.
SteadyTime NextClockEvent(AvEngine* e) {
  SteadyTime next = kForever;
  const uint64_t picture = e->videoDue.load();
  uint64_t unused = 0;
  e->pcm.takeIf(nullptr, unused, [&](ClockFields& c, bool hasFrame, uint64_t ts) {
    if (c.lastFetchWall == 0 || e->flushing.load() || e->state.load() != AV_STATE_PLAYING) {
      return false;
    }
    const uint64_t now = ClockMicros();
    const uint32_t speed = e->speed.load();
    if (hasFrame) next = WhenClockReaches(c, ts > kPcmFrameUs ? ts - kPcmFrameUs : 0, now, speed);
    // A picture the clock has reached already is being woken for; one due
    // at clock 0 waits for the clock to start.
    const uint64_t wanted = std::max<uint64_t>(picture, 1);
    if (picture != kNoPictureDue && wanted > c.audioClock) {
      next = std::min(next, WhenClockReaches(c, wanted, now, speed));
    }
    return false;
  });
  // ClockMicros counts whole milliseconds; never wait for less than one.
  if (next != kForever) next = std::max(next, std::chrono::steady_clock::now() + 1ms);
  return next;
}

// Wakes the video output thread once the clock has reached the picture it
// holds. Runs after every clock change by the audio output thread, which
// stores the clock before it reads videoDue; the video output thread stores
// videoDue before it reads the clock, so one of the two always sees the other.
void WakeVideoIfDue(AvEngine* e) {
  const uint64_t clock = e->pcm.withClock([](ClockFields& c) { return c.audioClock; });
  const uint64_t due = e->videoDue.load();
  if (due != kNoPictureDue && DecidePacing(due, clock) == Pacing::Show) e->videoOutputWake.notify();
}

// Wakes the reader when it waits for room in `ring` and enough is free. The
// reader stores what it waits for before it looks at the room, and this runs
// after the room changed, so one of the two always sees the other.
template <typename Ring>
void WakeReaderForRoom(AvEngine* e, Ring& ring, int waitsFor, uint32_t resume) {
  if (e->readerWaitsFor.load() == waitsFor && ring.room() >= resume) e->readerWake.notify();
}

// At the end of the data the video decode thread waits for the audio side to
// drain; this wakes it when part of that has just happened.
void WakeEndWatcher(AvEngine* e) {
  if (e->readerIdle.load()) e->videoDecodeWake.notify();
}

}  // namespace

PcmTake TakePcmFrame(AvEngine* e, uint8_t* dst, uint32_t bytes, uint64_t& timeStamp) {
  if (!dst || !e->audioRing.ready.load() || bytes != PCM_FRAME_BYTES) return PcmTake::None;
  PcmTake result = PcmTake::None;
  e->pcm.takeIf(dst, timeStamp, [e, &result](ClockFields& c, bool hasFrame, uint64_t ts) {
    const uint64_t now = ClockMicros();
    const bool flushing = e->flushing.load() != 0;
    uint64_t target = 0;
    const bool seeking = SeekPending(e, target);
    // Frames of the old position, before the seek target or before the first
    // time stamp are dropped; they do not move the clock.
    if (hasFrame && (flushing || (seeking && ts < target) || ts < e->index.first)) {
      result = PcmTake::Drop;
      return true;
    }
    if (flushing) return false;
    if (e->state.load() != AV_STATE_PLAYING) {
      HoldAnchor(c, now);
      return false;
    }
    // A picture step is silent: its sound stays queued for playing on, and
    // the clock waits for the step's picture to set it.
    if (e->stepSeek.load() != 0) return false;
    if (c.lastFetchWall == 0) {
      // Nothing known yet: the clock starts at the seek target after a seek,
      // else at the first time stamp, and runs from there.
      c.lastFetchTs = seeking ? target : e->index.first;
      c.lastFetchWall = now;
    }
    const uint64_t clock = WallClockFrom(c, now, e->speed.load());
    if (hasFrame && SoundFrameDue(ts, clock)) {
      c.audioClock = c.lastFetchTs = ts;
      c.lastFetchWall = now;
      c.onWallClock = false;
      e->audioHeld.store(true);
      result = PcmTake::Play;
      return true;
    }
    // No sound to follow (none yet, a gap, the end of the sound, a stretch
    // after a seek): the clock runs on the wall clock.
    c.audioClock = clock;
    c.onWallClock = true;
    return false;
  });
  return result;
}

void HoldClock(AvEngine* e) {
  e->pcm.withClock([](ClockFields& c) { HoldAnchor(c, ClockMicros()); });
}

void StopClockForPause(AvEngine* e) {
  e->pcm.withClock([e](ClockFields& c) {
    if (c.lastFetchWall != 0 && c.onWallClock) {
      c.audioClock = WallClockFrom(c, ClockMicros(), e->speed.load());
    }
  });
}

void SetClockSpeed(AvEngine* e, uint32_t permille) {
  e->pcm.withClock([e, permille](ClockFields& c) {
    // Only a running clock moves with the wall clock; a standing one is
    // re-anchored when it starts again.
    if (c.lastFetchWall != 0 && e->state.load() == AV_STATE_PLAYING && !e->flushing.load()) {
      const uint64_t now = ClockMicros();
      c.lastFetchTs = WallClockFrom(c, now, e->speed.load());
      c.lastFetchWall = now;
      if (c.onWallClock) c.audioClock = c.lastFetchTs;
    }
    e->speed.store(permille);
  });
}

bool BeforeSeekTarget(AvEngine* e, uint64_t ts) {
  // The number first, the target after it: a seek stores its target before
  // its number, so a number read here comes with its own target or a later
  // one (whose flush then drops this packet anyway).
  if (e->seekPending.load() == 0) return false;
  return !CompletesSeek(ts, e->seekTarget.load());
}

namespace {

// The clock value at which the picture at `ts` is due, or kNoPictureDue when
// it is handed out at once: pictures before a seek target (to be dropped),
// and every picture when there is no sound side, and the picture of a
// picture step (nothing is heard during a step). A picture is due when its
// sound is heard, the output latency after the clock's frame was taken: the
// latency is wall time, so the clock runs on by latency x speed meanwhile
// (saturating: a damaged time stamp stays huge). The first picture of the
// file and the one that completes a seek are due as soon as the clock
// reaches their time stamp: the window answers the open or the seek an
// output latency sooner, and the picture stays up until the next is due.
uint64_t PictureDue(AvEngine* e, uint64_t ts, const SeekView& seek) {
  const bool beforeTarget = seek.pending != 0 && !CompletesSeek(ts, seek.target);
  const bool step = seek.pending != 0 && e->stepSeek.load() == seek.pending;
  if (!e->audioRing.ready.load() || beforeTarget || step) return kNoPictureDue;
  if (seek.pending != 0 || !e->firstPictureShown.load()) return std::min(ts, kNoPictureDue - 1);
  const uint64_t latency = ClockSpan(e->outputLatency.load(), e->speed.load());
  return ts >= kNoPictureDue - 1 - latency ? kNoPictureDue - 1 : ts + latency;
}

// Publishes the clock value the held picture waits for, then tells whether
// the clock has reached it. The store comes before the clock is read (see
// WakeVideoIfDue); a new value wakes the audio output thread, which may now
// have a time to wait for.
bool ClockReaches(AvEngine* e, uint64_t due) {
  if (e->videoDue.exchange(due) != due) e->audioOutputWake.notify();
  return e->pcm.withClock(
      [due](ClockFields& c) { return DecidePacing(due, c.audioClock) == Pacing::Show; });
}

// Wakes the video output thread for a picture just published, unless it
// waits for the clock: the audio output thread wakes it when the clock
// reaches the picture.
void OfferPicture(AvEngine* e, uint64_t ts) {
  const SeekView seek{e->seekPending.load(), e->seekTarget.load()};
  const uint64_t due = PictureDue(e, ts, seek);
  if (due != kNoPictureDue && !e->flushing.load() && !ClockReaches(e, due)) return;
  e->videoOutputWake.notify();
}

}  // namespace

bool TakeDecodedFrame(AvEngine* e, uint64_t& timeStamp, SeekView& seek) {
  if (!e->decoded.ready.load() || !e->decoded.peek(timeStamp)) {
    e->decoded.setHandedOut(false);
    return false;
  }
  // The seek first, the flushing check after it: a seek made after this
  // read raises flushing before its number, so the check below catches it.
  seek.pending = e->seekPending.load();
  seek.target = e->seekTarget.load();
  const uint64_t due = PictureDue(e, timeStamp, seek);
  const bool handOut = due == kNoPictureDue || ClockReaches(e, due);
  // videoDue is cleared only here and below, while the slot holds the
  // picture, so the next picture's value (stored when it is published) is
  // never overwritten.
  if (handOut) e->videoDue.store(kNoPictureDue);
  EnterRaceWindow(e, RaceWindow::SeekJudged);
  if (e->flushing.load()) {
    e->videoDue.store(kNoPictureDue);
    e->decoded.discard();
    e->videoDecodeWake.notify();  // it waits for the slot to be empty
    return false;
  }
  e->decoded.setHandedOut(handOut);
  return handOut;
}

void SetRaceWindowHookForTesting(RaceWindowHook hook) { g_raceWindowHook.store(hook); }

void ReleaseDecodedFrame(AvEngine* e) { e->decoded.release(e->decoded.ready.load()); }

void VideoDecodeThreadMain(AvEngine* e) {
  // The end is reported once the drained state has lasted the output
  // latency, so the last sound accepted has been heard by then.
  bool drained = false;
  SteadyTime drainedAt;
  while (!e->videoDecodeStop.load()) {
    const uint64_t ticket = e->videoDecodeWake.ticket();
    if (e->flushing.load()) {
      // Drop everything queued; the seek is acknowledged once the picture
      // slot is empty too (the output thread discards it while flushing).
      const uint32_t request = e->flushRequest.load();
      e->videoRing.flush();
      WakeReaderForRoom(e, e->videoRing, kReaderWaitsForVideoRoom, kVideoRoomToResume);
      if (!e->decoded.pending() && e->videoFlushAck.exchange(request) != request) {
        e->readerWake.notify();
      }
      drained = false;
      WaitOn(e->videoDecodeWake, ticket);
      continue;
    }
    const VideoPacket* p = e->videoRing.peek();
    if (!p) {
      if (!DrainedAtEndOfData(e)) {
        drained = false;
      } else if (!drained) {
        drained = true;
        drainedAt = std::chrono::steady_clock::now();
      }
      SteadyTime until = kForever;
      if (drained) {
        until = drainedAt + std::chrono::microseconds(e->outputLatency.load());
        if (std::chrono::steady_clock::now() >= until) {
          ReportEndOfStream(e);
          drained = false;
          continue;
        }
      }
      WaitOn(e->videoDecodeWake, ticket, until);
      continue;
    }
    drained = false;
    if (e->decoded.pending()) {
      // The one picture the slot holds has not been shown yet.
      WaitOn(e->videoDecodeWake, ticket);
      continue;
    }
    const VideoPacket packet = *p;
    if (BeforeSeekTarget(e, packet.timeStamp)) {
      // Its picture could never be shown: it is decoded only as a reference
      // for the pictures after it, with no picture copied out or published.
      e->cb.VideoDecode(packet.data, packet.length, packet.timeStamp, nullptr);
    } else if (e->cb.VideoDecode(packet.data, packet.length, packet.timeStamp,
                                 &e->decoded.frame)) {
      e->decoded.publish(packet.timeStamp);
      OfferPicture(e, packet.timeStamp);
    }
    e->videoRing.advance();
    WakeReaderForRoom(e, e->videoRing, kReaderWaitsForVideoRoom, kVideoRoomToResume);
  }
}

void AudioDecodeThreadMain(AvEngine* e) {
  if (!e->pcm.allocated()) return;
  // Set by a flush: the decoder hears of the break before the next packet.
  bool discontinuity = false;
  while (!e->audioDecodeStop.load()) {
    const uint64_t ticket = e->audioDecodeWake.ticket();
    if (e->flushing.load()) {
      const uint32_t request = e->flushRequest.load();
      e->audioRing.flush();
      e->pcm.dropQueued();
      WakeReaderForRoom(e, e->audioRing, kReaderWaitsForAudioRoom, kAudioRoomToResume);
      if (e->audioFlushAck.exchange(request) != request) e->readerWake.notify();
      discontinuity = true;
      WaitOn(e->audioDecodeWake, ticket);
      continue;
    }
    const AudioPacket* p = e->audioRing.peek();
    // Nothing queued, or no room for the result: the reader or the audio
    // output thread wakes this thread.
    uint8_t* out = p ? e->pcm.writeSlot() : nullptr;
    if (!out) {
      WaitOn(e->audioDecodeWake, ticket);
      continue;
    }
    if (discontinuity) {
      e->cb.AudioDecode(nullptr, out);
      discontinuity = false;
    }
    e->cb.AudioDecode(p->data, out);
    e->pcm.commit(p->timeStamp);
    // The output thread waits for a frame only when the ring was empty; a
    // frame behind the head changes nothing for it.
    if (e->pcm.room() == PCM_RING_SLOTS - 2) e->audioOutputWake.notify();
    e->audioRing.advance();
    WakeReaderForRoom(e, e->audioRing, kReaderWaitsForAudioRoom, kAudioRoomToResume);
    if (e->audioRing.empty()) WakeEndWatcher(e);
  }
}

// Offers a taken frame until it is accepted, dropped by a seek or stop, or
// the thread stops. While paused it waits, so nothing is rendered paused.
// `seeks` is the reader's seek count (flushRequest) read before the frame
// was taken: a seek carried out since then is seen even when this thread
// missed its flushing (it can be over before this thread runs again).
void RenderPcmFrame(AvEngine* e, const uint8_t* frame, uint64_t position, uint32_t seeks) {
  while (e->audioOutputRunning.load()) {
    const uint64_t ticket = e->audioOutputWake.ticket();
    if (HeldByPause(e)) {
      HoldClock(e);
      WaitOn(e->audioOutputWake, ticket);  // until play, a seek, a stop
      continue;
    }
    // A seek or stop begun since the frame was taken: it belongs to the
    // old position.
    if (e->flushing.load() || e->flushRequest.load() != seeks) break;
    if (e->cb.AudioRender(frame, PCM_FRAME_BYTES, position) == 1) break;
    // Refused: the output has no room; nothing tells when it will.
    WaitOn(e->audioOutputWake, ticket, std::chrono::steady_clock::now() + kPollInterval);
  }
}

void AudioOutputThreadMain(AvEngine* e) {
  std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[PCM_FRAME_BYTES]);
  if (!frame) return;
  while (e->audioOutputRunning.load()) {
    const uint64_t ticket = e->audioOutputWake.ticket();
    const uint32_t seeks = e->flushRequest.load();
    uint64_t ts = 0;
    const PcmTake take = TakePcmFrame(e, frame.get(), PCM_FRAME_BYTES, ts);
    WakeVideoIfDue(e);
    if (take == PcmTake::None) {
      WaitOn(e->audioOutputWake, ticket, NextClockEvent(e));
      continue;
    }
    // The decoder refills the ring in batches, once it is half empty.
    if (e->pcm.room() >= kPcmRoomToResume) e->audioDecodeWake.notify();
    if (take == PcmTake::Play) {
      const uint64_t position = ts - e->index.first;  // earlier frames were dropped
      RenderPcmFrame(e, frame.get(), position, seeks);
      e->audioHeld.store(false);
    }
    if (e->pcm.empty()) WakeEndWatcher(e);
  }
}

namespace {

// After the picture at `ts` that completes seek number `seek` was shown.
// Completes only that seek: a new one may have been made meanwhile. A seek
// made while paused pauses again, unless play or pause came first.
void CompleteSeek(AvEngine* e, uint32_t seek, uint64_t ts) {
  std::lock_guard<std::mutex> g(e->stateLock);
  uint32_t expected = seek;
  if (!e->seekPending.compare_exchange_strong(expected, 0)) return;
  if (e->stepSeek.load() == seek) {
    // No sound ran the clock during the step: it stands at the picture now.
    e->pcm.withClock([ts](ClockFields& c) {
      if (c.lastFetchWall != 0) return;
      c.audioClock = c.lastFetchTs = ts;
      c.lastFetchWall = ClockMicros();
      c.onWallClock = true;
    });
  }
  if (e->stepPending.exchange(0)) {
    EnterRaceWindow(e, RaceWindow::StepTaken);
    if (e->state.load() == AV_STATE_PLAYING) {
      StopClockForPause(e);
      SetState(e, AV_STATE_PAUSED);
    }
  }
  // The step is over once paused (sound stays silent until then); play or a
  // stop that came first has ended it already.
  e->stepSeek.compare_exchange_strong(seek, 0);
}

}  // namespace

void VideoOutputThreadMain(AvEngine* e) {
  while (e->videoOutputRunning.load()) {
    const uint64_t ticket = e->videoOutputWake.ticket();
    // Raised before the pause check: a pause stored after this point is
    // seen below; one stored before it waits until this is lowered.
    e->videoPresenting.store(true);
    if (HeldByPause(e)) {
      e->videoPresenting.store(false);
      WaitOn(e->videoOutputWake, ticket);
      continue;
    }
    uint64_t ts = 0;
    SeekView seek;
    if (!TakeDecodedFrame(e, ts, seek)) {
      // No picture, or one not due: the video decode thread or the clock
      // wakes this thread.
      e->videoPresenting.store(false);
      WaitOn(e->videoOutputWake, ticket);
      continue;
    }
    if (seek.pending == 0 || CompletesSeek(ts, seek.target)) {
      e->cb.VideoRender(&e->decoded.frame);
      e->lastShownTs.store(ts);
      e->firstPictureShown.store(true);
      if (seek.pending != 0) CompleteSeek(e, seek.pending, ts);
    }
    ReleaseDecodedFrame(e);
    e->videoPresenting.store(false);
    e->videoDecodeWake.notify();  // the slot is free for the next picture
  }
}

}  // namespace trevolo
