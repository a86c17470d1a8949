// The reader thread: the only thread that reads the file during playback.
// It walks the records in file order, queues audio frames and video payloads,
// hands audio format records to the application and carries out the stop and
// seek commands of the controlling thread.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "engine/engine_internal.h"

namespace trevolo {
namespace {

class Reader {
 public:
  explicit Reader(AvEngine* e) : m_e(e), m_file(e->file) {}

  void run() {
    // Nothing is read before AVCreate has reported playing.
    for (;;) {
      const uint64_t ticket = m_e->readerWake.ticket();
      if (m_e->started.load()) break;
      if (m_e->readerStop.load()) return;
      WaitOn(m_e->readerWake, ticket);
    }
    if (!ReaderFailsForTesting()) m_scratch.reset(new (std::nothrow) uint8_t[MAX_VIDEO_PAYLOAD]);
    if (!m_scratch) {
      // Nothing can be read: the file has ended as far as the player is
      // concerned.
      std::lock_guard<std::mutex> g(m_e->stateLock);
      SetState(m_e, AV_STATE_STOPPED);
      return;
    }
    m_e->readerIdle.store(0);
    while (!m_e->readerStop.load()) {
      if (!turn()) return;
    }
  }

 private:
  enum class Turn { Next, EndThread };

  // One turn of the main loop; false when the thread must end.
  bool turn() {
    // Taken before anything is looked at: a command or state change from
    // here on ends the waits below.
    const uint64_t ticket = m_e->readerWake.ticket();
    if (!takeCommand(ticket)) return true;
    if (m_e->state.load() == AV_STATE_STOPPED) {
      WaitOn(m_e->readerWake, ticket);  // until play or a seek
      return true;
    }
    AvRecordHeader h;
    if (!m_marker.next(m_file, h)) {
      endOfData();
      return true;
    }
    if (m_e->readerStop.load()) return false;
    switch (h.type) {
      case AV_REC_AUDIO_FORMAT:
        audioFormatRecord(h);
        return true;
      case AV_REC_MEDIA:
        return mediaBlock(h) != Turn::EndThread;
      default:
        return true;  // header only; the marker search goes on behind it
    }
  }

  // Carries out a pending command. False when the turn ends here.
  bool takeCommand(uint64_t ticket) {
    const int cmd = m_e->command.load();
    if (cmd == AV_CMD_STOP) {
      m_file.seek(0);
      m_marker.reset();
      m_e->readerIdle.store(0);
      {
        // The state changes before the command is cleared, so the controlling
        // thread's next request cannot be overtaken by this one. A seek not
        // completed yet ends here: playing again starts from the beginning.
        std::lock_guard<std::mutex> g(m_e->stateLock);
        m_e->stepPending.store(0);
        m_e->stepSeek.store(0);
        m_e->seekPending.store(0);
        SetState(m_e, AV_STATE_STOPPED);
      }
      m_e->command.store(AV_CMD_NONE);
      WakeAll(m_e);
      return false;
    }
    if (cmd == AV_CMD_SEEK) {
      PositionForSeek(m_file, m_e->index, m_e->seekTarget.load());
      m_marker.reset();
      if (!waitForFlush()) return false;
      m_e->flushing.store(0);
      {
        std::lock_guard<std::mutex> g(m_e->stateLock);
        const int s = m_e->state.load();
        if (s != AV_STATE_PLAYING) {
          m_e->stepPending.store(s == AV_STATE_PAUSED ? 1 : 0);
          SetState(m_e, AV_STATE_PLAYING);
        }
      }
      m_e->readerIdle.store(0);
      m_e->command.store(AV_CMD_NONE);
      WakeAll(m_e);
      return true;
    }
    if (m_e->readerIdle.load()) {
      WaitOn(m_e->readerWake, ticket);  // at the end of the data: until a command
      return false;
    }
    return true;
  }

  // Waits until both decode threads have dropped everything queued so far,
  // including a packet this thread committed after the seek was requested.
  // False when the stop flag ends the wait.
  bool waitForFlush() {
    const uint32_t request = m_e->flushRequest.fetch_add(1) + 1;
    m_e->videoDecodeWake.notify();
    m_e->audioDecodeWake.notify();
    for (;;) {
      const uint64_t ticket = m_e->readerWake.ticket();
      if (m_e->videoFlushAck.load() == request && m_e->audioFlushAck.load() == request) return true;
      if (m_e->readerStop.load()) return false;
      WaitOn(m_e->readerWake, ticket);
    }
  }

  void endOfData() {
    m_file.seek(0);
    m_marker.reset();
    m_e->readerIdle.store(1);
    m_e->videoDecodeWake.notify();  // it watches for the end of the stream
  }

  void audioFormatRecord(const AvRecordHeader& h) {
    std::memcpy(&m_e->audioFormat, h.format, sizeof h.format);
    m_frameUs = AudioFrameDurationUs(Le16(h.format));
    if (m_e->cb.AudioFormat) m_e->cb.AudioFormat(&m_e->audioFormat);
  }

  bool readAll(void* dst, size_t n) { return m_file.read(dst, n) == n; }

  Turn mediaBlock(const AvRecordHeader& h) {
    const uint32_t n = std::min<uint32_t>(h.audioFrames, MAX_AUDIO_FRAMES_PER_BLOCK);
    if (n > 0 && !readAll(m_lengths, 2 * n)) return endOfDataTurn();

    uint32_t offset = 0;  // running audio time offset, wraps as 32-bit
    bool discard = false;
    for (uint32_t k = 0; k < n; ++k, offset += m_frameUs) {
      const uint32_t len = std::min<uint32_t>(Le16(m_lengths + 2 * k), MAX_AUDIO_FRAME_BYTES);
      if (len == 0) continue;
      if (discard || m_e->flushing.load()) {
        // Once one frame of a block is dropped, the rest of the block is too.
        discard = true;
        if (!readAll(m_scratch.get(), len)) return endOfDataTurn();
        continue;
      }
      uint8_t* slot = waitForSlot(m_e->audioRing, kReaderWaitsForAudioRoom, kAudioRoomToResume);
      if (!slot) return Turn::EndThread;
      if (!readAll(slot, len)) return endOfDataTurn();
      m_e->audioRing.commit(len, h.audioTs + offset);
      // The decode threads wait for a packet only when their ring was empty.
      if (m_e->audioRing.room() == AUDIO_RING_SLOTS - 2) m_e->audioDecodeWake.notify();
    }
    if (m_e->readerStop.load()) return Turn::EndThread;

    if (h.videoLength == 0) return Turn::Next;
    const uint32_t len = std::min(h.videoLength, MAX_VIDEO_PAYLOAD);
    if (m_e->flushing.load()) {
      return readAll(m_scratch.get(), len) ? Turn::Next : endOfDataTurn();
    }
    uint8_t* slot = waitForSlot(m_e->videoRing, kReaderWaitsForVideoRoom, kVideoRoomToResume);
    if (!slot) return Turn::EndThread;
    if (!readAll(slot, len)) return endOfDataTurn();
    m_e->videoRing.commit(len, h.videoTs);
    if (m_e->videoRing.room() == VIDEO_RING_SLOTS - 2) m_e->videoDecodeWake.notify();
    return Turn::Next;
  }

  Turn endOfDataTurn() {
    endOfData();
    return Turn::Next;
  }

  // A slot of `ring`; null when the stop flag is raised. A full ring is
  // waited on until `resume` slots are free: its consumer, seeing `waitsFor`,
  // wakes this thread then (a flush frees them all).
  template <typename Ring>
  uint8_t* waitForSlot(Ring& ring, int waitsFor, uint32_t resume) {
    for (;;) {
      const uint64_t ticket = m_e->readerWake.ticket();
      if (uint8_t* slot = ring.reserve()) {
        m_e->readerWaitsFor.store(kReaderWaitsForNothing);
        return slot;
      }
      if (m_e->readerStop.load()) return nullptr;
      // Stored before the room is looked at, so a consumer that frees the
      // room after the look sees it and wakes this thread.
      m_e->readerWaitsFor.store(waitsFor);
      if (ring.room() < resume) WaitOn(m_e->readerWake, ticket);
    }
  }

  AvEngine* m_e;
  FileReader& m_file;
  MarkerReader m_marker{MarkerReader::Mode::Playback};
  std::unique_ptr<uint8_t[]> m_scratch;  // discarded payload goes here
  uint32_t m_frameUs = kDefaultAudioFrameUs;
  uint8_t m_lengths[2 * MAX_AUDIO_FRAMES_PER_BLOCK] = {};
};

}  // namespace

void ReaderThreadMain(AvEngine* e) {
  Reader(e).run();
  e->readerEnded.store(true);
  e->controlWake.notify();
}

}  // namespace trevolo
