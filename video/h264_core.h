// The decoder's state behind the public handle: NAL splitting, the stream
// gate, libavcodec's H.264 decoder as the decoding core, and the packed
// output planes. Everything is allocated in open(); decoding a picture
// allocates nothing on this side.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "video/h264_gate.h"
#include "video/h264_nal.h"

struct AVCodecContext;
struct AVPacket;
struct AVFrame;
struct AVBufferRef;

namespace trevolo::h264 {

struct DecoderConfig {
  uint32_t maxWidthMbs = 120;
  uint32_t maxHeightMbs = 68;
  uint32_t refFrames = 4;
  bool deinterlace = false;
  bool sliceThreads = false;
};

struct OutputPicture {
  uint8_t* y = nullptr;
  uint8_t* u = nullptr;
  uint8_t* v = nullptr;
  uint32_t width = 0;
  uint32_t height = 0;
  int32_t codedLumaStride = 0;
  int32_t codedChromaStride = 0;
  uint64_t timeStamp = 0;
};

class DecoderCore {
 public:
  DecoderCore() = default;
  ~DecoderCore();
  DecoderCore(const DecoderCore&) = delete;
  DecoderCore& operator=(const DecoderCore&) = delete;

  bool open(const DecoderConfig& config);

  // Decodes one call's Annex B bytes; true when a picture is ready in `out`.
  bool decode(const uint8_t* data, size_t size, uint64_t timeStamp, OutputPicture& out);

  // A call without data. Only a stream that reorders pictures holds any back;
  // they are handed out one per call, as at the end of the stream, and
  // decoding then resumes at the next IDR or I slice.
  bool drain(OutputPicture& out);

 private:
  static constexpr size_t kStampSlots = 64;  // calls a held picture can lag behind

  void queueNal(const uint8_t* nal, size_t size);
  bool sendPacket(int64_t callIndex);
  bool receive(uint64_t fallbackStamp, OutputPicture& out);
  bool handOut(uint64_t timeStamp, OutputPicture& out);
  bool copyOut(uint64_t timeStamp, OutputPicture& out);

  DecoderConfig m_config;
  std::unique_ptr<NalSplitter> m_splitter;
  std::unique_ptr<StreamGate> m_gate;

  AVCodecContext* m_ctx = nullptr;
  AVPacket* m_packet = nullptr;
  AVFrame* m_frame = nullptr;
  // The picture last handed out straight from the core's own buffer (its
  // rows were packed already); held until the next call.
  AVFrame* m_held = nullptr;
  AVBufferRef* m_packetBuf = nullptr;  // one call's admitted units, Annex B
  size_t m_packetCapacity = 0;
  size_t m_packetFill = 0;

  std::unique_ptr<uint8_t[]> m_planes;  // Y, then U, then V, each packed
  size_t m_lumaCapacity = 0;
  uint32_t m_maxWidth = 0, m_maxHeight = 0;  // pixels

  std::array<uint64_t, kStampSlots> m_stamps{};  // time stamp of each recent call
  int64_t m_callIndex = 0;
  bool m_draining = false;
};

}  // namespace trevolo::h264
