#include "video/jpeg_writer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include <jpeglib.h>

namespace {

namespace fs = std::filesystem;

// Memory that ends right before an inaccessible page, so a read past its end
// faults even inside libjpeg, which no sanitizer instruments.
class GuardedBytes {
 public:
  explicit GuardedBytes(size_t size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    m_mapped = (size + page - 1) / page * page + page;
    void* map = mmap(nullptr, m_mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    m_base = static_cast<uint8_t*>(map);
    mprotect(m_base + m_mapped - page, page, PROT_NONE);
    m_data = m_base + m_mapped - page - size;
  }
  ~GuardedBytes() { munmap(m_base, m_mapped); }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  uint8_t& operator[](size_t i) { return m_data[i]; }
  uint8_t* data() { return m_data; }

 private:
  size_t m_mapped = 0;
  uint8_t* m_base = nullptr;
  uint8_t* m_data = nullptr;
};

// A contiguous I420 picture laid out as the writer expects and sized exactly.
struct I420 {
  int width;
  int height;
  GuardedBytes bytes;

  I420(int w, int h) : width(w), height(h), bytes(static_cast<size_t>(w) * h * 3 / 2) {
    // Smooth gradients with a gentle ripple: photographic rather than noise.
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        bytes[static_cast<size_t>(y) * w + x] =
            static_cast<uint8_t>(40 + 150.0 * (x + y) / (w + h) + 20 * std::sin(x / 9.0));
      }
    }
    for (int y = 0; y < h / 2; ++y) {
      for (int x = 0; x < w / 2; ++x) {
        u(x, y) = static_cast<uint8_t>(90 + 60.0 * x / std::max(1, w / 2));
        v(x, y) = static_cast<uint8_t>(170 - 60.0 * y / std::max(1, h / 2));
      }
    }
  }
  size_t lumaBytes() const { return static_cast<size_t>(width) * height; }
  uint8_t& u(int x, int y) { return bytes[lumaBytes() + static_cast<size_t>(y) * (width / 2) + x]; }
  uint8_t& v(int x, int y) {
    return bytes[lumaBytes() * 5 / 4 + static_cast<size_t>(y) * (width / 2) + x];
  }
};

struct Decoded {
  int width = 0;
  int height = 0;
  int sampling[3][2] = {};
  bool progressive = true;
  std::vector<uint8_t> ycc;  // interleaved Y, Cb, Cr per pixel, chroma replicated
};

Decoded decode(const std::string& path) {
  Decoded out;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return out;
  }
  jpeg_decompress_struct cinfo{};
  jpeg_error_mgr errors{};
  cinfo.err = jpeg_std_error(&errors);
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  for (int c = 0; c < 3; ++c) {
    out.sampling[c][0] = cinfo.comp_info[c].h_samp_factor;
    out.sampling[c][1] = cinfo.comp_info[c].v_samp_factor;
  }
  out.progressive = cinfo.progressive_mode;
  cinfo.out_color_space = JCS_YCbCr;
  cinfo.do_fancy_upsampling = FALSE;  // replicate chroma, as the source is compared
  jpeg_start_decompress(&cinfo);
  out.width = static_cast<int>(cinfo.output_width);
  out.height = static_cast<int>(cinfo.output_height);
  out.ycc.resize(static_cast<size_t>(out.width) * out.height * 3);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = out.ycc.data() + static_cast<size_t>(cinfo.output_scanline) * out.width * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  return out;
}

// PSNR of the decoded picture against the source: luma everywhere, chroma
// where the source has a chroma sample.
double psnr(I420& source, const Decoded& d) {
  double squared = 0;
  size_t count = 0;
  auto add = [&](int a, int b) {
    squared += double(a - b) * (a - b);
    ++count;
  };
  for (int y = 0; y < source.height; ++y) {
    for (int x = 0; x < source.width; ++x) {
      const uint8_t* p = &d.ycc[(static_cast<size_t>(y) * d.width + x) * 3];
      add(source.bytes[static_cast<size_t>(y) * source.width + x], p[0]);
      if (x / 2 < source.width / 2 && y / 2 < source.height / 2) {
        add(source.u(x / 2, y / 2), p[1]);
        add(source.v(x / 2, y / 2), p[2]);
      }
    }
  }
  const double mse = squared / static_cast<double>(count);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

class JpegWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("trevolo_jpeg_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }
  std::string path(const char* name) const { return (m_dir / name).string(); }

  fs::path m_dir;
};

TEST_F(JpegWriterTest, WritesABaseline420FileThatDecodesToThePicture) {
  I420 picture(1280, 720);
  const std::string file = path("snap.jpg");
  ASSERT_EQ(WriteJpegSnapshot(file.c_str(), picture.bytes.data(), 1280, 720, 100), 1);

  const Decoded d = decode(file);
  ASSERT_EQ(d.width, 1280);
  ASSERT_EQ(d.height, 720);
  EXPECT_EQ(d.sampling[0][0], 2);
  EXPECT_EQ(d.sampling[0][1], 2);
  EXPECT_EQ(d.sampling[1][0], 1);
  EXPECT_EQ(d.sampling[2][1], 1);
  EXPECT_FALSE(d.progressive);
  std::ifstream in(file, std::ios::binary);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  EXPECT_NE(bytes.find("\xFF\xC0"), std::string::npos);  // a baseline frame header
  EXPECT_GT(psnr(picture, d), 40.0);
}

TEST_F(JpegWriterTest, SizesThatAreNotWholeBandsStayInsideThePicture) {
  // Widths and heights off the 16-pixel grid, odd ones, one line high and
  // taller than 1080 lines; each buffer is exactly the picture's size.
  const int sizes[][2] = {{100, 70}, {33, 17}, {1, 1}, {720, 576}, {64, 1090}, {1282, 8}};
  for (const auto& size : sizes) {
    SCOPED_TRACE(std::to_string(size[0]) + "x" + std::to_string(size[1]));
    I420 picture(size[0], size[1]);
    const std::string file = path("odd.jpg");
    ASSERT_EQ(WriteJpegSnapshot(file.c_str(), picture.bytes.data(), size[0], size[1], 90), 1);
    const Decoded d = decode(file);
    ASSERT_EQ(d.width, size[0]);
    ASSERT_EQ(d.height, size[1]);
    EXPECT_GT(psnr(picture, d), 40.0);
  }
}

TEST_F(JpegWriterTest, RefusesMissingPicturesAndSizesWithoutCreatingAFile) {
  I420 picture(16, 16);
  const std::string file = path("none.jpg");
  EXPECT_EQ(WriteJpegSnapshot(file.c_str(), nullptr, 16, 16, 100), 0);
  EXPECT_EQ(WriteJpegSnapshot(file.c_str(), picture.bytes.data(), 0, 16, 100), 0);
  EXPECT_EQ(WriteJpegSnapshot(file.c_str(), picture.bytes.data(), 16, -2, 100), 0);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(WriteJpegSnapshot("/no/such/dir/x.jpg", picture.bytes.data(), 16, 16, 100), 0);
}

TEST_F(JpegWriterTest, AFullDiskFailsQuietlyAndTheProcessCarriesOn) {
  I420 picture(1280, 720);
  EXPECT_EQ(WriteJpegSnapshot("/dev/full", picture.bytes.data(), 1280, 720, 100), 0);
  EXPECT_TRUE(fs::exists("/dev/full"));  // a device is never removed

  // A file cut short by the size limit is removed, and the next write works.
  const std::string file = path("cut.jpg");
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 2000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const int cut = WriteJpegSnapshot(file.c_str(), picture.bytes.data(), 1280, 720, 100);
  setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(cut, 0);
  EXPECT_FALSE(fs::exists(file));
  EXPECT_EQ(WriteJpegSnapshot(file.c_str(), picture.bytes.data(), 1280, 720, 100), 1);
}

TEST(SnapshotFileNameTest, PadsEachFieldToItsWidth) {
  EXPECT_EQ(trevolo::snapshotFileName({2026, 12, 7, 11, 6, 5, 42}), "/20261207_110605_042.jpg");
  EXPECT_EQ(trevolo::snapshotFileName({999, 1, 2, 3, 4, 5, 6}), "/ 9990102_030405_006.jpg");
  const trevolo::SnapshotTime now = trevolo::localSnapshotTime();
  EXPECT_GE(now.year, 2020);
  EXPECT_GE(now.month, 1);
  EXPECT_LE(now.month, 12);
  EXPECT_GE(now.millisecond, 0);
  EXPECT_LE(now.millisecond, 999);
}

}  // namespace
