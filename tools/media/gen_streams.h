// Shared pieces of `avtool gen`, `mux` and `demux`: the time line that puts
// pictures and 20 ms audio frames into media blocks, the AMR storage file
// format, and the split of an H.264 byte stream into access units.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/av_writer.h"

namespace trevolo::media {

using Bytes = std::vector<uint8_t>;

// Time stamps count from a fixed wall-clock-like epoch (microseconds), as a
// recorder's would.
inline constexpr uint64_t kTimeBaseUs = 1'700'000'000'000'000ull;
inline constexpr uint32_t kAmrFrameUs = 20000;
inline constexpr int kMinFps = 1;    // 50 audio frames per block at most
inline constexpr int kMaxFps = 240;

// Offset of picture `picture` from the base: round(picture * 1e6 / fps).
uint64_t PictureOffsetUs(int64_t picture, int fps);

// The audio frames that share a block with picture i are those that start
// in [PictureOffsetUs(i), PictureOffsetUs(i + 1)): the frame indices
// [FirstAudioFrame(i), FirstAudioFrame(i + 1)).
int64_t FirstAudioFrame(int64_t picture, int fps);

// Writes the media block of picture `picture`: `accessUnit` (may be empty)
// and `audio`, whose first frame is audio frame `firstAudio`.
void WritePictureBlock(AvWriter& writer, int64_t picture, int fps,
                       std::span<const uint8_t> accessUnit, int64_t firstAudio,
                       const std::vector<Bytes>& audio);

// AMR-NB storage files: "#!AMR\n", then frames of a type byte and payload.
inline constexpr char kAmrMagic[] = "#!AMR\n";
inline constexpr size_t kAmrMagicBytes = sizeof kAmrMagic - 1;

// Bytes of a stored frame (type byte included) for its first byte, or -1
// for frame types that have no defined size.
int AmrStoredFrameBytes(uint8_t typeByte);

bool ParseAmrStorage(const Bytes& file, std::vector<Bytes>* frames, std::string* error);

// Access units of an Annex B stream as libavcodec's H.264 parser finds them;
// their concatenation is the stream.
bool SplitAccessUnits(const Bytes& stream, std::vector<Bytes>* units, std::string* error);

// True when the unit begins with a 4-byte start code and an SPS, which is
// what the player indexes as a key frame.
bool StartsWithSps(std::span<const uint8_t> unit);

bool ReadWholeFile(const std::string& path, Bytes* out, std::string* error);

// Parses a decimal integer in [min, max]; false for anything else.
bool ParseInt(const char* text, long min, long max, long* out);

}  // namespace trevolo::media
