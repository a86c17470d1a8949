// avtool info [--json] FILE: what the engine learns from a file when it opens it.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/frame_index.h"
#include "tools/avtool.h"

namespace trevolo::avtool {
namespace {

int CmdInfo(int argc, char** argv) {
  bool json = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--json")) {
      json = true;
    } else if (!path && argv[i][0] != '-') {
      path = argv[i];
    } else {
      return Fail("info", std::string("unexpected argument '") + argv[i] + "'");
    }
  }
  if (!path) return Fail("info", "usage: avtool info [--json] FILE");
  if (!CheckAvFile("info", path)) return kExitError;

  FileReader file;
  if (!file.open(path)) return Fail("info", std::string(path) + ": cannot be opened");
  FrameIndex index;
  if (!index.allocate()) return Fail("info", "out of memory");
  BuildIndex(file, index);

  const uint64_t duration = index.last - index.first;
  if (json) {
    std::printf("{\"size\": %lld, \"index\": \"%s\", \"first_us\": %llu, \"last_us\": %llu, "
                "\"duration_us\": %llu, \"key_frames\": [",
                static_cast<long long>(index.fileSize), index.full ? "full" : "sparse",
                static_cast<unsigned long long>(index.first),
                static_cast<unsigned long long>(index.last),
                static_cast<unsigned long long>(duration));
    for (uint32_t i = 0; i < index.count; ++i) {
      std::printf("%s[%llu, %llu]", i ? ", " : "",
                  static_cast<unsigned long long>(index.offsets[i]),
                  static_cast<unsigned long long>(index.timeStamps[i]));
    }
    std::printf("]}\n");
    return kExitOk;
  }
  std::printf("file:        %s\n", path);
  std::printf("size:        %lld bytes\n", static_cast<long long>(index.fileSize));
  std::printf("index:       %s\n", index.full ? "full" : "sparse");
  std::printf("first:       %llu us\n", static_cast<unsigned long long>(index.first));
  std::printf("last:        %llu us\n", static_cast<unsigned long long>(index.last));
  std::printf("duration:    %llu us (%.3f s)\n", static_cast<unsigned long long>(duration),
              static_cast<double>(duration) / 1e6);
  std::printf("key frames:  %u\n", index.count);
  for (uint32_t i = 0; i < index.count; ++i) {
    std::printf("  %6u  offset %12llu  time %llu us (+%.3f s)\n", i,
                static_cast<unsigned long long>(index.offsets[i]),
                static_cast<unsigned long long>(index.timeStamps[i]),
                static_cast<double>(index.timeStamps[i] - index.first) / 1e6);
  }
  return kExitOk;
}

CommandRegistrar reg("info", "info [--json] FILE", &CmdInfo);

}  // namespace
}  // namespace trevolo::avtool
