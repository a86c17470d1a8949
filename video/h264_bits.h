// Reads the fields of an H.264 RBSP (emulation prevention bytes already
// removed): fixed-width fields and Exp-Golomb codes. Reading past the end
// sets a sticky failure flag and yields zeros, so a parser can read a whole
// header and check ok() once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace trevolo::h264 {

class BitReader {
 public:
  BitReader(const uint8_t* data, size_t size) : m_data(data), m_bits(size * 8) {}

  bool ok() const { return m_ok; }
  void fail() { m_ok = false; }
  bool moreData() const { return m_pos < m_bits; }

  uint32_t bit() {
    if (m_pos >= m_bits) {
      m_ok = false;
      return 0;
    }
    const uint32_t b = (m_data[m_pos >> 3] >> (7 - (m_pos & 7))) & 1u;
    ++m_pos;
    return b;
  }

  // n <= 32
  uint32_t bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 1) | bit();
    return v;
  }

  // Unsigned Exp-Golomb. Codes longer than 32 bits are invalid in H.264.
  uint32_t ue() {
    int zeros = 0;
    while (bit() == 0) {
      if (!m_ok || ++zeros > 31) {
        m_ok = false;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + bits(zeros));
  }

  // Signed Exp-Golomb.
  int32_t se() {
    const uint32_t k = ue();
    const auto half = static_cast<int32_t>((k + 1) / 2);
    return (k & 1) ? half : -half;
  }

 private:
  const uint8_t* m_data;
  size_t m_bits;
  size_t m_pos = 0;
  bool m_ok = true;
};

}  // namespace trevolo::h264
