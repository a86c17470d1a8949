// The four presentation threads: video decode, audio decode, audio output and
// video output, with the audio-driven clock that paces the pictures.
#include <memory>
#include <new>

#include "engine/engine_internal.h"

namespace trevolo {
namespace {

void Nap() { std::this_thread::sleep_for(kPollInterval); }

bool HeldByPause(AvEngine* e) {
  return !e->flushing.load() && e->state.load() == AV_STATE_PAUSED;
}

// A file cut short inside its last block never delivers the packet that
// carries the last time stamp. When the reader has met the end of the data
// and everything queued has been presented, that is the end of the stream.
bool DrainedAtEndOfData(AvEngine* e) {
  return e->readerIdle.load() && e->state.load() == AV_STATE_PLAYING && !e->flushing.load() &&
         e->command.load() == AV_CMD_NONE && e->videoRing.empty() && e->audioRing.empty() &&
         e->pcm.empty() && !e->decoded.pending();
}

void ReportEndOfStream(AvEngine* e) {
  e->readerIdle.store(0);
  e->stepPending.store(0);
  SetState(e, AV_STATE_STOPPED);
}

// Runs the clock from the wall clock when the file has shown no audio so far:
// anchored at the seek target after a seek, else at the first time stamp, so
// that video alone plays at its own pace.
void RunVideoOnlyClock(AvEngine* e, ClockFields& c, uint64_t now, bool seeking,
                       uint64_t target) {
  const bool anchor = seeking ? c.audioClock == 0 : c.lastFetchWall == 0;
  if (anchor) {
    c.lastFetchTs = seeking ? target : e->index.first;
    c.lastFetchWall = now;
  }
  c.audioClock = now + (c.lastFetchTs - c.lastFetchWall);
}

}  // namespace

bool TakePcmFrame(AvEngine* e, uint8_t* dst, uint32_t bytes, uint64_t& timeStamp) {
  if (!dst || !e->audioRing.ready.load() || bytes != PCM_FRAME_BYTES) return false;
  return e->pcm.take(dst, timeStamp, [e](ClockFields& c, bool taken, uint64_t ts) {
    const uint64_t now = ClockMicros();
    if (taken) {
      c.audioClock = c.lastFetchTs = ts;
      c.lastFetchWall = now;
      return;
    }
    uint64_t target = 0;
    const bool seeking = SeekPending(e, target);
    if (e->audioQueued.load() == 0) {
      RunVideoOnlyClock(e, c, now, seeking, target);
    } else if (!seeking) {
      // A gap in the audio: the clock runs on with the wall clock.
      c.audioClock = now + (c.lastFetchTs - c.lastFetchWall);
    }
  });
}

bool TakeDecodedFrame(AvEngine* e, uint64_t& timeStamp) {
  if (!e->decoded.ready.load() || !e->decoded.peek(timeStamp)) {
    e->decoded.setHandedOut(false);
    return false;
  }
  bool handOut = true;
  if (e->audioRing.ready.load()) {
    // A picture is due when its sound is heard, the output latency after the
    // clock's frame was taken (saturating: a damaged time stamp stays huge).
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
  while (!e->videoDecodeStop.load()) {
    if (e->flushing.load()) {
      // Drop everything queued; the seek is acknowledged once the picture
      // slot is empty too (the output thread discards it while flushing).
      const uint32_t request = e->flushRequest.load();
      e->videoRing.flush();
      if (!e->decoded.pending()) e->videoFlushAck.store(request);
      Nap();
      continue;
    }
    const VideoPacket* p = e->videoRing.peek();
    if (!p) {
      if (DrainedAtEndOfData(e)) ReportEndOfStream(e);
      Nap();
      continue;
    }
    if (e->decoded.pending()) {
      Nap();  // the one picture the slot holds has not been shown yet
      continue;
    }
    const VideoPacket packet = *p;
    if (e->cb.VideoDecode(packet.data, packet.length, packet.timeStamp, &e->decoded.frame)) {
      e->decoded.publish(packet.timeStamp);
    }
    if (packet.timeStamp >= e->index.last) ReportEndOfStream(e);
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
    if (HeldByPause(e)) {
      Nap();
      continue;
    }
    uint64_t ts = 0;
    if (!TakePcmFrame(e, frame.get(), PCM_FRAME_BYTES, ts)) {
      Nap();
      continue;
    }
    // Frames taken while a seek or stop flushes the queues belong to the old
    // position; frames before a seek target are skipped.
    if (e->flushing.load()) continue;
    uint64_t target = 0;
    if (SeekPending(e, target) && ts < target) continue;

    const auto position = static_cast<int64_t>(ts - e->index.first);
    if (position < 0) continue;
    while (e->audioOutputRunning.load()) {
      if (HeldByPause(e)) {
        Nap();
        continue;
      }
      if (e->flushing.load()) break;
      if (e->cb.AudioRender(frame.get(), PCM_FRAME_BYTES, static_cast<uint64_t>(position)) == 1) {
        break;
      }
      Nap();
    }
  }
}

void VideoOutputThreadMain(AvEngine* e) {
  while (e->videoOutputRunning.load()) {
    if (HeldByPause(e)) {
      Nap();
      continue;
    }
    uint64_t ts = 0;
    if (!TakeDecodedFrame(e, ts)) {
      Nap();
      continue;
    }
    uint32_t seek = e->seekPending.load();
    const uint64_t target = e->seekTarget.load();
    if (seek == 0 || CompletesSeek(ts, target)) {
      e->cb.VideoRender(&e->decoded.frame);
      if (seek != 0) {
        if (e->stepPending.load()) {
          SetState(e, AV_STATE_PAUSED);
          e->stepPending.store(0);
        }
        // Complete only the seek this picture was judged against: a new seek
        // may have been made meanwhile.
        e->seekPending.compare_exchange_strong(seek, 0);
      }
    }
    ReleaseDecodedFrame(e);
  }
}

}  // namespace trevolo
