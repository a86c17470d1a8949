#include "controls/color_matrix.h"

#include <algorithm>
#include <cmath>

namespace trevolo::controls {

ColorMatrix ColorMatrix::identity() {
  ColorMatrix cm;
  for (int i = 0; i < 5; ++i) cm.m[i][i] = 1.0f;
  return cm;
}

ColorMatrix ColorMatrix::highlight() {
  ColorMatrix cm = identity();
  for (int i = 0; i < 3; ++i) {
    cm.m[i][i] = 1.05f;
    cm.m[4][i] = 0.05f;
  }
  return cm;
}

ColorMatrix ColorMatrix::grey() {
  ColorMatrix cm = identity();
  const float weights[3] = {0.3f, 0.59f, 0.11f};
  for (int row = 0; row < 3; ++row) {
    for (int col = 0; col < 3; ++col) cm.m[row][col] = weights[row];
  }
  return cm;
}

namespace {

uint8_t toByte(float v) {
  const float clamped = std::clamp(v, 0.0f, 1.0f);
  return static_cast<uint8_t>(std::lround(clamped * 255.0f));
}

}  // namespace

Color ColorMatrix::apply(Color color) const {
  const float in[5] = {color.r / 255.0f, color.g / 255.0f, color.b / 255.0f, color.a / 255.0f, 1.0f};
  float out[4] = {0, 0, 0, 0};
  for (int col = 0; col < 4; ++col) {
    for (int row = 0; row < 5; ++row) out[col] += in[row] * m[row][col];
  }
  return Color{toByte(out[0]), toByte(out[1]), toByte(out[2]), toByte(out[3])};
}

}  // namespace trevolo::controls
