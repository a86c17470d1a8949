// A set of auto-reset events that share one lock, so a thread can wait for
// any of them at once. Setting an event wakes one waiter, which clears it.
// Closing the set wakes every waiter with kClosed, so nobody sleeps on events
// that their owner has torn down.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace trevolo::platform {

class EventSet {
 public:
  static constexpr int kMaxEvents = 32;
  static constexpr int kTimedOut = -1;
  static constexpr int kClosed = -2;

  EventSet() = default;
  EventSet(const EventSet&) = delete;
  EventSet& operator=(const EventSet&) = delete;

  // Out-of-range indices are ignored.
  void set(int index);
  void reset(int index);
  bool isSet(int index) const;

  // Waits until an event of `mask` is set, clears it and returns its index
  // (the lowest one when several are set). kClosed when the set is closed or
  // the mask is empty.
  int waitAny(uint32_t mask);
  // As above, but gives up after `timeout` with kTimedOut.
  int waitAny(uint32_t mask, std::chrono::milliseconds timeout);

  // close() clears every event and fails all present and later waits until
  // open(), which clears the events again and accepts waits.
  void close();
  void open();
  bool isClosed() const;

 private:
  int takeLowest(uint32_t mask);  // caller holds m_mutex

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  uint32_t m_signalled = 0;  // guarded by m_mutex; bit i = event i is set
  bool m_closed = false;     // guarded by m_mutex
};

}  // namespace trevolo::platform
