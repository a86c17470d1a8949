#include "video/sound_speed.h"

#include <sonic.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// Fades at a stop and a restart: long enough to take the click out of a cut
// waveform, short enough not to be heard as a fade.
constexpr uint32_t kFadeSamples = 40;  // 5 ms

// Once this much of the block queue has been taken, it is moved to the front.
constexpr size_t kCompactSamples = 4096;

}  // namespace

SoundSpeed::SoundSpeed() = default;

SoundSpeed::~SoundSpeed() {
  if (m_stream != nullptr) sonicDestroyStream(m_stream);
}

bool SoundSpeed::ensureStream() {
  if (m_stream != nullptr) return true;
  m_stream = sonicCreateStream(kSampleRate, 1);
  if (m_stream == nullptr) return false;
  sonicSetSpeed(m_stream, static_cast<float>(m_speed) / kNormalSpeed);
  return true;
}

void SoundSpeed::setSpeed(int permille) {
  if (permille == m_speed) return;
  m_speed = permille;
  if (m_stream != nullptr) sonicSetSpeed(m_stream, static_cast<float>(permille) / kNormalSpeed);
}

bool SoundSpeed::put(const void* samples, uint32_t count) {
  if (!ensureStream()) return false;
  // The stretcher's interface takes mutable, aligned samples; it only reads
  // them.
  m_scratch.resize(count);
  std::memcpy(m_scratch.data(), samples, size_t{count} * sizeof(int16_t));
  if (sonicWriteShortToStream(m_stream, m_scratch.data(), static_cast<int>(count)) == 0) {
    return false;
  }
  const size_t before = m_out.size();
  readAvailable();
  // At normal speed the stretcher passes everything through.
  m_streamHolds = m_speed != kNormalSpeed;
  if (m_fadeInNext && m_out.size() > before) {
    fadeIn(before);
    m_fadeInNext = false;
  }
  return true;
}

void SoundSpeed::readAvailable() {
  const int available = sonicSamplesAvailable(m_stream);
  if (available <= 0) return;
  const size_t at = m_out.size();
  m_out.resize(at + static_cast<size_t>(available));
  const int read = sonicReadShortFromStream(m_stream, m_out.data() + at, available);
  m_out.resize(at + static_cast<size_t>(std::max(read, 0)));
}

void SoundSpeed::fadeIn(size_t from) {
  const size_t n = std::min<size_t>(kFadeSamples, m_out.size() - from);
  for (size_t i = 0; i < n; ++i) {
    m_out[from + i] = static_cast<int16_t>(m_out[from + i] * static_cast<int>(i) /
                                           static_cast<int>(kFadeSamples));
  }
}

void SoundSpeed::finish() {
  if (m_stream != nullptr) {
    sonicFlushStream(m_stream);
    readAvailable();
    // The next sound starts on a fresh stretcher, with nothing of this one.
    sonicDestroyStream(m_stream);
    m_stream = nullptr;
  }
  const size_t held = m_out.size() - m_outHead;
  const size_t n = std::min<size_t>(kFadeSamples, held);
  for (size_t i = 0; i < n; ++i) {
    int16_t& s = m_out[m_out.size() - n + i];
    s = static_cast<int16_t>(s * static_cast<int>(n - 1 - i) / static_cast<int>(n));
  }
  const size_t partial = held % kBlockSamples;
  if (partial != 0) m_out.resize(m_out.size() + (kBlockSamples - partial), 0);
  m_streamHolds = false;
  m_fadeInNext = true;
}

void SoundSpeed::clear() {
  // The stretcher has no way to forget its input; a new one is cheap.
  if (m_stream != nullptr) {
    sonicDestroyStream(m_stream);
    m_stream = nullptr;
  }
  m_out.clear();
  m_outHead = 0;
  m_streamHolds = false;
  m_fadeInNext = false;
}

bool SoundSpeed::empty() const {
  return m_out.size() == m_outHead && !m_streamHolds;
}

void SoundSpeed::popBlock() {
  if (!hasBlock()) return;
  m_outHead += kBlockSamples;
  if (m_outHead == m_out.size()) {
    m_out.clear();
    m_outHead = 0;
  } else if (m_outHead >= kCompactSamples) {
    m_out.erase(m_out.begin(), m_out.begin() + static_cast<ptrdiff_t>(m_outHead));
    m_outHead = 0;
  }
}

uint64_t SoundSpeed::QueuedMediaUs(int permille) {
  if (permille == kNormalSpeed) return 0;
  // Measured with a steady tone in 20 ms frames: what the stretcher keeps
  // (about two of its longest pitch periods) plus half a block on average.
  struct Point {
    int permille;
    uint64_t queuedUs;
  };
  static constexpr Point kMeasured[] = {{500, 31'000}, {1500, 42'000}, {2000, 50'000}};
  if (permille <= kMeasured[0].permille) return kMeasured[0].queuedUs;
  for (size_t i = 1; i < std::size(kMeasured); ++i) {
    const Point& a = kMeasured[i - 1];
    const Point& b = kMeasured[i];
    if (permille <= b.permille) {
      return a.queuedUs + (b.queuedUs - a.queuedUs) * static_cast<uint64_t>(permille - a.permille) /
                              static_cast<uint64_t>(b.permille - a.permille);
    }
  }
  return kMeasured[std::size(kMeasured) - 1].queuedUs;
}
