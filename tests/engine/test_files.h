// Recordings made for tests: written with the project's writer into a
// per-test temporary folder, including deliberately damaged ones.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tools/av_writer.h"

namespace trevolo::test {

inline constexpr uint64_t kBase = 1700000000000000ull;
inline constexpr uint32_t kFrameUs = 20000;

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "trevolo-test-XXXXXX").string();
    m_path = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
  }
  std::string file(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A small AMR-like frame (its bytes tell frame k of block n apart).
inline std::vector<uint8_t> AudioFrame(size_t bytes, uint8_t tag) {
  return std::vector<uint8_t>(bytes, tag);
}

struct RecordingPlan {
  int pictures = 25;
  int fps = 25;
  int gop = 10;
  int audioPerPicture = 2;  // 20 ms frames per 40 ms picture
  size_t videoBytes = 200;
  bool audioFormat = true;
};

// A well-formed recording: picture n at kBase + n * 1e6 / fps, key frames
// every `gop` pictures, with the audio of the same instant in its block.
inline std::vector<uint8_t> MakeRecording(const RecordingPlan& s) {
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  if (s.audioFormat) w.audioFormat(kAmrFormatWord);
  for (int n = 0; n < s.pictures; ++n) {
    std::vector<std::vector<uint8_t>> audio;
    for (int k = 0; k < s.audioPerPicture; ++k) {
      audio.push_back(AudioFrame(32, static_cast<uint8_t>(n * s.audioPerPicture + k)));
    }
    const uint64_t ts = kBase + static_cast<uint64_t>(n) * 1000000u / static_cast<uint64_t>(s.fps);
    const auto au = SyntheticAccessUnit(s.videoBytes, n % s.gop == 0, static_cast<uint32_t>(n));
    w.mediaBlock(ts, au, ts, audio);
  }
  return bytes;
}

}  // namespace trevolo::test
