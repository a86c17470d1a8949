#include "tools/media/gen_video.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <x264.h>
}

#include "tools/media/gen_streams.h"

namespace trevolo::media {

struct H264Encoder::Picture {
  x264_picture_t pic{};
  bool allocated = false;
};

namespace {

// Fixed choices, so that output depends on nothing but the arguments.
constexpr const char* kPreset = "veryfast";
constexpr const char* kTune = "zerolatency";

void CaptureLog(void* priv, int level, const char* format, va_list args) {
  if (level > X264_LOG_ERROR) return;
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  std::string s = text;
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  static_cast<H264Encoder*>(priv)->noteLog(s);
}

}  // namespace

H264Encoder::H264Encoder() : m_input(new Picture) {}

H264Encoder::~H264Encoder() {
  if (m_encoder) x264_encoder_close(m_encoder);
  if (m_input->allocated) x264_picture_clean(&m_input->pic);
  delete m_input;
}

bool H264Encoder::open(const VideoSettings& s, std::string* error) {
  m_settings = s;
  x264_param_t p;
  if (x264_param_default_preset(&p, kPreset, kTune) < 0) {
    *error = "x264 does not know its preset";
    return false;
  }
  p.pf_log = CaptureLog;
  p.p_log_private = this;
  p.i_log_level = X264_LOG_ERROR;
  // One thread and no slice threads: the same bytes on every run.
  p.i_threads = 1;
  p.i_lookahead_threads = 1;
  p.b_sliced_threads = 0;
  p.i_width = s.width;
  p.i_height = s.height;
  p.i_csp = X264_CSP_I420;
  p.i_fps_num = static_cast<uint32_t>(s.fps);
  p.i_fps_den = 1;
  p.i_timebase_num = 1;
  p.i_timebase_den = static_cast<uint32_t>(s.fps);
  p.b_vfr_input = 0;
  // IDR pictures exactly every `gop` pictures, each led by SPS and PPS.
  p.i_keyint_max = s.gop;
  p.i_scenecut_threshold = 0;
  p.b_open_gop = 0;
  p.i_bframe = 0;
  p.b_repeat_headers = 1;
  p.b_annexb = 1;
  p.b_aud = 0;
  p.b_interlaced = s.interlaced ? 1 : 0;
  p.b_tff = 1;
  if (x264_param_apply_profile(&p, s.profile.c_str()) < 0) {
    *error = "x264 cannot encode profile " + s.profile + (m_lastLog.empty() ? "" : ": " + m_lastLog);
    return false;
  }
  m_encoder = x264_encoder_open(&p);
  x264_param_cleanup(&p);
  if (!m_encoder) {
    *error = "x264 refused the settings" + (m_lastLog.empty() ? "" : ": " + m_lastLog);
    return false;
  }
  if (x264_picture_alloc(&m_input->pic, X264_CSP_I420, s.width, s.height) < 0) {
    *error = "out of memory for the input picture";
    return false;
  }
  m_input->allocated = true;
  return true;
}

TestPicturePlanes H264Encoder::inputPlanes() {
  const x264_image_t& img = m_input->pic.img;
  return {img.plane[0], img.plane[1], img.plane[2], img.i_stride[0], img.i_stride[1],
          img.i_stride[2]};
}

bool H264Encoder::encodeOne(bool input, std::vector<EncodedUnit>* out, std::string* error,
                            int* produced) {
  x264_nal_t* nals = nullptr;
  int count = 0;
  x264_picture_t picOut;
  const int bytes =
      x264_encoder_encode(m_encoder, &nals, &count, input ? &m_input->pic : nullptr, &picOut);
  if (bytes < 0) {
    *error = "x264 failed to encode" + (m_lastLog.empty() ? "" : ": " + m_lastLog);
    return false;
  }
  *produced = bytes;
  if (bytes == 0) return true;
  // x264 lays the NAL units of one picture out back to back.
  EncodedUnit unit;
  unit.picture = picOut.i_pts;
  unit.idr = picOut.i_type == X264_TYPE_IDR;
  unit.bytes.assign(nals[0].p_payload, nals[0].p_payload + bytes);
  if (unit.idr != StartsWithSps(unit.bytes)) {
    *error = "x264 made picture " + std::to_string(unit.picture) +
             (unit.idr ? " an IDR picture without a leading SPS" : " start with an SPS");
    return false;
  }
  out->push_back(std::move(unit));
  return true;
}

bool H264Encoder::encode(int64_t index, std::vector<EncodedUnit>* out, std::string* error) {
  if (!m_encoder) {
    *error = "encoder not open";
    return false;
  }
  m_input->pic.i_pts = index;
  m_input->pic.i_type = index % m_settings.gop == 0 ? X264_TYPE_IDR : X264_TYPE_AUTO;
  int produced = 0;
  return encodeOne(true, out, error, &produced);
}

bool H264Encoder::flush(std::vector<EncodedUnit>* out, std::string* error) {
  while (m_encoder && x264_encoder_delayed_frames(m_encoder) > 0) {
    int produced = 0;
    if (!encodeOne(false, out, error, &produced)) return false;
    if (produced == 0) break;
  }
  return true;
}

}  // namespace trevolo::media
