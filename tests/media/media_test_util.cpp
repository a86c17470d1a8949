#include "tests/media/media_test_util.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "tools/media/gen_audio.h"
#include "tools/media/gen_streams.h"
#include "tools/media/test_pattern.h"

namespace trevolo::test {

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "media_test_XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  m_dir = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int ExitStatus(int raw) { return (raw != -1 && WIFEXITED(raw)) ? WEXITSTATUS(raw) : -1; }

}  // namespace

RunResult RunAvtool(const std::string& args) {
  TempDir logs;
  const std::string out = logs.path("out"), err = logs.path("err");
  const std::string cmd = std::string(AVTOOL_PATH) + " " + args + " >" + out + " 2>" + err;
  RunResult r;
  r.status = ExitStatus(std::system(cmd.c_str()));
  r.out = ReadText(out);
  r.err = ReadText(err);
  return r;
}

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<Record> ParseRecording(const Bytes& f) {
  std::vector<Record> records;
  size_t pos = 0;
  while (pos < f.size()) {
    if (f.size() - pos < kHeaderBytes || f[pos] != 0xFF || f[pos + 1] != 0xFF ||
        f[pos + 2] != 0xFF || f[pos + 3] != 0x88) {
      return {};
    }
    Record r;
    r.header = ParseHeader(&f[pos]);
    pos += kHeaderBytes;
    if (r.header.type == AV_REC_MEDIA) {
      const size_t n = r.header.audioFrames;
      if (f.size() - pos < 2 * n) return {};
      std::vector<size_t> lengths;
      for (size_t k = 0; k < n; ++k) lengths.push_back(Le16(&f[pos + 2 * k]));
      pos += 2 * n;
      for (size_t len : lengths) {
        if (f.size() - pos < len) return {};
        r.audio.emplace_back(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + len));
        pos += len;
      }
      const size_t len = r.header.videoLength;
      if (f.size() - pos < len) return {};
      r.video.assign(f.begin() + static_cast<long>(pos), f.begin() + static_cast<long>(pos + len));
      pos += len;
    }
    records.push_back(std::move(r));
  }
  return records;
}

int DecodeH264(const std::string& h264, const std::string& yuvOut, int width, int height) {
  const std::string cmd = "ffmpeg -v error -nostdin -y -f h264 -i " + h264 +
                          " -f rawvideo -pix_fmt yuv420p " + yuvOut;
  if (ExitStatus(std::system(cmd.c_str())) != 0) return -1;
  const size_t picture = static_cast<size_t>(width) * height * 3 / 2;
  const size_t bytes = std::filesystem::file_size(yuvOut);
  return bytes % picture == 0 ? static_cast<int>(bytes / picture) : -1;
}

std::vector<int> ReadFrameNumbers(const std::string& yuv, int width, int height) {
  const Bytes all = ReadBytes(yuv);
  const size_t picture = static_cast<size_t>(width) * height * 3 / 2;
  std::vector<int> numbers;
  for (size_t off = 0; off + picture <= all.size(); off += picture) {
    numbers.push_back(ReadFrameNumber(&all[off], width, width, height));
  }
  return numbers;
}

std::vector<Bytes> WriteAmrFile(const std::string& path, int frames) {
  media::SignalSource tone(media::Signal::Tone);
  media::AmrEncoder encoder;
  Bytes file(media::kAmrMagic, media::kAmrMagic + media::kAmrMagicBytes);
  std::vector<Bytes> out;
  for (int k = 0; k < frames; ++k) {
    int16_t pcm[media::kAmrSamplesPerFrame];
    tone.nextFrame(pcm);
    Bytes frame;
    if (!encoder.encode(pcm, k % 8, &frame)) return {};
    file.insert(file.end(), frame.begin(), frame.end());
    out.push_back(std::move(frame));
  }
  WriteBytes(path, file);
  return out;
}

}  // namespace trevolo::test
