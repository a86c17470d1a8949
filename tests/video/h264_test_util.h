// Helpers of the H.264 decoder tests: stream files, access units, NAL
// surgery, the ffmpeg command line as the independent reference decoder, and
// running a whole stream through H264DecDecode.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/md5.h"
#include "video/h264_access_units.h"
#include "video/h264_decoder.h"

namespace trevolo::test {

using Bytes = std::vector<uint8_t>;

inline std::string StreamPath(const std::string& name) {
  return std::string(TREVOLO_TESTDATA_DIR) + "/h264/" + name;
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::vector<Bytes> AccessUnits(const Bytes& stream) {
  return h264::splitAccessUnits(stream.data(), stream.size());
}

// Runs a shell command and returns what it printed; empty on failure.
inline std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return ::pclose(p) == 0 ? out : std::string();
}

// The MD5 of each picture the reference decoder outputs, in its order.
inline std::vector<std::string> ReferenceMd5s(const std::string& path) {
  const std::string out = RunCommand(
      "ffmpeg -nostdin -v error -threads 1 -flags unaligned -i '" + path +
      "' -fps_mode passthrough -f framemd5 - 2>/dev/null");
  std::vector<std::string> md5s;
  size_t pos = 0;
  while (pos < out.size()) {
    const size_t end = out.find('\n', pos);
    const std::string line = out.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? out.size() : end + 1;
    if (line.empty() || line[0] == '#') continue;
    md5s.push_back(line.substr(line.rfind(' ') + 1));
  }
  return md5s;
}

// A moving test picture of the given size, as a lavfi source.
inline std::string TestSource(int width, int height) {
  return "testsrc2=size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=25";
}

// Encodes `frames` pictures of the lavfi `source` with libx264 into an Annex
// B file; `x264Params` and the output options `extra` are passed on.
inline bool EncodeX264(const std::string& out, const std::string& source, int frames,
                       const std::string& x264Params, const std::string& extra = "") {
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i \"" + source + "\" " + extra +
                          " -frames:v " + std::to_string(frames) +
                          " -c:v libx264 -preset ultrafast -x264-params '" + x264Params +
                          "' -f h264 '" + out + "' 2>/dev/null";
  return std::system(cmd.c_str()) == 0;
}

inline std::string PictureMd5(const H264DecPicture& p) {
  Md5 md5;
  md5.update(p.y, size_t{p.width} * p.height);
  md5.update(p.u, size_t{p.width / 2} * (p.height / 2));
  md5.update(p.v, size_t{p.width / 2} * (p.height / 2));
  return md5.hexDigest();
}

struct DecodedPicture {
  size_t call;  // index of the call that returned it; SIZE_MAX when drained
  uint64_t timeStamp;
  std::string md5;
};

// The player's attributes.
inline H264DecAttr PlayerAttributes() { return H264DecAttr{0, 0, 120, 67, 2, H264_OPT_DEINTERLACE, nullptr}; }

// Decodes one access unit per call (time stamp = 1000 + index), then drains.
inline std::vector<DecodedPicture> DecodeUnits(const std::vector<Bytes>& units,
                                               const H264DecAttr& attr = PlayerAttributes()) {
  std::vector<DecodedPicture> out;
  H264Decoder* dec = H264DecCreate(&attr);
  if (!dec) return out;
  H264DecPicture pic;
  for (size_t i = 0; i < units.size(); ++i) {
    if (H264DecDecode(dec, units[i].data(), static_cast<uint32_t>(units[i].size()), 1000 + i, &pic, 0) ==
        H264_DEC_PICTURE) {
      out.push_back({i, pic.timeStamp, PictureMd5(pic)});
    }
  }
  while (H264DecDecode(dec, nullptr, 0, 0, &pic, 0) == H264_DEC_PICTURE) {
    out.push_back({SIZE_MAX, pic.timeStamp, PictureMd5(pic)});
  }
  H264DecDestroy(dec);
  return out;
}

// Splits Annex B bytes at start codes into NAL units (start codes dropped,
// escaped payload kept).
inline std::vector<Bytes> SplitNals(const Bytes& s) {
  std::vector<Bytes> nals;
  size_t i = 0, start = SIZE_MAX;
  while (i + 2 < s.size()) {
    if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1) {
      if (start != SIZE_MAX) {
        size_t end = i;
        while (end > start && s[end - 1] == 0) --end;
        nals.emplace_back(s.begin() + static_cast<long>(start), s.begin() + static_cast<long>(end));
      }
      i += 3;
      start = i;
    } else {
      ++i;
    }
  }
  if (start != SIZE_MAX) nals.emplace_back(s.begin() + static_cast<long>(start), s.end());
  return nals;
}

// Joins NAL units with four-byte start codes.
inline Bytes JoinNals(const std::vector<Bytes>& nals) {
  Bytes out;
  for (const auto& n : nals) {
    for (uint8_t b : {0, 0, 0, 1}) out.push_back(b);
    out.insert(out.end(), n.begin(), n.end());
  }
  return out;
}

inline int NalTypeOf(const Bytes& nal) { return nal.empty() ? -1 : nal[0] & 0x1F; }

}  // namespace trevolo::test
