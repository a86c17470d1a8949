// avtool thumbnail: the preview picture file managers show for a recording
// (through the freedesktop thumbnailer entry installed with the player). The
// picture at 10% of the recording, or the first key frame of a short one, is
// decoded by the player's H.264 decoder from the key frame the index gives,
// so a recording of any size is previewed without reading it through.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libswscale/swscale.h>
}

#include "engine/frame_index.h"
#include "tools/avtool.h"
#include "tools/media/export_common.h"
#include "tools/png_file.h"
#include "video/h264_decoder.h"

namespace trevolo::avtool {
namespace {

constexpr const char* kName = "thumbnail";
constexpr const char* kUsage = "thumbnail [-s SIZE] IN.av OUT.png";
constexpr long kDefaultSize = 256;  // pixels of the longer side
constexpr long kMaxSize = 4096;
constexpr uint64_t kPreviewPerMille = 100;          // 10% into the recording
constexpr uint64_t kShortRecordingUs = 10'000'000;  // shorter: the first key frame
constexpr int kMaxPicturesDecoded = 600;            // from the key frame to the target
constexpr int kHdLines = 720;                       // from here on, BT.709 colours
// The player's attributes: up to 1920 x 1072, interlaced pictures as frames.
constexpr H264DecAttr kPlayerAttr{0, 0, 120, 67, 2, H264_OPT_DEINTERLACE, nullptr};

struct ThumbnailOptions {
  long size = kDefaultSize;
  std::string input;
  std::string output;
};

std::string ParseOptions(int argc, char** argv, ThumbnailOptions* o) {
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-s") {
      if (i + 1 >= argc) return "option -s needs a value";
      char* end = nullptr;
      o->size = std::strtol(argv[++i], &end, 10);
      if (end == argv[i] || *end != '\0' || o->size < 1 || o->size > kMaxSize)
        return std::string("bad -s '") + argv[i] + "' (1 to 4096)";
    } else if (a.size() > 1 && a[0] == '-') {
      return "unknown option '" + a + "'";
    } else {
      files.push_back(a);
    }
  }
  if (files.size() != 2) return std::string("usage: avtool ") + kUsage;
  o->input = files[0];
  o->output = files[1];
  return "";
}

// A decoded picture kept beyond the decoder call that produced it.
struct Picture {
  int width = 0;
  int height = 0;
  uint64_t timeStamp = 0;
  std::vector<uint8_t> y, u, v;  // chroma planes: ceil(width/2) x ceil(height/2)

  void copyFrom(const H264DecPicture& p) {
    width = static_cast<int>(p.width);
    height = static_cast<int>(p.height);
    timeStamp = p.timeStamp;
    y.assign(p.y, p.y + size_t{p.width} * p.height);
    // The decoder's chroma rows are width/2 wide; an odd width (monochrome
    // streams may crop to one) gets a neutral last column.
    const size_t fromWidth = p.width / 2, toWidth = (p.width + 1) / 2;
    const size_t rows = (p.height + 1) / 2;
    u.assign(toWidth * rows, 128);
    v.assign(toWidth * rows, 128);
    for (size_t r = 0; r < p.height / 2; ++r) {
      std::memcpy(&u[r * toWidth], p.u + r * fromWidth, fromWidth);
      std::memcpy(&v[r * toWidth], p.v + r * fromWidth, fromWidth);
    }
  }
};

// True when a picture at `ts` suits `target` better than one at `than`: the
// latest not after the target, or failing that the earliest after it.
bool Closer(uint64_t ts, uint64_t than, uint64_t target) {
  if (ts <= target) return than > target || ts >= than;
  return than > target && ts < than;
}

class Decoder {
 public:
  Decoder() : m_dec(H264DecCreate(&kPlayerAttr)) {}
  ~Decoder() { H264DecDestroy(m_dec); }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;
  bool ok() const { return m_dec != nullptr; }

  // Decodes one access unit (or, with no data, hands out a held picture)
  // and keeps the picture when it is the latest one not after `target`.
  bool decode(const uint8_t* data, size_t size, uint64_t ts, uint64_t target, Picture* best) {
    H264DecPicture pic;
    if (H264DecDecode(m_dec, data, static_cast<uint32_t>(size), ts, &pic, 0) != H264_DEC_PICTURE)
      return false;
    if (best->width == 0 || Closer(pic.timeStamp, best->timeStamp, target)) best->copyFrom(pic);
    return true;
  }

 private:
  H264Decoder* m_dec;
};

// The picture closest to `target` at or before it, decoded from the key
// frame the file is positioned at; empty when nothing could be decoded.
Picture DecodeAround(FileReader& file, uint64_t target) {
  Picture best;
  Decoder dec;
  if (!dec.ok()) return best;
  BlockReader reader(file);
  Block b;
  int fed = 0;
  while (fed < kMaxPicturesDecoded && reader.next(b)) {
    if (b.video.empty()) continue;
    if (b.videoTs > target && best.width > 0) break;
    dec.decode(b.video.data(), b.video.size(), b.videoTs, target, &best);
    ++fed;
  }
  // Streams that reorder pictures hold some back until asked without data.
  for (int i = 0; i < kMaxPicturesDecoded && dec.decode(nullptr, 0, 0, target, &best); ++i) {
  }
  return best;
}

// The picture scaled so its longer side is `size`, as 8-bit RGB rows.
std::vector<uint8_t> Scale(const Picture& p, int width, int height) {
  SwsContext* sws = sws_getContext(
      p.width, p.height, AV_PIX_FMT_YUV420P, width, height, AV_PIX_FMT_RGB24,
      SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
  if (!sws) return {};
  // Recordings carry no colour description: standard definition is BT.601,
  // HD is BT.709, as the player shows them. Limited range in, full out.
  const int matrix = p.height >= kHdLines ? SWS_CS_ITU709 : SWS_CS_ITU601;
  sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), 0, sws_getCoefficients(SWS_CS_DEFAULT),
                           1, 0, 1 << 16, 1 << 16);
  std::vector<uint8_t> rgb(size_t{3} * width * height);
  const int chromaStride = (p.width + 1) / 2;
  const uint8_t* src[3] = {p.y.data(), p.u.data(), p.v.data()};
  const int srcStride[3] = {p.width, chromaStride, chromaStride};
  uint8_t* dst[1] = {rgb.data()};
  const int dstStride[1] = {3 * width};
  const int rows = sws_scale(sws, src, srcStride, 0, p.height, dst, dstStride);
  sws_freeContext(sws);
  if (rows != height) return {};
  return rgb;
}

std::string Thumbnail(const ThumbnailOptions& o) {
  if (!CheckAvFile(kName, o.input)) return "-";
  FileReader file;
  if (!file.open(o.input)) return o.input + ": cannot be opened";
  FrameIndex index;
  if (!index.allocate()) return "out of memory";
  BuildIndex(file, index);
  if (index.count == 0) return o.input + ": no key frame, nothing to show";

  const uint64_t duration = index.last - index.first;
  const uint64_t target = duration < kShortRecordingUs
                              ? index.timeStamps[0]
                              : index.first + duration / 1000 * kPreviewPerMille;
  if (!PositionForSeek(file, index, target)) file.seek(static_cast<int64_t>(index.offsets[0]));
  const Picture picture = DecodeAround(file, target);
  if (picture.width == 0) return o.input + ": no picture could be decoded";

  const int longer = std::max(picture.width, picture.height);
  const auto side = [&](int n) {
    return std::max(
        1, static_cast<int>((static_cast<int64_t>(n) * o.size * 2 + longer) / (2 * longer)));
  };
  const int width = side(picture.width), height = side(picture.height);
  const std::vector<uint8_t> rgb = Scale(picture, width, height);
  if (rgb.empty()) return "the picture could not be scaled";

  PendingOutput out;
  if (std::string e = out.create(o.output); !e.empty()) return e;
  if (std::string e = WritePngFile(out.tempPath(), rgb.data(), width, height, false); !e.empty()) return e;
  return out.commit();
}

int CmdThumbnail(int argc, char** argv) {
  ThumbnailOptions o;
  if (std::string e = ParseOptions(argc, argv, &o); !e.empty()) return Fail(kName, e);
  const std::string error = Thumbnail(o);
  if (error.empty()) return kExitOk;
  return error == "-" ? kExitError : Fail(kName, error);
}

const CommandRegistrar kRegistrar(kName, kUsage, &CmdThumbnail);

}  // namespace
}  // namespace trevolo::avtool
