#include "video/h264_params.h"

#include "video/h264_bits.h"

namespace trevolo::h264 {
namespace {

constexpr uint32_t kProfileBaseline = 66;
constexpr uint32_t kProfileMain = 77;
constexpr uint32_t kProfileHigh = 100;
constexpr uint32_t kMaxRefFrames = 16;
constexpr uint32_t kMaxLog2FieldMinus4 = 12;  // frame_num and POC lsb widths
constexpr uint32_t kMaxPocCycle = 255;
constexpr uint32_t kMaxCpbCount = 32;

// Profiles whose SPS carries chroma format, bit depths and scaling matrices.
bool hasHighProfileFields(uint32_t profile) {
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83:
    case 86: case 118: case 128: case 138: case 139: case 134: case 135:
      return true;
    default:
      return false;
  }
}

void skipScalingList(BitReader& br, int size) {
  int last = 8;
  int next = 8;
  for (int j = 0; j < size && next != 0; ++j) {
    const int32_t delta = br.se();
    if (delta < -128 || delta > 127) return br.fail();
    next = (last + delta + 256) % 256;
    if (next != 0) last = next;
  }
}

bool parseChromaAndScaling(BitReader& br, SpsInfo& sps) {
  sps.chromaFormatIdc = br.ue();
  if (sps.chromaFormatIdc > 1) return false;  // 4:2:2 and 4:4:4 are not output formats here
  sps.bitDepthLuma = br.ue() + 8;
  sps.bitDepthChroma = br.ue() + 8;
  if (sps.bitDepthLuma != 8 || sps.bitDepthChroma != 8) return false;
  br.bit();  // qpprime_y_zero_transform_bypass_flag
  if (br.bit()) {  // seq_scaling_matrix_present_flag
    for (int i = 0; i < 8; ++i) {
      if (br.bit()) skipScalingList(br, i < 6 ? 16 : 64);
    }
  }
  return br.ok();
}

bool parsePicOrderCount(BitReader& br, SpsInfo& sps) {
  const uint32_t type = br.ue();
  sps.pocType = type;
  if (type == 0) {
    const uint32_t minus4 = br.ue();
    sps.log2MaxPocLsb = minus4 + 4;
    return br.ok() && minus4 <= kMaxLog2FieldMinus4;
  }
  if (type == 1) {
    br.bit();  // delta_pic_order_always_zero_flag
    br.se();
    br.se();
    const uint32_t cycle = br.ue();
    if (cycle > kMaxPocCycle) return false;
    for (uint32_t i = 0; i < cycle; ++i) br.se();
    return br.ok();
  }
  return type == 2;
}

void skipHrd(BitReader& br) {
  const uint32_t count = br.ue() + 1;
  if (count > kMaxCpbCount) return br.fail();
  br.bits(8);  // bit_rate_scale, cpb_size_scale
  for (uint32_t i = 0; i < count; ++i) {
    br.ue();
    br.ue();
    br.bit();
  }
  br.bits(20);  // four delay and offset lengths of 5 bits
}

// Reads the VUI up to the bitstream restriction. A damaged VUI leaves the
// reordering undeclared rather than rejecting an otherwise usable SPS.
void parseVui(BitReader& br, SpsInfo& sps) {
  constexpr uint32_t kExtendedSar = 255;
  if (br.bit() && br.bits(8) == kExtendedSar) br.bits(32);  // aspect ratio
  if (br.bit()) br.bit();                                 // overscan
  if (br.bit()) {                                         // video signal type
    br.bits(4);
    if (br.bit()) br.bits(24);
  }
  if (br.bit()) {  // chroma location
    br.ue();
    br.ue();
  }
  if (br.bit()) {  // timing: num_units_in_tick, time_scale, fixed_frame_rate_flag
    br.bits(32);
    br.bits(32);
    br.bit();
  }
  const bool nalHrd = br.bit();
  if (nalHrd) skipHrd(br);
  const bool vclHrd = br.bit();
  if (vclHrd) skipHrd(br);
  if (nalHrd || vclHrd) br.bit();  // low_delay_hrd_flag
  br.bit();                        // pic_struct_present_flag
  if (!br.bit()) return;           // bitstream_restriction_flag
  br.bit();
  for (int i = 0; i < 4; ++i) br.ue();
  const uint32_t reorder = br.ue();
  br.ue();  // max_dec_frame_buffering
  if (br.ok() && reorder <= kMaxRefFrames) {
    sps.reorderDeclared = true;
    sps.maxNumReorderFrames = reorder;
  }
}

bool parseCrop(BitReader& br, SpsInfo& sps) {
  if (!br.bit()) return true;
  const uint32_t unitX = sps.chromaFormatIdc == 0 ? 1 : 2;
  const uint32_t unitY = (sps.chromaFormatIdc == 0 ? 1 : 2) * (sps.frameMbsOnly ? 1 : 2);
  const uint64_t left = br.ue(), right = br.ue(), top = br.ue(), bottom = br.ue();
  if (!br.ok()) return false;
  if ((left + right) * unitX >= uint64_t{sps.widthMbs} * 16) return false;
  if ((top + bottom) * unitY >= uint64_t{sps.frameHeightMbs()} * 16) return false;
  sps.cropLeft = static_cast<uint32_t>(left * unitX);
  sps.cropRight = static_cast<uint32_t>(right * unitX);
  sps.cropTop = static_cast<uint32_t>(top * unitY);
  sps.cropBottom = static_cast<uint32_t>(bottom * unitY);
  return true;
}

// Largest picture dimension in macroblocks the parser takes seriously; keeps
// the size arithmetic far from overflow.
constexpr uint32_t kMaxDimensionMbs = 1024;

}  // namespace

std::optional<SpsInfo> parseSps(const uint8_t* nal, size_t size) {
  BitReader br(nal + 1, size - 1);
  SpsInfo sps;
  sps.profileIdc = br.bits(8);
  br.bits(16);  // constraint flags, level_idc
  sps.id = br.ue();
  if (!br.ok() || sps.id > kMaxSpsId) return std::nullopt;
  if (hasHighProfileFields(sps.profileIdc) && !parseChromaAndScaling(br, sps)) return std::nullopt;
  const uint32_t frameNumMinus4 = br.ue();
  if (frameNumMinus4 > kMaxLog2FieldMinus4) return std::nullopt;
  sps.log2MaxFrameNum = frameNumMinus4 + 4;
  if (!parsePicOrderCount(br, sps)) return std::nullopt;
  sps.maxNumRefFrames = br.ue();
  br.bit();  // gaps_in_frame_num_value_allowed_flag
  sps.widthMbs = br.ue() + 1;
  sps.heightMapUnits = br.ue() + 1;
  sps.frameMbsOnly = br.bit();
  if (!sps.frameMbsOnly) sps.mbAdaptiveFrameField = br.bit();
  br.bit();  // direct_8x8_inference_flag
  if (!br.ok() || sps.maxNumRefFrames > kMaxRefFrames || sps.widthMbs > kMaxDimensionMbs ||
      sps.heightMapUnits > kMaxDimensionMbs) {
    return std::nullopt;
  }
  if (!parseCrop(br, sps)) return std::nullopt;
  if (br.bit()) parseVui(br, sps);
  return sps;
}

bool spsAcceptable(const SpsInfo& sps, const SizeLimits& limits) {
  if (sps.profileIdc != kProfileBaseline && sps.profileIdc != kProfileMain &&
      sps.profileIdc != kProfileHigh) {
    return false;
  }
  constexpr uint32_t kMinSizeMbs = 2;
  if (sps.widthMbs < kMinSizeMbs || sps.widthMbs > limits.maxWidthMbs) return false;
  if (sps.frameHeightMbs() < kMinSizeMbs) return false;
  const uint32_t maxUnits = sps.frameMbsOnly ? limits.maxHeightMbs : limits.maxHeightMbs / 2;
  return sps.heightMapUnits <= maxUnits;
}

std::optional<PpsIds> parsePpsIds(const uint8_t* nal, size_t size) {
  BitReader br(nal + 1, size - 1);
  PpsIds ids{br.ue(), br.ue()};
  if (!br.ok() || ids.ppsId > kMaxPpsId || ids.spsId > kMaxSpsId) return std::nullopt;
  return ids;
}

std::optional<SliceStart> parseSliceStart(const uint8_t* nal, size_t size) {
  BitReader br(nal + 1, size - 1);
  SliceStart s{};
  s.firstMb = br.ue();
  s.sliceType = br.ue();
  s.ppsId = br.ue();
  if (!br.ok() || s.sliceType > 9 || s.ppsId > kMaxPpsId) return std::nullopt;
  s.sliceType %= 5;
  return s;
}

std::optional<SliceOrder> parseSliceOrder(const uint8_t* nal, size_t size, const SpsInfo& sps) {
  BitReader br(nal + 1, size - 1);
  br.ue();  // first_mb_in_slice
  br.ue();  // slice_type
  br.ue();  // pic_parameter_set_id
  SliceOrder o{};
  o.frameNum = br.bits(static_cast<int>(sps.log2MaxFrameNum));
  if (!sps.frameMbsOnly) {
    o.fieldPic = br.bit();
    if (o.fieldPic) o.bottomField = br.bit();
  }
  if ((nal[0] & 0x1F) == 5) br.ue();  // idr_pic_id
  if (sps.pocType == 0) o.pocLsb = br.bits(static_cast<int>(sps.log2MaxPocLsb));
  if (!br.ok()) return std::nullopt;
  return o;
}

}  // namespace trevolo::h264
