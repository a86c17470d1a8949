#!/usr/bin/env bash
# The real player (`trevolo`, its skinned window) against ffplay and mpv on the same content,
# all under one private Xvfb with SDL's disk sound driver writing to /dev/null (real-time pace,
# no sound card needed):
#   1. Start-up: process start to the first picture of a 720p recording on screen. The same
#      screen poller (bench/player_firstpic.py) watches the X screen for every player, so the
#      method is the same for all; median of REPS interleaved runs after one warm-up each.
#   2. CPU per minute of playback: user + system seconds of the whole player process (all its
#      threads, /usr/bin/time) playing a SECONDS-long 1280x720 and 1920x1072 recording to the
#      end. The X server's own CPU over each run is given beside it, because the software
#      display paths hand it work (XShm/XPutImage copies) that the player does not pay for.
#   3. Idle: `trevolo` with no file, CPU % of one core from 5 s after start for 30 s, and
#      `trevolo` left open after playing a short file to its end, per thread.
# ffplay and mpv get a 1078x604 window, the size of the player's video area in its wide layout.
# ffplay runs twice: as it comes (SDL picks its renderer) and on SDL's software renderer.
# mpv (`--vo=x11`) is skipped with a message when it is not installed.
#
# usage: bench/player_vs_peers.sh [BUILD_DIR] [SECONDS] [REPS]   (default: build, 60, 7)
# PLAYER_BENCH_SECTIONS="startup cpu idle" (the default) chooses what runs.
# Needs Xvfb, xdotool, python3, ffmpeg and ffplay. Recordings are cached in $BENCH_DIR
# (default /tmp/trevolo-player-bench). Not for CI: about 9.5 minutes with the defaults.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-60}
reps=${3:-7}
idle_settle=5
idle_window=30
stopped_file=3      # seconds of the recording played to its end before the stopped idle
stopped_settle=3
stopped_window=20
trevolo=$build/app/trevolo
avtool=$build/tools/avtool
firstpic=$root/bench/player_firstpic.py
cache=${BENCH_DIR:-/tmp/trevolo-player-bench}
peer_w=1078
peer_h=604
screen=1600x900x24
sections=" ${PLAYER_BENCH_SECTIONS:-startup cpu idle} "

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
require Xvfb xdotool python3 ffmpeg ffplay
have_mpv=0
if command -v mpv >/dev/null; then have_mpv=1; fi

work=$(mktemp -d)
idle_pid=""
cleanup() {
  if [ -n "$idle_pid" ]; then kill "$idle_pid" 2>/dev/null || true; fi
  bench_cleanup
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- recordings, display and sound ------------------------------------------------------------

make_recording rec720 1280x720 "$seconds"
make_recording rec1072 1920x1072 "$seconds"
xvfb_start

echo "== machine"
machine_facts

# --- 1. start-up ------------------------------------------------------------------------------

startup_players=(trevolo ffplay ffplay_soft)
[ "$have_mpv" = 1 ] && startup_players+=(mpv)

run_startup() {
  rec=$cache/rec720-${seconds}s
  echo
  echo "== start-up to first picture, 1280x720, median of $reps (one warm-up each, discarded)"
  startup_rounds "$rec" "$reps" "${startup_players[@]}"
  printf '%-26s %12s %12s %10s  %s\n' player "picture ms" "window ms" "poll ms" "runs (picture ms)"
  for p in "${startup_players[@]}"; do
    f=$work/startup_$p
    [ -s "$f" ] || { echo "$p: no runs"; continue; }
    printf '%-26s %12s %12s %10s  %s\n' "$p" "$(field picture_ms <"$f" | median)" \
      "$(field window_ms <"$f" | median)" "$(field poll_ms <"$f" | median)" \
      "$(field picture_ms <"$f" | tr '\n' ' ')"
  done
  f=$work/startup_trevolo
  echo "trevolo stderr: 'picture:' median $(field marker_0_ms <"$f" | median) ms," \
    "'layout: wide' median $(field marker_1_ms <"$f" | median) ms"
}

# --- 2. CPU per minute of playback ------------------------------------------------------------

cpu_row() {  # label video-area command...
  local label=$1 area=$2 trev=0 u s w x
  shift 2
  [ "$1" = "$trevolo" ] && trev=1
  cpu_run "$trev" "$seconds" "$@"
  read -r u s w x _ <"$work/cpu"
  awk -v l="$label" -v a="$area" -v u="$u" -v s="$s" -v w="$w" -v x="$x" -v d="$seconds" \
    -v n="$(dropped)" \
    'BEGIN { printf "%-26s %10s %7.2f %7.2f %8.2f %10.2f %8.1f %9.2f %8s\n",
             l, a, u, s, u + s, (u + s) * 60 / d, w, x, n }'
}

run_cpu() {
  for name in rec720 rec1072; do
    rec=$cache/$name-${seconds}s
    echo
    echo "== CPU, $(basename "$rec") ($seconds s, 25 fps), whole process to its exit"
    printf '%-26s %10s %7s %7s %8s %10s %8s %9s %8s\n' player "video area" user sys "CPU s" \
      "CPU s/min" "wall s" "Xvfb CPU" dropped
    cpu_row "trevolo" 1078x604 "$trevolo" -v "$rec.av"
    cpu_row "ffplay" 1074x604 \
      ffplay -autoexit -x $peer_w -y $peer_h -loglevel error -stats "$rec.mkv"
    cpu_row "ffplay, software renderer" 1074x604 "${soft_env[@]}" \
      ffplay -autoexit -x $peer_w -y $peer_h -loglevel error -stats "$rec.mkv"
    if [ "$have_mpv" = 1 ]; then
      cpu_row "mpv --vo=x11" 1074x604 mpv --no-config --msg-level=all=error,statusline=status \
        --term-status-msg="$mpv_status" --vo=x11 --ao=sdl --geometry=${peer_w}x$peer_h "$rec.mkv"
    else
      echo "mpv is not installed: skipped (apt-get install mpv to include it)"
    fi
  done
}

# --- 3. idle ----------------------------------------------------------------------------------

threads() {  # one line per thread: tid name on-CPU-ns timeslices
  local t
  for t in /proc/"$1"/task/*; do
    echo "${t##*/} $(tr ' ' '_' <"$t/comm") $(cut -d' ' -f1,3 "$t/schedstat")"
  done 2>/dev/null | sort
}

# CPU % of one core of a running trevolo over SECONDS, with each thread's share and wake-ups
# (threads that live through the whole window; /proc/PID/stat also counts the rest).
idle_measure() {  # pid seconds
  local pid=$1 window=$2 t0 t1 x0 x1 n0 n1 before
  before=$(threads "$pid")
  t0=$(proc_ticks "$pid")
  x0=$(proc_ticks "$xvfb_pid")
  n0=$(date +%s%N)
  sleep "$window"
  t1=$(proc_ticks "$pid")
  x1=$(proc_ticks "$xvfb_pid")
  n1=$(date +%s%N)
  awk -v t=$((t1 - t0)) -v x=$((x1 - x0)) -v hz="$tick" -v ns=$((n1 - n0)) \
    'BEGIN { w = ns / 1e9
             printf "trevolo: %.3f %% of one core (%d ticks of 1/%d s in %.1f s;" \
               " target < 0.2 %%)\n", 100 * t / hz / w, t, hz, w
             printf "Xvfb over the same time: %.3f %%\n", 100 * x / hz / w }'
  join <(echo "$before") <(threads "$pid") | awk -v w="$window" \
    '{ ms = ($6 - $3) / 1e6; n = $7 - $4
       if (ms > 0 || n > 0)
         printf "  thread %-7s %-16s %8.2f ms %7.1f wake-ups/s\n", $1, $2, ms, n / w }'
}

idle_start() {  # [FILE]: starts trevolo in the background as idle_pid
  "$trevolo" -v "$@" 2>"$work/idle_err" >/dev/null &
  idle_pid=$!
}
idle_stop() {
  kill "$idle_pid" 2>/dev/null || true
  wait "$idle_pid" 2>/dev/null || true
  idle_pid=""
}

run_idle() {
  echo
  echo "== idle: trevolo with no file, from ${idle_settle} s after start for ${idle_window} s"
  idle_start
  sleep "$idle_settle"
  if ! kill -0 "$idle_pid" 2>/dev/null; then
    echo "trevolo exited early:" >&2
    cat "$work/idle_err" >&2
    exit 1
  fi
  idle_measure "$idle_pid" "$idle_window"
  idle_stop

  # The player stays open after the end of a file; it should be as quiet then as with no file.
  short=$work/short.av
  "$avtool" gen -o "$short" --size 1280x720 --seconds "$stopped_file" --fps 25 >/dev/null
  echo
  echo "== idle: trevolo stopped at the end of a ${stopped_file} s file, from ${stopped_settle} s" \
    "after the stop for ${stopped_window} s"
  idle_start "$short"
  deadline=$(($(date +%s) + stopped_file + 30))
  until grep -q '^state: stopped' "$work/idle_err"; do
    if ! kill -0 "$idle_pid" 2>/dev/null || [ "$(date +%s)" -ge "$deadline" ]; then
      echo "trevolo did not reach the end of the file" >&2
      exit 1
    fi
    sleep 0.2
  done
  sleep "$stopped_settle"
  idle_measure "$idle_pid" "$stopped_window"
  idle_stop
}

for section in startup cpu idle; do
  case $sections in *" $section "*) "run_$section" ;; esac
done
