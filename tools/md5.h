// MD5 digests for frame checksums (the same lines ffmpeg's framemd5 prints).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace trevolo {

class Md5 {
 public:
  Md5();
  void update(const void* data, size_t n);
  std::string hexDigest();  // finishes the digest

 private:
  void block(const uint8_t* p);
  uint32_t m_h[4];
  uint64_t m_length = 0;
  uint8_t m_buf[64];
  size_t m_fill = 0;
};

}  // namespace trevolo
