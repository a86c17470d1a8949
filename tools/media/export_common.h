// What `avtool export` and `avtool thumbnail` share: the media blocks of a
// recording as the player reads them, and output files that appear whole or
// not at all.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/av_format.h"
#include "engine/file_reader.h"

namespace trevolo::avtool {

// One media block as the player's reader takes it: the same cuts of
// oversized lengths, and a short read ends the recording.
struct Block {
  uint64_t videoTs = 0;
  uint64_t audioTs = 0;
  std::vector<uint8_t> video;
  uint32_t audioSlots = 0;  // frame slots, empty ones included
  uint32_t audioLength[MAX_AUDIO_FRAMES_PER_BLOCK] = {};
  uint8_t audio[MAX_AUDIO_FRAMES_PER_BLOCK][MAX_AUDIO_FRAME_BYTES] = {};
};

class BlockReader {
 public:
  explicit BlockReader(FileReader& file) : m_file(file) {}

  // The next media block; false at the end of what the player would read.
  bool next(Block& b) {
    AvRecordHeader h;
    while (m_records.next(m_file, h)) {
      // Audio format records change nothing here: AMR-NB frames last 20 ms
      // and the decoder always gives 8 kHz. Other types are bare headers.
      if (h.type == AV_REC_MEDIA) return readPayload(h, b);
    }
    return false;
  }

 private:
  bool readPayload(const AvRecordHeader& h, Block& b) {
    b.videoTs = h.videoTs;
    b.audioTs = h.audioTs;
    b.audioSlots = std::min<uint32_t>(h.audioFrames, MAX_AUDIO_FRAMES_PER_BLOCK);
    uint8_t table[2 * MAX_AUDIO_FRAMES_PER_BLOCK];
    if (b.audioSlots > 0 && m_file.read(table, 2 * b.audioSlots) < 2 * b.audioSlots) return false;
    for (uint32_t k = 0; k < b.audioSlots; ++k) {
      const uint32_t len = std::min<uint32_t>(Le16(table + 2 * k), MAX_AUDIO_FRAME_BYTES);
      b.audioLength[k] = len;
      if (len > 0 && m_file.read(b.audio[k], len) < len) return false;
    }
    const uint32_t len = std::min<uint32_t>(h.videoLength, MAX_VIDEO_PAYLOAD);
    b.video.resize(len);
    return len == 0 || m_file.read(b.video.data(), len) == len;
  }

  FileReader& m_file;
  MarkerReader m_records{MarkerReader::Mode::Playback};
};

// An output file written under a hidden temporary name beside the final path
// and renamed into place only when complete, so nobody (a file manager, a
// browser, the next command in a script) ever sees half a file. An
// interrupted or failed run leaves nothing.
class PendingOutput {
 public:
  PendingOutput() = default;
  ~PendingOutput() { discard(); }
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // Creates the temporary file for `finalPath`; returns an error message,
  // empty on success.
  std::string create(const std::string& finalPath) {
    m_final = finalPath;
    const size_t slash = finalPath.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : finalPath.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? finalPath : finalPath.substr(slash + 1);
    if (base.empty()) return finalPath + ": not a file name";
    std::string name = dir + "." + base + ".part-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return finalPath + ": " + std::strerror(errno);
    m_temp = name;
    // mkstemp makes the file private; the result gets the usual permissions.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    return "";
  }

  const std::string& tempPath() const { return m_temp; }

  // Moves the finished file to its final name.
  std::string commit() {
    if (std::rename(m_temp.c_str(), m_final.c_str()) != 0)
      return m_final + ": " + std::strerror(errno);
    m_temp.clear();
    return "";
  }

  void discard() {
    if (!m_temp.empty()) std::remove(m_temp.c_str());
    m_temp.clear();
  }

 private:
  std::string m_final;
  std::string m_temp;
};

// SIGINT, SIGTERM and SIGHUP only raise a flag, which long loops poll, so
// that the normal teardown removes the temporary file.
inline volatile std::sig_atomic_t g_interrupted = 0;

inline void CatchInterrupts() {
  struct sigaction sa {};
  sa.sa_handler = [](int) { g_interrupted = 1; };
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(sig, &sa, nullptr);
}

inline bool Interrupted() { return g_interrupted != 0; }

}  // namespace trevolo::avtool
