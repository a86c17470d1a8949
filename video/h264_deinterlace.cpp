#include "video/h264_deinterlace.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace trevolo::h264 {
namespace {

void interpolateRow(const uint8_t* above, const uint8_t* below, uint8_t* out, int width) {
  out[0] = static_cast<uint8_t>((above[0] + below[0] + 1) >> 1);
  for (int x = 1; x + 1 < width; ++x) {
    int best = std::abs(above[x] - below[x]);
    int sum = above[x] + below[x];
    for (int d = -1; d <= 1; d += 2) {
      const int diff = std::abs(above[x + d] - below[x - d]);
      if (diff < best) {
        best = diff;
        sum = above[x + d] + below[x - d];
      }
    }
    out[x] = static_cast<uint8_t>((sum + 1) >> 1);
  }
  if (width > 1) out[width - 1] = static_cast<uint8_t>((above[width - 1] + below[width - 1] + 1) >> 1);
}

}  // namespace

void deinterlacePlane(const uint8_t* src, int srcStride, uint8_t* dst, int width, int height,
                      bool keepTopField) {
  const int kept = keepTopField ? 0 : 1;
  for (int y = kept; y < height; y += 2) {
    std::memcpy(dst + static_cast<size_t>(y) * width, src + static_cast<ptrdiff_t>(y) * srcStride,
                static_cast<size_t>(width));
  }
  for (int y = 1 - kept; y < height; y += 2) {
    // Rows at the picture edge have a kept neighbour on one side only.
    const int ya = y > 0 ? y - 1 : y + 1;
    const int yb = y + 1 < height ? y + 1 : y - 1;
    if (ya < 0 || ya >= height) {  // a one-row plane: nothing to interpolate from
      std::memcpy(dst + static_cast<size_t>(y) * width, src + static_cast<ptrdiff_t>(y) * srcStride,
                  static_cast<size_t>(width));
      continue;
    }
    interpolateRow(dst + static_cast<size_t>(ya) * width, dst + static_cast<size_t>(yb) * width,
                   dst + static_cast<size_t>(y) * width, width);
  }
}

}  // namespace trevolo::h264
