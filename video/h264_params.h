// Parsing of the parameter sets and slice header fields the wrapper itself
// needs: picture size and crop window, profile, reordering declared in the
// VUI, and which parameter sets a slice depends on. Inputs are RBSP bytes of
// one NAL unit, header byte first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace trevolo::h264 {

inline constexpr uint32_t kMaxSpsId = 31;
inline constexpr uint32_t kMaxPpsId = 255;

struct SpsInfo {
  uint32_t id = 0;
  uint32_t profileIdc = 0;
  uint32_t chromaFormatIdc = 1;  // 0 monochrome, 1 4:2:0
  uint32_t bitDepthLuma = 8;
  uint32_t bitDepthChroma = 8;
  uint32_t maxNumRefFrames = 0;
  uint32_t widthMbs = 0;
  uint32_t heightMapUnits = 0;  // frame rows when frameMbsOnly, field rows otherwise
  uint32_t log2MaxFrameNum = 4;
  uint32_t pocType = 0;
  uint32_t log2MaxPocLsb = 4;  // POC type 0 only
  bool frameMbsOnly = true;
  bool mbAdaptiveFrameField = false;
  // Crop window in pixels, already scaled by the crop units.
  uint32_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  // From the VUI bitstream restriction, when present and readable.
  bool reorderDeclared = false;
  uint32_t maxNumReorderFrames = 0;

  uint32_t frameHeightMbs() const { return heightMapUnits * (frameMbsOnly ? 1 : 2); }
  uint32_t width() const { return widthMbs * 16 - cropLeft - cropRight; }
  uint32_t height() const { return frameHeightMbs() * 16 - cropTop - cropBottom; }
};

// Full parse of a sequence parameter set, scaling lists included; nullopt
// when it is malformed or uses features outside 8-bit 4:2:0/4:0:0.
std::optional<SpsInfo> parseSps(const uint8_t* nal, size_t size);

// The largest picture a decoder is set up for, in macroblocks.
struct SizeLimits {
  uint32_t maxWidthMbs;
  uint32_t maxHeightMbs;  // rows of a frame
};

// True when the profile is one the decoder supports (Baseline, Main, High)
// and the coded size fits: frame-only streams up to maxHeightMbs rows,
// streams that may carry fields up to maxHeightMbs / 2 rows per field.
bool spsAcceptable(const SpsInfo& sps, const SizeLimits& limits);

struct PpsIds {
  uint32_t ppsId;
  uint32_t spsId;
};
std::optional<PpsIds> parsePpsIds(const uint8_t* nal, size_t size);

struct SliceStart {
  uint32_t firstMb;
  uint32_t sliceType;  // 0 P, 1 B, 2 I, 3 SP, 4 SI (the +5 forms folded)
  uint32_t ppsId;
};
std::optional<SliceStart> parseSliceStart(const uint8_t* nal, size_t size);

// The slice header fields up to the picture order count, read with the
// slice's SPS.
struct SliceOrder {
  uint32_t frameNum;
  bool fieldPic;
  bool bottomField;
  uint32_t pocLsb;  // POC type 0 only
};
std::optional<SliceOrder> parseSliceOrder(const uint8_t* nal, size_t size, const SpsInfo& sps);

}  // namespace trevolo::h264
