#include "platform/looping_sound_buffer.h"

#include <SDL.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace trevolo::platform {

namespace {

constexpr long kSilentVolume = -10000;  // hundredths of a decibel
constexpr int kUnityGain = 65536;       // 16.16 fixed point

// The audio subsystem, started for as long as a device object lives.
class SdlSoundDevice final : public SoundDevice {
 public:
  ~SdlSoundDevice() override { SDL_QuitSubSystem(SDL_INIT_AUDIO); }
  SoundResult createBuffer(const SoundBufferDesc& desc,
                           std::unique_ptr<SoundBuffer>* buffer) override {
    return LoopingSoundBuffer::open(desc, buffer);
  }
};

// Unsigned 8-bit samples are silent at mid-scale; signed 16-bit ones at 0.
constexpr uint8_t kSilence8Bit = 0x80;

SDL_AudioFormat sdlFormatOf(const SoundFormat& format) {
  if (format.bitsPerSample == 8) {
    return AUDIO_U8;
  }
  return AUDIO_S16LSB;
}

bool supported(const SoundBufferDesc& desc) {
  const SoundFormat& f = desc.format;
  return f.formatTag == 1 && f.channels >= 1 && f.channels <= 8 && f.samplesPerSec > 0 &&
         (f.bitsPerSample == 8 || f.bitsPerSample == 16) &&
         f.blockAlign == f.channels * f.bitsPerSample / 8 && desc.bytes >= f.blockAlign &&
         desc.bytes % f.blockAlign == 0;
}

void SDLCALL audioCallback(void* userdata, Uint8* stream, int length) {
  static_cast<LoopingSoundBuffer*>(userdata)->pull(stream, length);
}

}  // namespace

SoundResult createSoundDevice(std::unique_ptr<SoundDevice>* device) {
  if (device == nullptr) {
    return SoundResult::kInvalidParam;
  }
  device->reset();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    return SoundResult::kNoDriver;
  }
  *device = std::make_unique<SdlSoundDevice>();
  return SoundResult::kOk;
}

// ---------------------------------------------------------------------------
// SoundRing

SoundRing::SoundRing(uint32_t bytes, uint32_t blockAlign, bool silenceAfterPlay, uint8_t silence)
    : m_blockAlign(std::max<uint32_t>(blockAlign, 1)),
      m_silenceAfterPlay(silenceAfterPlay),
      m_silence(silence),
      m_bytes(bytes, silence) {}

SoundResult SoundRing::lock(uint32_t offset, uint32_t bytes, uint32_t flags,
                            SoundRegion* region) {
  if (region == nullptr) {
    return SoundResult::kInvalidParam;
  }
  *region = {};
  if (flags & kLockEntireBuffer) {
    offset = 0;
    bytes = size();
  }
  if (bytes == 0 || bytes > size() || offset >= size()) {
    return SoundResult::kInvalidParam;
  }
  m_mutex.lock();
  m_locked = true;
  const uint32_t toEnd = size() - offset;
  region->first = m_bytes.data() + offset;
  region->firstBytes = std::min(bytes, toEnd);
  if (bytes > toEnd) {
    region->second = m_bytes.data();
    region->secondBytes = bytes - toEnd;
  }
  return SoundResult::kOk;
}

bool SoundRing::ownsRegion(const SoundRegion& region) const {
  const uint8_t* begin = m_bytes.data();
  const uint8_t* end = begin + m_bytes.size();
  const bool firstOk = region.first >= begin && region.first + region.firstBytes <= end;
  const bool secondOk = region.second == nullptr ||
                        (region.second == begin && region.secondBytes <= m_bytes.size());
  return firstOk && secondOk;
}

SoundResult SoundRing::unlock(const SoundRegion& region) {
  // Called by the thread that holds m_mutex since lock(); m_locked is only
  // read here by that thread, so checking it outside the mutex is safe.
  if (!m_locked) {
    return SoundResult::kInvalidParam;
  }
  const bool owned = ownsRegion(region);
  m_locked = false;
  m_mutex.unlock();
  return owned ? SoundResult::kOk : SoundResult::kInvalidParam;
}

void SoundRing::setNotifications(std::span<const SoundNotification> table, EventSet* events) {
  std::lock_guard lock(m_mutex);
  m_notifications.assign(table.begin(), table.end());
  m_events = events;
}

uint32_t SoundRing::position() const {
  std::lock_guard lock(m_mutex);
  return m_cursor;
}

void SoundRing::setPosition(uint32_t offset) {
  std::lock_guard lock(m_mutex);
  offset %= size();
  m_cursor = offset - offset % m_blockAlign;
}

void SoundRing::render(uint8_t* out, uint32_t length) {
  uint32_t toSet = 0;  // bit e: event e of the set is due
  EventSet* events = nullptr;
  {
    std::lock_guard lock(m_mutex);
    const uint32_t ringBytes = size();
    const uint32_t start = m_cursor;
    for (uint32_t done = 0; done < length;) {
      const uint32_t piece = std::min(length - done, ringBytes - m_cursor);
      std::memcpy(out + done, m_bytes.data() + m_cursor, piece);
      if (m_silenceAfterPlay) std::memset(m_bytes.data() + m_cursor, m_silence, piece);
      done += piece;
      m_cursor = (m_cursor + piece) % ringBytes;
    }
    // A position p is reached when it lies in (start, start + length],
    // counted forwards around the ring.
    for (const SoundNotification& n : m_notifications) {
      const uint32_t p = n.offset % ringBytes;
      const uint32_t ahead = (p + ringBytes - start - 1) % ringBytes + 1;
      if (ahead <= length && n.event >= 0 && n.event < EventSet::kMaxEvents) {
        toSet |= uint32_t{1} << n.event;
      }
    }
    events = m_events;
  }
  // Set the events outside the ring lock: a woken writer locks the ring next.
  for (int e = 0; events != nullptr && toSet != 0; ++e, toSet >>= 1) {
    if (toSet & 1) {
      events->set(e);
    }
  }
}

// ---------------------------------------------------------------------------
// LoopingSoundBuffer

LoopingSoundBuffer::LoopingSoundBuffer(const SoundBufferDesc& desc)
    : m_desc(desc),
      m_ring(desc.bytes, desc.format.blockAlign, desc.silenceAfterPlay,
             desc.format.bitsPerSample == 8 ? kSilence8Bit : 0) {}

LoopingSoundBuffer::~LoopingSoundBuffer() {
  std::lock_guard lock(m_deviceMutex);
  closeDevice();
}

SoundResult LoopingSoundBuffer::open(const SoundBufferDesc& desc,
                                     std::unique_ptr<SoundBuffer>* buffer) {
  if (buffer == nullptr) {
    return SoundResult::kInvalidParam;
  }
  buffer->reset();
  if (!supported(desc)) {
    return SoundResult::kInvalidParam;
  }
  std::unique_ptr<LoopingSoundBuffer> made(new LoopingSoundBuffer(desc));
  if (!made->openDevice()) {
    return SoundResult::kFailed;
  }
  *buffer = std::move(made);
  return SoundResult::kOk;
}

bool LoopingSoundBuffer::openDevice() {
  const SoundFormat& f = m_desc.format;
  SDL_AudioSpec want{};
  want.freq = static_cast<int>(std::min<uint32_t>(f.samplesPerSec, INT32_MAX));
  want.format = sdlFormatOf(f);
  want.channels = static_cast<Uint8>(f.channels);
  // One pull per period keeps notifications on period boundaries.
  const uint32_t period = m_desc.periodBytes != 0 ? m_desc.periodBytes : m_desc.bytes / 4;
  want.samples = static_cast<Uint16>(std::clamp<uint32_t>(period / f.blockAlign, 1, 8192));
  want.callback = audioCallback;
  want.userdata = this;
  SDL_AudioSpec have{};
  // No allowed changes: SDL converts and re-blocks for us, so the callback
  // always sees exactly this format and period.
  m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (m_device == 0) {
    return false;
  }
  ++s_openDevices;
  return true;
}

void LoopingSoundBuffer::closeDevice() {
  if (const uint32_t device = m_device.exchange(0); device != 0) {
    SDL_CloseAudioDevice(device);  // waits for a running callback to finish
    --s_openDevices;
  }
}

std::atomic<int> LoopingSoundBuffer::s_openDevices{0};

int LoopingSoundBuffer::openDevicesForTesting() { return s_openDevices; }

void LoopingSoundBuffer::loseDeviceForTesting() {
  std::lock_guard lock(m_deviceMutex);
  closeDevice();
}

void LoopingSoundBuffer::pull(uint8_t* out, int length) {
  if (length <= 0) {
    return;
  }
  m_ring.render(out, static_cast<uint32_t>(length));
  applyVolume(out, length);
}

void LoopingSoundBuffer::applyVolume(uint8_t* out, int length) const {
  const int gain = m_gain.load(std::memory_order_relaxed);
  if (gain == kUnityGain) {
    return;
  }
  if (m_desc.format.bitsPerSample == 8) {
    for (int i = 0; i < length; ++i) {
      const int centred = out[i] - 128;
      out[i] = static_cast<uint8_t>(128 + (centred * gain >> 16));
    }
    return;
  }
  for (int i = 0; i + 1 < length; i += 2) {
    int16_t sample;
    std::memcpy(&sample, out + i, sizeof sample);
    sample = static_cast<int16_t>((int64_t{sample} * gain) >> 16);
    std::memcpy(out + i, &sample, sizeof sample);
  }
}

SoundResult LoopingSoundBuffer::setNotificationPositions(
    std::span<const SoundNotification> table, EventSet* events) {
  if (table.size() > 32) {
    return SoundResult::kInvalidParam;
  }
  for (const SoundNotification& n : table) {
    if (n.offset >= m_ring.size() || n.event < 0 || n.event >= EventSet::kMaxEvents) {
      return SoundResult::kInvalidParam;
    }
  }
  m_ring.setNotifications(table, events);
  return SoundResult::kOk;
}

bool LoopingSoundBuffer::isLost() {
  const uint32_t device = m_device;
  return device == 0 || SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED;
}

SoundResult LoopingSoundBuffer::lock(uint32_t offset, uint32_t bytes, uint32_t flags,
                                     SoundRegion* region) {
  if (isLost()) {
    if (region != nullptr) {
      *region = {};
    }
    return SoundResult::kBufferLost;
  }
  return m_ring.lock(offset, bytes, flags, region);
}

SoundResult LoopingSoundBuffer::unlock(const SoundRegion& region) { return m_ring.unlock(region); }

SoundResult LoopingSoundBuffer::play() {
  if (isLost()) {
    return SoundResult::kBufferLost;
  }
  SDL_PauseAudioDevice(m_device, 0);
  m_playing = true;
  return SoundResult::kOk;
}

SoundResult LoopingSoundBuffer::stop() {
  if (const uint32_t device = m_device; device != 0) {
    SDL_PauseAudioDevice(device, 1);
  }
  m_playing = false;
  return SoundResult::kOk;
}

SoundResult LoopingSoundBuffer::getCurrentPosition(uint32_t* playCursor, uint32_t* writeCursor) {
  // The device pulls straight from the ring, so the first byte it has not yet
  // taken is both where it plays next and the earliest safe place to write.
  const uint32_t cursor = m_ring.position();
  if (playCursor != nullptr) {
    *playCursor = cursor;
  }
  if (writeCursor != nullptr) {
    *writeCursor = cursor;
  }
  return SoundResult::kOk;
}

SoundResult LoopingSoundBuffer::setCurrentPosition(uint32_t offset) {
  m_ring.setPosition(offset);
  return SoundResult::kOk;
}

SoundResult LoopingSoundBuffer::restore() {
  // Two writers can find the buffer lost at the same time (the audio thread
  // and the window writing silence). Each would open a device, and the one
  // overwritten would stay open, calling back into this buffer after it is
  // gone. One restores; the other finds the device back.
  std::lock_guard lock(m_deviceMutex);
  if (!isLost()) {
    return SoundResult::kOk;
  }
  // Reopen on whatever device is now the default; the ring keeps its bytes,
  // cursor and notifications, and playback resumes if it was running.
  closeDevice();
  if (!openDevice()) {
    return SoundResult::kBufferLost;
  }
  if (m_playing) {
    SDL_PauseAudioDevice(m_device, 0);
  }
  return SoundResult::kOk;
}

SoundResult LoopingSoundBuffer::setVolume(long volume) {
  volume = std::clamp(volume, kSilentVolume, 0L);
  // Hundredths of a decibel to an amplitude factor: 10^(volume / 2000).
  const double factor = std::pow(10.0, static_cast<double>(volume) / 2000.0);
  m_gain.store(volume == kSilentVolume ? 0 : static_cast<int>(factor * kUnityGain));
  return SoundResult::kOk;
}

}  // namespace trevolo::platform
