// The parameter-set and slice-header parsing the decoder wrapper does itself:
// the input is an Annex B run, cut into NAL units by the wrapper's splitter;
// every unit goes through each parser and through the gate that decides what
// reaches the decoding core. The last SPS parsed is used to read the order
// fields of every unit. The results are checked against what they promise.
#include <optional>

#include "fuzz/fuzz_util.h"
#include "video/h264_gate.h"
#include "video/h264_nal.h"
#include "video/h264_params.h"

using namespace trevolo::h264;

namespace {

constexpr size_t kUnitCapacity = 1 << 16;
constexpr SizeLimits kLimits[2] = {{120, 68}, {22, 18}};

void CheckSps(const SpsInfo& sps) {
  FUZZ_CHECK(sps.id <= kMaxSpsId);
  FUZZ_CHECK(sps.chromaFormatIdc <= 1);
  FUZZ_CHECK(sps.bitDepthLuma == 8 && sps.bitDepthChroma == 8);
  FUZZ_CHECK(sps.widthMbs >= 1 && sps.heightMapUnits >= 1);
  FUZZ_CHECK(sps.log2MaxFrameNum >= 4 && sps.log2MaxFrameNum <= 16);
  FUZZ_CHECK(sps.pocType <= 2);
  if (sps.pocType == 0) FUZZ_CHECK(sps.log2MaxPocLsb >= 4 && sps.log2MaxPocLsb <= 16);
  // The crop window leaves at least one pixel each way.
  FUZZ_CHECK(sps.cropLeft + sps.cropRight < sps.widthMbs * 16);
  FUZZ_CHECK(sps.cropTop + sps.cropBottom < sps.frameHeightMbs() * 16);
  FUZZ_CHECK(sps.width() >= 1 && sps.height() >= 1);
  if (sps.frameMbsOnly) FUZZ_CHECK(!sps.mbAdaptiveFrameField);
  for (const SizeLimits& limits : kLimits) {
    if (spsAcceptable(sps, limits)) {
      FUZZ_CHECK(sps.widthMbs <= limits.maxWidthMbs);
      FUZZ_CHECK(sps.frameHeightMbs() <= limits.maxHeightMbs);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static NalSplitter splitter(kUnitCapacity);
  StreamGate gate(kLimits[0]);
  std::optional<SpsInfo> lastSps;
  splitter.split(data, size, [&](const uint8_t* nal, size_t n) {
    FUZZ_CHECK(n >= 2 && n <= kUnitCapacity);
    if (const auto sps = parseSps(nal, n)) {
      CheckSps(*sps);
      lastSps = sps;
    }
    if (const auto ids = parsePpsIds(nal, n)) {
      FUZZ_CHECK(ids->ppsId <= kMaxPpsId && ids->spsId <= kMaxSpsId);
    }
    if (const auto slice = parseSliceStart(nal, n)) {
      FUZZ_CHECK(slice->sliceType <= 4 && slice->ppsId <= kMaxPpsId);
    }
    if (lastSps) {
      if (const auto order = parseSliceOrder(nal, n, *lastSps)) {
        FUZZ_CHECK(order->frameNum < (uint32_t{1} << lastSps->log2MaxFrameNum));
        if (lastSps->pocType == 0)
          FUZZ_CHECK(order->pocLsb < (uint32_t{1} << lastSps->log2MaxPocLsb));
        if (!order->fieldPic) FUZZ_CHECK(!order->bottomField);
        if (lastSps->frameMbsOnly) FUZZ_CHECK(!order->fieldPic);
      }
    }
    gate.admit(nal, n);
  });
  trevolo::fuzz::Use(gate.reorderingPossible());
  return 0;
}
