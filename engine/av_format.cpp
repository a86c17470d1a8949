#include "engine/av_format.h"

#include <cstring>

namespace trevolo {

uint32_t AudioFrameDurationUs(uint16_t formatWord) {
  static constexpr uint32_t kSamples[8] = {80, 160, 320, 480, 1024, 2048, 2048, 2048};
  static constexpr uint32_t kRates[8] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
  const uint32_t samples = kSamples[(formatWord >> 13) & 7];
  const uint32_t rate = kRates[(formatWord >> 10) & 7];
  return static_cast<uint32_t>(samples * 1000000u) / rate;
}

bool MarkerReader::search(FileReader& file, AvRecordHeader& out) {
  for (;;) {
    const size_t want = kHeaderBytes - static_cast<size_t>(m_counter);
    const size_t got = file.read(m_chunk, want);
    if (got == 0) return false;
    if (got < want && m_mode == Mode::Playback) return false;

    if (m_counter == 0 && got == kHeaderBytes && std::memcmp(m_chunk, kMarker, 4) == 0) {
      out = ParseHeader(m_chunk);
      return true;
    }

    for (size_t i = 0; i < got; ++i) {
      const uint8_t b = m_chunk[i];
      if (b == 0xFF) {
        if (m_counter < 3) ++m_counter;
      } else if (b == 0x88 && m_counter == 3) {
        // Marker end: rebuild the header with 0x88 at offset 3.
        m_counter = 0;
        m_header[3] = 0x88;
        size_t filled = 4;
        const size_t tail = got - (i + 1);
        std::memcpy(m_header + 4, m_chunk + i + 1, tail);
        filled += tail;
        if (filled < kHeaderBytes) {
          const size_t missing = kHeaderBytes - filled;
          // A header cut short by the end of the file is no header: its
          // fields would be left-over bytes. Both modes end here.
          if (file.read(m_header + filled, missing) < missing) return false;
        }
        out = ParseHeader(m_header);
        return true;
      } else {
        m_counter = 0;
      }
    }
    // A short chunk without a marker end: the file has ended.
    if (got < want) return false;
  }
}

}  // namespace trevolo
