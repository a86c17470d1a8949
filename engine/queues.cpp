#include "engine/queues.h"

#include <new>

namespace trevolo {

// ---- video packet ring ----------------------------------------------------

bool VideoPacketRing::allocate() {
  std::lock_guard<std::mutex> g(m_lock);
  m_read = m_write = 0;
  for (auto& s : m_slots) {
    s = VideoPacket{};
  }
  for (auto& s : m_slots) {
    s.data = new (std::nothrow) uint8_t[kVideoSlotBytes];
    if (!s.data) {
      for (auto& t : m_slots) {
        delete[] t.data;
        t.data = nullptr;
      }
      return false;
    }
  }
  return true;
}

void VideoPacketRing::free() {
  std::lock_guard<std::mutex> g(m_lock);
  for (auto& s : m_slots) {
    delete[] s.data;
    s.data = nullptr;
  }
}

// ---- audio packet ring ----------------------------------------------------

void AudioPacketRing::clear() {
  std::lock_guard<std::mutex> g(m_lock);
  m_read = m_write = 0;
  for (auto& s : m_slots) s = AudioPacket{};
}

// ---- PCM ring ---------------------------------------------------------------

bool PcmRing::allocate() {
  std::lock_guard<std::mutex> g(m_lock);
  m_block.reset(new (std::nothrow) uint8_t[kPcmBlockBytes]());
  if (!m_block) return false;
  for (uint32_t k = 0; k < PCM_RING_SLOTS; ++k) m_buffers[k] = m_block.get() + k * PCM_FRAME_BYTES;
  return true;
}

void PcmRing::free() {
  std::lock_guard<std::mutex> g(m_lock);
  m_block.reset();
  for (auto& b : m_buffers) b = nullptr;
}

void PcmRing::clear() {
  std::lock_guard<std::mutex> g(m_lock);
  m_read = m_write = 0;
  for (auto& t : m_timeStamps) t = 0;
  m_clock = ClockFields{};
}

uint8_t* PcmRing::writeSlot() {
  std::lock_guard<std::mutex> g(m_lock);
  if (!m_block || RingFull(m_read, m_write, PCM_RING_SLOTS)) return nullptr;
  return m_buffers[m_write];
}

void PcmRing::commit(uint64_t timeStamp) {
  std::lock_guard<std::mutex> g(m_lock);
  m_timeStamps[m_write] = timeStamp;
  m_write = RingNext(m_write, PCM_RING_SLOTS);
}

void PcmRing::dropQueued() {
  std::lock_guard<std::mutex> g(m_lock);
  m_write = m_read;
}

bool PcmRing::empty() {
  std::lock_guard<std::mutex> g(m_lock);
  return RingEmpty(m_read, m_write);
}

uint32_t PcmRing::room() {
  std::lock_guard<std::mutex> g(m_lock);
  return (m_read + PCM_RING_SLOTS - m_write - 1) % PCM_RING_SLOTS;
}

// ---- decoded-frame slot ---------------------------------------------------

void DecodedFrameSlot::clear() {
  std::lock_guard<std::mutex> g(m_lock);
  m_pending = false;
  m_handedOut.store(false);
  frame = YuvFrame{};
}

void DecodedFrameSlot::publish(uint64_t timeStamp) {
  std::lock_guard<std::mutex> g(m_lock);
  frame.timeStamp = timeStamp;
  m_pending = true;
}

bool DecodedFrameSlot::pending() {
  std::lock_guard<std::mutex> g(m_lock);
  return m_pending;
}

bool DecodedFrameSlot::peek(uint64_t& timeStamp) {
  std::lock_guard<std::mutex> g(m_lock);
  if (m_pending) timeStamp = frame.timeStamp;
  return m_pending;
}

void DecodedFrameSlot::discard() {
  std::lock_guard<std::mutex> g(m_lock);
  m_pending = false;
  m_handedOut.store(false);
}

void DecodedFrameSlot::release(bool sideReady) {
  std::lock_guard<std::mutex> g(m_lock);
  if (sideReady) m_pending = false;
  m_handedOut.store(false);
}

}  // namespace trevolo
