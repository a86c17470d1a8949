// The .av record format: 28-byte headers that start with the marker
// FF FF FF 88, found again after any damage by a resynchronising search.
#pragma once

#include <cstdint>

#include "engine/file_reader.h"

namespace trevolo {

inline constexpr uint32_t kHeaderBytes = 28;
inline constexpr uint8_t kMarker[4] = {0xFF, 0xFF, 0xFF, 0x88};

inline constexpr uint8_t AV_REC_MEDIA = 0;
inline constexpr uint8_t AV_REC_AUDIO_FORMAT = 1;
inline constexpr uint8_t AV_REC_SKIPPED = 2;

inline constexpr uint32_t MAX_AUDIO_FRAMES_PER_BLOCK = 64;
inline constexpr uint32_t MAX_AUDIO_FRAME_BYTES = 36;
inline constexpr uint32_t MAX_VIDEO_PAYLOAD = 262144;

// Frame duration before the first audio format record has been read.
inline constexpr uint32_t kDefaultAudioFrameUs = 10;

// A decoded record header. Fields past `type` mean something only for media
// blocks (and for the audio format record, whose bytes 6..11 are `raw`).
struct AvRecordHeader {
  uint8_t type = 0;
  uint16_t audioFrames = 0;   // N
  uint32_t videoLength = 0;   // L
  uint64_t videoTs = 0;
  uint64_t audioTs = 0;
  uint8_t raw[kHeaderBytes] = {};
};

// Decodes header bytes 4..27 (bytes 0..2 are never read).
AvRecordHeader ParseHeader(const uint8_t* bytes);

// Audio frame duration in microseconds for the format word at header offset 6:
// samples x 1,000,000 / rate in 32-bit arithmetic.
uint32_t AudioFrameDurationUs(uint16_t formatWord);

// Key frame: at least 8 payload bytes starting 00 00 00 01 and an SPS NAL type.
bool IsKeyFrame(const uint8_t* payload, uint32_t available, uint32_t videoLength);

// The resynchronising read shared by every reader of the format. Keeps the
// count of consecutive 0xFF bytes between calls.
class MarkerReader {
 public:
  enum class Mode {
    Playback,  // any short read ends the pass
    Scanner,   // only a read of nothing ends the pass
  };
  explicit MarkerReader(Mode mode) : m_mode(mode) {}

  // Finds the next record and fills `out`. False at the end of data.
  bool next(FileReader& file, AvRecordHeader& out);
  void reset() { m_counter = 0; }
  int counter() const { return m_counter; }

 private:
  Mode m_mode;
  int m_counter = 0;
  uint8_t m_chunk[kHeaderBytes] = {};
  uint8_t m_header[kHeaderBytes] = {};
};

// Little-endian field access.
inline uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Le64(const uint8_t* p) {
  return static_cast<uint64_t>(Le32(p)) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
}

}  // namespace trevolo
