#include "engine/file_reader.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace trevolo {

FileReader::~FileReader() { close(); }

bool FileReader::open(const std::string& path) {
  close();
  m_file = std::fopen(path.c_str(), "rb");
  if (!m_file) return false;
  // We buffer ourselves; stdio's own buffer would only add a copy.
  std::setvbuf(m_file, nullptr, _IONBF, 0);
  m_buffer.reset(new (std::nothrow) uint8_t[kMaxRefill]);
  if (!m_buffer) {
    close();
    return false;
  }
  m_bufferPos = 0;
  m_bufferIndex = m_bufferFill = 0;
  m_refillSize = kMinRefill;
  m_osPos = 0;
  return true;
}

void FileReader::close() {
  if (m_file) std::fclose(m_file);
  m_file = nullptr;
  m_buffer.reset();
  m_bufferPos = 0;
  m_bufferIndex = m_bufferFill = 0;
}

bool FileReader::refill() {
  const int64_t pos = tell();
  if (m_osPos != pos) {
    if (std::fseek(m_file, static_cast<long>(pos), SEEK_SET) != 0) {
      m_osPos = -1;
      return false;
    }
  }
  size_t got = std::fread(m_buffer.get(), 1, m_refillSize, m_file);
  m_osPos = pos + static_cast<int64_t>(got);
  m_bufferPos = pos;
  m_bufferIndex = 0;
  m_bufferFill = got;
  if (got == m_refillSize && m_refillSize < kMaxRefill) m_refillSize *= 2;
  return got > 0;
}

size_t FileReader::read(void* dst, size_t n) {
  if (!m_file) return 0;
  auto* out = static_cast<uint8_t*>(dst);
  size_t done = 0;
  while (done < n) {
    size_t avail = m_bufferFill - m_bufferIndex;
    if (avail > 0) {
      size_t take = std::min(avail, n - done);
      std::memcpy(out + done, m_buffer.get() + m_bufferIndex, take);
      m_bufferIndex += take;
      done += take;
      continue;
    }
    size_t rest = n - done;
    if (rest >= kMaxRefill / 2) {
      // Large payloads go straight into the destination.
      const int64_t pos = tell();
      if (m_osPos != pos && std::fseek(m_file, static_cast<long>(pos), SEEK_SET) != 0) {
        m_osPos = -1;
        break;
      }
      size_t got = std::fread(out + done, 1, rest, m_file);
      m_osPos = pos + static_cast<int64_t>(got);
      m_bufferPos = m_osPos;
      m_bufferIndex = m_bufferFill = 0;
      done += got;
      break;
    }
    if (!refill()) break;
  }
  return done;
}

const uint8_t* FileReader::peekSlow(size_t n) {
  if (!m_file || n > kMaxPeek) return nullptr;
  if (m_bufferFill - m_bufferIndex >= n) return m_buffer.get() + m_bufferIndex;
  // Keep what is left and append the next part of the file behind it.
  const size_t left = m_bufferFill - m_bufferIndex;
  const int64_t pos = tell();
  std::memmove(m_buffer.get(), m_buffer.get() + m_bufferIndex, left);
  m_bufferPos = pos;
  m_bufferIndex = 0;
  m_bufferFill = left;
  const int64_t readPos = pos + static_cast<int64_t>(left);
  if (m_osPos != readPos && std::fseek(m_file, static_cast<long>(readPos), SEEK_SET) != 0) {
    m_osPos = -1;
    return nullptr;
  }
  const size_t want = std::min(m_refillSize, kMaxRefill - left);
  const size_t got = std::fread(m_buffer.get() + left, 1, want, m_file);
  m_osPos = readPos + static_cast<int64_t>(got);
  m_bufferFill = left + got;
  if (got == want && m_refillSize < kMaxRefill) m_refillSize *= 2;
  return m_bufferFill >= n ? m_buffer.get() : nullptr;
}

bool FileReader::seekFar(int64_t position) {
  if (!m_file || position < 0) return false;
  // A far jump: start the next refill small, since scanners only want a
  // header's worth of bytes there. A short step past the buffer is still
  // sequential reading and keeps the refill size.
  const int64_t bufferEnd = m_bufferPos + static_cast<int64_t>(m_bufferFill);
  if (position < bufferEnd || position - bufferEnd > static_cast<int64_t>(kMinRefill)) {
    m_refillSize = kMinRefill;
  }
  m_bufferPos = position;
  m_bufferIndex = m_bufferFill = 0;
  return true;
}

int64_t FileReader::size() {
  if (!m_file) return -1;
  if (std::fseek(m_file, 0, SEEK_END) != 0) {
    m_osPos = -1;
    return -1;
  }
  long end = std::ftell(m_file);
  m_osPos = end;
  return end < 0 ? -1 : static_cast<int64_t>(end);
}

}  // namespace trevolo
