// AMR_Decode_Frame against opencore's Decoder_Interface_Decode on the same
// storage-layout frames. "realtime" is seconds of audio decoded per second.
#include <benchmark/benchmark.h>
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "audio/amr_decoder.h"
#include "audio/amr_frame.h"
#include "audio/amr_homing.h"

namespace {

constexpr int kSamples = 160;
constexpr int kFrames = 500;  // 10 s of audio
constexpr double kFrameSeconds = 0.020;

// 10 s of a voiced-like signal: two drifting harmonics and a little noise.
std::vector<int16_t> Signal() {
  std::vector<int16_t> pcm(kFrames * kSamples);
  uint32_t lcg = 1;
  double phase = 0;
  for (size_t n = 0; n < pcm.size(); ++n) {
    lcg = lcg * 1664525u + 1013904223u;
    const double t = static_cast<double>(n) / 8000.0;
    phase +=
        2 * std::numbers::pi * (150.0 + 50.0 * std::sin(2 * std::numbers::pi * 0.5 * t)) / 8000.0;
    pcm[n] = static_cast<int16_t>(5000 * std::sin(phase) + 2000 * std::sin(3 * phase) +
                                  static_cast<int>(lcg >> 24) - 128);
  }
  return pcm;
}

// Frames of one mode, concatenated, with their offsets.
struct Stream {
  std::vector<uint8_t> bytes;
  std::vector<size_t> offsets;
};

Stream Encode(int mode) {
  static const std::vector<int16_t> pcm = Signal();
  Stream s;
  void* enc = Encoder_Interface_init(0);
  for (int f = 0; f < kFrames; ++f) {
    uint8_t out[64];
    const int n =
        Encoder_Interface_Encode(enc, static_cast<Mode>(mode), &pcm[f * kSamples], out, 0);
    s.offsets.push_back(s.bytes.size());
    s.bytes.insert(s.bytes.end(), out, out + n);
  }
  Encoder_Interface_exit(enc);
  return s;
}

void Report(benchmark::State& state, const Stream& s) {
  const double frames =
      static_cast<double>(state.iterations()) * static_cast<double>(s.offsets.size());
  state.counters["frames"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
  state.counters["realtime"] =
      benchmark::Counter(frames * kFrameSeconds, benchmark::Counter::kIsRate);
}

void BM_AmrDecodeFrame(benchmark::State& state) {
  const Stream s = Encode(static_cast<int>(state.range(0)));
  void* dec = nullptr;
  AMR_Decode_Init(&dec);
  int16_t pcm[kSamples];
  for (auto _ : state) {
    for (size_t at : s.offsets) AMR_Decode_Frame(dec, &s.bytes[at], pcm, 0);
    benchmark::DoNotOptimize(pcm);
  }
  AMR_Decode_Exit(&dec);
  Report(state, s);
}

void BM_OpencoreDecode(benchmark::State& state) {
  const Stream s = Encode(static_cast<int>(state.range(0)));
  void* dec = Decoder_Interface_init();
  int16_t pcm[kSamples];
  for (auto _ : state) {
    for (size_t at : s.offsets) Decoder_Interface_Decode(dec, &s.bytes[at], pcm, 0);
    benchmark::DoNotOptimize(pcm);
  }
  Decoder_Interface_exit(dec);
  Report(state, s);
}

// The wrapper's own work per frame, without the speech core: unpacking into
// the parameter-order array and the homing-frame test.
void BM_AmrUnpackOnly(benchmark::State& state) {
  const Stream s = Encode(static_cast<int>(state.range(0)));
  int16_t serial[trevolo::amr::kSerialBits];
  for (auto _ : state) {
    for (size_t at : s.offsets) {
      const trevolo::amr::UnpackedFrame f = trevolo::amr::UnpackFrame(&s.bytes[at], 0, serial);
      benchmark::DoNotOptimize(
          trevolo::amr::IsHomingFrame(serial, f.mode, trevolo::amr::HomingSpan::kWholeFrame));
    }
  }
  Report(state, s);
}

// Mode 0 (4.75 kbit/s) and mode 7 (12.2 kbit/s), the cheapest and dearest.
BENCHMARK(BM_AmrDecodeFrame)->Arg(0)->Arg(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpencoreDecode)->Arg(0)->Arg(7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AmrUnpackOnly)->Arg(0)->Arg(7)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
