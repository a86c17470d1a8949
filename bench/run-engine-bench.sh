#!/usr/bin/env bash
# Engine benchmarks (not part of CI; the large file takes about 3 GiB of disk).
#   1. Index build on a dense 16 MiB recording, a 16 MiB file of 60-byte records
#      and a dense 3 GiB recording, beside a sequential read of the same files
#      (in-process and `cat FILE > /dev/null`), warm cache.
#   2. CPU cost of the engine's own threads over SECONDS of real-time playback,
#      and over SECONDS paused.
# Usage: bench/run-engine-bench.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
seconds=${2:-60}
work=${BENCH_DIR:-/tmp/trevolo-bench}
mkdir -p "$work"
avtool=$build/tools/avtool

[ -x "$build/bench/engine_bench" ] || {
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" --target avtool engine_bench engine_cpu
}

make_file() {  # name size-bytes synth-args...
  local out=$work/$1 size=$2
  shift 2
  [ -f "$out" ] && return
  "$avtool" synth -o "$out.tmp" "$@" >/dev/null
  truncate -s "$size" "$out.tmp"  # cut to the exact size (a partial last record is damage the index copes with)
  mv "$out.tmp" "$out"
}
# 25 fps, 2 s GOP, 20 kB pictures with their audio: about 4 Mbit/s.
make_file dense16.av 16777216 --seconds 40 --video-bytes 20000
make_file tiny60.av 16777216 --no-audio --video-bytes 32 --fps 1000 --seconds 300
make_file dense3g.av 3221225472 --seconds 6500 --video-bytes 20000

for f in dense16.av tiny60.av dense3g.av; do cat "$work/$f" >/dev/null; done  # warm the cache

time_cat() {
  local best=999999 t0 t1 ms
  for _ in 1 2 3 4 5; do
    t0=$(date +%s%N); cat "$1" >/dev/null; t1=$(date +%s%N)
    ms=$(( (t1 - t0) / 1000 ))
    [ "$ms" -lt "$best" ] && best=$ms
  done
  printf 'cat %-12s best of 5: %d.%03d ms\n' "$(basename "$1")" $((best / 1000)) $((best % 1000))
}
time_cat "$work/dense16.av"
time_cat "$work/tiny60.av"

TREVOLO_BENCH_DENSE=$work/dense16.av TREVOLO_BENCH_TINY=$work/tiny60.av \
TREVOLO_BENCH_LARGE=$work/dense3g.av \
  "$build/bench/engine_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

"$build/bench/engine_cpu" "$work/dense16.av" "$seconds"
