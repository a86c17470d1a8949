// The four presentation threads: video decode, audio decode, audio output and
// video output, with the audio-driven clock that paces the pictures.
#include <chrono>
#include <memory>
#include <mutex>
#include <new>

#include "engine/engine_internal.h"

namespace trevolo {
namespace {

void Nap() { std::this_thread::sleep_for(kPollInterval); }

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
  e->seekPending.store(0);  // a seek no picture completed ends here
  e->pcm.withClock([](ClockFields& c) { c = ClockFields{}; });  // playing again starts anew
  SetState(e, AV_STATE_STOPPED);
}

// The clock read off the wall clock from its anchor: the last frame taken,
// or the last known position (the start, a seek target, a pause).
uint64_t WallClockFrom(const ClockFields& c, uint64_t now) {
  return c.lastFetchTs + (now > c.lastFetchWall ? now - c.lastFetchWall : 0);
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
    if (c.lastFetchWall == 0) {
      // Nothing known yet: the clock starts at the seek target after a seek,
      // else at the first time stamp, and runs from there.
      c.lastFetchTs = seeking ? target : e->index.first;
      c.lastFetchWall = now;
    }
    const uint64_t clock = WallClockFrom(c, now);
    if (hasFrame && SoundFrameDue(ts, clock)) {
      c.audioClock = c.lastFetchTs = ts;
      c.lastFetchWall = now;
      e->audioHeld.store(true);
      result = PcmTake::Play;
      return true;
    }
    // No sound to follow (none yet, a gap, the end of the sound, a stretch
    // after a seek): the clock runs on the wall clock.
    c.audioClock = clock;
    return false;
  });
  return result;
}

void HoldClock(AvEngine* e) {
  e->pcm.withClock([](ClockFields& c) { HoldAnchor(c, ClockMicros()); });
}

bool TakeDecodedFrame(AvEngine* e, uint64_t& timeStamp, SeekView& seek) {
  if (!e->decoded.ready.load() || !e->decoded.peek(timeStamp)) {
    e->decoded.setHandedOut(false);
    return false;
  }
  // The seek first, the flushing check after it: a seek made after this
  // read raises flushing before its number, so the check below catches it.
  seek.pending = e->seekPending.load();
  seek.target = e->seekTarget.load();
  bool handOut = true;
  const bool beforeTarget = seek.pending != 0 && !CompletesSeek(timeStamp, seek.target);
  if (e->audioRing.ready.load() && !beforeTarget) {
    // A picture is due when its sound is heard, the output latency after the
    // clock's frame was taken (saturating: a damaged time stamp stays huge).
    // Pictures before a seek target are handed out at once, to be dropped.
    const uint64_t latency = e->outputLatency.load();
    const uint64_t due = timeStamp > UINT64_MAX - latency ? UINT64_MAX : timeStamp + latency;
    handOut = e->pcm.withClock([due](ClockFields& c) {
      return DecidePacing(due, c.audioClock) == Pacing::Show;
    });
  }
  if (e->flushing.load()) {
    e->decoded.discard();
    return false;
  }
  e->decoded.setHandedOut(handOut);
  return handOut;
}

void ReleaseDecodedFrame(AvEngine* e) { e->decoded.release(e->decoded.ready.load()); }

void VideoDecodeThreadMain(AvEngine* e) {
  // The end is reported once the drained state has lasted the output
  // latency, so the last sound accepted has been heard by then.
  bool drained = false;
  std::chrono::steady_clock::time_point drainedAt;
  while (!e->videoDecodeStop.load()) {
    if (e->flushing.load()) {
      // Drop everything queued; the seek is acknowledged once the picture
      // slot is empty too (the output thread discards it while flushing).
      const uint32_t request = e->flushRequest.load();
      e->videoRing.flush();
      if (!e->decoded.pending()) e->videoFlushAck.store(request);
      drained = false;
      Nap();
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
      if (drained && std::chrono::steady_clock::now() - drainedAt >=
                         std::chrono::microseconds(e->outputLatency.load())) {
        ReportEndOfStream(e);
        drained = false;
      }
      Nap();
      continue;
    }
    drained = false;
    if (e->decoded.pending()) {
      Nap();  // the one picture the slot holds has not been shown yet
      continue;
    }
    const VideoPacket packet = *p;
    if (e->cb.VideoDecode(packet.data, packet.length, packet.timeStamp, &e->decoded.frame)) {
      e->decoded.publish(packet.timeStamp);
    }
    e->videoRing.advance();
  }
}

void AudioDecodeThreadMain(AvEngine* e) {
  if (!e->pcm.allocated()) return;
  while (!e->audioDecodeStop.load()) {
    if (e->flushing.load()) {
      const uint32_t request = e->flushRequest.load();
      e->audioRing.flush();
      e->pcm.dropQueued();
      e->audioFlushAck.store(request);
      Nap();
      continue;
    }
    const AudioPacket* p = e->audioRing.peek();
    if (!p) {
      Nap();
      continue;
    }
    uint8_t* out = e->pcm.writeSlot();
    if (!out) {
      Nap();
      continue;
    }
    e->cb.AudioDecode(p->data, out);
    e->pcm.commit(p->timeStamp);
    e->audioRing.advance();
  }
}

void AudioOutputThreadMain(AvEngine* e) {
  std::unique_ptr<uint8_t[]> frame(new (std::nothrow) uint8_t[PCM_FRAME_BYTES]);
  if (!frame) return;
  while (e->audioOutputRunning.load()) {
    uint64_t ts = 0;
    const PcmTake take = TakePcmFrame(e, frame.get(), PCM_FRAME_BYTES, ts);
    if (take == PcmTake::None) {
      Nap();
      continue;
    }
    if (take == PcmTake::Drop) continue;
    const uint64_t position = ts - e->index.first;  // earlier frames were dropped
    while (e->audioOutputRunning.load()) {
      if (HeldByPause(e)) {
        HoldClock(e);
        Nap();
        continue;
      }
      // A seek or stop begun since the frame was taken: it belongs to the
      // old position.
      if (e->flushing.load()) break;
      if (e->cb.AudioRender(frame.get(), PCM_FRAME_BYTES, position) == 1) break;
      Nap();
    }
    e->audioHeld.store(false);
  }
}

void VideoOutputThreadMain(AvEngine* e) {
  while (e->videoOutputRunning.load()) {
    // Raised before the pause check: a pause stored after this point is
    // seen below; one stored before it waits until this is lowered.
    e->videoPresenting.store(true);
    if (HeldByPause(e)) {
      e->videoPresenting.store(false);
      Nap();
      continue;
    }
    uint64_t ts = 0;
    SeekView seek;
    if (!TakeDecodedFrame(e, ts, seek)) {
      e->videoPresenting.store(false);
      Nap();
      continue;
    }
    if (seek.pending == 0 || CompletesSeek(ts, seek.target)) {
      e->cb.VideoRender(&e->decoded.frame);
      if (seek.pending != 0) {
        // Complete only the seek this picture was judged against: a new seek
        // may have been made meanwhile. A seek made while paused pauses
        // again, unless play or pause came first.
        std::lock_guard<std::mutex> g(e->stateLock);
        uint32_t expected = seek.pending;
        if (e->seekPending.compare_exchange_strong(expected, 0) && e->stepPending.exchange(0) &&
            e->state.load() == AV_STATE_PLAYING) {
          SetState(e, AV_STATE_PAUSED);
        }
      }
    }
    ReleaseDecodedFrame(e);
    e->videoPresenting.store(false);
  }
}

}  // namespace trevolo
