#include "video/h264_nal.h"

#include <algorithm>
#include <cstring>

namespace trevolo::h264 {
namespace {

constexpr uint32_t kWindowMask = 0xFFFFFF;
constexpr uint32_t kStartCode = 0x000001;
constexpr uint32_t kEmulationPrevention = 0x000003;
// Non-zero fill, so that a start code completes at the earliest on the third
// byte of a call.
constexpr uint32_t kFreshWindow = 0xFFFFFF;

}  // namespace

NalSplitter::NalSplitter(size_t capacity)
    : m_buf(new uint8_t[capacity]), m_capacity(capacity) {}

// Copies bytes up to (not including) the next zero byte while the window
// cannot be completed into a start code or an emulation prevention pattern by
// them: its last two bytes are not both zero and the run holds no zero.
size_t NalSplitter::copyRun(const uint8_t* p, size_t size) {
  const auto* zero = static_cast<const uint8_t*>(std::memchr(p, 0, size));
  const size_t run = zero ? static_cast<size_t>(zero - p) : size;
  if (run == 0) return 0;
  const size_t room = m_capacity - m_fill;
  if (run > room) {
    m_overflow = true;
  } else {
    std::memcpy(m_buf.get() + m_fill, p, run);
    m_fill += run;
  }
  for (size_t i = run > 3 ? run - 3 : 0; i < run; ++i) m_window = ((m_window << 8) | p[i]) & kWindowMask;
  return run;
}

void NalSplitter::split(const uint8_t* data, size_t size, const Sink& sink) {
  m_window = kFreshWindow;
  m_inUnit = false;
  m_overflow = false;
  m_fill = 0;
  size_t i = 0;
  while (i < size) {
    if (m_inUnit && !m_overflow && (m_window & 0xFFFF) != 0) {
      const size_t run = copyRun(data + i, size - i);
      i += run;
      if (run > 0) continue;
    }
    const uint8_t b = data[i++];
    m_window = ((m_window << 8) | b) & kWindowMask;
    if (m_window == kStartCode) {
      if (m_inUnit && !m_overflow) {
        m_fill -= std::min<size_t>(m_fill, 2);  // the start code's zeros
        finish(sink);
      }
      m_inUnit = true;
      m_overflow = false;
      m_fill = 0;
      continue;
    }
    if (!m_inUnit || m_overflow || m_window == kEmulationPrevention) continue;
    if (m_fill == m_capacity) {
      m_overflow = true;
      continue;
    }
    m_buf[m_fill++] = b;
  }
  if (m_inUnit && !m_overflow) finish(sink);
  m_inUnit = false;
}

// Trailing zero bytes (a following four-byte start code's extra zero,
// cabac_zero_words, trailing_zero_8bits) are not part of the RBSP: it ends
// with the stop bit in the last non-zero byte.
void NalSplitter::finish(const Sink& sink) {
  size_t n = m_fill;
  while (n > 0 && m_buf[n - 1] == 0) --n;
  if (n > 1) sink(m_buf.get(), n);
}

size_t writeAnnexB(const uint8_t* nal, size_t size, uint8_t* out, size_t room) {
  if (room < 4 + size + size / 2 + 1) return 0;
  uint8_t* o = out;
  *o++ = 0;
  *o++ = 0;
  *o++ = 0;
  *o++ = 1;
  int zeros = 0;
  size_t i = 0;
  while (i < size) {
    if (zeros < 2) {
      // Bulk-copy up to the next zero byte: no escape can be due inside it.
      const auto* zero = static_cast<const uint8_t*>(std::memchr(nal + i, 0, size - i));
      const size_t run = zero ? static_cast<size_t>(zero - (nal + i)) : size - i;
      if (run > 0) {
        std::memcpy(o, nal + i, run);
        o += run;
        i += run;
        zeros = 0;
        continue;
      }
    }
    const uint8_t b = nal[i++];
    if (zeros >= 2 && b <= 3) {
      *o++ = 3;
      zeros = 0;
    }
    *o++ = b;
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return static_cast<size_t>(o - out);
}

}  // namespace trevolo::h264
