// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace trevolo::fuzz {

// Stops the run with a message: a broken promise of the code under test.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}
#define FUZZ_CHECK(cond)                       \
  do {                                         \
    if (!(cond)) ::trevolo::fuzz::Fail(#cond); \
  } while (0)

// The input as a file that code opening paths can read: an anonymous memory
// file reached through /proc/self/fd.
class MemoryFile {
 public:
  MemoryFile(const uint8_t* data, size_t size) {
    m_fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (m_fd < 0) Fail("memfd_create");
    size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(m_fd, data + done, size - done);
      if (n <= 0) Fail("write to memory file");
      done += static_cast<size_t>(n);
    }
    m_path = "/proc/self/fd/" + std::to_string(m_fd);
  }
  ~MemoryFile() { ::close(m_fd); }
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  const std::string& path() const { return m_path; }

 private:
  int m_fd = -1;
  std::string m_path;
};

// Reads every byte of a buffer so that AddressSanitizer sees any byte that is
// not really there.
inline uint32_t Touch(const uint8_t* p, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) sum += p[i];
  return sum;
}

// Keeps a value alive so the reads that produced it are not optimised away.
inline volatile uint32_t g_sink = 0;
inline void Use(uint32_t value) { g_sink = value; }

}  // namespace trevolo::fuzz
