#!/usr/bin/env python3
"""Seek latency of a player, from the seek request to the target picture on the X screen.

usage: seek_latency.py --player trevolo|mpv --duration-us US [--seeks N] [--seed S]
                       [--ipc SOCKET] [--log FILE] -- COMMAND [ARGS...]

The recording must be the one bench/compare.sh makes for it: 25 fps, time stamps from 0, every
picture with green bands across its top and bottom and, between them, a row of 24 black or white
cells: the picture's number in 12 bits, then the same 12 bits inverted (a torn or blurred read
fails the check and is ignored). Reading one screen row through the cells tells which picture is
on screen, for any player, at any scale.

COMMAND is started in its own process group; once it plays, the tool makes N seeks (fixed random
seed) to targets at least 3 s away from the picture on screen, each about half a second after the
previous one arrived, and times each from its request to the first grab showing the target
picture (or one of the 10 after it, in case a grab fell between them):

  trevolo: the position slider is dragged with XTest (press on the channel, two moves, release
           at a random pixel); the clock starts at the release. The target is the first picture
           at or after the position the slider computes for that pixel (the control's geometry:
           970-pixel channel at (50, 640) in the window, 20-pixel thumb, range 0..duration/10 ms).
  mpv:     `seek T absolute+exact` on the --input-ipc-server socket (--ipc), T the target
           picture's time; the clock starts at the send.

Prints one line of key=value pairs: seeks, ok, median_ms, p95_ms, max_ms, fixed_ms and
per_picture_ms (a straight line through latency against the target's distance from its key
frame, kGop pictures apart: what a seek costs beside decoding forward, and what each picture
decoded forward adds), exact (first target read was the target itself), between (seeks where a
picture other than the old run and the target appeared first), poll_ms. --log writes one line
per seek. Exit status 1 if the player never showed a readable picture.
"""

import ctypes
import ctypes.util
import json
import math
import os
import random
import signal
import socket
import subprocess
import sys
import threading
import time

sys.dont_write_bytecode = True  # no __pycache__ in the tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from player_firstpic import Screen, Stop  # noqa: E402  (the same grabber as the start-up times)

kFps = 25
kFrameUs = 1000000 // kFps
kGop = 50  # pictures from one key frame to the next
kBits = 12
kCells = 2 * kBits
kBandRows = 100  # green samples (every 4th pixel) a row of a green band has at least
kMinDistance = 3 * kFps  # pictures between the one on screen and a target
kAccept = 10  # pictures after the target that still count as arrival
kPollPause = 0.002
kSettle = 0.5  # seconds of playing after a target arrived before the next seek
# The position slider in the player window (window coordinates) and its thumb.
kSliderX, kSliderY, kSliderW, kSliderH, kThumbW = 50, 640, 970, 20, 20
kVideoX, kVideoY = 1, 35  # the wide video area's corner


def Percentile(values, p):
  """Nearest-rank percentile of a non-empty list."""
  v = sorted(values)
  return v[max(0, math.ceil(p / 100.0 * len(v)) - 1)]


def Fit(xs, ys):
  """Least-squares line through (x, y): (intercept, slope)."""
  n = len(xs)
  mx, my = sum(xs) / n, sum(ys) / n
  var = sum((x - mx) ** 2 for x in xs)
  slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / var if var else 0.0
  return my - slope * mx, slope


class Reader:
  """Reads the picture number off the screen once the picture's place is known."""

  def __init__(self, screen):
    self.screen = screen
    self.left = self.top = self.width = self.height = None

  def Locate(self, deadline):
    """Finds the picture by its green bands (the first and last sampled rows with many green
    samples); returns False if no picture shows before the deadline."""
    while time.monotonic() < deadline:
      blue, green, red = self.screen.grab()
      cols = (self.screen.width + 3) // 4
      rows = []
      for r in range(len(green) // cols):
        xs = [i for i in range(cols)
              if green[r * cols + i] >= 100 and red[r * cols + i] <= 80 and blue[r * cols + i] <= 80]
        if len(xs) >= kBandRows:
          rows.append((r, xs[0], xs[-1]))
      if len(rows) >= 2 and rows[-1][0] - rows[0][0] > 40:
        self.top, self.height = rows[0][0] * 4, (rows[-1][0] - rows[0][0] + 1) * 4
        self.left = min(r[1] for r in rows) * 4
        self.width = (max(r[2] for r in rows) - min(r[1] for r in rows) + 1) * 4
        self.image = self.screen.ShmImage(self.width, 1)
        if not self.image:
          raise SystemExit("the X server has no MIT-SHM")
        self.xs = [int((i + 0.5) * self.width / kCells) for i in range(kCells)]
        return True
      time.sleep(0.05)
    return False

  def Frame(self):
    """The number of the picture on screen, or None when the cells do not check out."""
    raw = self.screen.GrabInto(self.image, self.left, self.top + self.height // 2)
    bits = [1 if raw[4 * x + 1] > 128 else 0 for x in self.xs]
    n = 0
    for i in range(kBits):
      if bits[i] == bits[kBits + i]:
        return None
      n = 2 * n + bits[i]
    return n


class Xtest:
  def __init__(self, screen):
    self.x11 = screen.x11
    self.display = screen.display
    self.lib = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
    self.lib.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                              ctypes.c_int, ctypes.c_ulong]
    self.lib.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                              ctypes.c_ulong]
    self.x11.XFlush.argtypes = [ctypes.c_void_p]

  def Move(self, x, y):
    self.lib.XTestFakeMotionEvent(self.display, -1, x, y, 0)
    self.x11.XFlush(self.display)

  def Button(self, press):
    self.lib.XTestFakeButtonEvent(self.display, 1, 1 if press else 0, 0)
    self.x11.XFlush(self.display)


class TrevoloSeeker:
  """Seeks by dragging the player's position slider."""

  def __init__(self, screen, duration_us, rng):
    self.input = Xtest(screen)
    self.rng = rng
    self.span = duration_us // 10000  # the slider's range maximum (its minimum is 0)
    self.travel = kSliderW - kThumbW
    wid = subprocess.run(["xdotool", "search", "--name", "^Trevolo$"], capture_output=True,
                         text=True).stdout.split()
    if not wid:
      raise SystemExit("no Trevolo window")
    geo = dict(line.split("=", 1) for line in subprocess.run(
        ["xdotool", "getwindowgeometry", "--shell", wid[0]], capture_output=True,
        text=True).stdout.split())
    self.wx, self.wy = int(geo["X"]), int(geo["Y"])

  def Position(self, centre):
    """The slider position for a thumb centre (as the control computes it)."""
    along = float(centre) - kThumbW // 2
    return int(math.trunc(along / self.travel * self.span))

  def Centre(self, position):
    return int(math.trunc(position / self.span * self.travel)) + kThumbW // 2

  def Target(self, position):
    """The first picture at or after a slider position (10 ms units)."""
    return -(-position * 10000 // kFrameUs)

  def Seek(self, current, last):
    choices = [c for c in range(kThumbW // 2, kSliderW - kThumbW // 2 + 1)
               if kFps <= self.Target(self.Position(c)) <= last - 4 * kFps
               and abs(self.Target(self.Position(c)) - current) >= kMinDistance]
    release = self.rng.choice(choices)
    thumb = self.Centre(current * kFrameUs // 10000)
    # Pressed beside the thumb, not on it, so the thumb centre jumps to the pointer.
    press = release + self.rng.choice((-1, 1)) * self.rng.randint(20, 60)
    press = min(max(press, 0), kSliderW - 1)
    if abs(press - thumb) <= kThumbW:
      press = release
    y = self.wy + kSliderY + kSliderH // 2
    self.input.Move(self.wx + kSliderX + press, y)
    time.sleep(0.02)
    self.input.Button(True)
    time.sleep(0.03)
    self.input.Move(self.wx + kSliderX + (press + release) // 2, y)
    time.sleep(0.03)
    self.input.Move(self.wx + kSliderX + release, y)
    time.sleep(0.03)
    start = time.monotonic()
    self.input.Button(False)
    return start, self.Target(self.Position(release))


class MpvSeeker:
  """Seeks with mpv's `seek T absolute+exact` over its JSON IPC socket."""

  def __init__(self, path, rng):
    self.rng = rng
    self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    deadline = time.monotonic() + 10
    while True:
      try:
        self.sock.connect(path)
        break
      except OSError:
        if time.monotonic() > deadline:
          raise SystemExit("cannot connect to mpv's socket " + path)
        time.sleep(0.05)
    self.sock.setblocking(False)

  def Drain(self):
    try:
      while self.sock.recv(65536):
        pass
    except BlockingIOError:
      pass

  def Seek(self, current, last):
    choices = [f for f in range(kFps, last - 4 * kFps + 1) if abs(f - current) >= kMinDistance]
    target = self.rng.choice(choices)
    self.Drain()
    line = json.dumps({"command": ["seek", "%.3f" % (target * kFrameUs / 1e6),
                                   "absolute+exact"]}) + "\n"
    start = time.monotonic()
    self.sock.sendall(line.encode())
    return start, target


def ParseArgs(argv):
  opts = {"player": None, "duration_us": None, "seeks": 50, "seed": 1, "ipc": None, "log": None}
  while argv and argv[0] != "--":
    opt = argv.pop(0).lstrip("-").replace("-", "_")
    if opt not in opts or not argv:
      raise SystemExit(__doc__)
    opts[opt] = argv.pop(0)
  if len(argv) < 2 or opts["player"] not in ("trevolo", "mpv") or not opts["duration_us"]:
    raise SystemExit(__doc__)
  if opts["player"] == "mpv" and not opts["ipc"]:
    raise SystemExit("mpv needs --ipc SOCKET (and --input-ipc-server=SOCKET in its command)")
  return opts, argv[1:]


def WaitForLine(lines, prefix, proc, deadline):
  while time.monotonic() < deadline and proc.poll() is None:
    if any(line.startswith(prefix) for line in list(lines)):
      return True
    time.sleep(0.05)
  return False


def ReadFrame(reader, deadline):
  while time.monotonic() < deadline:
    f = reader.Frame()
    if f is not None:
      return f
    time.sleep(kPollPause)
  return None


def main():
  opts, command = ParseArgs(sys.argv[1:])
  seeks, rng = int(opts["seeks"]), random.Random(int(opts["seed"]))
  last = int(opts["duration_us"]) // kFrameUs
  screen = Screen()
  signal.signal(signal.SIGTERM, lambda *_: sys.exit(2))  # the player is ended on the way out
  lines = []
  proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, start_new_session=True)
  threading.Thread(target=lambda: [lines.append(l.decode(errors="replace"))
                                   for l in iter(proc.stderr.readline, b"")],
                   daemon=True).start()
  log = open(opts["log"], "w") if opts["log"] else None
  results, targets, exact, between, polls, poll_time, failed = [], [], 0, 0, 0, 0.0, 0
  try:
    deadline = time.monotonic() + 20
    if opts["player"] == "trevolo" and not WaitForLine(lines, "layout: wide", proc, deadline):
      raise SystemExit("trevolo did not show a picture in its wide layout:\n" + "".join(lines))
    time.sleep(0.3)
    reader = Reader(screen)
    if not reader.Locate(deadline) or ReadFrame(reader, deadline) is None:
      print("seeks=0 ok=0 error=no_readable_picture", flush=True)
      return 1
    if opts["player"] == "trevolo":
      seeker = TrevoloSeeker(screen, int(opts["duration_us"]), rng)
    else:
      seeker = MpvSeeker(opts["ipc"], rng)
    for k in range(seeks):
      current = ReadFrame(reader, time.monotonic() + 2)
      if current is None or proc.poll() is not None:
        raise SystemExit("the player stopped showing pictures (seek %d)" % k)
      start, target = seeker.Seek(current, last)
      seen, got = [], None
      while time.monotonic() - start < 5.0:
        f = reader.Frame()
        now = time.monotonic()
        polls += 1
        if f is not None:
          if not seen or seen[-1][0] != f:
            seen.append((f, (now - start) * 1000.0))
          if target <= f <= target + kAccept:
            got = (now - start) * 1000.0
            break
        time.sleep(kPollPause)
      poll_time += time.monotonic() - start
      # The pictures that follow the target, for the log: a player that reaches the target late
      # may hurry through the next ones.
      after, settle_end = [], time.monotonic() + kSettle + rng.uniform(0, 0.2)
      while log and got is not None and time.monotonic() < settle_end - 0.2:
        f = reader.Frame()
        if f is not None and (not after or after[-1][0] != f):
          after.append((f, (time.monotonic() - start) * 1000.0))
        time.sleep(kPollPause)
      # Pictures after the old run and before the target: shown on the way to it.
      stray = [f for f, _ in seen if not (current <= f <= current + 2 * kFps)
               and not (target <= f <= target + kAccept)]
      if got is None:
        failed += 1
      else:
        results.append(got)
        targets.append(target)
        exact += seen[-1][0] == target
        between += bool(stray)
      if log:
        log.write("seek %d from %d to %d: %s ms; seen %s\n" % (
            k, current, target, "timeout" if got is None else "%.1f" % got,
            " ".join("%d@%.0f" % s for s in seen[-8:] + after[1:8])))
      time.sleep(max(0.0, settle_end - time.monotonic()))
  finally:
    Stop(proc)
    if log:
      log.close()
  fields = ["seeks=%d" % seeks, "ok=%d" % len(results)]
  if results:
    fields += ["median_ms=%.1f" % Percentile(results, 50), "p95_ms=%.1f" % Percentile(results, 95),
               "max_ms=%.1f" % max(results)]
  if len(results) >= 3:
    fixed, per_picture = Fit([t % kGop for t in targets], results)
    fields += ["fixed_ms=%.1f" % fixed, "per_picture_ms=%.2f" % per_picture]
  fields += ["exact=%d" % exact, "between=%d" % between, "failed=%d" % failed,
             "poll_ms=%.2f" % (poll_time * 1000.0 / max(polls, 1))]
  print(" ".join(fields), flush=True)
  return 0


if __name__ == "__main__":
  sys.exit(main())
