// The x264 encoder behind `avtool gen`, set up the way a recorder would be:
// no B-frames, an IDR picture every `gop` pictures that begins with the
// SPS and PPS behind 4-byte start codes, no access unit delimiters, and one
// thread so the same input always gives the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/media/test_pattern.h"

struct x264_t;

namespace trevolo::media {

struct VideoSettings {
  int width = 640;
  int height = 360;
  int fps = 25;
  int gop = 50;
  std::string profile = "main";
  bool interlaced = false;
};

struct EncodedUnit {
  int64_t picture = 0;  // input picture index
  bool idr = false;
  std::vector<uint8_t> bytes;  // one access unit, Annex B
};

class H264Encoder {
 public:
  H264Encoder();
  ~H264Encoder();
  H264Encoder(const H264Encoder&) = delete;
  H264Encoder& operator=(const H264Encoder&) = delete;

  bool open(const VideoSettings& settings, std::string* error);

  // The input picture to draw into before each encode().
  TestPicturePlanes inputPlanes();

  // Encodes the input picture as picture `index`; appends what comes out.
  bool encode(int64_t index, std::vector<EncodedUnit>* out, std::string* error);
  // Drains pictures the encoder still holds.
  bool flush(std::vector<EncodedUnit>* out, std::string* error);

  // x264's last error message (its log callback stores it here).
  void noteLog(const std::string& text) { m_lastLog = text; }

 private:
  bool encodeOne(bool input, std::vector<EncodedUnit>* out, std::string* error, int* produced);

  struct Picture;  // x264_picture_t, kept out of this header
  VideoSettings m_settings;
  x264_t* m_encoder = nullptr;
  Picture* m_input = nullptr;
  std::string m_lastLog;
};

}  // namespace trevolo::media
