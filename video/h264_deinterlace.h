// Intra-frame deinterlacing: an interlaced frame holds two fields sampled at
// different instants; showing it as is combs every moving edge. The filter
// keeps the field that comes first in time and rebuilds the other field's
// lines from it alone, so it needs no other frame and adds no delay.
#pragma once

#include <cstdint>

namespace trevolo::h264 {

// Writes a `width` x `height` plane to `dst` (rows of `width` bytes): rows of
// the kept field are copied from `src`, the others interpolated along the
// direction (of three) where the lines above and below agree best.
void deinterlacePlane(const uint8_t* src, int srcStride, uint8_t* dst, int width, int height,
                      bool keepTopField);

}  // namespace trevolo::h264
