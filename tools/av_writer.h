// Writes .av recordings: the player only reads them, but the tools, tests
// and benchmarks need to make them (including deliberately damaged ones).
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

namespace trevolo {

// The audio format word for a samples-per-frame index and a rate index
// (160 samples at 8000 Hz: AudioFormatWord(1, 0)).
constexpr uint16_t AudioFormatWord(unsigned samplesIndex, unsigned rateIndex) {
  return static_cast<uint16_t>(((samplesIndex & 7) << 13) | ((rateIndex & 7) << 10));
}
inline constexpr uint16_t kAmrFormatWord = AudioFormatWord(1, 0);

class AvWriter {
 public:
  explicit AvWriter(std::vector<uint8_t>* out) : m_vec(out) {}
  explicit AvWriter(std::FILE* out) : m_file(out) {}

  // A type-1 record: the format word sits at header offset 6.
  void audioFormat(uint16_t formatWord, uint16_t high = 0, uint16_t extra = 0);

  // A media block. `audioFrames` entries may be empty (a zero length).
  // The frame count and lengths written are the real ones unless overridden
  // by the damage helpers below.
  void mediaBlock(uint64_t videoTs, std::span<const uint8_t> video, uint64_t audioTs,
                  const std::vector<std::vector<uint8_t>>& audioFrames);

  // A bare header of any type with the given header fields (for type 2 and
  // unknown types, or a media header whose payload is written separately).
  void header(uint8_t type, uint16_t audioFrames, uint32_t videoLength, uint64_t videoTs,
              uint64_t audioTs);

  // Raw bytes: garbage, a payload written by hand, a partial record.
  void raw(std::span<const uint8_t> bytes);

  uint64_t bytesWritten() const { return m_written; }
  bool ok() const { return m_ok; }

 private:
  void put(const void* data, size_t n);

  std::vector<uint8_t>* m_vec = nullptr;
  std::FILE* m_file = nullptr;
  uint64_t m_written = 0;
  bool m_ok = true;
};

// A minimal Annex B access unit of `size` bytes (at least 8): an SPS-led key
// frame when `key` is set, otherwise a non-IDR slice. The bytes after the
// NAL header are filler derived from `seed`. Enough for the engine, which
// looks at nothing but the first 8 bytes.
std::vector<uint8_t> SyntheticAccessUnit(size_t size, bool key, uint32_t seed);

}  // namespace trevolo
