#include "audio/direct_sound.h"

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>

using trevolo::platform::EventSet;
using trevolo::platform::kLockEntireBuffer;
using trevolo::platform::SoundBuffer;
using trevolo::platform::SoundBufferDesc;
using trevolo::platform::SoundDevice;
using trevolo::platform::SoundRegion;
using trevolo::platform::SoundResult;

namespace {

constexpr int kCreateAttempts = 3;
constexpr auto kCreateRetryDelay = std::chrono::milliseconds(200);
// The chunk limit keeps the three primed chunks inside the staging buffer.
constexpr unsigned long kMaxChunkBytes = 426;
// How often a waiting writer checks that the device is still there.
constexpr auto kLostCheckInterval = std::chrono::milliseconds(250);
// A playing device notifies every chunk (20 ms for speech). One that has not
// notified for this long while playing has stalled without saying so (a hung
// driver, a device unplugged behind the sound server): the writer gives up
// the block rather than hold its caller, and whoever closes the player, for
// ever. The caller offers the block again.
constexpr auto kStalledDeviceTimeout = std::chrono::milliseconds(1000);
constexpr auto kPumpPollInterval = std::chrono::milliseconds(10);
constexpr auto kPrimeMutexTimeout = std::chrono::milliseconds(20000);
constexpr auto kChunkMutexTimeout = std::chrono::milliseconds(2000);
constexpr int kPumpNiceness = -1;  // a little above normal

}  // namespace

CDirectSound::DeviceFactory CDirectSound::m_createDevice = trevolo::platform::createSoundDevice;
std::unique_ptr<SoundDevice> CDirectSound::m_lpDirectSound;
std::unique_ptr<SoundBuffer> CDirectSound::m_pDsb;
SoundBuffer* CDirectSound::m_pDsNotify = nullptr;
uint32_t CDirectSound::m_dwInstances = 0;

CDirectSound::CDirectSound() : m_staging(new uint8_t[kStagingBytes]()) {
  m_pDsNotify = nullptr;
  m_pDsb.reset();
  m_lpDirectSound.reset();
  ++m_dwInstances;
}

CDirectSound::~CDirectSound() {
  m_stopFlag = 1;
  m_events.close();  // wakes a pump waiting for a notification
  if (m_pumpThread.joinable()) {
    m_pumpThread.join();
  }
  m_pDsNotify = nullptr;
  m_pDsb.reset();
  if (--m_dwInstances == 0) {
    m_lpDirectSound.reset();
  }
}

// ---------------------------------------------------------------------------
// Set-up and teardown

int CDirectSound::CreateDSound(_AUDIO_CONFIG* config, unsigned long chunkBytes) {
  if (config == nullptr || chunkBytes == 0 || chunkBytes > kMaxChunkBytes) {
    return 0;
  }
  if (m_format.samplesPerSec == 0) {
    m_speed = 1.0f;
    m_format = *config;
    m_baseSampleRate = config->samplesPerSec;
    m_baseByteRate = config->avgBytesPerSec;
  }
  m_chunkBytes = static_cast<uint32_t>(chunkBytes);
  // A device whose buffer could not be made last time is not a success:
  // go on and make the buffer.
  if (m_lpDirectSound && m_pDsb) {
    return 1;
  }
  if (!m_lpDirectSound && !createDevice()) {
    return 0;
  }
  m_liveByteRate = config->avgBytesPerSec;
  if (!CreateSoundBuffer(&m_format)) {
    return 0;
  }
  m_stopFlag = 0;
  {
    std::lock_guard lock(m_stagingMutex);
    m_stagingFill = 0;
  }
  return 1;
}

int CDirectSound::createDevice() {
  for (int attempt = 1; attempt <= kCreateAttempts; ++attempt) {
    if (attempt > 1) {
      std::this_thread::sleep_for(kCreateRetryDelay);
    }
    std::unique_ptr<SoundDevice> device;
    const SoundResult result = m_createDevice ? m_createDevice(&device) : SoundResult::kNoDriver;
    if (result == SoundResult::kOk && device) {
      m_lpDirectSound = std::move(device);
      return 1;
    }
    if (result != SoundResult::kAllocated && result != SoundResult::kNoDriver) {
      return 0;
    }
  }
  return 0;
}

int CDirectSound::CreateSoundBuffer(tWAVEFORMATEX* format) {
  if (format == nullptr || !m_lpDirectSound) {
    return 0;
  }
  SoundBufferDesc desc;
  desc.format = *format;
  desc.bytes = bufferBytes();
  desc.periodBytes = m_chunkBytes;
  desc.silenceAfterPlay = true;
  if (m_lpDirectSound->createBuffer(desc, &m_pDsb) != SoundResult::kOk || !m_pDsb) {
    m_pDsb.reset();
    return 0;
  }
  m_events.open();
  for (uint32_t k = 0; k < m_notifyCount; ++k) {
    m_notifyTable[k] = {k * m_chunkBytes, static_cast<int>(k)};
  }
  m_pDsNotify = m_pDsb.get();
  const std::span table(m_notifyTable.data(), m_notifyCount);
  if (m_pDsNotify->setNotificationPositions(table, &m_events) != SoundResult::kOk) {
    // A buffer that never notifies would leave writers waiting for ever.
    m_pDsNotify = nullptr;
    m_pDsb.reset();
    return 0;
  }
  for (uint32_t k = 0; k < m_notifyCount; ++k) {
    m_events.reset(static_cast<int>(k));
  }
  return 1;
}

void CDirectSound::Stop() {
  m_stopFlag = 1;
  // Closing the events first wakes a pump or writer still waiting on them.
  m_events.close();
  if (m_pumpThread.joinable()) {
    m_pumpThread.join();
  }
  // A woken writer leaves before the buffer goes.
  std::lock_guard writer(m_writeMutex);
  if (IsValid()) {
    m_pDsb->stop();
  }
  m_pDsNotify = nullptr;
  m_pDsb.reset();
  m_lpDirectSound.reset();
  m_playing = false;
  m_primeFlag = 1;
  std::lock_guard lock(m_stagingMutex);
  m_stagingFill = 0;
}

int CDirectSound::IsValid() const { return m_lpDirectSound && m_pDsb ? 1 : 0; }

// ---------------------------------------------------------------------------
// Writing

// Each block goes to the chunk after the one written last, so blocks are heard
// in the order they were written. Notification k says that the chunk before
// chunk k has been played and may be written again.
int CDirectSound::WriteDataToBuf(unsigned char* data, unsigned long length) {
  std::lock_guard writer(m_writeMutex);
  if (!m_pDsb || data == nullptr || length == 0) {
    return 0;
  }
  if (m_primeFlag) {
    // Three chunks of silence from the play cursor on (the start of the
    // buffer when playback has just begun), then the block.
    const uint32_t first = restartAtCursor();
    std::memset(m_staging.get(), 0, kStagingBytes);
    if (!SetSoundData(first * m_chunkBytes, m_staging.get(), 3 * m_chunkBytes)) {
      return 0;  // still primes next time
    }
    m_primeFlag = 0;
    m_nextChunk = (first + 3) % m_notifyCount;
    m_freeChunks = 1;
  }
  const int chunk = claimChunk();
  if (chunk < 0) {
    return 0;
  }
  const uint32_t offset = static_cast<uint32_t>(chunk) * m_chunkBytes;
  m_lastWriteOffset = offset;
  return SetSoundData(offset, data, length);
}

int CDirectSound::claimChunk() {
  if (m_events.isSet(static_cast<int>(m_nextChunk))) {
    // The cursor has reached the chunk meant for this block since the chunk
    // before it was written: everything written has been played (the writer
    // paused, for a start, a resume or a seek) and the notifications are
    // stale. Going by them would scatter the next blocks over the ring.
    // Continue right after the cursor instead: the other chunks are free.
    m_nextChunk = (restartAtCursor() + 1) % m_notifyCount;
    m_freeChunks = m_notifyCount - 1;
  }
  if (m_freeChunks > 0) {
    --m_freeChunks;
  } else if (waitForPlayedChunk(uint32_t{1} << ((m_nextChunk + 1) % m_notifyCount)) < 0) {
    return -1;
  }
  const uint32_t chunk = m_nextChunk;
  m_nextChunk = (chunk + 1) % m_notifyCount;
  return static_cast<int>(chunk);
}

uint32_t CDirectSound::restartAtCursor() {
  // Clear first: a notification that fires after this belongs to the cursor
  // read below.
  for (uint32_t k = 0; k < m_notifyCount; ++k) {
    m_events.reset(static_cast<int>(k));
  }
  uint32_t cursor = 0;
  m_pDsb->getCurrentPosition(&cursor, nullptr);
  return (cursor / m_chunkBytes) % m_notifyCount;
}

int CDirectSound::waitForPlayedChunk(uint32_t mask) {
  auto silentFor = std::chrono::milliseconds(0);
  for (;;) {
    const int k = m_events.waitAny(mask, kLostCheckInterval);
    if (k >= 0) {
      return k;
    }
    // Paused playback keeps the writer waiting; a vanished device, closed
    // events or a device that stopped calling back while playing do not.
    if (k == EventSet::kClosed || !m_pDsb || m_pDsb->isLost()) {
      return -1;
    }
    silentFor = m_playing ? silentFor + kLostCheckInterval : std::chrono::milliseconds(0);
    if (silentFor >= kStalledDeviceTimeout) {
      return -1;
    }
  }
}

uint32_t CDirectSound::playedChunkOffset(int notification) const {
  const uint32_t k = static_cast<uint32_t>(notification);
  return (k == 0 ? m_notifyCount - 1 : k - 1) * m_chunkBytes;
}

int CDirectSound::SetSoundData(void* data, unsigned long length) {
  if (data == nullptr || !m_pDsb) {
    return 0;
  }
  SoundRegion region;
  SoundResult result = m_pDsb->lock(0, 0, kLockEntireBuffer, &region);
  if (result == SoundResult::kBufferLost) {
    m_pDsb->restore();
    result = m_pDsb->lock(0, 0, kLockEntireBuffer, &region);
  }
  if (result != SoundResult::kOk) {
    return 0;
  }
  const bool fits = length <= region.firstBytes;
  if (fits) {
    std::memcpy(region.first, data, length);
  }
  return m_pDsb->unlock(region) == SoundResult::kOk && fits ? 1 : 0;
}

int CDirectSound::SetSoundData(unsigned long offset, void* data, unsigned long length) {
  if (data == nullptr || !m_pDsb || length > std::numeric_limits<uint32_t>::max() ||
      offset > std::numeric_limits<uint32_t>::max()) {
    return 0;
  }
  const auto at = static_cast<uint32_t>(offset);
  const auto bytes = static_cast<uint32_t>(length);
  SoundRegion region;
  SoundResult result = m_pDsb->lock(at, bytes, 0, &region);
  if (result == SoundResult::kBufferLost) {
    m_pDsb->restore();
    result = m_pDsb->lock(at, bytes, 0, &region);
  }
  if (result != SoundResult::kOk) {
    return 0;
  }
  const auto* source = static_cast<const uint8_t*>(data);
  std::memcpy(region.first, source, region.firstBytes);
  if (region.second != nullptr) {
    std::memcpy(region.second, source + region.firstBytes, region.secondBytes);
  }
  m_pDsb->unlock(region);
  return 1;
}

// ---------------------------------------------------------------------------
// Playback control

void CDirectSound::Play(int offsetMs, int /*flag*/) {
  if (!IsValid()) {
    return;
  }
  if (offsetMs != 0) {
    // Move relative to the current cursor, in whole sample frames.
    uint32_t cursor = 0;
    m_pDsb->getCurrentPosition(&cursor, nullptr);
    const int64_t size = bufferBytes();
    const int64_t align = m_format.blockAlign != 0 ? m_format.blockAlign : 1;
    int64_t delta = int64_t{offsetMs} * m_liveByteRate / 1000;
    delta -= delta % align;
    const int64_t target = ((cursor + delta) % size + size) % size;
    m_pDsb->setCurrentPosition(static_cast<uint32_t>(target));
  }
  if (m_pDsb->play() == SoundResult::kBufferLost) {
    SetSoundData(m_staging.get(), m_chunkBytes);  // restores the buffer
    m_pDsb->play();
  }
  m_playing = true;
}

void CDirectSound::Pause() {
  if (IsValid()) {
    m_pDsb->stop();
  }
  m_playing = false;
}

void CDirectSound::Continue() {
  if (!IsValid()) {
    return;
  }
  // Playing resumes wherever Pause left the cursor.
  Play(0, 1);
}

int CDirectSound::SetPlaySpeed(float factor) {
  if (!(factor > 0.0f) || !std::isfinite(factor)) {
    return 0;
  }
  const double sampleRate = std::trunc(static_cast<double>(m_baseSampleRate) * factor);
  const double byteRate = std::trunc(static_cast<double>(m_baseByteRate) * factor);
  constexpr double kMaxRate = std::numeric_limits<int32_t>::max();
  if (sampleRate < 1.0 || byteRate < 1.0 || sampleRate > kMaxRate || byteRate > kMaxRate) {
    return 0;
  }
  m_speed = factor;
  m_format.samplesPerSec = static_cast<uint32_t>(sampleRate);
  m_format.avgBytesPerSec = static_cast<uint32_t>(byteRate);
  Stop();
  if (!CreateDSound(&m_format, m_chunkBytes)) {
    return 0;
  }
  Play(0, 1);
  return 1;
}

void CDirectSound::SetMyVolume(long volume) {
  if (m_pDsb) {
    m_pDsb->setVolume(volume);
  }
}

// ---------------------------------------------------------------------------
// Pump mode

int CDirectSound::AppendToStaging(const unsigned char* data, unsigned long length) {
  if (data == nullptr) {
    return 0;
  }
  std::lock_guard lock(m_stagingMutex);
  if (length > kStagingBytes - m_stagingFill) {
    return 0;
  }
  std::memcpy(m_staging.get() + m_stagingFill, data, length);
  m_stagingFill += static_cast<uint32_t>(length);
  return 1;
}

void CDirectSound::SetPumpThread(std::thread pump) {
  if (m_pumpThread.joinable()) {
    m_pumpThread.join();
  }
  m_pumpThread = std::move(pump);
}

int CDirectSound::WriteToBuf() {
  // Best effort: raising a thread's priority needs a privilege most desktop
  // users lack, and the pump works at normal priority too. (On Linux
  // PRIO_PROCESS with id 0 addresses the calling thread.)
  setpriority(PRIO_PROCESS, 0, kPumpNiceness);
  while (m_stopFlag == 0) {
    const int carryOn = m_primeFlag ? pumpPrime() : pumpChunk();
    if (!carryOn) {
      break;
    }
  }
  return 1;
}

// Takes `mutex` within `timeout`, polling; true when it is held. (Polling
// keeps to plain mutexes, which every thread checker understands.)
static bool lockWithin(std::mutex& mutex, std::chrono::milliseconds timeout) {
  constexpr auto kLockPoll = std::chrono::milliseconds(1);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!mutex.try_lock()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(kLockPoll);
  }
  return true;
}

// Waits until `bytes` are staged; false when told to stop first.
static bool waitForStaged(std::mutex& mutex, const uint32_t& fill, uint32_t bytes,
                          const std::atomic<uint32_t>& stopFlag) {
  for (;;) {
    {
      std::lock_guard lock(mutex);
      if (fill >= bytes) {
        return true;
      }
    }
    if (stopFlag) {
      return false;
    }
    std::this_thread::sleep_for(kPumpPollInterval);
  }
}

int CDirectSound::pumpPrime() {
  const uint32_t bytes = 3 * m_chunkBytes;
  if (!waitForStaged(m_stagingMutex, m_stagingFill, bytes, m_stopFlag)) {
    return 0;
  }
  if (!lockWithin(m_stagingMutex, kPrimeMutexTimeout)) {
    return 1;  // try again rather than touch the staging buffer unguarded
  }
  std::lock_guard lock(m_stagingMutex, std::adopt_lock);
  SetSoundData(m_staging.get(), bytes);
  dropStaged(bytes);
  m_primeFlag = 0;
  return 1;
}

int CDirectSound::pumpChunk() {
  const uint32_t mask = (uint32_t{1} << m_notifyCount) - 1;
  const int k = m_events.waitAny(mask);
  if (k < 0 || !waitForStaged(m_stagingMutex, m_stagingFill, m_chunkBytes, m_stopFlag)) {
    return 0;
  }
  if (!lockWithin(m_stagingMutex, kChunkMutexTimeout)) {
    return 1;  // this chunk replays its old sound; the next one is written
  }
  std::lock_guard lock(m_stagingMutex, std::adopt_lock);
  const uint32_t offset = playedChunkOffset(k);
  SetSoundData(offset, m_staging.get(), m_chunkBytes);
  m_lastWriteOffset = offset;
  dropStaged(m_chunkBytes);
  return 1;
}

void CDirectSound::dropStaged(uint32_t bytes) {
  std::memmove(m_staging.get(), m_staging.get() + bytes, m_stagingFill - bytes);
  m_stagingFill -= bytes;
}

// ---------------------------------------------------------------------------
// RIFF/WAVE images

namespace {

constexpr uint32_t kWaveScanLimit = 1008;  // chunk headers must start before this byte
constexpr uint32_t kMinFormatBytes = 14;

uint32_t readLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool tagIs(const uint8_t* p, const char* tag) { return std::memcmp(p, tag, 4) == 0; }

bool isRiffWave(const uint8_t* p) { return tagIs(p, "RIFF") && tagIs(p + 8, "WAVE"); }

}  // namespace

int CDirectSound::GetWaveData(void* image, tWAVEFORMATEX*& format, void*& samples,
                              unsigned long& size) {
  format = nullptr;
  samples = nullptr;
  size = 0;
  auto* bytes = static_cast<uint8_t*>(image);
  if (bytes == nullptr || !isRiffWave(bytes)) {
    return 0;
  }
  for (uint64_t at = 12; at < kWaveScanLimit;) {
    uint8_t* header = bytes + at;
    const uint32_t chunkSize = readLe32(header + 4);
    if (tagIs(header, "fmt ") && format == nullptr) {
      if (chunkSize < kMinFormatBytes) {
        return 0;
      }
      format = reinterpret_cast<tWAVEFORMATEX*>(header + 8);
      if (samples != nullptr && size != 0) {
        return 1;
      }
    } else if (tagIs(header, "data")) {
      samples = header + 8;
      size = chunkSize;
      if (format != nullptr) {
        return 1;
      }
    }
    at += 8 + uint64_t{chunkSize} + (chunkSize & 1);
  }
  return 0;
}

int CDirectSound::GetWaveData(void* image, tWAVEFORMATEX*& format, unsigned long& size) {
  format = nullptr;
  size = 0;
  auto* bytes = static_cast<uint8_t*>(image);
  if (bytes == nullptr || !isRiffWave(bytes) || !tagIs(bytes + 12, "fmt ")) {
    return 0;
  }
  if (readLe32(bytes + 16) < kMinFormatBytes) {
    return 0;
  }
  format = reinterpret_cast<tWAVEFORMATEX*>(bytes + 20);
  size = 20;  // bytes of header before the format data
  return 1;
}
