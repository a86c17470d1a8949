#!/usr/bin/env bash
# Throughput of the player's H.264 decoder (avtool h264 --bench: one access
# unit per call through H264DecDecode, the player's attributes, one thread,
# pictures copied out) against the ffmpeg command line decoding the same file
# with one thread to nowhere. Both run single-threaded, so the measure is the
# whole process's CPU time (user + system), best of five runs: file reading
# and access unit splitting count on both sides, and other work on a shared
# machine does not. fps = pictures / CPU seconds.
#
# usage: bench/h264_vs_ffmpeg.sh [BUILD_DIR]   (default: build)
# Needs ffmpeg with libx264 for the 1,072-line stream it makes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
avtool=$build/tools/avtool
testdata=${TREVOLO_TESTDATA_DIR:-$root/../shared/testdata}/h264
runs=5
[ -x "$avtool" ] || { echo "no avtool at $avtool (build first)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 1920x1072 stream as a recorder would make it: Main profile, no B-frames.
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1072:rate=25 -frames:v 250 \
  -c:v libx264 -preset veryfast -profile:v main -bf 0 -g 50 -f h264 "$work/1072p.h264"

# Least CPU time (user + system) of $runs runs of a command, in seconds.
best_time() {
  local best="" t times
  local TIMEFORMAT='%U %S'
  for _ in $(seq $runs); do
    times=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
    t=$(echo "$times" | awk '{ printf "%.3f", $1 + $2 }')
    if [ -z "$best" ] || awk -v t="$t" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$t; fi
  done
  echo "$best"
}

printf '%-44s %8s %10s %10s %7s\n' stream pictures "ours fps" "ffmpeg fps" ratio
for f in "$testdata/VID_1280x720_cabac_temporal_direct.264" "$testdata/Zhling_1280x720.264" \
         "$work/1072p.h264"; do
  pictures=$("$avtool" h264 --bench "$f" | awk '/^pictures:/ {print $2}')
  ours=$(best_time "$avtool" h264 --bench "$f")
  theirs=$(best_time ffmpeg -nostdin -v error -threads 1 -i "$f" -f null -)
  awk -v name="$(basename "$f")" -v n="$pictures" -v a="$ours" -v b="$theirs" \
    'BEGIN { printf "%-44s %8d %10.1f %10.1f %7.3f\n", name, n, n / a, n / b, b / a }'
done
