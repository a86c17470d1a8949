// Annex B byte stream handling: splitting one call's bytes into NAL units
// (emulation prevention bytes removed) and writing units back as Annex B.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace trevolo::h264 {

// NAL unit types the decoder tells apart.
enum NalType : int {
  kNalSlice = 1,
  kNalIdrSlice = 5,
  kNalSei = 6,
  kNalSps = 7,
  kNalPps = 8,
};

inline int nalType(const uint8_t* nal) { return nal[0] & 0x1F; }

// Splits a run of Annex B bytes into NAL units. Every split() starts afresh:
// nothing carries over from one call to the next, so a unit cut by the end of
// the data ends there, and bytes before the first start code of a call are
// not part of any unit. The unit buffer is allocated once, at construction.
class NalSplitter {
 public:
  // Receives each complete unit (header byte first, RBSP with trailing zero
  // bytes removed, at least two bytes); valid only during the call.
  using Sink = std::function<void(const uint8_t* nal, size_t size)>;

  explicit NalSplitter(size_t capacity);

  // A unit longer than the capacity is dropped whole; collecting resumes at
  // the next start code.
  void split(const uint8_t* data, size_t size, const Sink& sink);

  size_t capacity() const { return m_capacity; }

 private:
  size_t copyRun(const uint8_t* p, size_t size);
  void finish(const Sink& sink);

  std::unique_ptr<uint8_t[]> m_buf;
  size_t m_capacity;
  size_t m_fill = 0;
  uint32_t m_window = 0;  // last three bytes read
  bool m_inUnit = false;
  bool m_overflow = false;
};

// Writes a 4-byte start code and `nal` with emulation prevention bytes
// inserted into `out`; returns the bytes written, or 0 when more than
// `room` would be needed. At most 4 + size * 3 / 2 + 1 bytes are written.
size_t writeAnnexB(const uint8_t* nal, size_t size, uint8_t* out, size_t room);

}  // namespace trevolo::h264
