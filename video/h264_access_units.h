// Cuts an Annex B file into access units (one picture each, with the
// parameter sets and SEI before it), for tools and tests that feed the
// decoder the way a recording does: one access unit per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trevolo::h264 {

// Uses libavcodec's H.264 parser to find the access unit boundaries.
std::vector<std::vector<uint8_t>> splitAccessUnits(const uint8_t* data, size_t size);

}  // namespace trevolo::h264
