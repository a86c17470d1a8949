#include "video/h264_core.h"

#include <cstddef>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

#include "video/h264_deinterlace.h"

namespace trevolo::h264 {
namespace {

constexpr size_t kBytesPerMb = 384;  // 256 luma + 2 x 64 chroma samples
constexpr size_t kNalSlack = 4096;
// One call may carry several units of up to a NAL buffer each (a picture's
// slices and its parameter sets); a packet of twice the NAL buffer holds any
// picture that fits the size limits.
constexpr size_t kPacketUnits = 2;
constexpr int kWorkerThreads = 4;
constexpr uint8_t kNeutralChroma = 128;

void copyPlane(const uint8_t* src, int srcStride, uint8_t* dst, int width, int height) {
  for (int y = 0; y < height; ++y) {
    std::memcpy(dst + static_cast<size_t>(y) * width, src + static_cast<ptrdiff_t>(y) * srcStride,
                static_cast<size_t>(width));
  }
}

}  // namespace

DecoderCore::~DecoderCore() {
  avcodec_free_context(&m_ctx);  // joins the slice threads
  av_packet_free(&m_packet);
  av_frame_free(&m_frame);
  av_frame_free(&m_held);
  av_buffer_unref(&m_packetBuf);
}

bool DecoderCore::open(const DecoderConfig& config) {
  m_config = config;
  const size_t mbs = size_t{config.maxWidthMbs} * config.maxHeightMbs;
  const size_t nalCapacity = mbs * kBytesPerMb + kNalSlack;
  m_maxWidth = config.maxWidthMbs * 16;
  m_maxHeight = config.maxHeightMbs * 16;
  m_lumaCapacity = size_t{m_maxWidth} * m_maxHeight;
  m_packetCapacity = kPacketUnits * nalCapacity;

  m_splitter.reset(new (std::nothrow) NalSplitter(nalCapacity));
  m_gate.reset(new (std::nothrow) StreamGate({config.maxWidthMbs, config.maxHeightMbs}));
  m_planes.reset(new (std::nothrow) uint8_t[m_lumaCapacity * 3 / 2]);
  m_packetBuf = av_buffer_alloc(m_packetCapacity + AV_INPUT_BUFFER_PADDING_SIZE);
  m_packet = av_packet_alloc();
  m_frame = av_frame_alloc();
  m_held = av_frame_alloc();
  if (!m_splitter || !m_gate || !m_planes || !m_packetBuf || !m_packet || !m_frame || !m_held) {
    return false;
  }

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  if (!codec || !(m_ctx = avcodec_alloc_context3(codec))) return false;
  // Exact cropping (odd offsets too), and pictures from the first I slice
  // on even when the stream has no IDR picture or recovery point there.
  m_ctx->flags |= AV_CODEC_FLAG_UNALIGNED | AV_CODEC_FLAG_OUTPUT_CORRUPT;
  // Slice threads only: frame threads would hold pictures back.
  m_ctx->thread_type = FF_THREAD_SLICE;
  m_ctx->thread_count = config.sliceThreads ? kWorkerThreads : 1;
  return avcodec_open2(m_ctx, codec, nullptr) >= 0;
}

void DecoderCore::queueNal(const uint8_t* nal, size_t size) {
  if (!m_gate->admit(nal, size)) return;
  // A call carrying more than a packet holds loses its last units; the
  // picture then decodes with those slices missing.
  m_packetFill += writeAnnexB(nal, size, m_packetBuf->data + m_packetFill,
                              m_packetCapacity - m_packetFill);
}

bool DecoderCore::decode(const uint8_t* data, size_t size, uint64_t timeStamp,
                         OutputPicture& out) {
  av_frame_unref(m_held);  // the last picture handed out is the caller's no longer
  if (m_draining) {  // new data after the end of a stream: start afresh
    avcodec_flush_buffers(m_ctx);
    m_gate->restart();
    m_draining = false;
  }
  ++m_callIndex;
  m_stamps[static_cast<size_t>(m_callIndex) % kStampSlots] = timeStamp;
  // The core consumes each packet within the call, so the buffer is ours
  // again by now; should it still hold a reference, it gets a copy.
  if (!av_buffer_is_writable(m_packetBuf) && av_buffer_make_writable(&m_packetBuf) < 0) return false;
  m_packetFill = 0;
  m_splitter->split(data, size, [this](const uint8_t* nal, size_t n) { queueNal(nal, n); });
  if (m_packetFill == 0) return false;
  // Without reordering, decoding order is display order: the core need not
  // hold any picture back, whatever it guesses. Once reordering shows, it
  // holds at least one picture and grows that as the stream demands.
  if (!m_gate->reorderingPossible()) {
    m_ctx->has_b_frames = 0;
  } else if (m_ctx->has_b_frames < 1) {
    m_ctx->has_b_frames = 1;
  }
  if (!sendPacket(m_callIndex)) return false;
  return receive(timeStamp, out);
}

bool DecoderCore::sendPacket(int64_t callIndex) {
  m_packet->buf = av_buffer_ref(m_packetBuf);
  if (!m_packet->buf) return false;
  m_packet->data = m_packetBuf->data;
  m_packet->size = static_cast<int>(m_packetFill);
  std::memset(m_packet->data + m_packetFill, 0, AV_INPUT_BUFFER_PADDING_SIZE);
  m_packet->pts = callIndex;
  int ret = avcodec_send_packet(m_ctx, m_packet);
  if (ret == AVERROR(EAGAIN)) {
    // A picture of an earlier call was never collected; it is stale now.
    if (avcodec_receive_frame(m_ctx, m_frame) >= 0) av_frame_unref(m_frame);
    ret = avcodec_send_packet(m_ctx, m_packet);
  }
  av_packet_unref(m_packet);
  return ret >= 0 || ret == AVERROR_INVALIDDATA;
}

bool DecoderCore::drain(OutputPicture& out) {
  av_frame_unref(m_held);
  if (!m_gate->reorderingPossible()) return false;
  if (!m_draining) {
    avcodec_send_packet(m_ctx, nullptr);
    m_draining = true;
  }
  return receive(0, out);
}

// Takes the picture the core has ready, if any, and finds the time stamp of
// the call whose data started it.
bool DecoderCore::receive(uint64_t fallbackStamp, OutputPicture& out) {
  if (avcodec_receive_frame(m_ctx, m_frame) < 0) return false;
  uint64_t stamp = fallbackStamp;
  const int64_t pts = m_frame->pts;
  if (pts != AV_NOPTS_VALUE && pts > 0 && pts <= m_callIndex &&
      m_callIndex - pts < static_cast<int64_t>(kStampSlots)) {
    stamp = m_stamps[static_cast<size_t>(pts) % kStampSlots];
  }
  if (handOut(stamp, out)) return true;
  const bool ok = copyOut(stamp, out);
  av_frame_unref(m_frame);
  return ok;
}

// A 4:2:0 picture whose rows lie packed in the core's buffer already (its
// width a multiple of the core's row alignment: 1280 and 1920 are) is handed
// out as it is, held until the next call, instead of copied.
bool DecoderCore::handOut(uint64_t timeStamp, OutputPicture& out) {
  const AVFrame* f = m_frame;
  const bool yuv = f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P;
  const bool weave = !(m_config.deinterlace && f->interlaced_frame);
  const int w = f->width, h = f->height;
  if (!yuv || !weave || w <= 0 || h <= 0 || (w | h) & 1 ||
      static_cast<uint32_t>(w) > m_maxWidth || static_cast<uint32_t>(h) > m_maxHeight ||
      f->linesize[0] != w || f->linesize[1] != w / 2 || f->linesize[2] != w / 2) {
    return false;
  }
  out = OutputPicture{f->data[0], f->data[1], f->data[2], static_cast<uint32_t>(w),
                      static_cast<uint32_t>(h), f->linesize[0], f->linesize[1], timeStamp};
  av_frame_move_ref(m_held, m_frame);
  return true;
}

bool DecoderCore::copyOut(uint64_t timeStamp, OutputPicture& out) {
  const AVFrame* f = m_frame;
  const bool yuv = f->format == AV_PIX_FMT_YUV420P || f->format == AV_PIX_FMT_YUVJ420P;
  const bool gray = f->format == AV_PIX_FMT_GRAY8;
  if ((!yuv && !gray) || f->width <= 0 || f->height <= 0 ||
      static_cast<uint32_t>(f->width) > m_maxWidth ||
      static_cast<uint32_t>(f->height) > m_maxHeight) {
    return false;
  }
  const int w = f->width, h = f->height, cw = w / 2, ch = h / 2;
  uint8_t* y = m_planes.get();
  uint8_t* u = y + static_cast<size_t>(w) * h;
  uint8_t* v = u + static_cast<size_t>(cw) * ch;
  const bool weave = !(m_config.deinterlace && f->interlaced_frame);
  const bool keepTop = f->top_field_first != 0;
  for (int p = 0; p < (gray ? 1 : 3); ++p) {
    uint8_t* dst = p == 0 ? y : p == 1 ? u : v;
    const int pw = p == 0 ? w : cw, ph = p == 0 ? h : ch;
    if (weave) {
      copyPlane(f->data[p], f->linesize[p], dst, pw, ph);
    } else {
      deinterlacePlane(f->data[p], f->linesize[p], dst, pw, ph, keepTop);
    }
  }
  if (gray) std::memset(u, kNeutralChroma, static_cast<size_t>(cw) * ch * 2);
  out = OutputPicture{y, u, v, static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                      f->linesize[0], gray ? f->linesize[0] / 2 : f->linesize[1], timeStamp};
  return true;
}

}  // namespace trevolo::h264
