// avtool seekpos FILE OFFSET_US: the file offset the reader continues from
// after a seek to OFFSET_US, or "refused" (exit 3) when the seek is refused.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "engine/frame_index.h"
#include "tools/avtool.h"

namespace trevolo::avtool {
namespace {

constexpr int kExitRefused = 3;

bool ParseU64(const char* s, uint64_t& out) {
  if (!s || !*s || *s == '-') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s, &end, 10);
  if (errno != 0 || *end != '\0') return false;
  out = v;
  return true;
}

int CmdSeekpos(int argc, char** argv) {
  uint64_t offset = 0;
  if (argc != 3 || !ParseU64(argv[2], offset)) {
    return Fail("seekpos", "usage: avtool seekpos FILE OFFSET_US");
  }
  const std::string path = argv[1];
  if (!CheckAvFile("seekpos", path)) return kExitError;
  FileReader file;
  if (!file.open(path)) return Fail("seekpos", path + ": cannot be opened");
  FrameIndex index;
  if (!index.allocate()) return Fail("seekpos", "out of memory");
  BuildIndex(file, index);

  // The same checks as the engine's seek: a wrapped sum or a target past the end.
  const uint64_t target = index.first + offset;
  if (target < index.first || target > index.last || !PositionForSeek(file, index, target)) {
    std::printf("refused\n");
    return kExitRefused;
  }
  std::printf("%lld\n", static_cast<long long>(file.tell()));
  return kExitOk;
}

CommandRegistrar reg("seekpos", "seekpos FILE OFFSET_US", &CmdSeekpos);

}  // namespace
}  // namespace trevolo::avtool
