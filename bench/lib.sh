# shellcheck shell=bash disable=SC2154,SC2034  # the caller sets the variables and reads the rest
# Shared by the player benchmarks (bench/player_vs_peers.sh, bench/compare.sh); sourced, not run.
#
# The caller sets, before using these:
#   root trevolo avtool firstpic  the repository and the programs
#   work                          a private scratch folder (removed by bench_cleanup)
#   cache                         where recordings are kept between runs
#   peer_w peer_h                 the peers' window size (the player's wide video area)
# and installs `trap bench_cleanup EXIT` (plus its own cleanup if it has more to end).
# After xvfb_start: DISPLAY, xvfb_pid, SDL's disk sound driver to /dev/null, a private
# XDG_RUNTIME_DIR (the player's single-instance lock and socket), soft_env and tick.

# Stops the benchmark unless the player and avtool are built and every tool named is installed.
require() {  # tool...
  local f tool
  for f in "$trevolo" "$avtool"; do
    [ -x "$f" ] || { echo "no $f (build trevolo and avtool first)" >&2; exit 1; }
  done
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
  done
}

xvfb_pid=""
timer_pid=""   # the /usr/bin/time wrapping the player of the current CPU run
poller_pid=""  # the screen poller of the current start-up run (it ends its player itself)
screen=${screen:-1600x900x24}

bench_cleanup() {
  if [ -n "$poller_pid" ]; then
    kill "$poller_pid" 2>/dev/null || true
    wait "$poller_pid" 2>/dev/null || true
  fi
  if [ -n "$timer_pid" ]; then
    kill $(pgrep -P "$timer_pid") 2>/dev/null || true
    kill "$timer_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}

# --- recordings -------------------------------------------------------------------------------

# $cache/NAME-Ss.av from `avtool gen`, and the same two streams remuxed into NAME-Ss.mkv for the
# peers (no re-encoding).
make_recording() {  # name size seconds
  local av=$cache/$1-${3}s.av mkv=$cache/$1-${3}s.mkv
  mkdir -p "$cache"
  if [ ! -f "$av" ]; then
    "$avtool" gen -o "$av.tmp" --size "$2" --seconds "$3" --fps 25 >/dev/null
    mv "$av.tmp" "$av"
  fi
  if [ ! -f "$mkv" ]; then
    "$avtool" demux "$av" --video "$work/v.264" --audio "$work/a.amr" >/dev/null
    ffmpeg -nostdin -v error -y -framerate 25 -i "$work/v.264" -i "$work/a.amr" -c copy \
      "$mkv.tmp.mkv"
    mv "$mkv.tmp.mkv" "$mkv"
  fi
}

# --- display and sound ------------------------------------------------------------------------

xvfb_start() {
  exec 3>"$work/display"
  Xvfb -displayfd 3 -screen 0 "$screen" -br -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  exec 3>&-
  for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  DISPLAY=":$(cat "$work/display")"
  export DISPLAY
  export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null
  export XDG_RUNTIME_DIR=$work/run
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  unset SDL_RENDER_DRIVER SDL_FRAMEBUFFER_ACCELERATION
  soft_env=(env SDL_RENDER_DRIVER=software SDL_FRAMEBUFFER_ACCELERATION=0)
  tick=$(getconf CLK_TCK)
}

proc_ticks() {  # user + system clock ticks of a process (and its finished threads)
  awk '{ sub(/^.*\) /, ""); print $12 + $13 }' "/proc/$1/stat"
}

median() {  # [places], default 1
  sort -g | awk -v fmt="%.${1:-1}f\n" '{ v[NR] = $1 }
    END { if (!NR) { print "n/a"; exit }
          printf fmt, (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
field() { tr ' ' '\n' | sed -n "s/^$1=//p"; }

# The machine, one "name: value" line each.
machine_facts() {
  local modified="" v
  echo "system: $(uname -srm)"
  echo "cpu: $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')"
  echo "cores: $(nproc)"
  echo "memory: $(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo)"
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "display: Xvfb $screen; sound: SDL disk driver to /dev/null"
  for v in libsdl2-2.0-0 ffmpeg libavcodec59 mpv xvfb libx264-164; do
    dpkg-query -W -f='${Package} ${Version}\n' "$v" 2>/dev/null | sed 's/^/debian: /' || true
  done
  [ -n "$(git -C "$root" status --porcelain 2>/dev/null)" ] && modified=" (working tree modified)"
  echo "trevolo: $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)$modified"
}

# --- start-up -----------------------------------------------------------------------------------

poll() {  # runs the screen poller on a command; its line goes to $work/poll
  python3 "$firstpic" "$@" >"$work/poll" &
  poller_pid=$!
  local rc=0
  wait "$poller_pid" || rc=$?
  poller_pid=""
  return "$rc"
}
startup_trevolo() {  # recording (without .av/.mkv)
  poll --marker 'picture:' --marker 'layout: wide' -- "$trevolo" -v "$1.av"
}
startup_ffplay() {
  poll -- ffplay -x "$peer_w" -y "$peer_h" -loglevel error "$1.mkv"
}
startup_ffplay_soft() {
  poll -- "${soft_env[@]}" ffplay -x "$peer_w" -y "$peer_h" -loglevel error "$1.mkv"
}
startup_mpv() {
  poll -- mpv --no-config --really-quiet --vo=x11 --ao=sdl \
    --geometry="${peer_w}x$peer_h" "$1.mkv"
}

# Starts each player on the recording once as a warm-up, then `reps` rounds more, interleaved;
# each measured run's poller line is appended to $work/startup_PLAYER.
startup_rounds() {  # recording reps player...
  local rec=$1 reps=$2 round p
  shift 2
  for round in $(seq 0 "$reps"); do
    for p in "$@"; do
      "startup_$p" "$rec" || { echo "$p: no picture ($(cat "$work/poll"))" >&2; continue; }
      [ "$round" = 0 ] || cat "$work/poll" >>"$work/startup_$p"
    done
  done
}

# --- CPU of a whole playback --------------------------------------------------------------------

# Closes the player's window with Escape, once more each half second while it is still there
# (a key sent at the very moment playback stops has been seen to go unanswered). The window may
# go between the search and the key; xdotool's failure then is no failure of the run.
close_trevolo() {
  local wid
  for _ in 1 2 3 4 5 6; do
    kill -0 "$timer_pid" 2>/dev/null || return 0
    wid=$(xdotool search --name "^Trevolo$" 2>/dev/null | sed -n 1p) || true
    if [ -n "$wid" ]; then xdotool key --window "$wid" Escape 2>/dev/null || true; fi
    sleep 0.5
  done
}

# Runs a player under /usr/bin/time and waits for it; writes "user sys wall xvfb_cpu max_rss_kib"
# to $work/cpu and the player's stderr to $work/err (not printed: it must run in this shell, so
# the exit trap can see its pids). The player must end by itself at the end of the file, except
# trevolo, which stays open: it is closed with Escape once it reports it has stopped.
cpu_run() {  # is_trevolo seconds command...
  local trev=$1 x0 x1 deadline=$(($(date +%s) + $2 + 60))
  shift 2
  rm -f "$work/time" "$work/err"
  x0=$(proc_ticks "$xvfb_pid")
  /usr/bin/time -f '%U %S %e %M' -o "$work/time" "$@" >/dev/null 2>"$work/err" &
  timer_pid=$!
  while kill -0 "$timer_pid" 2>/dev/null && [ "$(date +%s)" -lt "$deadline" ]; do
    if [ "$trev" = 1 ] && grep -q '^state: stopped' "$work/err"; then
      close_trevolo
      break
    fi
    sleep 0.2
  done
  for _ in $(seq 30); do kill -0 "$timer_pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$timer_pid" 2>/dev/null; then
    echo "player did not end; killed" >&2
    kill $(pgrep -P "$timer_pid") 2>/dev/null || true
  fi
  wait "$timer_pid" 2>/dev/null || true
  timer_pid=""
  x1=$(proc_ticks "$xvfb_pid")
  if [ "$trev" = 1 ] && ! grep -q '^state: stopped' "$work/err"; then
    echo "trevolo never reported the end of the file" >&2
  fi
  awk -v x=$((x1 - x0)) -v t="$tick" '{ printf "%s %s %s %.2f %s\n", $1, $2, $3, x / t, $4 }' \
    "$work/time" >"$work/cpu"
}

# Pictures the player reports as dropped (ffplay's last status line, mpv's status message).
dropped() {
  tr '\r' '\n' <"$work/err" | awk '
    /fd=/ { sub(/.*fd= */, ""); split($0, f, " "); n = f[1] }
    /mpvdrop=/ { sub(/.*mpvdrop=/, ""); split($0, f, "+"); n = f[1] + f[2] }
    END { print (n == "") ? "n/a" : n }'
}

# mpv's status line carrying its drop counters, for dropped().
# shellcheck disable=SC2016  # mpv expands these properties itself
mpv_status='mpvdrop=${frame-drop-count}+${decoder-frame-drop-count}'
