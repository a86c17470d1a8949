// CDirectSound: streams PCM blocks through one small looping sound buffer cut
// into four chunks. A producer hands over one block at a time with
// WriteDataToBuf, which sleeps until the play cursor enters a chunk and then
// writes the block into the chunk that has just finished playing, so the
// producer runs at the sound device's pace and each block is heard three
// chunks after it is written.
//
// The device, the buffer and its notification side are class-wide: one
// instance streams at a time.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/event_set.h"
#include "platform/looping_sound_buffer.h"

// The wave format record of the sound platform and the stream format handed
// to CreateDSound share one layout.
using tWAVEFORMATEX = trevolo::platform::SoundFormat;
using _AUDIO_CONFIG = tWAVEFORMATEX;

class CDirectSound {
 public:
  CDirectSound();
  ~CDirectSound();
  CDirectSound(const CDirectSound&) = delete;
  CDirectSound& operator=(const CDirectSound&) = delete;

  // Configures the format (first call only), sets the chunk size (1 to 426
  // bytes) and opens device and buffer. 1 ok, 0 failed.
  int CreateDSound(_AUDIO_CONFIG* config, unsigned long chunkBytes);
  // Waits for the play cursor to leave a chunk and writes `length` bytes
  // there; the first call after CreateDSound primes three chunks of silence
  // and puts the block right after them. Blocks are heard in the order they
  // are written, also after a pause in writing. 1 ok, 0 failed (also when a
  // playing device has not called back for a second).
  int WriteDataToBuf(unsigned char* data, unsigned long length);
  // Pump loop for a worker thread: feeds the buffer from the staging buffer
  // until Stop. 1 when it ends.
  int WriteToBuf();
  // Appends a producer's bytes to the staging buffer that WriteToBuf drains.
  // 0 (nothing appended) when they do not fit in its 1280 bytes.
  int AppendToStaging(const unsigned char* data, unsigned long length);
  // Hands the thread running WriteToBuf to the instance; Stop ends and joins it.
  void SetPumpThread(std::thread pump);

  // Moves the play cursor by offsetMs (0 keeps it) and starts looping playback.
  void Play(int offsetMs, int flag);
  void Stop();
  void Pause();
  void Continue();
  // Re-creates the stream at factor x the configured rate. 0 for factor <= 0.
  int SetPlaySpeed(float factor);
  // Attenuation in hundredths of a decibel: 0 full volume, -10000 silence.
  void SetMyVolume(long volume);

 protected:
  int CreateSoundBuffer(tWAVEFORMATEX* format);
  int SetSoundData(void* data, unsigned long length);
  int SetSoundData(unsigned long offset, void* data, unsigned long length);
  int IsValid() const;
  static int GetWaveData(void* image, tWAVEFORMATEX*& format, void*& samples,
                         unsigned long& size);
  static int GetWaveData(void* image, tWAVEFORMATEX*& format, unsigned long& size);

  using DeviceFactory =
      std::function<trevolo::platform::SoundResult(std::unique_ptr<trevolo::platform::SoundDevice>*)>;
  // Opens the sound device; the real one unless a test installs another.
  static DeviceFactory m_createDevice;

  static std::unique_ptr<trevolo::platform::SoundDevice> m_lpDirectSound;
  static std::unique_ptr<trevolo::platform::SoundBuffer> m_pDsb;
  static trevolo::platform::SoundBuffer* m_pDsNotify;  // notification side of m_pDsb
  static uint32_t m_dwInstances;

 private:
  static constexpr int kMaxNotifications = 16;
  static constexpr uint32_t kStagingBytes = 1280;

  int createDevice();
  int waitForPlayedChunk(uint32_t mask);  // index of a notification in mask, or -1
  uint32_t restartAtCursor();  // clears the notifications; the chunk at the cursor
  int claimChunk();            // chunk for the next block, or -1
  uint32_t playedChunkOffset(int notification) const;
  int pumpPrime();
  int pumpChunk();
  void dropStaged(uint32_t bytes);  // caller holds m_stagingMutex
  uint32_t bufferBytes() const { return m_notifyCount * m_chunkBytes; }

  // Owner's thread unless noted.
  std::array<trevolo::platform::SoundNotification, kMaxNotifications> m_notifyTable{};
  _AUDIO_CONFIG m_format{};  // rates scaled by m_speed
  float m_speed = 1.0f;
  uint32_t m_liveByteRate = 0;  // bytes per second of the buffer now open
  uint32_t m_baseSampleRate = 0;
  uint32_t m_baseByteRate = 0;
  uint32_t m_notifyCount = 4;
  uint32_t m_chunkBytes = 320;
  uint32_t m_stagingFill = 0;  // guarded by m_stagingMutex
  std::atomic<uint32_t> m_lastWriteOffset{0};
  // Serialises writers (the audio thread and the silence written at a pause)
  // and guards the two fields below.
  std::mutex m_writeMutex;
  uint32_t m_nextChunk = 0;   // where the next block goes
  uint32_t m_freeChunks = 0;  // chunks from m_nextChunk on writable without waiting
  trevolo::platform::EventSet m_events;  // event k = notification k
  std::thread m_pumpThread;
  std::mutex m_stagingMutex;
  std::unique_ptr<uint8_t[]> m_staging;  // kStagingBytes
  std::atomic<uint32_t> m_stopFlag{0};   // 1 tells the pump to leave its loop
  std::atomic<uint32_t> m_primeFlag{1};  // 1: the next write primes with silence
  std::atomic<bool> m_playing{false};    // between Play and Pause or Stop
};
