#!/usr/bin/env python3
"""Writes the seed corpus of every fuzz target into fuzz/corpus/<target>/.

Recordings, H.264 and AMR seeds come from `avtool gen` (small synthetic
recordings) and `avtool demux`; damaged variants and the other layouts are
derived here. Run once after changing the generators:
    python3 fuzz/make_corpus.py path/to/avtool
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
AMR_MAGIC = b"#!AMR\n"
# Speech bits of AMR-NB frame types 0..8 (eight modes, SID).
AMR_BITS = [95, 103, 118, 134, 148, 159, 204, 244, 39]


def run(*args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def storage_frames(amr):
    """Splits an AMR storage file into its frames."""
    assert amr.startswith(AMR_MAGIC)
    data, frames, at = amr[len(AMR_MAGIC):], [], 0
    while at < len(data):
        ft = (data[at] >> 3) & 0xF
        size = 1 + ((AMR_BITS[ft] + 7) // 8 if ft <= 8 else 0)
        frames.append(data[at:at + size])
        at += size
    return frames


def to_header3(frame):
    ft, q = (frame[0] >> 3) & 0xF, (frame[0] >> 2) & 1
    return bytes([(ft << 4) | (q << 3), 0, 0]) + frame[1:]


def to_if2(frame):
    ft = (frame[0] >> 3) & 0xF
    bits = []
    for byte in frame[1:]:
        bits += [(byte >> (7 - i)) & 1 for i in range(8)]
    bits = bits[:AMR_BITS[ft]] if ft <= 8 else []
    bits = [ft >> i & 1 for i in range(4)] + bits  # FT in the low nibble of byte 0
    bits += [0] * (-len(bits) % 8)
    return bytes(sum(bits[b + i] << i for i in range(8)) for b in range(0, len(bits), 8))


def nal_units(stream):
    """The NAL units of an Annex B stream, start codes included."""
    starts, i = [], 0
    while True:
        i = stream.find(b"\x00\x00\x01", i)
        if i < 0:
            break
        starts.append(i - 1 if i > 0 and stream[i - 1] == 0 else i)
        i += 3
    return [stream[s:e] for s, e in zip(starts, starts[1:] + [len(stream)])]


def main():
    avtool = sys.argv[1]
    for target in os.listdir(CORPUS) if os.path.isdir(CORPUS) else []:
        shutil.rmtree(os.path.join(CORPUS, target))
    tmp = tempfile.mkdtemp()
    recordings = {
        "baseline": ["--fps", "10", "--seconds", "0.5", "--gop", "3"],
        "high_interlaced": ["--fps", "25", "--seconds", "0.3", "--profile", "high",
                            "--interlaced", "--audio", "sweep"],
        "main_silent": ["--fps", "5", "--seconds", "0.6", "--profile", "main", "--audio", "none"],
        "main_amr7": ["--fps", "15", "--seconds", "0.3", "--profile", "main", "--amr-mode", "7"],
    }
    streams = {}
    for name, args in recordings.items():
        av = os.path.join(tmp, name + ".av")
        run(avtool, "gen", "-o", av, "--size", "96x64", *args)
        video, audio = os.path.join(tmp, name + ".h264"), os.path.join(tmp, name + ".amr")
        run(avtool, "demux", av, "--video", video, "--audio", audio)
        data = open(av, "rb").read()
        streams[name] = (data, open(video, "rb").read(),
                         open(audio, "rb").read() if os.path.exists(audio) else b"")
        for target in ("fuzz_record", "fuzz_index"):
            write(target, name + ".av", data)

    # Damaged recordings: cut inside the last block, garbage between blocks,
    # a media header with absurd lengths, a file of bare headers.
    base = streams["baseline"][0]
    marker = b"\xff\xff\xff\x88"
    second = base.find(marker, base.find(marker, 100) + 1)
    damaged = {
        "cut.av": base[:len(base) - 100],
        "garbage.av": base[:second] + b"\xff\xff\x00\xff\xff\xff" * 5 + base[second:],
        "lengths.av": base[:second + 6] + struct.pack("<HI", 0xFFFF, 0x7FFFFFFF) + base[second + 12:],
        "bare.av": (marker + b"\x00\x01" + struct.pack("<HHxxxxxxxxxxxxxxxxxx", 0x2000, 0)) * 3,
    }
    for name, data in damaged.items():
        for target in ("fuzz_record", "fuzz_index"):
            write(target, name, data)
    # Seek and pause operations from the last bytes (see fuzz_record.cpp).
    write("fuzz_record", "ops.av", streams["main_silent"][0] + bytes([0x40, 0x82, 0x03]))

    # H.264: the first byte picks deinterlacing (1), threads (2), size limits (4, 8).
    for name, options in (("baseline", 0x00), ("high_interlaced", 0x01),
                          ("main_silent", 0x02), ("main_amr7", 0x0B)):
        write("fuzz_h264", name + ".h264", bytes([options]) + streams[name][1])
    write("fuzz_h264", "too_large.h264", bytes([0x04]) + streams["baseline"][1])

    # SPS parser: the parameter sets and the head of the first slices.
    for name in ("baseline", "high_interlaced", "main_silent"):
        units = nal_units(streams[name][1])
        write("fuzz_sps", name + ".h264", b"".join(u[:48] for u in units[:6]))

    # AMR: the first byte picks the layout; frames follow.
    frames = storage_frames(streams["baseline"][2]) + storage_frames(streams["main_amr7"][2])
    frames = frames[:12] + [b"\x7c", b"\x44" + bytes(5)]  # no data, SID
    write("fuzz_amr", "storage.amr", b"\x00" + b"".join(frames))
    write("fuzz_amr", "header3.amr", b"\x01" + b"".join(to_header3(f) for f in frames))
    write("fuzz_amr", "if2.amr", b"\x02" + b"".join(to_if2(f) for f in frames))
    write("fuzz_amr", "bad_layout.amr", b"\x03" + frames[0])

    # Hand-over messages: a path, the empty message, one cut short, one too
    # long, one with a NUL, trailing bytes.
    path = b"/home/user/Videos/camera 1/2024-05-01 08.00.00.av"
    write("fuzz_handover", "path", struct.pack("<I", len(path)) + path)
    write("fuzz_handover", "empty", struct.pack("<I", 0))
    write("fuzz_handover", "short", struct.pack("<I", len(path) + 5) + path)
    write("fuzz_handover", "too_long", struct.pack("<I", 4097) + b"a" * 64)
    write("fuzz_handover", "nul", struct.pack("<I", 5) + b"/a\x00.b")
    write("fuzz_handover", "trailing", struct.pack("<I", 3) + b"/ab" + b"more")
    shutil.rmtree(tmp)


if __name__ == "__main__":
    main()
