// SoundSpeed: plays the player's sound (8 kHz mono, 16-bit) at another speed
// with its pitch kept, and cuts what comes out into whole blocks of the sound
// output's chunk size, since the sound output takes nothing smaller.
//
// The stretcher holds back a little of what it was given (it works on whole
// pitch periods), so its output trails its input; QueuedMediaUs estimates by
// how much. Not thread-safe: one thread feeds and drains it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct sonicStreamStruct;

class SoundSpeed {
 public:
  static constexpr int kSampleRate = 8000;       // Hz
  static constexpr uint32_t kBlockSamples = 160;  // one 20 ms block, 320 bytes
  // Below and at this speed (thousandths) the pitch is kept; above it the
  // player mutes the sound.
  static constexpr int kMaxPitchKeptSpeed = 2000;
  static constexpr int kNormalSpeed = 1000;

  SoundSpeed();
  ~SoundSpeed();
  SoundSpeed(const SoundSpeed&) = delete;
  SoundSpeed& operator=(const SoundSpeed&) = delete;

  // The speed, in thousandths, for the samples put from now on. What is held
  // already goes on at the new speed, so a change joins without a gap.
  void setSpeed(int permille);
  int speed() const { return m_speed; }

  // Stretches `count` signed 16-bit samples (native order, any alignment:
  // the engine's PCM frames are plain bytes) and appends the result to the
  // blocks. False when the stretcher could not be made (out of memory):
  // nothing was taken.
  bool put(const void* samples, uint32_t count);

  // Pushes out everything held, fading its last few milliseconds to silence
  // and padding the last block with silence, so the sound can stop there
  // without a click. The next sound put fades in.
  void finish();

  // Drops everything held (a seek, a stop, a new file): nothing of the old
  // position is heard.
  void clear();

  // True when neither the stretcher nor the block queue holds a sample.
  bool empty() const;
  // True after finish() until sound is put again.
  bool fadesIn() const { return m_fadeInNext; }

  bool hasBlock() const { return m_out.size() - m_outHead >= kBlockSamples; }
  const int16_t* block() const { return m_out.data() + m_outHead; }
  void popBlock();

  // About how much sound, in microseconds of the recording, sits between the
  // samples put and the blocks taken out, on average, at `permille`. 0 at
  // normal speed, where samples pass straight through.
  static uint64_t QueuedMediaUs(int permille);

 private:
  bool ensureStream();
  void readAvailable();
  void fadeIn(size_t from);

  sonicStreamStruct* m_stream = nullptr;
  int m_speed = kNormalSpeed;
  bool m_streamHolds = false;   // the stretcher may hold input not yet put out
  bool m_fadeInNext = false;    // the next output starts from silence
  std::vector<int16_t> m_out;   // stretched samples not yet taken
  size_t m_outHead = 0;         // first sample of m_out not yet taken
  std::vector<int16_t> m_scratch;
};
