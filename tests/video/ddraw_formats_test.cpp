// Row copies checked byte by byte against a per-pixel model of each format,
// including odd sizes and pitches that are not multiples of the pixel size.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "video/ddraw_formats.h"

using trevolo::platform::SurfaceFormat;

namespace {

constexpr uint8_t kUntouched = 0xEE;

struct Size {
  uint32_t width;
  uint32_t height;
};

const Size kSizes[] = {{1, 1}, {2, 2}, {5, 3}, {7, 4}, {16, 9}, {33, 17}};

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> bytes(count);
  for (auto& b : bytes) b = static_cast<uint8_t>(rng());
  return bytes;
}

// A source picture of one format code: plane bytes sized from the strides.
struct Source {
  std::vector<uint8_t> data[3];
  const uint8_t* pointers[3] = {nullptr, nullptr, nullptr};
  RenderPlanes planes;

  Source(int code, Size size) {
    const uint8_t* none[3] = {nullptr, nullptr, nullptr};
    const RenderPlanes strides = renderPlanes(code, size.width, none);
    const size_t rows[3] = {size.height, size.height / 2, size.height / 2};
    for (int i = 0; i < 3; ++i) {
      // NV12's interleaved chroma rows are as long as the luma rows.
      const size_t stride = code == 5 && i == 1 ? strides.stride[0] : strides.stride[i];
      data[i] = randomBytes(stride * rows[i] + 1, 100 + code * 3 + i);
      pointers[i] = data[i].data();
    }
    planes = renderPlanes(code, size.width, pointers);
  }
};

void put16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = uint8_t(v);
  out[at + 1] = uint8_t(v >> 8);
}

void put32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

// What the surface must hold after the copy, written pixel by pixel.
std::vector<uint8_t> expected(int code, const Source& src, Size size, size_t pitch,
                              size_t bytes) {
  std::vector<uint8_t> out(bytes, kUntouched);
  const uint32_t w = size.width;
  const uint32_t h = size.height;
  const auto& p = src.data;
  auto plane = [&](size_t base, size_t dstPitch, const std::vector<uint8_t>& in,
                   size_t stride, size_t rowBytes, size_t rows) {
    for (size_t y = 0; y < rows; ++y)
      for (size_t x = 0; x < rowBytes; ++x) out[base + y * dstPitch + x] = in[y * stride + x];
  };
  const size_t chromaBase2 = h * pitch + (h / 2) * (pitch / 2);
  switch (code) {
    case 0:  // Y, then V, then U
      plane(0, pitch, p[0], w, w, h);
      plane(h * pitch, pitch / 2, p[2], w / 2, w / 2, h / 2);
      plane(chromaBase2, pitch / 2, p[1], w / 2, w / 2, h / 2);
      break;
    case 1:  // Y, then U, then V
      plane(0, pitch, p[0], w, w, h);
      plane(h * pitch, pitch / 2, p[1], w / 2, w / 2, h / 2);
      plane(chromaBase2, pitch / 2, p[2], w / 2, w / 2, h / 2);
      break;
    case 5:
      plane(0, pitch, p[0], w, w, h);
      plane(h * pitch, pitch, p[1], w, w, h / 2);
      break;
    case 2: case 3: case 4:
      plane(0, pitch, p[0], w * 2, w * 2, h);
      break;
    case 7:
      plane(0, pitch, p[0], w, w, h);
      break;
    case 8: case 9:
      for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
          const uint32_t s = p[0][y * w * 2 + x * 2] | (p[0][y * w * 2 + x * 2 + 1] << 8);
          const uint32_t red = code == 8 ? (s & 0x1F) << 10 : (s & 0x1F) << 11;
          const uint32_t green = code == 8 ? s & 0x03E0 : s & 0x07E0;
          const uint32_t blue = code == 8 ? (s >> 10) & 0x1F : s >> 11;
          put16(out, y * (pitch & ~size_t{1}) + x * 2, red | green | blue);
        }
      break;
    case 10: case 11: case 12: {
      const size_t in = code == 10 ? 3 : 4;
      for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
          const uint8_t* b = &p[0][y * w * in + x * in];
          uint32_t v = code == 12 ? b[2] | (b[1] << 8) | (b[0] << 16)
                                  : b[0] | (b[1] << 8) | (b[2] << 16);
          if (code != 10) v |= uint32_t{b[3]} << 24;
          put32(out, y * (pitch & ~size_t{3}) + x * 4, v);
        }
      break;
    }
  }
  return out;
}

size_t bytesPerPixel(int code) {
  switch (code) {
    case 2: case 3: case 4: case 8: case 9: return 2;
    case 10: case 11: case 12: return 4;
    default: return 1;
  }
}

// Runs the copy of `code` into a sentinel-filled buffer with an awkward
// pitch and compares it with the model, byte by byte.
void checkCopy(int code, Size size, size_t extraPitch) {
  SCOPED_TRACE("code " + std::to_string(code) + ", " + std::to_string(size.width) + "x" +
               std::to_string(size.height) + ", pitch +" + std::to_string(extraPitch));
  const auto description = describeSurface(code, size.width, size.height);
  ASSERT_TRUE(description.has_value());
  const size_t pitch = size.width * bytesPerPixel(code) + extraPitch;
  const size_t bytes = pitch * size.height * 2 + 64;
  std::vector<uint8_t> surface(bytes, kUntouched);
  const Source src(code, size);
  description->convert(surface.data(), src.planes, size.width, size.height,
                       static_cast<int32_t>(pitch));
  const std::vector<uint8_t> want = expected(code, src, size, pitch, bytes);
  for (size_t i = 0; i < bytes; ++i) {
    ASSERT_EQ(int(surface[i]), int(want[i])) << "byte " << i;
  }
}

}  // namespace

TEST(DDrawFormats, EveryRowCopyMatchesItsPixelModel) {
  for (int code : {0, 1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12}) {
    for (const Size& size : kSizes) {
      // Even pitches for planar formats (their chroma rows use half of it);
      // odd extras elsewhere exercise the rounding of the row advance.
      const bool planar = code == 0 || code == 1 || code == 5;
      for (size_t extra : planar ? std::vector<size_t>{0, 2, 10} : std::vector<size_t>{0, 3, 6}) {
        if (planar && (size.width + extra) % 2 != 0) extra += 1;
        checkCopy(code, size, extra);
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST(DDrawFormats, SurfaceForEachCode) {
  const struct {
    int code;
    SurfaceFormat format;
  } kExpected[] = {
      {0, SurfaceFormat::YV12},     {1, SurfaceFormat::I420},   {2, SurfaceFormat::YUY2},
      {3, SurfaceFormat::YVYU},     {4, SurfaceFormat::UYVY},   {5, SurfaceFormat::NV12},
      {7, SurfaceFormat::Palette8}, {8, SurfaceFormat::Rgb555}, {9, SurfaceFormat::Rgb565},
      {10, SurfaceFormat::Rgb32},   {11, SurfaceFormat::Rgb32}, {12, SurfaceFormat::Rgb32},
  };
  for (const auto& e : kExpected) {
    const auto d = describeSurface(e.code, 35, 21);
    ASSERT_TRUE(d.has_value()) << e.code;
    EXPECT_EQ(d->format, e.format) << e.code;
    EXPECT_EQ(d->width, 35u);
    EXPECT_EQ(d->height, 21u);
  }
  for (int code : {6, 13, 100, -1}) EXPECT_FALSE(describeSurface(code, 35, 21)) << code;
}

TEST(DDrawFormats, MissingPlanesAreSkipped) {
  const Size size{6, 4};
  const size_t pitch = 8;
  std::vector<uint8_t> surface(256, kUntouched);
  Source src(0, size);
  src.planes.plane[2] = nullptr;  // V missing: its rows stay as they were
  copyYv12(surface.data(), src.planes, size.width, size.height, pitch);
  std::vector<uint8_t> want = expected(0, src, size, pitch, surface.size());
  for (size_t y = 0; y < 2; ++y)
    for (size_t x = 0; x < 3; ++x) want[4 * pitch + y * 4 + x] = kUntouched;
  EXPECT_EQ(surface, want);

  // A packed source without its plane writes nothing at all.
  for (int code : {2, 7, 8, 9, 10, 11, 12}) {
    std::vector<uint8_t> packed(256, kUntouched);
    RenderPlanes empty;
    describeSurface(code, 5, 3)->convert(packed.data(), empty, 5, 3, 24);
    EXPECT_EQ(packed, std::vector<uint8_t>(256, kUntouched)) << code;
  }
}
