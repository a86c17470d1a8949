// The .av record format: 28-byte headers that start with the marker
// FF FF FF 88, found again after any damage by a resynchronising search.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

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
// blocks; an audio format record carries its six bytes (6..11) in `format`.
struct AvRecordHeader {
  uint8_t type = 0;
  uint16_t audioFrames = 0;   // N
  uint32_t videoLength = 0;   // L
  uint64_t videoTs = 0;
  uint64_t audioTs = 0;
  uint8_t format[6] = {};
};

// Little-endian field access (one load each on little-endian machines).
template <typename T>
inline T LoadLe(const uint8_t* p) {
  T v;
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(&v, p, sizeof v);
  } else {
    v = 0;
    for (size_t i = 0; i < sizeof v; ++i) v = static_cast<T>(v | (static_cast<T>(p[i]) << (8 * i)));
  }
  return v;
}
inline uint16_t Le16(const uint8_t* p) { return LoadLe<uint16_t>(p); }
inline uint32_t Le32(const uint8_t* p) { return LoadLe<uint32_t>(p); }
inline uint64_t Le64(const uint8_t* p) { return LoadLe<uint64_t>(p); }

// Decodes header bytes 4..27 (bytes 0..2 are never read).
inline void ParseHeaderInto(const uint8_t* bytes, AvRecordHeader& h) {
  h.type = bytes[5];
  h.audioFrames = Le16(bytes + 6);
  h.videoLength = Le32(bytes + 8);
  h.videoTs = Le64(bytes + 12);
  h.audioTs = Le64(bytes + 20);
  std::memcpy(h.format, bytes + 6, sizeof h.format);
}
inline AvRecordHeader ParseHeader(const uint8_t* bytes) {
  AvRecordHeader h;
  ParseHeaderInto(bytes, h);
  return h;
}

// Audio frame duration in microseconds for the format word at header offset 6:
// samples x 1,000,000 / rate in 32-bit arithmetic.
uint32_t AudioFrameDurationUs(uint16_t formatWord);

// Key frame: at least 8 payload bytes starting 00 00 00 01 and an SPS NAL type.
inline bool IsKeyFrame(const uint8_t* payload, uint32_t available, uint32_t videoLength) {
  if (videoLength < 8 || available < 8) return false;
  return payload[0] == 0 && payload[1] == 0 && payload[2] == 0 && payload[3] == 1 &&
         (payload[4] & 0x1F) == 7;
}

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
  bool next(FileReader& file, AvRecordHeader& out) {
    // The common case: the next bytes are a whole header that starts with a
    // marker; it is decoded in place.
    if (m_counter == 0) {
      const uint8_t* p = file.peek(kHeaderBytes);
      if (p && p[0] == 0xFF && p[1] == 0xFF && p[2] == 0xFF && p[3] == 0x88) {
        ParseHeaderInto(p, out);
        file.skip(kHeaderBytes);
        return true;
      }
    }
    return search(file, out);
  }
  void reset() { m_counter = 0; }
  int counter() const { return m_counter; }

 private:
  Mode m_mode;
  bool search(FileReader& file, AvRecordHeader& out);

  int m_counter = 0;
  uint8_t m_chunk[kHeaderBytes] = {};
  uint8_t m_header[kHeaderBytes] = {};
};

}  // namespace trevolo
