#!/usr/bin/env bash
# export_speed.sh AVTOOL [WORK_DIR]: how fast `avtool export` runs and how long
# `avtool thumbnail` takes on a one-hour 720p recording just under 2 GiB.
#
# The recording is one generated minute of 720p25 (with AMR-NB 12.2 sound)
# repeated for an hour with the time stamps moved on; each picture gets a
# filler NAL unit so the video runs at about 4.4 Mbit/s, as a camera's would
# (the generated pattern alone compresses to a few hundred kbit/s). Decoders
# skip filler data; the export copies it like any other byte.
#
# Prints one line per run: the export's wall time and its speed in multiples
# of real time, the thumbnail's wall time.
set -euo pipefail

avtool=${1:?usage: export_speed.sh AVTOOL [WORK_DIR]}
work=${2:-$(mktemp -d)}
readonly kSeconds=3600
readonly kTargetBytes=2100000000  # a recording must stay below 2 GiB

mkdir -p "$work"
trap 'rm -f "$work"/hour.av "$work"/minute.av "$work"/out.* "$work"/thumb.png' EXIT

"$avtool" gen -o "$work/minute.av" --size 1280x720 --seconds 60 >/dev/null

python3 - "$work/minute.av" "$work/hour.av" "$kSeconds" "$kTargetBytes" <<'EOF'
import struct, sys
src, dst, seconds, target = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = open(src, 'rb').read()
records, pos = [], 0
while pos < len(data):
    assert data[pos:pos + 4] == b'\xff\xff\xff\x88'
    head = data[pos:pos + 28]
    kind, n, vlen = head[5], *struct.unpack_from('<HI', head, 6)
    end = pos + 28
    if kind == 0:
        lengths = struct.unpack_from('<%dH' % n, data, end)
        end += 2 * n + sum(lengths) + vlen
    records.append((head, data[pos + 28:end]))
    pos = end
blocks = sum(1 for h, _ in records if h[5] == 0)
repeats = seconds // 60
filler = max(0, (target - repeats * len(data)) // (repeats * blocks) - 6)
with open(dst, 'wb') as out:
    out.write(records[0][0])  # the audio format record
    for r in range(repeats):
        shift = r * 60_000_000
        for head, payload in records[1:]:
            n, vlen, vts, ats = struct.unpack_from('<HIQQ', head, 6)
            video_at = len(payload) - vlen
            nal = b'\x00\x00\x00\x01\x0c' + b'\xff' * filler + b'\x80'
            body = payload + nal if vlen else payload
            out.write(head[:6] + struct.pack('<HIQQ', n, len(body) - video_at, vts + shift, ats + shift))
            out.write(body)
EOF
ls -l "$work/hour.av" | awk '{printf "recording: %.2f GB, %d s of 1280x720\n", $5 / 1e9, '"$kSeconds"'}'

run() {
  local label=$1
  shift
  local start end
  start=$(date +%s.%N)
  "$@" >/dev/null
  end=$(date +%s.%N)
  awk -v l="$label" -v s="$start" -v e="$end" -v d="$kSeconds" \
    'BEGIN { printf "%-28s %6.2f s  %5.0fx real time\n", l, e - s, d / (e - s) }'
}
run "export mp4, AAC" "$avtool" export "$work/hour.av" "$work/out.mp4"
run "export mkv, AAC" "$avtool" export "$work/hour.av" "$work/out.mkv"
run "export mp4, AMR-NB copied" "$avtool" export "$work/hour.av" "$work/out.mp4" --audio copy
run "export mp4, no sound" "$avtool" export "$work/hour.av" "$work/out.mp4" --audio none
ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets:format=duration \
  -of compact=p=0:nk=1 "$work/out.mkv" | tr '\n' ' ' | awk '{ print "out.mkv: pictures, duration:", $0 }'
start=$(date +%s.%N)
"$avtool" thumbnail "$work/hour.av" "$work/thumb.png"
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "thumbnail                    %6.3f s\n", e - s }'
