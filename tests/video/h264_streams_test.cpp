// Whole streams through the decoder against the ffmpeg command line as the
// independent reference: the public reference set, and streams made with
// libx264 for what the set lacks (interlacing, the largest picture size).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <map>
#include <set>
#include <unistd.h>

#include "tests/video/h264_test_util.h"

namespace trevolo::test {
namespace {

// Streams whose pictures come out one per call in decoding order.
const char* const kInOrderStreams[] = {
    "BA_MW_D.264",          "BA1_Sony_D.jsv",        "BA1_FT_C.264",
    "BASQP1_Sony_C.jsv",    "BAMQ2_JVC_C.264",       "CI1_FT_B.264",
    "CVFC1_Sony_C.jsv",     "LS_SVA_D.264",          "MIDR_MW_D.264",
    "MPS_MW_A.264",         "MR1_BT_A.h264",         "MR2_TANDBERG_E.264",
    "NRF_MW_E.264",         "SVA_NL2_E.264",         "SVA_Base_B.264",
    "SarVui.264",           "Static.264",            "test_vd_1d.264",
    "Adobe_PDF_sample_a_1024x768_50Frms.264",        "Zhling_1280x720.264",
    "CVPCMNL1_SVA_C.264",   "test_qcif_cabac.264",   "test_cif_P_CABAC_slice.264",
    "test_cif_I_CABAC_slice.264",                    "QCIF_2P_I_allIPCM.264",
    "test_scalinglist_jm.264",
};

class InOrderStream : public ::testing::TestWithParam<const char*> {};

// Every access unit gives its own picture in the same call, with its own time
// stamp, equal to the reference decoder's picture.
TEST_P(InOrderStream, MatchesTheReferenceOnePicturePerCall) {
  const std::string path = StreamPath(GetParam());
  const auto units = AccessUnits(ReadFile(path));
  const auto want = ReferenceMd5s(path);
  ASSERT_FALSE(want.empty());
  const auto got = DecodeUnits(units);
  ASSERT_EQ(got.size(), want.size());
  ASSERT_EQ(units.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_EQ(got[i].call, i) << "picture " << i;
    ASSERT_EQ(got[i].timeStamp, 1000 + i) << "picture " << i;
    ASSERT_EQ(got[i].md5, want[i]) << "picture " << i;
  }
}

// The parameterised cases above run once per name in the list; a stream
// missing from the reference folder must fail here by name, not show up as a
// case that merely compared nothing.
TEST(H264Streams, EveryListedReferenceStreamIsPresent) {
  constexpr size_t kListedStreams = 26;
  size_t found = 0;
  for (const char* name : kInOrderStreams) {
    const bool present = !ReadFile(StreamPath(name)).empty();
    EXPECT_TRUE(present) << StreamPath(name);
    if (present) ++found;
  }
  EXPECT_EQ(std::size(kInOrderStreams), kListedStreams);
  EXPECT_GE(found, kListedStreams);
}

INSTANTIATE_TEST_SUITE_P(ReferenceSet, InOrderStream, ::testing::ValuesIn(kInOrderStreams),
                         [](const auto& info) {
                           std::string n = info.param;
                           std::replace_if(n.begin(), n.end(), [](char c) { return !std::isalnum(c); }, '_');
                           return n;
                         });

std::vector<std::string> Md5sOf(const std::vector<DecodedPicture>& pictures) {
  std::vector<std::string> md5s;
  for (const auto& p : pictures) md5s.push_back(p.md5);
  return md5s;
}

TEST(H264Streams, ReorderingStreamComesOutInDisplayOrderWithItsTimeStamps) {
  // Hierarchical B pictures, reordering declared in the stream.
  const std::string path = StreamPath("VID_1280x720_cabac_temporal_direct.264");
  const auto units = AccessUnits(ReadFile(path));
  ASSERT_FALSE(units.empty()) << path;
  const auto got = DecodeUnits(units);
  EXPECT_EQ(Md5sOf(got), ReferenceMd5s(path));
  // Each picture keeps the time stamp of the call that carried it.
  std::set<uint64_t> stamps;
  for (const auto& p : got) stamps.insert(p.timeStamp);
  EXPECT_EQ(stamps.size(), units.size());
  EXPECT_EQ(*stamps.begin(), 1000u);
  EXPECT_EQ(*stamps.rbegin(), 1000 + units.size() - 1);
}

// Its B pictures precede the second IDR picture in display order, which
// shows only when they arrive; by then that IDR picture is out. The rest
// must be the reference's pictures, in its order, with their own stamps.
TEST(H264Streams, UndeclaredLeadingPicturesNeverComeOutWrong) {
  const std::string path = StreamPath("Cisco_Adobe_PDF_sample_a_1024x768_CAVLC_Bframe_9.264");
  const auto units = AccessUnits(ReadFile(path));
  const auto want = ReferenceMd5s(path);
  ASSERT_FALSE(want.empty()) << path;
  const auto got = DecodeUnits(units);
  ASSERT_GE(got.size(), 2u);
  std::map<std::string, size_t> position;
  for (size_t i = 0; i < want.size(); ++i) position[want[i]] = i;
  size_t last = 0;
  for (size_t i = 0; i < got.size(); ++i) {
    ASSERT_TRUE(position.count(got[i].md5)) << "picture " << i << " is not a reference picture";
    if (i > 0) {
      EXPECT_GT(position[got[i].md5], last);
    }
    last = position[got[i].md5];
  }
  EXPECT_EQ(got[0].md5, want[0]);
}

TEST(H264Streams, SliceThreadsGiveTheSamePictures) {
  constexpr size_t kStreams = 2;
  size_t compared = 0;
  for (const char* file : {"BA1_FT_C.264", "test_cif_P_CABAC_slice.264"}) {
    const std::string path = StreamPath(file);
    H264DecAttr attr = PlayerAttributes();
    attr.options |= H264_OPT_THREADS;
    const auto want = ReferenceMd5s(path);
    // Two empty lists would compare equal: a missing stream must fail.
    ASSERT_FALSE(want.empty()) << path;
    EXPECT_EQ(Md5sOf(DecodeUnits(AccessUnits(ReadFile(path)), attr)), want) << file;
    ++compared;
  }
  EXPECT_EQ(compared, kStreams);
}

class TempFile {
 public:
  explicit TempFile(const char* suffix) {
    char name[] = "/tmp/h264_test_XXXXXX";
    const int fd = ::mkstemp(name);
    if (fd >= 0) ::close(fd);
    ::unlink(name);
    m_path = std::string(name) + suffix;
  }
  ~TempFile() { ::unlink(m_path.c_str()); }
  const std::string& path() const { return m_path; }

 private:
  std::string m_path;
};

TEST(H264Streams, LargestPictureFitsAndTheNextRowDoesNot) {
  TempFile fits(".h264"), tooTall(".h264"), fieldsFit(".h264"), fieldsTooTall(".h264");
  ASSERT_TRUE(EncodeX264(fits.path(), TestSource(1920, 1072), 2, "keyint=1"));
  ASSERT_TRUE(EncodeX264(tooTall.path(), TestSource(1920, 1088), 2, "keyint=1"));
  // Interlaced coding limits each field to 33 rows: 1,056 lines.
  ASSERT_TRUE(EncodeX264(fieldsFit.path(), TestSource(1920, 1056), 2, "keyint=1:tff=1"));
  ASSERT_TRUE(EncodeX264(fieldsTooTall.path(), TestSource(1920, 1072), 2, "keyint=1:tff=1"));
  const auto got = DecodeUnits(AccessUnits(ReadFile(fits.path())));
  EXPECT_EQ(Md5sOf(got), ReferenceMd5s(fits.path()));
  EXPECT_TRUE(DecodeUnits(AccessUnits(ReadFile(tooTall.path()))).empty());
  EXPECT_EQ(DecodeUnits(AccessUnits(ReadFile(fieldsFit.path()))).size(), 2u);
  EXPECT_TRUE(DecodeUnits(AccessUnits(ReadFile(fieldsTooTall.path()))).empty());
}

// Sum of |2 * row(y) - row(y-1) - row(y+1)| over the luma plane: large when
// alternate rows come from different instants.
double Combing(const std::vector<uint8_t>& y, int width, int height) {
  double sum = 0;
  for (int r = 1; r + 1 < height; ++r) {
    for (int x = 0; x < width; ++x) {
      sum += std::abs(2 * y[r * width + x] - y[(r - 1) * width + x] - y[(r + 1) * width + x]);
    }
  }
  return sum / (static_cast<double>(width) * height);
}

struct LumaPicture {
  std::vector<uint8_t> y;
  std::string md5;
};

std::vector<LumaPicture> DecodeLuma(const std::vector<Bytes>& units, uint32_t options) {
  H264DecAttr attr = PlayerAttributes();
  attr.options = options;
  H264Decoder* dec = H264DecCreate(&attr);
  std::vector<LumaPicture> out;
  H264DecPicture pic;
  for (const auto& u : units) {
    if (H264DecDecode(dec, u.data(), static_cast<uint32_t>(u.size()), 0, &pic, 0) == H264_DEC_PICTURE) {
      out.push_back({std::vector<uint8_t>(pic.y, pic.y + size_t{pic.width} * pic.height), PictureMd5(pic)});
    }
  }
  H264DecDestroy(dec);
  return out;
}

TEST(H264Streams, InterlacedPicturesComeOutProgressiveWithTheDeinterlacer) {
  // A white bar running across a black picture, sampled 50 times a second;
  // pairs of samples are woven into frames and coded interlaced, top field
  // first. Each field alone has no vertical detail at all, so whatever
  // combing a frame shows comes from weaving two instants.
  constexpr int kWidth = 320, kHeight = 240, kFrames = 6;
  const std::string source =
      "color=c=black:s=320x240:r=50[bg];color=c=white:s=40x240:r=50[bar];"
      "[bg][bar]overlay=x='mod(t*800,280)':y=0:eval=frame[out0]";
  TempFile file(".h264");
  ASSERT_TRUE(EncodeX264(file.path(), source, kFrames, "tff=1:keyint=3:bframes=0",
                         "-vf tinterlace=mode=interleave_top,setfield=tff -flags +ildct"));
  const auto units = AccessUnits(ReadFile(file.path()));
  const auto woven = DecodeLuma(units, 0);
  const auto progressive = DecodeLuma(units, H264_OPT_DEINTERLACE);
  const auto want = ReferenceMd5s(file.path());
  ASSERT_EQ(woven.size(), want.size());
  ASSERT_EQ(progressive.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(woven[i].md5, want[i]) << "without the filter the frame is as decoded";
    const double before = Combing(woven[i].y, kWidth, kHeight);
    const double after = Combing(progressive[i].y, kWidth, kHeight);
    EXPECT_GT(before, 1.0) << "picture " << i << " is not combed: no test";
    EXPECT_LT(after * 10, before) << "picture " << i;
    // The first field's rows pass unchanged.
    for (int r = 0; r < kHeight; r += 2) {
      ASSERT_TRUE(std::equal(woven[i].y.begin() + r * kWidth, woven[i].y.begin() + (r + 1) * kWidth,
                             progressive[i].y.begin() + r * kWidth))
          << "picture " << i << " row " << r;
    }
  }
}

}  // namespace
}  // namespace trevolo::test
