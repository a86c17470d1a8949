#include "tools/av_writer.h"

#include <cstring>

namespace trevolo {
namespace {

void PutLe(uint8_t* p, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

void AvWriter::put(const void* data, size_t n) {
  if (n == 0) return;
  if (m_vec) {
    const auto* b = static_cast<const uint8_t*>(data);
    m_vec->insert(m_vec->end(), b, b + n);
  } else if (m_file) {
    if (std::fwrite(data, 1, n, m_file) != n) m_ok = false;
  }
  m_written += n;
}

void AvWriter::header(uint8_t type, uint16_t audioFrames, uint32_t videoLength, uint64_t videoTs,
                      uint64_t audioTs) {
  uint8_t h[28] = {0xFF, 0xFF, 0xFF, 0x88};
  h[5] = type;
  PutLe(h + 6, audioFrames, 2);
  PutLe(h + 8, videoLength, 4);
  PutLe(h + 12, videoTs, 8);
  PutLe(h + 20, audioTs, 8);
  put(h, sizeof h);
}

void AvWriter::audioFormat(uint16_t formatWord, uint16_t high, uint16_t extra) {
  uint8_t h[28] = {0xFF, 0xFF, 0xFF, 0x88};
  h[5] = 1;
  PutLe(h + 6, formatWord, 2);
  PutLe(h + 8, high, 2);
  PutLe(h + 10, extra, 2);
  put(h, sizeof h);
}

void AvWriter::mediaBlock(uint64_t videoTs, std::span<const uint8_t> video, uint64_t audioTs,
                          const std::vector<std::vector<uint8_t>>& audioFrames) {
  header(0, static_cast<uint16_t>(audioFrames.size()), static_cast<uint32_t>(video.size()), videoTs,
         audioTs);
  std::vector<uint8_t> table(2 * audioFrames.size());
  for (size_t k = 0; k < audioFrames.size(); ++k) PutLe(&table[2 * k], audioFrames[k].size(), 2);
  put(table.data(), table.size());
  for (const auto& f : audioFrames) put(f.data(), f.size());
  put(video.data(), video.size());
}

void AvWriter::raw(std::span<const uint8_t> bytes) { put(bytes.data(), bytes.size()); }

std::vector<uint8_t> SyntheticAccessUnit(size_t size, bool key, uint32_t seed) {
  if (size < 8) size = 8;
  std::vector<uint8_t> au(size);
  au[0] = 0;
  au[1] = 0;
  au[2] = 0;
  au[3] = 1;
  au[4] = key ? 0x67 : 0x41;  // SPS, or a non-IDR slice
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 5; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    // Filler never forms a marker or a start code: keep bytes in 0x10..0x7F.
    au[i] = static_cast<uint8_t>(0x10 + (x % 0x70));
  }
  return au;
}

}  // namespace trevolo
