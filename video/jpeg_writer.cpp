#include "video/jpeg_writer.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int kBandLines = 16;  // luma lines per raw-data call (2 x 8 for 4:2:0)
constexpr int kChromaBandLines = kBandLines / 2;
constexpr uint8_t kNeutralChroma = 128;

// Where the three planes of a contiguous I420 picture are.
struct Picture {
  const uint8_t* y;
  const uint8_t* u;
  const uint8_t* v;
  int width;
  int height;
  int chromaWidth;   // bytes per chroma row
  int chromaHeight;  // chroma rows
};

Picture describe(const uint8_t* picture, int width, int height) {
  const size_t lumaBytes = static_cast<size_t>(width) * static_cast<size_t>(height);
  return {picture,       picture + lumaBytes, picture + lumaBytes * 5 / 4, width, height,
          width / 2,     height / 2};
}

// Rows for the bands that cannot be read straight from the picture: the last
// band when the height is not a multiple of 16 and every band when the width
// is not a multiple of 16 (libjpeg reads whole 8-sample blocks). Edges are
// repeated, which only affects samples outside the visible image.
struct BandScratch {
  int lumaWidth = 0;  // width rounded up to 16
  std::vector<uint8_t> luma;
  std::vector<uint8_t> cb;
  std::vector<uint8_t> cr;

  explicit BandScratch(int width)
      : lumaWidth((width + 15) / 16 * 16),
        luma(static_cast<size_t>(lumaWidth) * kBandLines),
        cb(static_cast<size_t>(lumaWidth / 2) * kChromaBandLines),
        cr(static_cast<size_t>(lumaWidth / 2) * kChromaBandLines) {}
};

struct ErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void onFatalError(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(manager->jump, 1);
}

// Failures are reported by the result, not on the terminal.
void onMessage(j_common_ptr) {}

void copyPaddedRow(uint8_t* out, int outWidth, const uint8_t* row, int rowWidth, uint8_t fill) {
  if (row == nullptr || rowWidth <= 0) {
    std::memset(out, fill, static_cast<size_t>(outWidth));
    return;
  }
  std::memcpy(out, row, static_cast<size_t>(rowWidth));
  std::memset(out + rowWidth, row[rowWidth - 1], static_cast<size_t>(outWidth - rowWidth));
}

const uint8_t* planeRow(const uint8_t* plane, int rowBytes, int rows, int wanted) {
  if (rows <= 0 || rowBytes <= 0) {
    return nullptr;
  }
  return plane + static_cast<size_t>(rowBytes) * static_cast<size_t>(std::min(wanted, rows - 1));
}

void fillPaddedBand(const Picture& p, int top, BandScratch& s, JSAMPROW* y, JSAMPROW* cb,
                    JSAMPROW* cr) {
  const int chromaOut = s.lumaWidth / 2;
  for (int i = 0; i < kBandLines; ++i) {
    y[i] = s.luma.data() + static_cast<size_t>(i) * s.lumaWidth;
    copyPaddedRow(y[i], s.lumaWidth, planeRow(p.y, p.width, p.height, top + i), p.width, 0);
  }
  for (int i = 0; i < kChromaBandLines; ++i) {
    const int row = top / 2 + i;
    cb[i] = s.cb.data() + static_cast<size_t>(i) * chromaOut;
    cr[i] = s.cr.data() + static_cast<size_t>(i) * chromaOut;
    copyPaddedRow(cb[i], chromaOut, planeRow(p.u, p.chromaWidth, p.chromaHeight, row),
                  p.chromaWidth, kNeutralChroma);
    copyPaddedRow(cr[i], chromaOut, planeRow(p.v, p.chromaWidth, p.chromaHeight, row),
                  p.chromaWidth, kNeutralChroma);
  }
}

// Row tables of one band straight into the picture: no copy.
void pointBand(const Picture& p, int top, JSAMPROW* y, JSAMPROW* cb, JSAMPROW* cr) {
  for (int i = 0; i < kBandLines; ++i) {
    y[i] = const_cast<uint8_t*>(p.y + static_cast<size_t>(top + i) * p.width);
  }
  for (int i = 0; i < kChromaBandLines; ++i) {
    const size_t offset = static_cast<size_t>(top / 2 + i) * p.chromaWidth;
    cb[i] = const_cast<uint8_t*>(p.u + offset);
    cr[i] = const_cast<uint8_t*>(p.v + offset);
  }
}

void describeImage(jpeg_compress_struct& cinfo, const Picture& p, int quality) {
  cinfo.image_width = static_cast<JDIMENSION>(p.width);
  cinfo.image_height = static_cast<JDIMENSION>(p.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_YCbCr;
  jpeg_set_defaults(&cinfo);
  cinfo.smoothing_factor = 0;
  cinfo.dct_method = JDCT_IFAST;
  jpeg_set_quality(&cinfo, quality, TRUE);  // baseline tables
  cinfo.raw_data_in = TRUE;
  cinfo.comp_info[0].h_samp_factor = 2;
  cinfo.comp_info[0].v_samp_factor = 2;
  for (int c = 1; c < 3; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
}

// libjpeg reports fatal errors by calling error_exit, which here jumps back
// into this function. Nothing between setjmp and a jump may own resources
// that need destructors, so the scratch rows are the caller's.
bool compress(std::FILE* file, const Picture& p, int quality, BandScratch& scratch) {
  jpeg_compress_struct cinfo{};
  ErrorManager errors{};
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = onFatalError;
  errors.pub.output_message = onMessage;
  if (setjmp(errors.jump) != 0) {
    jpeg_destroy_compress(&cinfo);
    return false;
  }
  jpeg_CreateCompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
  jpeg_stdio_dest(&cinfo, file);
  describeImage(cinfo, p, quality);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPROW y[kBandLines];
  JSAMPROW cb[kChromaBandLines];
  JSAMPROW cr[kChromaBandLines];
  JSAMPARRAY planes[3] = {y, cb, cr};
  const bool direct = p.width % 16 == 0;
  for (int top = 0; top < p.height; top += kBandLines) {
    if (direct && top + kBandLines <= p.height) {
      pointBand(p, top, y, cb, cr);
    } else {
      fillPaddedBand(p, top, scratch, y, cb, cr);
    }
    jpeg_write_raw_data(&cinfo, planes, kBandLines);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

bool isRegularFile(std::FILE* file) {
  struct stat info {};
  return fstat(fileno(file), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

int WriteJpegSnapshot(const char* path, const uint8_t* picture, int width, int height,
                      int quality) {
  if (path == nullptr || picture == nullptr || width <= 0 || height <= 0) {
    return 0;
  }
  BandScratch scratch(width);
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) {
    return 0;
  }
  // Only a file of our own is removed on failure, never a device such as /dev/full.
  const bool regular = isRegularFile(file);
  const bool written = compress(file, describe(picture, width, height), quality, scratch);
  const bool closed = std::fclose(file) == 0;
  if (written && closed) {
    return 1;
  }
  if (regular) {
    std::remove(path);
  }
  return 0;
}

namespace trevolo {

SnapshotTime localSnapshotTime() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t seconds = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&seconds, &local);
  const auto sinceEpoch = duration_cast<milliseconds>(now.time_since_epoch()).count();
  SnapshotTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>((sinceEpoch % 1000 + 1000) % 1000);
  return t;
}

std::string snapshotFileName(const SnapshotTime& t) {
  char name[256] = {};
  std::snprintf(name, sizeof name, "/%4d%02d%02d_%02d%02d%02d_%03d.jpg", t.year, t.month, t.day,
                t.hour, t.minute, t.second, t.millisecond);
  return name;
}

}  // namespace trevolo
