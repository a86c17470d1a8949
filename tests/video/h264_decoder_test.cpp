// The decoder's calling contract on small pieces of real streams: result
// codes, where decoding starts, NAL units across calls, oversized units,
// attribute substitutes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "tests/video/h264_test_util.h"
#include "video/h264_nal.h"
#include "video/h264_params.h"

namespace trevolo::test {
namespace {

class Decoder {
 public:
  explicit Decoder(const H264DecAttr& attr = PlayerAttributes()) : m_dec(H264DecCreate(&attr)) {}
  ~Decoder() { H264DecDestroy(m_dec); }
  H264Decoder* get() const { return m_dec; }
  int32_t decode(const Bytes& data, uint64_t stamp = 0) {
    return H264DecDecode(m_dec, data.data(), static_cast<uint32_t>(data.size()), stamp, &pic, 0);
  }
  H264DecPicture pic;

 private:
  H264Decoder* m_dec;
};

// The NAL units of a stream's first access units, by type.
struct Pieces {
  Bytes sps, pps, idr;      // first SPS, PPS and the IDR picture's slices
  std::vector<Bytes> units; // all access units
  std::vector<std::string> md5s;
};

Pieces Load(const std::string& file) {
  Pieces p;
  const std::string path = StreamPath(file);
  p.units = AccessUnits(ReadFile(path));
  p.md5s = ReferenceMd5s(path);
  std::vector<Bytes> idr;
  for (const auto& nal : SplitNals(p.units.at(0))) {
    if (NalTypeOf(nal) == 7 && p.sps.empty()) p.sps = JoinNals({nal});
    if (NalTypeOf(nal) == 8 && p.pps.empty()) p.pps = JoinNals({nal});
    if (NalTypeOf(nal) == 5) idr.push_back(nal);
  }
  p.idr = JoinNals(idr);
  return p;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(H264Decoder, ArgumentChecks) {
  EXPECT_EQ(H264DecCreate(nullptr), nullptr);
  EXPECT_EQ(H264DecDestroy(nullptr), 0);
  Decoder d;
  ASSERT_NE(d.get(), nullptr);
  const uint8_t byte = 0;
  EXPECT_EQ(H264DecDecode(d.get(), &byte, 1, 0, nullptr, 0), H264_DEC_BAD_ARGUMENT);
  H264DecPicture pic;
  EXPECT_EQ(H264DecDecode(nullptr, &byte, 1, 0, &pic, 0), H264_DEC_BAD_ARGUMENT);
  // No data: no picture, and the plane pointers are cleared.
  pic.y = pic.u = pic.v = reinterpret_cast<uint8_t*>(&pic);
  EXPECT_EQ(H264DecDecode(d.get(), nullptr, 5, 0, &pic, 0), H264_DEC_NO_PICTURE);
  EXPECT_EQ(pic.y, nullptr);
  pic.u = reinterpret_cast<uint8_t*>(&pic);
  EXPECT_EQ(H264DecDecode(d.get(), &byte, 0, 0, &pic, 0), H264_DEC_NO_PICTURE);
  EXPECT_EQ(pic.u, nullptr);
}

// The slice type of the first slice of an access unit (0 P, 1 B, 2 I).
int FirstSliceType(const Bytes& au) {
  int type = -1;
  h264::NalSplitter splitter(1 << 20);
  splitter.split(au.data(), au.size(), [&](const uint8_t* nal, size_t n) {
    const int nalType = nal[0] & 0x1F;
    if (type >= 0 || (nalType != 1 && nalType != 5)) return;
    if (const auto s = h264::parseSliceStart(nal, n)) type = static_cast<int>(s->sliceType);
  });
  return type;
}

TEST(H264Decoder, PicturesStartAfterParameterSetsAtTheFirstIdrOrISlice) {
  const Pieces p = Load("MIDR_MW_D.264");
  Decoder d;
  // A slice before any parameter set, then the parameter sets alone.
  EXPECT_EQ(d.decode(p.idr), H264_DEC_NO_PICTURE);
  EXPECT_EQ(d.decode(Concat({p.sps, p.pps})), H264_DEC_NO_PICTURE);
  // P pictures are dropped until an intra picture comes.
  size_t i = 1;
  for (; i < p.units.size() && FirstSliceType(p.units[i]) != 2; ++i) {
    ASSERT_EQ(FirstSliceType(p.units[i]), 0);
    ASSERT_EQ(d.decode(p.units[i]), H264_DEC_NO_PICTURE) << i;
  }
  ASSERT_GT(i, 1u);
  ASSERT_LT(i, p.units.size());
  ASSERT_EQ(d.decode(p.units[i], 77), H264_DEC_PICTURE);
  EXPECT_EQ(PictureMd5(d.pic), p.md5s.at(i));
  EXPECT_EQ(d.pic.timeStamp, 77u);
}

TEST(H264Decoder, DecodingMayStartAtAnIPictureThatIsNotIdr) {
  // Every picture of this stream is intra; only the first is an IDR picture.
  const Pieces p = Load("BA1_Sony_D.jsv");
  Decoder d;
  EXPECT_EQ(d.decode(Concat({p.sps, p.pps})), H264_DEC_NO_PICTURE);
  ASSERT_EQ(d.decode(p.units.at(1)), H264_DEC_PICTURE);
  EXPECT_EQ(PictureMd5(d.pic), p.md5s.at(1));
  EXPECT_EQ(d.pic.width, 176u);
  EXPECT_EQ(d.pic.height, 144u);
}

TEST(H264Decoder, UnitsInSeparateCallsAndCutUnits) {
  const Pieces p = Load("BA_MW_D.264");
  Decoder d;
  // Parameter sets and the picture in separate calls.
  EXPECT_EQ(d.decode(p.sps), H264_DEC_NO_PICTURE);
  EXPECT_EQ(d.decode(p.pps), H264_DEC_NO_PICTURE);
  ASSERT_EQ(d.decode(p.idr, 5), H264_DEC_PICTURE);
  EXPECT_EQ(PictureMd5(d.pic), p.md5s[0]);
  // A start code cut between two calls is no start code: that unit is lost.
  const Bytes& au = p.units[1];
  const size_t code = au.size() > 4 && au[2] == 0 ? 3 : 2;  // first start code's last zero
  EXPECT_EQ(d.decode(Bytes(au.begin(), au.begin() + static_cast<long>(code))), H264_DEC_NO_PICTURE);
  EXPECT_EQ(d.decode(Bytes(au.begin() + static_cast<long>(code), au.end())), H264_DEC_NO_PICTURE);
  // A slice cut in two: the tail alone has no start code and gives nothing.
  const Bytes& next = p.units[2];
  const size_t half = next.size() / 2;
  d.decode(Bytes(next.begin(), next.begin() + static_cast<long>(half)));
  EXPECT_EQ(d.decode(Bytes(next.begin() + static_cast<long>(half), next.end())), H264_DEC_NO_PICTURE);
  // The next IDR picture decodes exactly again, whatever was lost before it.
  for (size_t i = 3; i < p.units.size(); ++i) {
    bool idr = false;
    for (const auto& nal : SplitNals(p.units[i])) idr = idr || NalTypeOf(nal) == 5;
    const int32_t r = d.decode(p.units[i], 100 + i);
    if (!idr) continue;
    ASSERT_EQ(r, H264_DEC_PICTURE);
    EXPECT_EQ(PictureMd5(d.pic), p.md5s[i]);
    EXPECT_EQ(d.pic.timeStamp, 100 + i);
    return;
  }
  FAIL() << "no second IDR picture";
}

TEST(H264Decoder, UnitTooLargeForTheBufferIsSkipped) {
  // 11 x 9 macroblocks: a NAL buffer of 11 * 9 * 384 + 4096 bytes.
  const Pieces p = Load("BA_MW_D.264");
  Decoder d(H264DecAttr{0, 0, 11, 9, 1, 0, nullptr});
  Bytes filler = {0, 0, 0, 1, 0x0C};
  filler.insert(filler.end(), 11 * 9 * 384 + 4096 + 100, 0xFF);
  ASSERT_EQ(d.decode(Concat({p.sps, p.pps, filler, p.idr})), H264_DEC_PICTURE);
  EXPECT_EQ(PictureMd5(d.pic), p.md5s[0]);
}

TEST(H264Decoder, SizeLimitsAndTheirSubstitutes) {
  const auto units = AccessUnits(ReadFile(StreamPath("jm_1080p_allslice.264")));  // 120 x 68
  // The player's attributes (67 rows) reject it; out-of-range values fall
  // back to 120 x 68, which takes it.
  EXPECT_TRUE(DecodeUnits(units).empty());
  EXPECT_TRUE(DecodeUnits(units, H264DecAttr{0, 0, 120, 5, 0, 0, nullptr}).size() == 1);
  EXPECT_TRUE(DecodeUnits(units, H264DecAttr{0, 0, 353, 257, 99, 0, nullptr}).size() == 1);
  EXPECT_TRUE(DecodeUnits(units, H264DecAttr{0, 0, 119, 68, 0, 0, nullptr}).empty());
  // Small limits reject a CIF stream but take QCIF.
  const H264DecAttr qcif{0, 0, 11, 9, 1, 0, nullptr};
  EXPECT_TRUE(DecodeUnits(AccessUnits(ReadFile(StreamPath("CI1_FT_B.264"))), qcif).empty());
  EXPECT_EQ(DecodeUnits(AccessUnits(ReadFile(StreamPath("SVA_NL2_E.264"))), qcif).size(), 17u);
}

}  // namespace
}  // namespace trevolo::test

namespace trevolo::test {
namespace {

// Damaged data (bytes overwritten, units cut short, random bytes) must only
// ever give -2 or a picture within the decoder's size limits.
TEST(H264Decoder, DamagedStreamsAreHandledSafely) {
  std::mt19937 rng(11);
  const H264DecAttr attr{0, 0, 22, 18, 2, H264_OPT_DEINTERLACE, nullptr};
  constexpr size_t kStreams = 3;
  size_t damaged = 0;
  for (const char* file : {"BA_MW_D.264", "test_cif_P_CABAC_slice.264", "test_scalinglist_jm.264"}) {
    auto units = AccessUnits(ReadFile(StreamPath(file)));
    // A missing stream would leave nothing to damage and pass silently.
    ASSERT_FALSE(units.empty()) << StreamPath(file);
    ++damaged;
    units.resize(std::min<size_t>(units.size(), 60));
    Decoder d(attr);
    for (size_t i = 0; i < units.size(); ++i) {
      Bytes au = units[i];
      switch (rng() % 4) {
        case 0:  // a few bytes overwritten, parameter sets included
          for (int k = 0; k < 4; ++k) au[rng() % au.size()] = static_cast<uint8_t>(rng());
          break;
        case 1:  // cut short
          au.resize(1 + rng() % au.size());
          break;
        case 2:  // noise with start codes in it
          for (size_t k = 0; k < au.size(); ++k) au[k] = static_cast<uint8_t>(rng() % 5 == 0 ? 0 : rng());
          break;
        default:
          break;
      }
      const int32_t r = d.decode(au);
      ASSERT_TRUE(r == H264_DEC_PICTURE || r == H264_DEC_NO_PICTURE) << file << " " << i;
      if (r == H264_DEC_PICTURE) {
        ASSERT_LE(d.pic.width, 22u * 16);
        ASSERT_LE(d.pic.height, 18u * 16);
        ASSERT_NE(d.pic.y, nullptr);
        // Touch every byte of the planes the record describes.
        const std::string md5 = PictureMd5(d.pic);
        ASSERT_EQ(md5.size(), 32u);
      }
    }
  }
  EXPECT_EQ(damaged, kStreams);
}

}  // namespace
}  // namespace trevolo::test
