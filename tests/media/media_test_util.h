// Helpers of the media tool tests: running avtool, walking the records of a
// well-formed recording, decoding H.264 with the ffmpeg command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/av_format.h"

namespace trevolo::test {

using Bytes = std::vector<uint8_t>;

// A scratch directory removed when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  std::string path(const std::string& name) const { return m_dir + "/" + name; }

 private:
  std::string m_dir;
};

struct RunResult {
  int status = -1;  // exit status, -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs avtool with `args` (shell-quoted by the caller where needed).
RunResult RunAvtool(const std::string& args);

Bytes ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const Bytes& bytes);
bool FileExists(const std::string& path);

// One record of a recording read front to back, with its payload.
struct Record {
  AvRecordHeader header;
  std::vector<Bytes> audio;
  Bytes video;
};

// Walks a recording that has no damage; empty when it is not one.
std::vector<Record> ParseRecording(const Bytes& file);

// Decodes an Annex B file to 8-bit I420 pictures of width x height; returns
// the number of pictures, -1 when ffmpeg fails.
int DecodeH264(const std::string& h264, const std::string& yuvOut, int width, int height);

// The frame numbers ReadFrameNumber finds in each picture of a YUV file.
std::vector<int> ReadFrameNumbers(const std::string& yuv, int width, int height);

// Writes an AMR storage file of `frames` frames of a tone, cycling through
// all eight modes so that every frame size occurs. Returns the frames.
std::vector<Bytes> WriteAmrFile(const std::string& path, int frames);

}  // namespace trevolo::test
