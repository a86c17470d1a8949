// The four fixed-size structures that connect the engine's five threads.
// Each has exactly one producer and one consumer. Indices change under a
// short per-structure lock; payload bytes are written and read outside it,
// which is safe because the producer owns the slot at `write` until it
// commits and the consumer owns the slot at `read` until it advances.
// All storage is allocated when the engine is created.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "engine/av_engine.h"

namespace trevolo {

inline constexpr uint32_t VIDEO_RING_SLOTS = 100;
inline constexpr uint32_t AUDIO_RING_SLOTS = 200;
inline constexpr uint32_t PCM_RING_SLOTS = 8;
inline constexpr uint32_t PCM_FRAME_BYTES = 320;
inline constexpr uint32_t kPcmBlockBytes = 3072;
inline constexpr uint32_t kVideoSlotBytes = 262144;
inline constexpr uint32_t kAudioSlotBytes = 36;

// Ring index rule: advance to i + 1 when i + 1 < n, else to 0.
constexpr uint32_t RingNext(uint32_t i, uint32_t n) { return i + 1 < n ? i + 1 : 0; }
constexpr bool RingEmpty(uint32_t read, uint32_t write) { return read == write; }
constexpr bool RingFull(uint32_t read, uint32_t write, uint32_t n) { return RingNext(write, n) == read; }

// The packet ring shared by video and audio: `Packet` has `data` (its byte
// area), `length` and `timeStamp`. The reader produces, a decode thread
// consumes.
template <typename Packet, uint32_t N>
class PacketRing {
 public:
  // Producer: the data area of the slot at write; null when not ready or full.
  uint8_t* reserve() {
    if (!ready.load()) return nullptr;
    std::lock_guard<std::mutex> g(m_lock);
    if (RingFull(m_read, m_write, N)) return nullptr;
    return m_slots[m_write].data;
  }
  // Producer: stores length and time stamp in the slot at write and advances.
  void commit(uint32_t length, uint64_t timeStamp) {
    if (!ready.load()) return;
    std::lock_guard<std::mutex> g(m_lock);
    m_slots[m_write].length = length;
    m_slots[m_write].timeStamp = timeStamp;
    m_write = RingNext(m_write, N);
  }
  // Consumer: the slot at read, or null when empty.
  const Packet* peek() {
    std::lock_guard<std::mutex> g(m_lock);
    return RingEmpty(m_read, m_write) ? nullptr : &m_slots[m_read];
  }
  void advance() {
    std::lock_guard<std::mutex> g(m_lock);
    if (!RingEmpty(m_read, m_write)) m_read = RingNext(m_read, N);
  }
  // Consumer: drops everything queued at once.
  void flush() {
    std::lock_guard<std::mutex> g(m_lock);
    m_read = m_write;
  }
  bool empty() {
    std::lock_guard<std::mutex> g(m_lock);
    return RingEmpty(m_read, m_write);
  }
  // Free slots: N - 1 when empty, 0 when full.
  uint32_t room() {
    std::lock_guard<std::mutex> g(m_lock);
    return (m_read + N - m_write - 1) % N;
  }

  std::atomic<bool> ready{false};

 protected:
  std::mutex m_lock;  // guards m_read, m_write and the slots' length/time stamp
  uint32_t m_read = 0;
  uint32_t m_write = 0;
  Packet m_slots[N];
};

struct VideoPacket {
  uint8_t* data = nullptr;  // kVideoSlotBytes of its own
  uint32_t length = 0;
  uint64_t timeStamp = 0;
};

class VideoPacketRing : public PacketRing<VideoPacket, VIDEO_RING_SLOTS> {
 public:
  ~VideoPacketRing() { free(); }
  bool allocate();  // the 100 buffers; false (nothing kept) on failure
  void free();
};

struct AudioPacket {
  uint8_t data[kAudioSlotBytes] = {};
  uint32_t length = 0;
  uint64_t timeStamp = 0;
};

// Its ready flag covers this ring and the PCM ring together.
class AudioPacketRing : public PacketRing<AudioPacket, AUDIO_RING_SLOTS> {
 public:
  void clear();
};

// The presentation clock (microseconds) lives under the PCM lock.
struct ClockFields {
  uint64_t audioClock = 0;  // 0 = not running
  uint64_t lastFetchWall = 0;
  uint64_t lastFetchTs = 0;
  bool onWallClock = false;  // audioClock was last read off the wall clock, not a frame
};

class PcmRing {
 public:
  ~PcmRing() { free(); }
  bool allocate();  // the 3,072-byte block
  void free();
  bool allocated() const { return m_block != nullptr; }
  void clear();

  // Producer (audio decode thread): the buffer at write, or null when full.
  uint8_t* writeSlot();
  void commit(uint64_t timeStamp);

  // Consumer: copies the frame at read into dst and advances. `clockUpdate`
  // runs under the PCM lock with whether a frame was taken and its time stamp.
  template <typename ClockUpdate>
  bool take(uint8_t* dst, uint64_t& timeStamp, ClockUpdate&& clockUpdate);

  // Consumer: runs decide(ClockFields&, bool hasFrame, uint64_t timeStamp)
  // under the PCM lock with the frame at read, if any; when it returns true
  // that frame is copied into dst and the ring advances.
  template <typename Decide>
  bool takeIf(uint8_t* dst, uint64_t& timeStamp, Decide&& decide);

  bool empty();
  uint32_t room();  // free slots: PCM_RING_SLOTS - 1 when empty
  // Producer side: drops every queued frame. Safe against the consumer,
  // which copies frames out under the same lock.
  void dropQueued();
  // Runs f(ClockFields&) under the PCM lock.
  template <typename F>
  auto withClock(F&& f) {
    std::lock_guard<std::mutex> g(m_lock);
    return f(m_clock);
  }

 private:
  std::mutex m_lock;  // guards the indices, the slot time stamps and m_clock
  uint32_t m_read = 0;
  uint32_t m_write = 0;
  std::unique_ptr<uint8_t[]> m_block;
  uint8_t* m_buffers[PCM_RING_SLOTS] = {};
  uint64_t m_timeStamps[PCM_RING_SLOTS] = {};
  ClockFields m_clock;
};

template <typename ClockUpdate>
bool PcmRing::take(uint8_t* dst, uint64_t& timeStamp, ClockUpdate&& clockUpdate) {
  std::lock_guard<std::mutex> g(m_lock);
  if (RingEmpty(m_read, m_write)) {
    clockUpdate(m_clock, false, uint64_t{0});
    return false;
  }
  std::memcpy(dst, m_buffers[m_read], PCM_FRAME_BYTES);
  timeStamp = m_timeStamps[m_read];
  m_read = RingNext(m_read, PCM_RING_SLOTS);
  clockUpdate(m_clock, true, timeStamp);
  return true;
}

template <typename Decide>
bool PcmRing::takeIf(uint8_t* dst, uint64_t& timeStamp, Decide&& decide) {
  std::lock_guard<std::mutex> g(m_lock);
  const bool hasFrame = !RingEmpty(m_read, m_write);
  const uint64_t head = hasFrame ? m_timeStamps[m_read] : 0;
  if (!decide(m_clock, hasFrame, head) || !hasFrame) return false;
  std::memcpy(dst, m_buffers[m_read], PCM_FRAME_BYTES);
  timeStamp = head;
  m_read = RingNext(m_read, PCM_RING_SLOTS);
  return true;
}

// The one decoded picture between the video decode and video output threads.
class DecodedFrameSlot {
 public:
  void clear();
  // Decoder side: publish the picture just decoded.
  void publish(uint64_t timeStamp);
  bool pending();
  // Output side: whether a picture is pending, and its time stamp.
  bool peek(uint64_t& timeStamp);
  void discard();          // clear pending and handed-out (flush)
  void release(bool sideReady);
  void setHandedOut(bool v) { m_handedOut.store(v); }
  bool handedOut() const { return m_handedOut.load(); }

  YuvFrame frame;  // plane fields written by VideoDecode; time stamp under m_lock
  std::atomic<bool> ready{false};  // the video side's ready flag

 private:
  std::mutex m_lock;  // guards m_pending and frame.timeStamp
  bool m_pending = false;
  std::atomic<bool> m_handedOut{false};
};

}  // namespace trevolo
