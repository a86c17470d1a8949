// Looping sound output: a ring of PCM bytes that the sound device plays over
// and over, with a play cursor, notification positions that set auto-reset
// events as the cursor reaches them, and lock/unlock of one or two regions.
//
// SoundDevice and SoundBuffer are the interface the audio layer programs
// against; the real implementation plays through an SDL2 audio callback on
// whatever SDL opens (PipeWire, PulseAudio, ALSA, or the dummy and disk
// drivers). SDL itself stays inside looping_sound_buffer.cpp.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "platform/event_set.h"

namespace trevolo::platform {

enum class SoundResult {
  kOk,
  kAllocated,     // the device is busy; worth another try shortly
  kNoDriver,      // no usable sound driver or device; worth another try shortly
  kBufferLost,    // the device went away; restore() before using the buffer
  kInvalidParam,  // a null pointer, an unsupported format, a region outside the ring
  kFailed,
};

// The PCM stream format, field for field the usual wave format record.
struct SoundFormat {
  uint16_t formatTag = 0;  // 1 = integer PCM
  uint16_t channels = 0;
  uint32_t samplesPerSec = 0;
  uint32_t avgBytesPerSec = 0;
  uint16_t blockAlign = 0;  // bytes per sample frame
  uint16_t bitsPerSample = 0;
  uint16_t extraSize = 0;
};

struct SoundBufferDesc {
  SoundFormat format;
  uint32_t bytes = 0;        // ring size
  uint32_t periodBytes = 0;  // how much the device takes per pull; 0 = a device default
  // Streaming: every byte is silenced once played, so a writer that stops
  // (pause, stop, end of file) leaves silence, not its last chunks looping.
  bool silenceAfterPlay = false;
};

// Where a notification sits in the ring and which event of the set it sets.
struct SoundNotification {
  uint32_t offset = 0;
  int event = 0;
};

// The one or two pieces of ring memory a lock hands out; second is null
// unless the region wraps past the end of the ring.
struct SoundRegion {
  uint8_t* first = nullptr;
  uint32_t firstBytes = 0;
  uint8_t* second = nullptr;
  uint32_t secondBytes = 0;
};

inline constexpr uint32_t kLockEntireBuffer = 0x2;  // lock flag: ignore offset and size

class SoundBuffer {
 public:
  virtual ~SoundBuffer() = default;
  // Tells the buffer which events to set at which positions; replaces any earlier table.
  virtual SoundResult setNotificationPositions(std::span<const SoundNotification> table,
                                               EventSet* events) = 0;
  // On kOk the region stays locked until unlock(), which must come from the
  // same thread and soon: the device waits for it.
  virtual SoundResult lock(uint32_t offset, uint32_t bytes, uint32_t flags,
                           SoundRegion* region) = 0;
  virtual SoundResult unlock(const SoundRegion& region) = 0;
  virtual SoundResult play() = 0;  // starts or resumes looping playback at the cursor
  virtual SoundResult stop() = 0;
  virtual SoundResult getCurrentPosition(uint32_t* playCursor, uint32_t* writeCursor) = 0;
  virtual SoundResult setCurrentPosition(uint32_t offset) = 0;
  virtual SoundResult restore() = 0;
  // Attenuation in hundredths of a decibel: 0 full volume, -10000 silence.
  virtual SoundResult setVolume(long volume) = 0;
  // True once the device has gone away (the next lock reports kBufferLost).
  virtual bool isLost() = 0;
};

class SoundDevice {
 public:
  virtual ~SoundDevice() = default;
  virtual SoundResult createBuffer(const SoundBufferDesc& desc,
                                   std::unique_ptr<SoundBuffer>* buffer) = 0;
};

// Opens the default sound output (SDL's audio subsystem as SDL_AUDIODRIVER
// selects it). kNoDriver when no audio driver can be started.
SoundResult createSoundDevice(std::unique_ptr<SoundDevice>* device);

// The ring, its cursor and its notifications, without any device: the
// device's pull calls render(). Thread-safe; render() runs on the device's
// thread while writers lock regions on theirs.
class SoundRing {
 public:
  // `silence` is written over played bytes when `silenceAfterPlay` is set.
  SoundRing(uint32_t bytes, uint32_t blockAlign, bool silenceAfterPlay = false,
            uint8_t silence = 0);
  SoundRing(const SoundRing&) = delete;
  SoundRing& operator=(const SoundRing&) = delete;

  uint32_t size() const { return static_cast<uint32_t>(m_bytes.size()); }

  SoundResult lock(uint32_t offset, uint32_t bytes, uint32_t flags, SoundRegion* region);
  SoundResult unlock(const SoundRegion& region);
  void setNotifications(std::span<const SoundNotification> table, EventSet* events);
  uint32_t position() const;
  void setPosition(uint32_t offset);  // rounded down to a whole sample frame

  // Copies `length` bytes from the play cursor to `out`, wrapping, moves the
  // cursor on and sets the event of every notification position reached.
  void render(uint8_t* out, uint32_t length);

 private:
  bool ownsRegion(const SoundRegion& region) const;

  const uint32_t m_blockAlign;
  const bool m_silenceAfterPlay;
  const uint8_t m_silence;
  // Guards everything below; held from a successful lock() until unlock().
  mutable std::mutex m_mutex;
  std::vector<uint8_t> m_bytes;
  uint32_t m_cursor = 0;  // next byte to play
  std::vector<SoundNotification> m_notifications;
  EventSet* m_events = nullptr;
  bool m_locked = false;
};

// A SoundBuffer that plays a SoundRing through an SDL audio device.
class LoopingSoundBuffer final : public SoundBuffer {
 public:
  static SoundResult open(const SoundBufferDesc& desc, std::unique_ptr<SoundBuffer>* buffer);
  ~LoopingSoundBuffer() override;

  SoundResult setNotificationPositions(std::span<const SoundNotification> table,
                                       EventSet* events) override;
  SoundResult lock(uint32_t offset, uint32_t bytes, uint32_t flags, SoundRegion* region) override;
  SoundResult unlock(const SoundRegion& region) override;
  SoundResult play() override;
  SoundResult stop() override;
  SoundResult getCurrentPosition(uint32_t* playCursor, uint32_t* writeCursor) override;
  SoundResult setCurrentPosition(uint32_t offset) override;
  SoundResult restore() override;
  SoundResult setVolume(long volume) override;
  bool isLost() override;

  // Body of the device callback: fills `out` from the ring and applies the volume.
  void pull(uint8_t* out, int length);

  // Tests: SDL devices open now, over all buffers; and a device that goes
  // away the way an unplugged one does.
  static int openDevicesForTesting();
  void loseDeviceForTesting();

 private:
  explicit LoopingSoundBuffer(const SoundBufferDesc& desc);
  bool openDevice();
  void closeDevice();
  void applyVolume(uint8_t* out, int length) const;

  const SoundBufferDesc m_desc;
  SoundRing m_ring;
  // Atomic: a writer may restore the device while the owner plays or stops it.
  std::atomic<uint32_t> m_device{0};  // SDL audio device id, 0 = none
  std::mutex m_deviceMutex;           // one restore (or close) at a time
  static std::atomic<int> s_openDevices;
  std::atomic<bool> m_playing{false};
  std::atomic<int> m_gain{65536};  // 16.16 fixed-point factor from the volume
};

}  // namespace trevolo::platform
