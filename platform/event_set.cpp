#include "platform/event_set.h"

#include <bit>

namespace trevolo::platform {

namespace {

bool validIndex(int index) { return index >= 0 && index < EventSet::kMaxEvents; }

uint32_t bitOf(int index) { return uint32_t{1} << index; }

}  // namespace

void EventSet::set(int index) {
  if (!validIndex(index)) {
    return;
  }
  {
    std::lock_guard lock(m_mutex);
    if (m_closed) {
      return;
    }
    m_signalled |= bitOf(index);
  }
  // Waiters may watch different masks, so wake them all; each rechecks its own.
  m_changed.notify_all();
}

void EventSet::reset(int index) {
  if (!validIndex(index)) {
    return;
  }
  std::lock_guard lock(m_mutex);
  m_signalled &= ~bitOf(index);
}

bool EventSet::isSet(int index) const {
  if (!validIndex(index)) {
    return false;
  }
  std::lock_guard lock(m_mutex);
  return (m_signalled & bitOf(index)) != 0;
}

int EventSet::takeLowest(uint32_t mask) {
  const uint32_t ready = m_signalled & mask;
  const int index = std::countr_zero(ready);
  m_signalled &= ~bitOf(index);
  return index;
}

int EventSet::waitAny(uint32_t mask) {
  std::unique_lock lock(m_mutex);
  m_changed.wait(lock, [&] { return m_closed || mask == 0 || (m_signalled & mask) != 0; });
  if (m_closed || mask == 0) {
    return kClosed;
  }
  return takeLowest(mask);
}

int EventSet::waitAny(uint32_t mask, std::chrono::milliseconds timeout) {
  std::unique_lock lock(m_mutex);
  const bool woken = m_changed.wait_for(
      lock, timeout, [&] { return m_closed || mask == 0 || (m_signalled & mask) != 0; });
  if (m_closed || mask == 0) {
    return kClosed;
  }
  if (!woken) {
    return kTimedOut;
  }
  return takeLowest(mask);
}

void EventSet::close() {
  {
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_signalled = 0;
  }
  m_changed.notify_all();
}

void EventSet::open() {
  std::lock_guard lock(m_mutex);
  m_closed = false;
  m_signalled = 0;
}

bool EventSet::isClosed() const {
  std::lock_guard lock(m_mutex);
  return m_closed;
}

}  // namespace trevolo::platform
