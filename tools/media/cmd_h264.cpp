// avtool h264: decodes an Annex B H.264 file through the player's decoder
// (H264DecDecode with the player's attributes), one access unit per call, as
// the engine feeds it from a recording. Access units are cut with libavcodec's
// H.264 parser. Prints per-picture MD5 lines, writes raw I420, or times the
// decode.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "tools/avtool.h"
#include "tools/md5.h"
#include "video/h264_access_units.h"
#include "video/h264_decoder.h"

namespace trevolo::avtool {
namespace {

constexpr const char* kName = "h264";
constexpr uint64_t kFrameIntervalUs = 40000;  // time stamps handed in: 25 pictures/s

struct H264Options {
  std::string input;
  std::string yuv;
  bool framemd5 = false;
  bool bench = false;
};

std::string ParseOptions(int argc, char** argv, H264Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--framemd5") {
      o->framemd5 = true;
    } else if (a == "--bench") {
      o->bench = true;
    } else if (a == "--yuv") {
      if (i + 1 >= argc) return "option --yuv needs a value";
      o->yuv = argv[++i];
    } else if (a.rfind("-", 0) == 0) {
      return "unknown option '" + a + "'";
    } else {
      if (!o->input.empty()) return "more than one input file";
      o->input = a;
    }
  }
  if (o->input.empty()) return "no input file";
  if (o->bench && (o->framemd5 || !o->yuv.empty())) return "--bench writes nothing; drop --framemd5 and --yuv";
  return "";
}

std::string PlaneMd5(const H264DecPicture& p) {
  Md5 md5;
  md5.update(p.y, size_t{p.width} * p.height);
  md5.update(p.u, size_t{p.width / 2} * (p.height / 2));
  md5.update(p.v, size_t{p.width / 2} * (p.height / 2));
  return md5.hexDigest();
}

// Everything done with one output picture.
struct Sink {
  const H264Options& options;
  std::FILE* yuv = nullptr;
  int64_t pictures = 0;

  bool take(const H264DecPicture& p) {
    if (options.framemd5) {
      std::printf("%lld %u %u %s\n", static_cast<long long>(pictures), p.width, p.height,
                  PlaneMd5(p).c_str());
    }
    ++pictures;
    if (!yuv) return true;
    const size_t c = size_t{p.width / 2} * (p.height / 2);
    return std::fwrite(p.y, 1, size_t{p.width} * p.height, yuv) == size_t{p.width} * p.height &&
           std::fwrite(p.u, 1, c, yuv) == c && std::fwrite(p.v, 1, c, yuv) == c;
  }
};

// Feeds every access unit, then calls without data until the decoder holds
// nothing back (only streams that reorder pictures hold any).
bool DecodeAll(H264Decoder* dec, const std::vector<std::vector<uint8_t>>& units, Sink& sink) {
  H264DecPicture pic;
  uint64_t stamp = 0;
  for (const auto& au : units) {
    const int32_t r = H264DecDecode(dec, au.data(), static_cast<uint32_t>(au.size()), stamp, &pic, 0);
    stamp += kFrameIntervalUs;
    if (r == H264_DEC_PICTURE && !sink.take(pic)) return false;
  }
  while (H264DecDecode(dec, nullptr, 0, 0, &pic, 0) == H264_DEC_PICTURE) {
    if (!sink.take(pic)) return false;
  }
  return true;
}

int RunH264(int argc, char** argv) {
  H264Options o;
  if (const std::string err = ParseOptions(argc, argv, &o); !err.empty()) return Fail(kName, err);
  struct stat st {};
  if (::stat(o.input.c_str(), &st) != 0) return Fail(kName, o.input + ": no such file");
  if (!S_ISREG(st.st_mode)) return Fail(kName, o.input + ": not a regular file");
  std::ifstream in(o.input, std::ios::binary | std::ios::ate);
  if (!in) return Fail(kName, o.input + ": cannot be read");
  const std::streamoff size = in.tellg();
  if (size < 0) return Fail(kName, o.input + ": cannot be read");
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return Fail(kName, o.input + ": read error");
  const auto units = h264::splitAccessUnits(bytes.data(), bytes.size());
  if (units.empty()) return Fail(kName, o.input + ": no H.264 access unit found");

  // The player's attributes: 1920 x 1072 at most, deinterlacing on.
  const H264DecAttr attr{0, 0, 120, 67, 2, H264_OPT_DEINTERLACE, nullptr};
  H264Decoder* dec = H264DecCreate(&attr);
  if (!dec) return Fail(kName, "the decoder could not be created");
  Sink sink{o};
  if (!o.yuv.empty() && !(sink.yuv = std::fopen(o.yuv.c_str(), "wb"))) {
    H264DecDestroy(dec);
    return Fail(kName, o.yuv + ": " + std::strerror(errno));
  }
  const auto start = std::chrono::steady_clock::now();
  bool ok = DecodeAll(dec, units, sink);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  H264DecDestroy(dec);
  if (sink.yuv && std::fclose(sink.yuv) != 0) ok = false;
  if (!ok) return Fail(kName, o.yuv + ": write error");
  if (o.bench) {
    std::printf("pictures: %lld\nfps: %.1f\n", static_cast<long long>(sink.pictures),
                seconds > 0 ? static_cast<double>(sink.pictures) / seconds : 0.0);
  }
  return kExitOk;
}

CommandRegistrar reg(kName, "h264 [--framemd5] [--yuv OUT] [--bench] IN.h264", &RunH264);

}  // namespace
}  // namespace trevolo::avtool
