#!/usr/bin/env bash
# The real player as a person uses it, on the X screen the test runs under:
# started from the command line, it shows the picture in its video area,
# advances the time display, seeks where the position slider is clicked,
# falls silent while paused, returns to its idle picture at the end of the
# file, takes a file handed over by a second launch, lets a launch without a
# file only bring it forward, and stays one window when launches race or a
# player was killed. Usage: player_e2e_test.sh TREVOLO AVTOOL
# TREVOLO_TEST_SLOWDOWN (a whole number, 1 when unset) stretches every wait
# limit and settling pause: under AddressSanitizer the player starts, and GTK
# builds its file dialog, several times slower.
set -uo pipefail

TREVOLO=$1
AVTOOL=$2
if [ -z "${DISPLAY:-}" ]; then
  echo "SKIP: needs an X display (the plain test run has one)"
  exit 77
fi

work=$(mktemp -d)
export XDG_RUNTIME_DIR=$work/run
mkdir -m 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=disk SDL_VIDEODRIVER=x11 GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1
slow=${TREVOLO_TEST_SLOWDOWN:-1}
[[ $slow =~ ^[1-9][0-9]*$ ]] || slow=1
failures=0
players=()

cleanup() {
  for p in "${players[@]}"; do kill -9 "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# A pause of $1 seconds, stretched by the slowdown.
settle() {
  sleep "$(awk -v s="$1" -v k="$slow" 'BEGIN {print s * k}')"
}

# Waits up to $2 seconds (stretched) for a line matching $1 in the log $3.
wait_line() {
  local pattern=$1 seconds=$2 log=$3
  for _ in $(seq $((seconds * slow * 20))); do
    grep -qE "$pattern" "$log" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

start_player() {  # log file, then arguments
  local log=$1
  shift
  SDL_DISKAUDIOFILE=$work/sound.raw "$TREVOLO" -v "$@" >/dev/null 2>"$log" &
  echo $!
}

window_of() {  # pid
  timeout $((5 * slow)) xdotool search --sync --onlyvisible --pid "$1" 2>/dev/null | head -1
}

# Mean lightness (0..1) of the video area: the test picture's colour bars
# are far brighter than the dark idle picture.
video_lightness() {  # window id
  import -window "$1" "$work/shot.png" 2>/dev/null
  convert "$work/shot.png" -crop 1078x604+1+35 +repage -colorspace Gray \
    -format "%[fx:mean]" info: 2>/dev/null
}

# Peak absolute sample of the last $2 bytes written to the sound file.
sound_peak() {  # file, bytes
  tail -c "$2" "$1" | od -An -v -td2 -w2 | awk '{v = $1 < 0 ? -$1 : $1; if (v > m) m = v} END {print m + 0}'
}

"$AVTOOL" gen -o "$work/a.av" --size 640x360 --seconds 8 >/dev/null || fail "gen a.av"
"$AVTOOL" gen -o "$work/b.av" --size 320x240 --seconds 3 >/dev/null || fail "gen b.av"

# --- Command line: picture, time, seek, pause, end -------------------------
log=$work/first.log
start_player "$log" "$work/a.av" >"$work/pid"
pid=$(cat "$work/pid")
players+=("$pid")
wait_line '^layout: wide$' 10 "$log" || fail "no first picture (log: $(tr '\n' '|' <"$log"))"
wid=$(window_of "$pid")
[ -n "$wid" ] || fail "no player window"
light=$(video_lightness "$wid")
awk -v l="$light" 'BEGIN {exit !(l > 0.25)}' || fail "video area shows no picture (lightness $light)"
wait_line '^position: 00:00:01/00:00:0[78]$' 5 "$log" || fail "time display does not advance"

# A click at three quarters of the position slider seeks there.
xdotool mousemove --window "$wid" $((50 + 970 * 3 / 4)) 650 click 1
wait_line '^position: 00:00:0[56]/' 5 "$log" || fail "click on the slider did not seek"

# Pause: the sound output falls silent.
xdotool mousemove --window "$wid" $((385 + 34)) $((660 + 23)) click 1
wait_line '^state: paused$' 5 "$log" || fail "pause button did not pause"
# The disk driver's file trails what is played by up to a second.
sleep 1.5
peak=$(sound_peak "$work/sound.raw" 16000)
[ "$peak" -lt 64 ] || fail "sound goes on while paused (peak $peak in the last 0.5 s written)"
xdotool mousemove --window "$wid" $((470 + 34)) $((660 + 23)) click 1
wait_line '^state: stopped$' 8 "$log" || fail "did not play to the end"
settle 0.3
light=$(video_lightness "$wid")
awk -v l="$light" 'BEGIN {exit !(l < 0.15)}' || fail "idle picture not back at the end (lightness $light)"

# --- A second launch hands its file over and exits --------------------------
"$TREVOLO" "$work/b.av" 2>"$work/second.err" || fail "second launch exited $?"
wait_line "^open: $work/b.av\$" 5 "$log" || fail "hand-over did not open b.av"
wait_line '^picture: 320x240$' 5 "$log" || fail "b.av shows no picture"
opens=$(grep -c '^open:' "$log")
"$TREVOLO" 2>>"$work/second.err" || fail "launch without a file exited $?"
settle 0.3
[ "$(grep -c '^open:' "$log")" -eq "$opens" ] || fail "a launch without a file opened something"
kill -0 "$pid" 2>/dev/null || fail "the first player went away"

# --- Killed player: the next one starts; racing launches: one window --------
kill -9 "$pid"
wait "$pid" 2>/dev/null
race=()
for i in 1 2 3; do
  SDL_DISKAUDIOFILE=/dev/null "$TREVOLO" 2>"$work/race$i.log" &
  race+=($!)
  players+=($!)
done
# The two that lose hand over and exit; the winner shows its window.
for _ in $(seq $((4 * slow * 20))); do
  alive=0
  for p in "${race[@]}"; do kill -0 "$p" 2>/dev/null && alive=$((alive + 1)); done
  windows=$(xdotool search --onlyvisible --name '^Trevolo$' 2>/dev/null | wc -l)
  [ "$alive" -eq 1 ] && [ "$windows" -eq 1 ] && break
  sleep 0.05
done
[ "$alive" -eq 1 ] || fail "$alive players after three racing launches (want 1)"
[ "$windows" -eq 1 ] || fail "$windows player windows after racing launches (want 1)"
for p in "${race[@]}"; do kill -TERM "$p" 2>/dev/null; done
for p in "${race[@]}"; do wait "$p" 2>/dev/null; done

# --- The open dialog opens over the player, and the player still exits cleanly
log=$work/chooser.log
start_player "$log" >"$work/pid"
pid=$(cat "$work/pid")
players+=("$pid")
wid=$(window_of "$pid")
# The window maps before the player has set itself up. A click queued during
# set-up reaches SDL in one burst with the window's focus change, and SDL
# drops a click that comes with a focus change. The player answers a
# hand-over only from its running event loop: once a launch without a file
# returns (its socket must exist first), a click a moment later is seen.
for _ in $(seq $((5 * slow * 20))); do
  [ -S "$XDG_RUNTIME_DIR/trevolo.sock" ] && break
  sleep 0.05
done
"$TREVOLO" 2>>"$work/second.err" || fail "launch without a file before the dialog exited $?"
settle 0.1
xdotool mousemove --window "$wid" $((482 + 57)) $((329 + 24)) click 1
dialog=""
for _ in $(seq $((60 * slow))); do
  dialog=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | grep -vx "$wid" | head -1)
  [ -n "$dialog" ] && break
  sleep 0.05
done
[ -n "$dialog" ] || fail "the open button shows no file dialog"
kill -TERM "$pid"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "player with an open file dialog exited with $status on close"

if [ "$failures" -eq 0 ]; then
  echo "player end to end: all checks passed"
  exit 0
fi
echo "player end to end: $failures check(s) failed"
exit 1
