#!/usr/bin/env bash
# Playing a 60 s 1280x720 25 fps recording in a window under Xvfb: total CPU
# time (user + system, the whole process and its threads) of
# `avtool play --window` (the player's own 1080x706 window, the picture in
# its 1078x604 wide video area) against ffplay playing the same two streams
# remuxed into Matroska in a window of the video area's size, both with
# SDL's disk sound driver writing to /dev/null (real-time pace, no sound card
# needed). Both play in real time, so CPU seconds per minute of video is the
# measure.
#
# A/V sync: avtool's --av-log records, for each picture shown, its time
# (since the first picture) against the audio clock at that moment (the
# position of what the sound device is playing). The script prints the
# distribution of picture minus audio clock and the share within 40 ms.
#
# mpv is measured too when it is installed.
#
# usage: bench/play_window_vs_ffplay.sh [BUILD_DIR] [SECONDS]   (default: build, 60)
# Needs Xvfb (xvfb-run), ffmpeg and ffplay. Not for CI: it takes about
# four times SECONDS of wall time plus the encoding of the recording.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
avtool=$build/tools/avtool
size=1280x720
# The player window's wide video area, where a 16:9 picture is shown.
view_w=1078
view_h=604
[ -x "$avtool" ] || { echo "no avtool at $avtool (build first)" >&2; exit 1; }
for tool in xvfb-run ffmpeg ffplay; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$avtool" gen -o "$work/rec.av" --seconds "$seconds" --size "$size" --fps 25 >/dev/null
"$avtool" demux "$work/rec.av" --video "$work/v.264" --audio "$work/a.amr" >/dev/null
ffmpeg -nostdin -v error -framerate 25 -i "$work/v.264" -i "$work/a.amr" -c copy "$work/rec.mkv"

# CPU seconds (user + system) of one run of a command under its own Xvfb.
cpu_seconds() {
  SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null \
    /usr/bin/time -f '%U %S %e' -o "$work/time" \
    xvfb-run -a -s "-screen 0 1600x900x24" "$@" >"$work/out" 2>&1 || true
  awk '{ printf "%.2f %.1f\n", $1 + $2, $3 }' "$work/time"
}

# The X server's own time is included for both (it does the compositing
# work of the software paths); xvfb-run's start-up is the same for both.
read -r ours ours_wall < <(cpu_seconds "$avtool" play --window \
  --audio-driver disk --av-log "$work/sync.log" "$work/rec.av")
grep -E '^(pictures_shown|sound_device|renderer|ended_by):' "$work/out" || true
read -r theirs theirs_wall < <(cpu_seconds ffplay -autoexit -x "$view_w" -y "$view_h" \
  -loglevel error "$work/rec.mkv")
# ffplay again on the display path the player picks when OpenGL is only
# llvmpipe (SDL's software renderer without framebuffer acceleration).
read -r soft soft_wall < <(SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0 \
  cpu_seconds ffplay -autoexit -x "$view_w" -y "$view_h" -loglevel error "$work/rec.mkv")

# mpv (not installed by the project's setup; `apt-get install mpv`) with its
# cheapest X output, XShm through its software path, same size and sound.
mpv_line=""
if command -v mpv >/dev/null; then
  read -r mpvcpu mpv_wall < <(cpu_seconds mpv --no-config --really-quiet --vo=x11 \
    --geometry="${view_w}x${view_h}" --ao=sdl "$work/rec.mkv")
  mpv_line=$(printf '%-26s %10s %10s' "mpv (--vo=x11)" "$mpvcpu" "$mpv_wall")
fi

printf '%-26s %10s %10s\n' player "CPU s" "wall s"
printf '%-26s %10s %10s\n' "avtool play --window" "$ours" "$ours_wall"
printf '%-26s %10s %10s\n' ffplay "$theirs" "$theirs_wall"
printf '%-26s %10s %10s\n' "ffplay, software renderer" "$soft" "$soft_wall"
[ -n "$mpv_line" ] && echo "$mpv_line"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "CPU ratio (ours / ffplay): %.3f\n", a / b }'

# Picture minus audio clock, milliseconds; pictures shown before the sound
# started have no audio clock and are left out.
awk 'NR > 1 && $3 >= 0 { printf "%.3f\n", ($2 - $3) / 1000 }' "$work/sync.log" | sort -g \
  > "$work/offsets"
awk '{ v[NR] = $1; a = $1 < 0 ? -$1 : $1; if (a <= 40) ok++; s += $1 }
     END {
       if (NR == 0) { print "no sync samples"; exit }
       printf "A/V offset (picture - audio), %d pictures: min %.1f p5 %.1f median %.1f p95 %.1f max %.1f mean %.1f ms\n",
         NR, v[1], v[int(NR * 0.05) + 1], v[int(NR * 0.5) + 1], v[int(NR * 0.95)], v[NR], s / NR
       printf "within 40 ms: %.1f%% (target 95%%)\n", 100 * ok / NR
     }' "$work/offsets"
