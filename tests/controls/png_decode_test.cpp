// PNG decoding, the resource registry and CGdiPlusBitmapResource: images
// written here with libpng must come back pixel for pixel, alpha included;
// damaged data must fail cleanly.
#include <png.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "controls/bitmap_resource.h"
#include "controls/png_image.h"
#include "controls/resource_registry.h"

namespace trevolo::controls::testing {

// Encodes `image` as an 8-bit RGBA PNG (shared with the button tests).
std::vector<uint8_t> encodePng(const Image& image) {
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(image.width());
  png.height = static_cast<png_uint_32>(image.height());
  png.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  const auto stride = static_cast<png_int_32>(image.stride());
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, image.data(), stride, nullptr)) {
    return {};
  }
  std::vector<uint8_t> bytes(size);
  if (!png_image_write_to_memory(&png, bytes.data(), &size, 0, image.data(), stride, nullptr)) {
    return {};
  }
  bytes.resize(size);
  return bytes;
}

namespace {

// A picture whose every pixel differs, with alpha running through 0..255.
Image gradient(int width, int height) {
  Image image(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      image.setPixel(x, y, Color{static_cast<uint8_t>(x * 13), static_cast<uint8_t>(y * 29),
                                 static_cast<uint8_t>((x + y) * 7),
                                 static_cast<uint8_t>((x * 31 + y * 17) % 256)});
    }
  }
  return image;
}

void expectSamePixels(const Image& expected, const Image& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (int y = 0; y < expected.height(); ++y) {
    for (int x = 0; x < expected.width(); ++x) {
      ASSERT_EQ(expected.pixel(x, y), actual.pixel(x, y)) << "at " << x << "," << y;
    }
  }
}

// Big-endian 32-bit field of a PNG chunk.
void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

// CRC-32 as PNG chunks carry it (over type and data).
uint32_t chunkCrc(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

// Offsets inside a PNG: 8-byte signature, then IHDR's length and type.
constexpr size_t kIhdrData = 16;
constexpr size_t kIhdrCrc = kIhdrData + 13;

TEST(PngDecode, RoundTripKeepsColourAndAlpha) {
  const Image source = gradient(23, 11);
  const std::vector<uint8_t> bytes = encodePng(source);
  ASSERT_FALSE(bytes.empty());
  Image decoded;
  std::string error;
  ASSERT_TRUE(decodePng(bytes, &decoded, &error)) << error;
  expectSamePixels(source, decoded);
}

TEST(PngDecode, DamagedDataFailsAndLeavesNoImage) {
  const std::vector<uint8_t> good = encodePng(gradient(16, 16));
  Image decoded = gradient(2, 2);
  std::string error;

  EXPECT_FALSE(decodePng({}, &decoded, &error));
  EXPECT_TRUE(decoded.empty());

  std::vector<uint8_t> garbage(good.size(), 0xA5);
  EXPECT_FALSE(decodePng(garbage, &decoded, &error));
  EXPECT_FALSE(error.empty());

  std::vector<uint8_t> badCrc = good;
  badCrc[kIhdrCrc] ^= 0xFF;
  EXPECT_FALSE(decodePng(badCrc, &decoded));

  std::vector<uint8_t> badPixels = good;  // zlib stream of IDAT broken
  for (size_t i = 41; i < 60 && i < badPixels.size(); ++i) badPixels[i] = 0xFF;
  EXPECT_FALSE(decodePng(badPixels, &decoded));
  EXPECT_TRUE(decoded.empty());
  EXPECT_FALSE(decodePng(good, nullptr));
}

// Every cut of a valid file is refused, never read past its end.
TEST(PngDecode, EveryTruncationFailsCleanly) {
  const std::vector<uint8_t> good = encodePng(gradient(9, 7));
  for (size_t length = 0; length + 12 < good.size(); ++length) {
    Image decoded;
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
    EXPECT_FALSE(decodePng(cut, &decoded)) << "length " << length;
    EXPECT_TRUE(decoded.empty());
  }
}

// A header claiming a huge picture (with a valid CRC) is refused before
// any pixel memory is asked for.
TEST(PngDecode, OversizedHeaderIsRefused) {
  std::vector<uint8_t> bytes = encodePng(gradient(4, 4));
  putU32(bytes, kIhdrData, 60000);
  putU32(bytes, kIhdrData + 4, 60000);
  putU32(bytes, kIhdrCrc, chunkCrc(bytes.data() + 12, 17));
  Image decoded;
  std::string error;
  EXPECT_FALSE(decodePng(bytes, &decoded, &error));
  EXPECT_TRUE(decoded.empty());
}

TEST(ResourceRegistry, FindsByIdAndNameAndRefusesClashes) {
  static const uint8_t kBytes[] = {1, 2, 3};
  static const uint8_t kOther[] = {4};
  ResourceRegistry registry;
  EXPECT_TRUE(registry.add("PNG", 131, "stop", kBytes));
  EXPECT_FALSE(registry.add("PNG", 131, "other", kOther));
  EXPECT_FALSE(registry.add("PNG", 132, "stop", kOther));
  EXPECT_FALSE(registry.add("PNG", 133, "empty", {}));
  EXPECT_TRUE(registry.add("BMP", 131, "stop", kOther));  // types are separate

  EXPECT_EQ(registry.find("PNG", 131u).data(), kBytes);
  EXPECT_EQ(registry.find("PNG", "stop").size(), 3u);
  EXPECT_EQ(registry.find("BMP", 131u).data(), kOther);
  EXPECT_TRUE(registry.find("PNG", 999u).empty());
  EXPECT_TRUE(registry.find("PNG", kNoResourceId).empty());
  EXPECT_TRUE(registry.remove("PNG", 131));
  EXPECT_TRUE(registry.find("PNG", 131u).empty());
}

// The build embedded one generated file into this test program.
TEST(ResourceRegistry, BuildEmbedsFilesByIdAndName) {
  const std::string expected = "embedded probe\n";
  const auto byId = ResourceRegistry::global().find("TXT", 42u);
  const auto byName = ResourceRegistry::global().find("TXT", "42_embed_probe");
  ASSERT_EQ(byId.size(), expected.size());
  EXPECT_EQ(byName.data(), byId.data());
  EXPECT_EQ(std::string(byId.begin(), byId.end()), expected);
}

// The play button's real artwork: 68 x 46 with alpha, both images.
TEST(BitmapResource, LoadsEmbeddedSkinImages) {
  for (uint32_t id : {133u, 139u}) {
    CGdiPlusBitmapResource bitmap;
    ASSERT_TRUE(bitmap.Load(id)) << id;
    EXPECT_EQ(bitmap.width(), 68);
    EXPECT_EQ(bitmap.height(), 46);
  }
}

TEST(BitmapResource, LoadsPngAndFailsWithoutLeavingAnImage) {
  const Image source = gradient(5, 6);
  const std::vector<uint8_t> png = encodePng(source);
  const std::vector<uint8_t> broken(png.begin(), png.begin() + 40);
  ResourceRegistry registry;
  ASSERT_TRUE(registry.add("PNG", 133, "play", png));
  ASSERT_TRUE(registry.add("PNG", 134, "broken", broken));

  CGdiPlusBitmapResource bitmap(registry);
  EXPECT_EQ(bitmap.bitmap(), nullptr);
  ASSERT_TRUE(bitmap.Load(133u));
  ASSERT_NE(bitmap.bitmap(), nullptr);
  expectSamePixels(source, *bitmap.bitmap());
  EXPECT_EQ(bitmap.width(), 5);

  EXPECT_FALSE(bitmap.Load(999u));  // no such id: the old image is gone too
  EXPECT_EQ(bitmap.bitmap(), nullptr);
  EXPECT_TRUE(bitmap.Load("play"));
  EXPECT_FALSE(bitmap.Load(134u));
  EXPECT_EQ(bitmap.bitmap(), nullptr);
  EXPECT_FALSE(bitmap.Load(133u, "BMP"));
}

}  // namespace
}  // namespace trevolo::controls::testing
