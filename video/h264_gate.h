// Decides which NAL units reach the decoding core: parameter sets within the
// decoder's profile and size limits, slices whose parameter sets were
// admitted, from the first IDR or I slice on, and SEI. Everything else
// (delimiters, end of sequence or stream, filler, data partitions, extension
// units) is left out. Pure bookkeeping, no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "video/h264_params.h"

namespace trevolo::h264 {

class StreamGate {
 public:
  explicit StreamGate(SizeLimits limits);

  // True when `nal` (RBSP, header byte first, at least two bytes) is to be
  // passed to the core.
  bool admit(const uint8_t* nal, size_t size);

  // Decoding restarts at the next IDR or I slice (parameter sets are kept).
  void restart() { m_started = false; }

  // True once the stream showed that pictures may leave out of order: an SPS
  // that declares reordering or, where the SPS declares nothing, a B slice
  // or (in profiles with B slices) a picture order count that leaves room
  // for pictures still to come before it.
  bool reorderingPossible() const { return m_reordering; }

 private:
  struct SpsEntry {
    bool seen = false;
    bool accepted = false;
    uint64_t hash = 0;  // of the last one seen, to notice a changed SPS
    SpsInfo info;       // valid when accepted
  };

  // The last frame or first field, for the picture order count check.
  struct LastPicture {
    bool valid = false;
    bool fieldPic = false;
    bool bottomField = false;
    uint32_t frameNum = 0;
    uint32_t pocLsb = 0;
  };

  bool admitSps(const uint8_t* nal, size_t size);
  bool admitPps(const uint8_t* nal, size_t size);
  bool admitSlice(const uint8_t* nal, size_t size);
  void forgetPpsOf(uint32_t spsId);
  void checkOrder(const uint8_t* nal, size_t size, const SpsInfo& sps);

  static constexpr int16_t kNoSps = -1;

  SizeLimits m_limits;
  std::array<SpsEntry, kMaxSpsId + 1> m_sps{};
  std::array<int16_t, kMaxPpsId + 1> m_ppsSps;  // SPS id of each admitted PPS, or kNoSps
  bool m_started = false;
  bool m_reordering = false;
  LastPicture m_last;
};

}  // namespace trevolo::h264
