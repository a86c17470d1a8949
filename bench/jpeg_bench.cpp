// Time to write one snapshot: a 1280 x 720 I420 picture to a JPEG file.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "video/jpeg_writer.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;

// Gradients with texture and a little noise, so the coder has real work.
std::vector<uint8_t> makePicture() {
  std::vector<uint8_t> picture(static_cast<size_t>(kWidth) * kHeight * 3 / 2);
  uint32_t noise = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      noise = noise * 1103515245u + 12345u;
      const double value = 60 + 100.0 * (x + y) / (kWidth + kHeight) +
                           30 * std::sin(x / 13.0) * std::cos(y / 17.0) + (noise >> 28);
      picture[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(value);
    }
  }
  const size_t luma = static_cast<size_t>(kWidth) * kHeight;
  for (size_t i = 0; i < luma / 2; ++i) {
    picture[luma + i] = static_cast<uint8_t>(110 + (i % 640) / 16);
  }
  return picture;
}

void BM_WriteJpegSnapshot720p(benchmark::State& state) {
  const std::vector<uint8_t> picture = makePicture();
  const int quality = static_cast<int>(state.range(0));
  const std::string path = (std::filesystem::temp_directory_path() /
                            ("trevolo_jpeg_bench_" + std::to_string(getpid()) + ".jpg"))
                               .string();
  for (auto _ : state) {
    if (WriteJpegSnapshot(path.c_str(), picture.data(), kWidth, kHeight, quality) != 1) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
  std::remove(path.c_str());
}
BENCHMARK(BM_WriteJpegSnapshot720p)->Arg(100)->Arg(75)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
