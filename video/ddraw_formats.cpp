// Row copies from source pictures into surface memory. Sizes are computed in
// size_t so that large pictures cannot overflow 32-bit products.
#include "video/ddraw_formats.h"

#include <cstring>

using trevolo::platform::SurfaceFormat;

namespace {

uint16_t load16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void store16(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void store32(uint8_t* p, uint32_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
  p[2] = static_cast<uint8_t>(value >> 16);
  p[3] = static_cast<uint8_t>(value >> 24);
}

// `rows` rows of `rowBytes` from `source` into `target`; skipped when the
// source plane is missing.
void copyRows(uint8_t* target, size_t targetPitch, const uint8_t* source, size_t sourceStride,
              size_t rowBytes, size_t rows) {
  if (source == nullptr) return;
  for (size_t row = 0; row < rows; ++row) {
    std::memcpy(target + row * targetPitch, source + row * sourceStride, rowBytes);
  }
}

// Planar 4:2:0: Y rows, then the first and second chroma planes right after,
// each height / 2 rows of width / 2 bytes at half the pitch.
void copyPlanar(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
                int32_t pitch, int firstChroma, int secondChroma) {
  const size_t lumaPitch = static_cast<size_t>(pitch);
  const size_t chromaPitch = lumaPitch / 2;
  const size_t chromaRows = height / 2;
  copyRows(surface, lumaPitch, planes.plane[0], planes.stride[0], width, height);
  uint8_t* first = surface + lumaPitch * height;
  copyRows(first, chromaPitch, planes.plane[firstChroma], planes.stride[firstChroma], width / 2,
           chromaRows);
  uint8_t* second = first + chromaPitch * chromaRows;
  copyRows(second, chromaPitch, planes.plane[secondChroma], planes.stride[secondChroma],
           width / 2, chromaRows);
}

// Per-pixel conversions of 16-bit sources: each row of the surface is
// cleared, then written pixel by pixel. Rows advance by even byte counts.
template <typename Swap>
void swap16(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
            int32_t pitch, Swap swap) {
  const uint8_t* source = planes.plane[0];
  if (source == nullptr) return;
  const size_t targetStep = static_cast<size_t>(pitch) & ~size_t{1};
  const size_t sourceStep = planes.stride[0] & ~uint32_t{1};
  for (size_t row = 0; row < height; ++row) {
    uint8_t* target = surface + row * targetStep;
    const uint8_t* in = source + row * sourceStep;
    std::memset(target, 0, size_t{width} * 2);
    for (size_t x = 0; x < width; ++x) store16(target + x * 2, swap(load16(in + x * 2)));
  }
}

// Per-pixel conversions to 32 bits from `bytesPerPixel`-byte sources; rows of
// the surface advance by the pitch rounded down to a multiple of 4.
template <typename Pack>
void to32(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
          int32_t pitch, size_t bytesPerPixel, Pack pack) {
  const uint8_t* source = planes.plane[0];
  if (source == nullptr) return;
  const size_t targetStep = static_cast<size_t>(pitch) & ~size_t{3};
  for (size_t row = 0; row < height; ++row) {
    uint8_t* target = surface + row * targetStep;
    const uint8_t* in = source + row * size_t{planes.stride[0]};
    std::memset(target, 0, size_t{width} * 4);
    for (size_t x = 0; x < width; ++x) store32(target + x * 4, pack(in + x * bytesPerPixel));
  }
}

}  // namespace

void copyYv12(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
              int32_t pitch) {
  copyPlanar(surface, planes, width, height, pitch, 2, 1);
}

void copyI420(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
              int32_t pitch) {
  copyPlanar(surface, planes, width, height, pitch, 1, 2);
}

void copyNv12(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
              int32_t pitch) {
  // The interleaved chroma rows are `width` bytes long and, like the luma
  // rows, advance by the luma stride.
  const size_t lumaPitch = static_cast<size_t>(pitch);
  copyRows(surface, lumaPitch, planes.plane[0], planes.stride[0], width, height);
  copyRows(surface + lumaPitch * height, lumaPitch, planes.plane[1], planes.stride[0], width,
           height / 2);
}

void copyPlain16(uint8_t* surface, const RenderPlanes& planes, uint32_t width,
                 uint32_t height, int32_t pitch) {
  copyRows(surface, static_cast<size_t>(pitch), planes.plane[0], planes.stride[0],
           size_t{width} * 2, height);
}

void copyPlain8(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
                int32_t pitch) {
  copyRows(surface, static_cast<size_t>(pitch), planes.plane[0], planes.stride[0], width,
           height);
}

void swap555(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
             int32_t pitch) {
  swap16(surface, planes, width, height, pitch, [](uint32_t s) {
    return ((s >> 10) & 0x1F) | (s & 0x03E0) | ((s & 0x1F) << 10);
  });
}

void swap565(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
             int32_t pitch) {
  swap16(surface, planes, width, height, pitch, [](uint32_t s) {
    return ((s >> 11) | (s & 0x07E0) | (s << 11)) & 0xFFFF;
  });
}

void expand24To32(uint8_t* surface, const RenderPlanes& planes, uint32_t width,
                  uint32_t height, int32_t pitch) {
  to32(surface, planes, width, height, pitch, 3, [](const uint8_t* b) {
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16);
  });
}

void copy32(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
            int32_t pitch) {
  to32(surface, planes, width, height, pitch, 4, [](const uint8_t* b) {
    return uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
           (uint32_t{b[3]} << 24);
  });
}

void swap32(uint8_t* surface, const RenderPlanes& planes, uint32_t width, uint32_t height,
            int32_t pitch) {
  to32(surface, planes, width, height, pitch, 4, [](const uint8_t* b) {
    return uint32_t{b[2]} | (uint32_t{b[1]} << 8) | (uint32_t{b[0]} << 16) |
           (uint32_t{b[3]} << 24);
  });
}

std::optional<SurfaceDescription> describeSurface(int formatCode, uint32_t width,
                                                  uint32_t height) {
  struct Entry {
    SurfaceFormat format;
    RowCopyFn convert;
  };
  // Indexed by format code; code 6 has no surface.
  static constexpr Entry kTable[kHighestFormatCode + 1] = {
      {SurfaceFormat::YV12, copyYv12},       {SurfaceFormat::I420, copyI420},
      {SurfaceFormat::YUY2, copyPlain16},    {SurfaceFormat::YVYU, copyPlain16},
      {SurfaceFormat::UYVY, copyPlain16},    {SurfaceFormat::NV12, copyNv12},
      {SurfaceFormat::NV12, nullptr},        {SurfaceFormat::Palette8, copyPlain8},
      {SurfaceFormat::Rgb555, swap555},      {SurfaceFormat::Rgb565, swap565},
      {SurfaceFormat::Rgb32, expand24To32},  {SurfaceFormat::Rgb32, copy32},
      {SurfaceFormat::Rgb32, swap32},
  };
  if (formatCode < 0 || formatCode > kHighestFormatCode) return std::nullopt;
  const Entry& entry = kTable[formatCode];
  if (entry.convert == nullptr) return std::nullopt;
  return SurfaceDescription{entry.format, width, height, entry.convert};
}

RenderPlanes renderPlanes(int formatCode, uint32_t width, const uint8_t* const plane[3]) {
  RenderPlanes planes;
  for (int i = 0; i < 3; ++i) planes.plane[i] = plane[i];
  switch (formatCode) {
    case 0:
    case 1:
      planes.stride[0] = width;
      planes.stride[1] = planes.stride[2] = width / 2;
      break;
    case 5:
    case 6:
      planes.stride[0] = width;
      planes.stride[1] = width / 2;
      break;
    case 2: case 3: case 4: case 8: case 9:
      planes.stride[0] = width * 2;
      break;
    case 7:
      planes.stride[0] = width;
      break;
    case 10:
      planes.stride[0] = width * 3;
      break;
    case 11:
    case 12:
      planes.stride[0] = width * 4;
      break;
    default:
      break;
  }
  return planes;
}
