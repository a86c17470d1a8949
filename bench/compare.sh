#!/usr/bin/env bash
# The performance page: the player (`trevolo`, its skinned window) against ffplay and mpv on the
# same content, every measure in one run under one private Xvfb with SDL's disk sound driver
# writing to /dev/null, written to docs/performance.md with a bar chart of the ratios
# (docs/performance.png, drawn with gnuplot):
#   startup  process start to the first picture of a 720p recording, median of REPS (the screen
#            poller bench/player_firstpic.py, the same for every player)
#   cpu      CPU seconds (user + system, whole process) per minute of playback of 480p, 720p and
#            1920x1072 recordings to their end, and the peak resident memory of the 720p runs
#   ontime   pictures presented within one frame period of their due time and pictures dropped:
#            trevolo's window through `avtool play-window --av-log`; the peers' drop counters
#            from the 720p CPU runs
#   seek     SEEKS random seeks in a 720p recording with a key frame every 2 s, from the release
#            of the position slider (trevolo) or the IPC `seek ... absolute+exact` (mpv
#            --hr-seek=yes) to the target picture on screen (bench/seek_latency.py)
#   wakeups  the engine's own wake-ups and CPU while playing and paused, behind stand-in
#            decoders and sound device (bench/engine_cpu)
# Peers and tools that are not installed are skipped, and the page says so. Every figure on
# the page is measured in the same run; the ratios are what to compare across machines.
#
# usage: bench/compare.sh [BUILD_DIR] [SECONDS] [REPS] [SEEKS]   (default: build, 30, 5, 50)
# COMPARE_SECTIONS="startup cpu ontime seek wakeups" (the default) chooses what runs;
# CPU_REPS (default 3) is how many times each player plays each recording for the CPU figures;
# PERF_PAGE_DIR (default docs/) is where performance.md and performance.png go.
# Recordings are cached in $BENCH_DIR (default /tmp/trevolo-compare): the first run adds about
# three minutes of encoding. About 20 minutes with the defaults on 2 cores. Not for CI.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-30}
reps=${3:-5}
seeks=${4:-50}
cpu_reps=${CPU_REPS:-3}
wake_seconds=20
trevolo=$build/app/trevolo
avtool=$build/tools/avtool
engine_cpu=$build/bench/engine_cpu
firstpic=$root/bench/player_firstpic.py
seeker=$root/bench/seek_latency.py
cache=${BENCH_DIR:-/tmp/trevolo-compare}
page_dir=${PERF_PAGE_DIR:-$root/docs}
peer_w=1078
peer_h=604
fps=25
sections=" ${COMPARE_SECTIONS:-startup cpu ontime seek wakeups} "

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
require Xvfb xdotool python3 ffmpeg /usr/bin/time
skipped=()
have() {  # tool why: whether it is installed; notes the skip when not
  command -v "$1" >/dev/null && return 0
  skipped+=("$1 is not installed: $2 (\`apt-get install $3\`)")
  return 1
}
have_ffplay=0 have_mpv=0 have_gnuplot=0
have ffplay "no ffplay rows" ffmpeg && have_ffplay=1
have mpv "no mpv rows, no seek ratio" mpv && have_mpv=1
have gnuplot "no chart" gnuplot-nox && have_gnuplot=1

work=$(mktemp -d)
trap bench_cleanup EXIT
trap 'exit 130' INT TERM
declare -A R  # results: R[measure.row.player]
started=$(date +%s)

# --- recordings -------------------------------------------------------------------------------

# A 720p recording whose every picture carries its number, readable off the screen: green bands
# at the top and bottom (where the picture is), between them 24 black or white cells (the number
# in 12 bits, then inverted), over a moving test pattern with grain so the pictures cost what
# camera pictures cost to decode. 25 fps, a key frame every 2 s, about 3 Mbit/s; the sound of
# the 720p `avtool gen` recording.
make_seek_recording() {
  local base=$cache/seek720-${seconds}s
  [ -f "$base.av" ] && [ -f "$base.mkv" ] && return
  local code
  code="if(lt(X\\,12)\\,255*mod(floor(N/pow(2\\,11-X))\\,2)\\,255-255*mod(floor(N/pow(2\\,23-X))\\,2))"
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "testsrc2=s=1280x720:r=$fps:d=$seconds" \
    -f lavfi -i "color=c=black:s=24x2:r=$fps:d=$seconds" \
    -filter_complex "[0:v]noise=alls=12:allf=t,drawbox=x=0:y=0:w=iw:h=64:color=0x00C800:t=fill,drawbox=x=0:y=ih-64:w=iw:h=64:color=0x00C800:t=fill[bg];[1:v]format=gray,geq=lum='$code',scale=1280:240:flags=neighbor,format=yuv420p[code];[bg][code]overlay=x=0:y=240,format=yuv420p" \
    -c:v libx264 -preset veryfast -tune zerolatency -profile:v main -g 50 -keyint_min 50 \
    -sc_threshold 0 -b:v 3M -maxrate 3M -bufsize 6M -f h264 "$work/seek.264"
  "$avtool" demux "$cache/rec720-${seconds}s.av" --audio "$work/seek.amr" >/dev/null
  "$avtool" mux --video "$work/seek.264" --audio "$work/seek.amr" --fps $fps -o "$base.av.tmp" \
    >/dev/null
  ffmpeg -nostdin -v error -y -framerate $fps -i "$work/seek.264" -i "$work/seek.amr" -c copy \
    "$base.tmp.mkv"
  mv "$base.av.tmp" "$base.av"
  mv "$base.tmp.mkv" "$base.mkv"
}

echo "== recordings in $cache"
make_recording rec480 848x480 "$seconds"
make_recording rec720 1280x720 "$seconds"
make_recording rec1072 1920x1072 "$seconds"
case $sections in *" seek "*) make_seek_recording ;; esac
xvfb_start
machine_facts >"$work/machine"
echo "trevolo binary: built $(date -u -r "$trevolo" '+%Y-%m-%d %H:%M UTC')" >>"$work/machine"
echo "== machine"
cat "$work/machine"

# --- start-up ---------------------------------------------------------------------------------

run_startup() {
  local rec=$cache/rec720-${seconds}s players=(trevolo) p
  [ "$have_ffplay" = 1 ] && players+=(ffplay ffplay_soft)
  [ "$have_mpv" = 1 ] && players+=(mpv)
  echo
  echo "== start-up to the first picture, 720p, median of $reps (one warm-up each)"
  startup_rounds "$rec" "$reps" "${players[@]}"
  for p in "${players[@]}"; do
    [ -s "$work/startup_$p" ] || continue
    R[startup.$p]=$(field picture_ms <"$work/startup_$p" | median)
    R[startup_runs.$p]=$(field picture_ms <"$work/startup_$p" | paste -sd ' ')
    echo "$p: ${R[startup.$p]} ms (${R[startup_runs.$p]})"
  done
}

# --- CPU per minute, peak memory, the peers' drops ----------------------------------------------

cpu_measure() {  # size player command...: one run, its figures added to the lists
  local size=$1 p=$2 trev=0 u s w x m
  shift 2
  [ "$p" = trevolo ] && trev=1
  cpu_run "$trev" "$seconds" "$@"
  read -r u s w x m <"$work/cpu"
  u=$(awk -v u="$u" -v s="$s" -v d="$seconds" 'BEGIN { printf "%.2f", (u + s) * 60 / d }')
  x=$(awk -v x="$x" -v d="$seconds" 'BEGIN { printf "%.2f", x * 60 / d }')
  L[cpu.$size.$p]+="$u "
  L[xcpu.$size.$p]+="$x "
  L[rss.$size.$p]+="$m "
  L[wall.$size.$p]+="$w "
  [ "$trev" = 1 ] || L[drop.$size.$p]+="$(dropped) "
  echo "$size $p: $u CPU s/min, Xvfb $x s/min, peak RSS $m KiB, wall $w s," \
    "dropped $([ "$trev" = 1 ] && echo n/a || dropped)"
}

# Each player plays each recording cpu_reps times, the players taking turns, so a slow
# stretch of the machine falls on all of them; the page gives the medians (drops: the most).
run_cpu() {
  local size rec rep k p
  declare -gA L=()
  echo
  echo "== CPU per minute of playback ($seconds s recordings, 25 fps), peak RSS, $cpu_reps runs each"
  for size in 480 720 1072; do
    rec=$cache/rec$size-${seconds}s
    for rep in $(seq "$cpu_reps"); do
      cpu_measure "$size" trevolo "$trevolo" -v "$rec.av"
      if [ "$have_ffplay" = 1 ]; then
        cpu_measure "$size" ffplay_soft "${soft_env[@]}" ffplay -autoexit -x $peer_w -y $peer_h \
          -loglevel error -stats "$rec.mkv"
      fi
      if [ "$have_mpv" = 1 ]; then
        cpu_measure "$size" mpv mpv --no-config --msg-level=all=error,statusline=status \
          --term-status-msg="$mpv_status" --vo=x11 --ao=sdl --geometry=${peer_w}x$peer_h "$rec.mkv"
      fi
    done
    for p in trevolo ffplay_soft mpv; do
      for k in cpu xcpu rss wall; do
        [ -n "${L[$k.$size.$p]:-}" ] || continue
        R[$k.$size.$p]=$(tr ' ' '\n' <<<"${L[$k.$size.$p]}" | sed '/^$/d' | median 2)
      done
      [ -n "${L[drop.$size.$p]:-}" ] &&
        R[drop.$size.$p]=$(tr ' ' '\n' <<<"${L[drop.$size.$p]}" | sed '/^$/d' | sort -g | tail -1)
      [ -n "${L[cpu.$size.$p]:-}" ] && echo "$size $p median: ${R[cpu.$size.$p]} CPU s/min" \
        "(runs: ${L[cpu.$size.$p]% })"
    done
  done
  return 0
}

# --- pictures on time -------------------------------------------------------------------------

# The player's window (the same controller, renderer and sound output as trevolo) logs each
# picture it presents with the audio clock at that moment: a picture is due when the clock
# reaches its time stamp, so it is on time when the two are within one frame period. Pictures
# presented before any sound was heard have no clock to be judged by and count as late.
run_ontime() {
  local rec=$cache/rec720-${seconds}s shown
  echo
  echo "== pictures on time, 720p, trevolo's window (avtool play-window --av-log)"
  "$avtool" play-window --audio-driver disk --av-log "$work/sync.log" "$rec.av" \
    >"$work/ontime" 2>/dev/null || true
  shown=$(sed -n 's/^pictures_shown: //p' "$work/ontime")
  R[ontime.total]=$((seconds * fps))
  R[ontime.shown]=${shown:-0}
  R[ontime.ok]=$(awk -v period=$((1000000 / fps)) 'NR > 1 {
      d = $2 - $3; if (d < 0) d = -d; if ($3 >= 0 && d <= period) n++ }
    END { print n + 0 }' "$work/sync.log" 2>/dev/null || echo 0)
  R[ontime.offset]=$(awk 'NR > 1 && $3 >= 0 { print ($2 - $3) / 1000 }' "$work/sync.log" \
    2>/dev/null | median)
  echo "presented ${R[ontime.shown]} of ${R[ontime.total]}, on time ${R[ontime.ok]}," \
    "median picture - clock ${R[ontime.offset]} ms"
}

# --- seek latency -----------------------------------------------------------------------------

seek_run() {  # label player command...
  local p=$1 kind=$2
  shift 2
  python3 "$seeker" --player "$kind" --duration-us "$seek_duration" --seeks "$seeks" --seed 7 \
    --ipc "$work/mpv.sock" --log "$work/seeks_$p.log" -- "$@" >"$work/seek_$p" &
  poller_pid=$!
  wait "$poller_pid" || echo "$p: seek run failed: $(cat "$work/seek_$p")" >&2
  poller_pid=""
  local k
  for k in median_ms p95_ms fixed_ms per_picture_ms ok exact between failed poll_ms; do
    R[seek.$k.$p]=$(field "$k" <"$work/seek_$p")
  done
  cp "$work/seeks_$p.log" "$cache/seeks_$p.log" 2>/dev/null || true
  echo "$p: $(cat "$work/seek_$p")"
}

run_seek() {
  local rec=$cache/seek720-${seconds}s
  seek_duration=$("$avtool" info "$rec.av" | awk '/^duration:/ { print $2 }')
  echo
  echo "== seek latency, 720p, key frame every 2 s, $seeks random seeks (logs in $cache)"
  seek_run trevolo trevolo "$trevolo" -v "$rec.av"
  if [ "$have_mpv" = 1 ]; then
    local mpv_seek=(mpv --no-config --really-quiet --vo=x11 --ao=sdl --hr-seek=yes --keep-open=yes
      --geometry=${peer_w}x$peer_h --input-ipc-server="$work/mpv.sock")
    seek_run mpv mpv "${mpv_seek[@]}" "$rec.mkv"
    # The like-for-like run: trevolo's decoder works on its decode thread alone.
    seek_run mpv1 mpv "${mpv_seek[@]}" --vd-lavc-threads=1 "$rec.mkv"
  fi
}

# --- engine wake-ups --------------------------------------------------------------------------

run_wakeups() {
  local file=$cache/synth-40s.av
  if [ ! -x "$engine_cpu" ]; then
    skipped+=("$engine_cpu is not built: no engine figures (build the engine_cpu target)")
    return
  fi
  [ -f "$file" ] || "$avtool" synth -o "$file" --seconds 40 --video-bytes 20000 >/dev/null
  echo
  echo "== engine wake-ups and CPU, ${wake_seconds} s playing then ${wake_seconds} s paused"
  "$engine_cpu" "$file" "$wake_seconds" | tee "$work/engine"
  R[engine.cpu_playing]=$(sed -n 's/^engine CPU while playing: *\([0-9.]*\)%.*/\1/p' "$work/engine")
  R[engine.cpu_paused]=$(sed -n 's/^engine CPU while paused: *\([0-9.]*\)%.*/\1/p' "$work/engine")
  read -r 'R[engine.wake_playing]' 'R[engine.pictures]' 'R[engine.frames]' < <(sed -n \
    's|^engine wake-ups while playing: \([0-9.]*\)/s (\([0-9.]*\) pictures/s, \([0-9.]*\) sound.*|\1 \2 \3|p' \
    "$work/engine")
  R[engine.wake_paused]=$(sed -n 's|^engine wake-ups while paused: *\([0-9.]*\)/s.*|\1|p' \
    "$work/engine")
  read -r 'R[engine.cpu_floor]' 'R[engine.wake_floor]' < <(sed -n \
    's|^the same wake-ups without the engine: *\([0-9.]*\)% of one core, \([0-9.]*\)/s.*|\1 \2|p' \
    "$work/engine")
}

for section in startup cpu ontime seek wakeups; do
  case $sections in *" $section "*) "run_$section" ;; esac
done
elapsed=$(( ($(date +%s) - started + 30) / 60 ))

# --- the page ---------------------------------------------------------------------------------

v() { echo "${R[$1]:-n/a}"; }  # a result, n/a when it was not measured
num() { [[ "${1:-}" =~ ^-?[0-9]+(\.[0-9]+)?$ ]]; }
ratio() {  # a b: a / b to two places
  if num "$1" && num "$2" && awk -v b="$2" 'BEGIN { exit !(b > 0) }'; then
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'
  else
    echo n/a
  fi
}
smaller() {  # the smaller of the numbers given, n/a when none is one
  local best=n/a x
  for x in "$@"; do
    num "$x" || continue
    if [ "$best" = n/a ] || awk -v a="$x" -v b="$best" 'BEGIN { exit !(a < b) }'; then best=$x; fi
  done
  echo "$best"
}
verdict() {  # value op limit: pass, FAIL or n/a
  num "$1" || { echo n/a; return; }
  awk -v a="$1" -v b="$3" -v op="$2" 'BEGIN {
    ok = (op == "<=") ? a <= b + 1e-9 : (op == ">=") ? a >= b - 1e-9 : 0
    print ok ? "pass" : "**FAIL**" }'
}
chart_rows=()
chart() {  # label ratio target
  num "$2" && chart_rows+=("\"$1\" $2 $3")
  return 0
}
peer_name() {
  case $1 in
    ffplay) echo "ffplay (SDL picks its renderer)" ;;
    ffplay_soft) echo "ffplay (SDL software renderer)" ;;
    mpv) echo "mpv --vo=x11" ;;
    *) echo "$1" ;;
  esac
}
size_name() {
  case $1 in 480) echo 848x480 ;; 720) echo 1280x720 ;; 1072) echo 1920x1072 ;; esac
}
kib_mib() { num "$1" && awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }' || echo n/a; }

mkdir -p "$page_dir"
page=$work/performance.md
{
  echo "# Performance against ffplay and mpv"
  echo
  echo "Written by \`bench/compare.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC') from one run of"
  echo "$elapsed minutes: every figure below comes from that run, and the ratios (trevolo / peer,"
  echo "or trevolo / its budget) are what carries over to another machine. All players ran under"
  echo "one private Xvfb, with SDL's disk sound driver writing to \`/dev/null\` (real-time pace, no"
  echo "sound card); the peers got a ${peer_w}x$peer_h window, the size of trevolo's video area in"
  echo "its wide layout. Method and older figures: [bench-player.md](bench-player.md)."
  echo
  echo "![trevolo / peer and trevolo / budget, one bar per measure](performance.png)"
  echo
  echo "Run it again with \`bench/compare.sh BUILD_DIR [SECONDS] [REPS] [SEEKS]\`."
  echo
  echo "## Machine"
  echo
  sed 's/^/- /' "$work/machine"
  if [ "${#skipped[@]}" -gt 0 ]; then
    echo
    echo "Skipped:"
    echo
    printf -- '- %s\n' "${skipped[@]}"
  fi

  case $sections in *" startup "*)
    best=$(smaller "$(v startup.ffplay)" "$(v startup.ffplay_soft)")
    r=$(ratio "$(v startup.trevolo)" "$best")
    chart "start-up" "$r" 1.0
    echo
    echo "## Start-up to the first picture"
    echo
    echo "Process start to the first grab of the screen that shows the 720p test pattern, median"
    echo "of $reps runs per player after one warm-up, interleaved (ms). Target: no slower than"
    echo "ffplay (the faster of its two renderers)."
    echo
    echo "| player | first picture (ms) | runs (ms) |"
    echo "|---|---:|---|"
    for p in trevolo ffplay ffplay_soft mpv; do
      [ -n "${R[startup.$p]:-}" ] || continue
      echo "| $(peer_name $p) | ${R[startup.$p]} | ${R[startup_runs.$p]} |"
    done
    echo
    echo "| measure | trevolo | faster ffplay | ratio | target | result |"
    echo "|---|---:|---:|---:|---:|---|"
    echo "| start-up | $(v startup.trevolo) | $best | $r | <= 1.00 | $(verdict "$r" "<=" 1) |"
  ;; esac

  case $sections in *" cpu "*)
    echo
    echo "## CPU per minute of playback"
    echo
    echo "User + system seconds of the whole player process (all its threads, \`/usr/bin/time\`)"
    echo "playing a $seconds s, 25 fps recording to its end, per minute of playback; the median of"
    echo "$cpu_reps runs per player, the players taking turns. The recordings"
    echo "are \`avtool gen\`'s test pattern (H.264 Main, a key frame every 2 s, AMR-NB 12.2 kbit/s),"
    echo "remuxed for the peers without re-encoding. Target: <= 0.8 of the cheaper peer."
    echo
    echo "| recording | trevolo | ffplay (software renderer) | mpv --vo=x11 | trevolo / cheaper | target | result |"
    echo "|---|---:|---:|---:|---:|---:|---|"
    for size in 480 720 1072; do
      best=$(smaller "$(v cpu.$size.ffplay_soft)" "$(v cpu.$size.mpv)")
      r=$(ratio "$(v cpu.$size.trevolo)" "$best")
      chart "CPU ${size}p" "$r" 0.8
      echo "| $(size_name $size) | $(v cpu.$size.trevolo) | $(v cpu.$size.ffplay_soft) | $(v cpu.$size.mpv) |" \
        "$r | <= 0.80 | $(verdict "$r" "<=" 0.8) |"
    done
    echo
    echo "The X server's CPU over the same runs (s per minute), apart because the software display"
    echo "paths hand it the picture copies (XShm) that the players do not pay for:"
    echo
    echo "| recording | during trevolo | during ffplay | during mpv |"
    echo "|---|---:|---:|---:|"
    for size in 480 720 1072; do
      echo "| $(size_name $size) | $(v xcpu.$size.trevolo) | $(v xcpu.$size.ffplay_soft) | $(v xcpu.$size.mpv) |"
    done
    m_t=$(kib_mib "$(v rss.720.trevolo)")
    m_f=$(kib_mib "$(v rss.720.ffplay_soft)")
    m_m=$(kib_mib "$(v rss.720.mpv)")
    r=$(ratio "$(v rss.720.trevolo)" "$(smaller "$(v rss.720.ffplay_soft)" "$(v rss.720.mpv)")")
    chart "peak RSS 720p" "$r" 1.0
    echo
    echo "## Peak resident memory, playing 720p"
    echo
    echo "\`/usr/bin/time\` %M of the 720p runs above, median (MiB). Target: no more than the cheaper peer."
    echo
    echo "| trevolo | ffplay (software renderer) | mpv --vo=x11 | trevolo / cheaper | target | result |"
    echo "|---:|---:|---:|---:|---:|---|"
    echo "| $m_t | $m_f | $m_m | $r | <= 1.00 | $(verdict "$r" "<=" 1) |"
  ;; esac

  case $sections in *" ontime "*)
    total=$(v ontime.total)
    share=n/a
    num "$(v ontime.shown)" && [ "$(v ontime.shown)" -gt 0 ] &&
      share=$(awk -v a="$(v ontime.ok)" -v b="$(v ontime.shown)" 'BEGIN { printf "%.1f", 100 * a / b }')
    dropped_t=n/a
    num "$(v ontime.shown)" && dropped_t=$((total - ${R[ontime.shown]}))
    echo
    echo "## Pictures on time, playing 720p"
    echo
    echo "trevolo: its window (the player's controller, renderer and sound output) run by"
    echo "\`avtool play-window --av-log\`, which logs each picture as it is presented with the audio"
    echo "clock at that moment; a picture is due when the clock reaches its time stamp and on time"
    echo "within one frame period (40 ms) of it. Pictures presented before any sound was heard"
    echo "count as late. Dropped: pictures of the file never presented. The peers report only"
    echo "their drops (ffplay's \`fd=\`, mpv's frame-drop-count + decoder-frame-drop-count, from the"
    echo "720p CPU runs). Target: >= 99% on time (the chart shows the late share / 1%), none dropped."
    echo
    echo "| player | pictures | presented | on time | dropped | result |"
    echo "|---|---:|---:|---:|---:|---|"
    res=n/a
    if num "$share" && num "$dropped_t"; then
      res=$(verdict "$share" ">=" 99)
      chart "pictures late" "$(ratio "$(awk -v s="$share" 'BEGIN { print 100 - s }')" 1)" 1.0
      [ "$dropped_t" -gt 0 ] && res="**FAIL**"
    fi
    echo "| trevolo | $total | $(v ontime.shown) | $(v ontime.ok) ($share%) | $dropped_t | $res |"
    [ "$have_ffplay" = 1 ] && echo "| ffplay (software renderer) | $total | | | $(v drop.720.ffplay_soft) | |"
    [ "$have_mpv" = 1 ] && echo "| mpv --vo=x11 | $total | | | $(v drop.720.mpv) | |"
    echo
    echo "Median of trevolo's picture time minus the audio clock at presentation (positive: the"
    echo "picture comes early): $(v ontime.offset) ms."
  ;; esac

  case $sections in *" seek "*)
    echo
    echo "## Seek latency"
    echo
    echo "$seeks seeks (fixed random seed) in a 1280x720, 25 fps, ~3 Mbit/s recording with a key"
    echo "frame every 2 s, each to a picture at least 3 s from the one on screen, while playing."
    echo "Every picture carries its number in black and white cells that \`bench/seek_latency.py\`"
    echo "reads off the screen (one row grabbed about every $(v seek.poll_ms.trevolo) ms). trevolo:"
    echo "its position slider is dragged with XTest and released at a random pixel; the clock"
    echo "starts at the release and stops at the first grab showing the first picture at or after"
    echo "the position the slider computes for that pixel. mpv (\`--hr-seek=yes\`, the same bits in"
    echo "Matroska): \`seek T absolute+exact\` on its IPC socket, T the target picture's time; the"
    echo "clock starts at the send. Target: no slower than mpv."
    echo
    echo "| measure | trevolo | mpv --hr-seek=yes | trevolo / mpv | target | result |"
    echo "|---|---:|---:|---:|---:|---|"
    for k in median p95; do
      r=$(ratio "$(v seek.${k}_ms.trevolo)" "$(v seek.${k}_ms.mpv)")
      chart "seek $k" "$r" 1.0
      echo "| $k (ms) | $(v seek.${k}_ms.trevolo) | $(v seek.${k}_ms.mpv) | $r | <= 1.00 |" \
        "$(verdict "$r" "<=" 1) |"
    done
    for k in fixed per_picture; do
      label="fixed part (ms)"
      [ $k = per_picture ] && label="per picture decoded forward (ms)"
      echo "| $label | $(v seek.${k}_ms.trevolo) | $(v seek.${k}_ms.mpv) |" \
        "$(ratio "$(v seek.${k}_ms.trevolo)" "$(v seek.${k}_ms.mpv)") | | |"
    done
    echo
    echo "The last two rows split the latency with a straight line through latency against the"
    echo "target's distance from the key frame before it (0 to 49 pictures): what a seek costs"
    echo "besides decoding forward, and what each picture decoded forward adds. Decoding that"
    echo "overlaps some other wait (for the sound, for the display) does not show in the slope."
    echo
    echo "mpv decodes with as many threads as the machine has cores, one picture on each while"
    echo "the next waits for rows of it; trevolo's decoder runs on the engine's video decode"
    echo "thread alone. The same $seeks seeks with mpv held to one decoder thread"
    echo "(\`--vd-lavc-threads=1\`), the same work as trevolo's:"
    echo
    echo "| measure | trevolo | mpv, one decoder thread | trevolo / mpv |"
    echo "|---|---:|---:|---:|"
    for k in median p95 fixed per_picture; do
      label="$k (ms)"
      [ $k = fixed ] && label="fixed part (ms)"
      [ $k = per_picture ] && label="per picture decoded forward (ms)"
      echo "| $label | $(v seek.${k}_ms.trevolo) | $(v seek.${k}_ms.mpv1) |" \
        "$(ratio "$(v seek.${k}_ms.trevolo)" "$(v seek.${k}_ms.mpv1)") |"
    done
    echo
    echo "Seeks that reached their target: trevolo $(v seek.ok.trevolo) of $seeks, mpv"
    echo "$(v seek.ok.mpv). The first target-range picture read was the target itself: trevolo"
    echo "$(v seek.exact.trevolo), mpv $(v seek.exact.mpv) (otherwise the target was on screen"
    echo "for less than one grab, or not at all). Seeks that showed some other picture on the way:"
    echo "trevolo $(v seek.between.trevolo), mpv $(v seek.between.mpv)."
  ;; esac

  case $sections in *" wakeups "*)
    budget=n/a
    num "$(v engine.pictures)" && budget=$(awk -v p="$(v engine.pictures)" \
      -v f="$(v engine.frames)" 'BEGIN { printf "%.1f", 3 * p + 2 * f }')
    echo
    echo "## The engine's own cost"
    echo
    echo "\`bench/engine_cpu\` plays a 25 fps recording in real time behind stand-in decoders"
    echo "that do nothing and a stand-in sound device that takes one 20 ms frame every 20 ms, for"
    echo "$wake_seconds s, then holds it paused for $wake_seconds s. Wake-ups: voluntary context"
    echo "switches of every thread but the main one. Budget while playing: 3 per picture + 2 per"
    echo "sound frame handed out ($(v engine.pictures) pictures/s, $(v engine.frames) sound frames/s)."
    echo
    echo "| measure | measured | budget | measured / budget | result |"
    echo "|---|---:|---:|---:|---|"
    rows=("wake-ups playing (/s)|engine.wake_playing|$budget"
          "wake-ups paused (/s)|engine.wake_paused|10"
          "CPU playing (% of a core)|engine.cpu_playing|0.3"
          "CPU paused (% of a core)|engine.cpu_paused|0.05")
    for row in "${rows[@]}"; do
      IFS='|' read -r label key limit <<<"$row"
      r=$(ratio "$(v "$key")" "$limit")
      chart "engine ${label%% (*}" "$r" 1.0
      echo "| $label | $(v "$key") | $limit | $r | $(verdict "$r" "<=" 1) |"
    done
    echo
    echo "What the machine's scheduler alone costs for wake-ups at that rate: the same $wake_seconds s"
    echo "with threads that only wait for one another and for the same due times (a device woken"
    echo "every 20 ms, a picture thread at every 40 ms due time, each waking a decoder; a reader),"
    echo "no engine. The engine's CPU above this floor is what its own code costs."
    echo
    echo "| measure | engine | the same wake-ups alone | engine / alone |"
    echo "|---|---:|---:|---:|"
    echo "| wake-ups playing (/s) | $(v engine.wake_playing) | $(v engine.wake_floor) |" \
      "$(ratio "$(v engine.wake_playing)" "$(v engine.wake_floor)") |"
    echo "| CPU playing (% of a core) | $(v engine.cpu_playing) | $(v engine.cpu_floor) |" \
      "$(ratio "$(v engine.cpu_playing)" "$(v engine.cpu_floor)") |"
  ;; esac
} >"$page"

cp "$page" "$page_dir/performance.md"
echo
echo "== wrote $page_dir/performance.md"

if [ "$have_gnuplot" = 1 ] && [ "${#chart_rows[@]}" -gt 0 ]; then
  printf '%s\n' "${chart_rows[@]}" | awk '{ c = ($NF >= $(NF - 1)) ? 3050327 : 12597547  # green, red
    print $0, c }' >"$work/chart.dat"
  n=${#chart_rows[@]}
  gnuplot <<EOF
set terminal pngcairo size 960,520 font "DejaVu Sans,10"
set output "$work/performance.png"
set title "trevolo / peer (or / budget), one run: lower is better; green meets its target"
set style fill solid 0.85 border -1
set boxwidth 0.7
set xrange [-0.6:$n - 0.4]
set yrange [0:*]
set offsets 0, 0, graph 0.1, 0
set grid ytics
set xtics rotate by -30 nomirror
set ylabel "ratio"
set key outside top center horizontal
plot "$work/chart.dat" using 0:2:4:xtic(1) with boxes lc rgb variable notitle, \
     "" using 0:2:(sprintf("%.2f", \$2)) with labels offset 0,0.8 notitle, \
     0.8 with lines dt 2 lw 2 lc rgb "#d08000" title "0.8: CPU target", \
     1.0 with lines lw 2 lc rgb "#202020" title "1.0: other targets"
EOF
  cp "$work/performance.png" "$page_dir/performance.png"
  echo "== wrote $page_dir/performance.png"
fi
