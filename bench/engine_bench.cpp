// Index build against a plain sequential read of the same file, on recordings
// named by environment variables (made by bench/run-engine-bench.sh):
//   TREVOLO_BENCH_DENSE    16 MiB recording (full scan)
//   TREVOLO_BENCH_TINY     16 MiB of 60-byte records (full scan, worst case)
//   TREVOLO_BENCH_LARGE    3 GiB recording (sparse index)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "engine/frame_index.h"

namespace {

void BuildIndexOnce(benchmark::State& state, const std::string& path) {
  trevolo::FrameIndex index;
  if (!index.allocate()) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) {
    trevolo::FileReader file;
    if (!file.open(path)) {
      state.SkipWithError("cannot open file");
      return;
    }
    trevolo::BuildIndex(file, index);
    benchmark::DoNotOptimize(index.last);
  }
  state.counters["key_frames"] = index.count;
  state.counters["full"] = index.full ? 1 : 0;
}

// The peer: reading the whole file front to back, as `cat FILE > /dev/null` does.
void ReadSequentially(benchmark::State& state, const std::string& path) {
  std::vector<char> buf(128 * 1024);
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      state.SkipWithError("cannot open file");
      return;
    }
    std::setvbuf(f, nullptr, _IONBF, 0);
    size_t total = 0, n;
    while ((n = std::fread(buf.data(), 1, buf.size(), f)) > 0) total += n;
    std::fclose(f);
    benchmark::DoNotOptimize(total);
  }
}

void RegisterFor(const char* env, const char* name, bool withPeer) {
  const char* path = std::getenv(env);
  if (!path || !*path) return;
  const std::string p = path;
  benchmark::RegisterBenchmark((std::string("BuildIndex/") + name).c_str(),
                               [p](benchmark::State& s) { BuildIndexOnce(s, p); })
      ->Unit(benchmark::kMillisecond);
  if (withPeer) {
    benchmark::RegisterBenchmark((std::string("SequentialRead/") + name).c_str(),
                                 [p](benchmark::State& s) { ReadSequentially(s, p); })
        ->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterFor("TREVOLO_BENCH_DENSE", "dense16MiB", true);
  RegisterFor("TREVOLO_BENCH_TINY", "tiny60ByteRecords", true);
  RegisterFor("TREVOLO_BENCH_LARGE", "dense3GiB", false);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
