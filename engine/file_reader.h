// Buffered, seekable reading of one file with 64-bit positions.
//
// Index scans read a header, a length table and 8 bytes of each record and
// skip the rest, so seeks inside the buffer must be free and refills after a
// far seek must be small; long sequential runs grow the refill size. Large
// reads go straight from the file into the caller's memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace trevolo {

class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool open(const std::string& path);
  void close();
  bool isOpen() const { return m_file != nullptr; }

  // Reads up to n bytes; returns how many were read (fewer at end of file or
  // on a read error).
  size_t read(void* dst, size_t n);

  // Up to kMaxPeek bytes at the current position without moving it: a
  // pointer into the buffer, or null when fewer than n bytes remain.
  const uint8_t* peek(size_t n) {
    if (m_bufferFill - m_bufferIndex >= n) return m_buffer.get() + m_bufferIndex;
    return peekSlow(n);
  }
  // The buffered bytes at the current position (none when the buffer is used up).
  const uint8_t* buffered(size_t& available) const {
    available = m_bufferFill - m_bufferIndex;
    return m_buffer.get() + m_bufferIndex;
  }
  // Moves forward by n bytes that the last peek made available.
  void skip(size_t n) { m_bufferIndex += n; }
  static constexpr size_t kMaxPeek = 4096;

  // Absolute positioning. Positions past the end are allowed (reads there
  // return nothing); negative positions fail.
  bool seek(int64_t position) {
    if (position >= m_bufferPos && position <= m_bufferPos + static_cast<int64_t>(m_bufferFill)) {
      m_bufferIndex = static_cast<size_t>(position - m_bufferPos);
      return true;
    }
    return seekFar(position);
  }
  int64_t tell() const { return m_bufferPos + static_cast<int64_t>(m_bufferIndex); }

  // File size in bytes, or -1 when it cannot be determined. Leaves the
  // position unchanged.
  int64_t size();

 private:
  bool refill();
  const uint8_t* peekSlow(size_t n);
  bool seekFar(int64_t position);

  static constexpr size_t kMinRefill = 4096;
  static constexpr size_t kMaxRefill = 256 * 1024;

  std::FILE* m_file = nullptr;
  std::unique_ptr<uint8_t[]> m_buffer;
  int64_t m_bufferPos = 0;     // file position of m_buffer[0]
  size_t m_bufferIndex = 0;    // next byte to hand out
  size_t m_bufferFill = 0;     // valid bytes in m_buffer
  size_t m_refillSize = kMinRefill;
  int64_t m_osPos = 0;         // where the OS file position stands, -1 = unknown
};

}  // namespace trevolo
