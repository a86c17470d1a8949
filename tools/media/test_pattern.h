// The synthetic test picture of `avtool gen` and the reader that recognises
// it again in a decoded picture or a screenshot.
//
// The picture carries its frame number ("F 000123") and its time in
// milliseconds since the start ("T 0004920") in big white 5x7 bitmap digits
// on a black box in the top-left corner. The layout is given in fractions of
// the picture size, so the reader finds the digits at any picture size and
// in scaled copies of the picture, and it recognises each digit by matching
// the mean brightness of every dot against the font: lossy compression blurs
// the edges of the dots but not their centres.
#pragma once

#include <cstdint>

namespace trevolo {

// A writable I420 picture (chroma planes of (width+1)/2 x (height+1)/2).
struct TestPicturePlanes {
  uint8_t* y = nullptr;
  uint8_t* u = nullptr;
  uint8_t* v = nullptr;
  int yStride = 0;
  int uStride = 0;
  int vStride = 0;
};

// Largest values the picture can show: six frame digits, seven time digits.
inline constexpr int kMaxTestFrameNumber = 999999;
inline constexpr int64_t kMaxTestTimeMs = 9999999;

// Draws picture `frameNumber` (moving colour bars, a moving box, the text
// box) for a width x height picture. Numbers beyond the limits above are
// shown modulo 10^6 and 10^7.
void DrawTestPicture(int frameNumber, int64_t timeMs, int width, int height,
                     const TestPicturePlanes& planes);

// The frame number drawn into a (decoded, possibly lossy) luma plane, or -1
// when the plane does not show a readable test picture.
int ReadFrameNumber(const uint8_t* y, int stride, int width, int height);

// The time stamp text in milliseconds, or -1 when it cannot be read.
int64_t ReadTimeMs(const uint8_t* y, int stride, int width, int height);

}  // namespace trevolo
