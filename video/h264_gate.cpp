#include "video/h264_gate.h"

#include "video/h264_bits.h"
#include "video/h264_nal.h"

namespace trevolo::h264 {
namespace {

constexpr uint32_t kSliceB = 1;
constexpr uint32_t kSliceI = 2;

uint64_t fnv1a(const uint8_t* p, size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// The id of an SPS that could not be parsed whole, so that it can still
// displace an earlier SPS of the same id.
bool readSpsId(const uint8_t* nal, size_t size, uint32_t& id) {
  BitReader br(nal + 1, size - 1);
  br.bits(24);  // profile_idc, constraint flags, level_idc
  id = br.ue();
  return br.ok() && id <= kMaxSpsId;
}

}  // namespace

StreamGate::StreamGate(SizeLimits limits) : m_limits(limits) { m_ppsSps.fill(kNoSps); }

bool StreamGate::admit(const uint8_t* nal, size_t size) {
  switch (nalType(nal)) {
    case kNalSlice:
    case kNalIdrSlice:
      return admitSlice(nal, size);
    case kNalSps:
      return admitSps(nal, size);
    case kNalPps:
      return admitPps(nal, size);
    case kNalSei:
      return true;
    default:
      return false;
  }
}

// A rejected SPS still replaces an earlier one with its id: slices that name
// it must not be decoded with the old one's geometry.
bool StreamGate::admitSps(const uint8_t* nal, size_t size) {
  uint32_t id = 0;
  if (!readSpsId(nal, size, id)) return false;
  const auto sps = parseSps(nal, size);
  SpsEntry& e = m_sps[id];
  const uint64_t hash = fnv1a(nal, size);
  if (!e.seen || e.hash != hash) forgetPpsOf(id);
  e.seen = true;
  e.hash = hash;
  e.accepted = sps && spsAcceptable(*sps, m_limits);
  if (e.accepted) e.info = *sps;
  return e.accepted;
}

bool StreamGate::admitPps(const uint8_t* nal, size_t size) {
  const auto ids = parsePpsIds(nal, size);
  if (!ids) return false;
  const bool ok = m_sps[ids->spsId].accepted;
  m_ppsSps[ids->ppsId] = ok ? static_cast<int16_t>(ids->spsId) : kNoSps;
  return ok;
}

bool StreamGate::admitSlice(const uint8_t* nal, size_t size) {
  const auto slice = parseSliceStart(nal, size);
  if (!slice) return false;
  const int16_t spsId = m_ppsSps[slice->ppsId];
  if (spsId == kNoSps || !m_sps[spsId].accepted) return false;
  if (!m_started) {
    if (nalType(nal) != kNalIdrSlice && slice->sliceType != kSliceI) return false;
    m_started = true;
  }
  // What the SPS declares wins: B slices that only look back (low-delay
  // coding) need no reordering.
  const SpsInfo& sps = m_sps[spsId].info;
  if (sps.reorderDeclared) {
    if (sps.maxNumReorderFrames > 0) m_reordering = true;
  } else if (slice->sliceType == kSliceB) {
    m_reordering = true;
  } else if (!m_reordering && slice->firstMb == 0) {
    checkOrder(nal, size, sps);
  }
  return true;
}

// Encoders that reorder leave gaps in the picture order count of the
// pictures they send ahead (an IDR or P picture after which B pictures
// come that are shown before it); without reordering it grows by at most 2
// per frame. Seeing the gap at the picture sent ahead lets it be held back
// before the pictures that precede it in display order arrive.
void StreamGate::checkOrder(const uint8_t* nal, size_t size, const SpsInfo& sps) {
  constexpr uint32_t kProfileBaseline = 66;  // no B slices
  constexpr uint32_t kNormalStep = 2;
  if (sps.profileIdc == kProfileBaseline || sps.reorderDeclared || sps.pocType != 0) return;
  const auto order = parseSliceOrder(nal, size, sps);
  if (!order) return;
  const bool secondField = order->fieldPic && m_last.valid && m_last.fieldPic &&
                           m_last.bottomField != order->bottomField &&
                           m_last.frameNum == order->frameNum;
  if (secondField) return;  // the next picture compares with the first field
  const uint32_t modulus = 1u << sps.log2MaxPocLsb;
  const bool idr = nalType(nal) == kNalIdrSlice;
  uint32_t step = order->pocLsb;  // from 0, an IDR's own order count
  if (!idr && m_last.valid) step = (order->pocLsb - m_last.pocLsb) & (modulus - 1);
  if ((idr || m_last.valid) && step > kNormalStep) m_reordering = true;
  m_last = LastPicture{true, order->fieldPic, order->bottomField, order->frameNum, order->pocLsb};
}

void StreamGate::forgetPpsOf(uint32_t spsId) {
  for (auto& s : m_ppsSps) {
    if (s == static_cast<int16_t>(spsId)) s = kNoSps;
  }
}

}  // namespace trevolo::h264
