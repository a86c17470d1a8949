#!/usr/bin/env python3
"""Time from process start to the first picture on screen, by polling the X screen.

usage: player_firstpic.py [--timeout S] [--marker TEXT]... -- COMMAND [ARGS...]

Starts COMMAND in its own process group, then grabs the whole root window of $DISPLAY (MIT-SHM,
or XGetImage without it) over and over until a picture of the test pattern `avtool gen` makes is
visible, and prints one line of key=value pairs:

  window_ms   first grab with a window on screen (enough non-black pixels)
  picture_ms  first grab showing the pattern's saturated green bar
  marker_N_ms first time COMMAND's stderr had a line starting with the Nth --marker
  polls, poll_ms  number of grabs and their mean period (the resolution of the times)

Any player can be measured the same way, because it looks only at the screen. The times count
from just before the fork. COMMAND is then ended (SIGTERM to its group, SIGKILL after a grace
period), also when this script is interrupted. Exit status 1 if no picture came before the
timeout (picture_ms=-1).
"""

import ctypes
import ctypes.util
import os
import signal
import subprocess
import sys
import threading
import time

kSampleStep = 4  # look at every 4th pixel of every 4th row: plenty for a bar 100+ pixels wide
kRowStep = 4
kWindowPixels = 500  # non-black samples that mean "a window is mapped"
kPicturePixels = 100  # green-bar samples that mean "the picture is on screen"
kDark = 40  # a channel above this is not black
kGreenMin = 100  # the bar: green strong ...
kOtherMax = 80  # ... red and blue weak (the skin's teal has strong blue)
kPollPause = 0.001  # seconds between grabs, so the poller does not starve the player
kGraceSeconds = 3.0
kZPixmap = 2
kAllPlanes = 0xFFFFFFFF
kIpcPrivate, kIpcCreate, kIpcRmid = 0, 0o1000, 0


class XImageFuncs(ctypes.Structure):
  _fields_ = [(name, ctypes.c_void_p) for name in
              ("create_image", "destroy_image", "get_pixel", "put_pixel", "sub_image",
               "add_pixel")]


class XImage(ctypes.Structure):
  _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
              ("format", ctypes.c_int), ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
              ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
              ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
              ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int),
              ("red_mask", ctypes.c_ulong), ("green_mask", ctypes.c_ulong),
              ("blue_mask", ctypes.c_ulong), ("obdata", ctypes.c_void_p), ("f", XImageFuncs)]


DestroyImage = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(XImage))


def ByteMask(low, high):
  """A translate table mapping bytes in [low, high] to 1 and the rest to 0."""
  return bytes(1 if low <= b <= high else 0 for b in range(256))


kBright = ByteMask(kDark + 1, 255)
kStrong = ByteMask(kGreenMin, 255)
kWeak = ByteMask(0, kOtherMax)


class ShmSegment(ctypes.Structure):
  _fields_ = [("shmseg", ctypes.c_ulong), ("shmid", ctypes.c_int), ("shmaddr", ctypes.c_void_p),
              ("readOnly", ctypes.c_int)]


class Screen:
  """Grabs of the root window (32-bit little-endian BGRX) through MIT-SHM when the server has
  it, so a grab is one copy inside the server rather than the whole screen over the socket."""

  def __init__(self):
    self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    x = self.x11
    x.XOpenDisplay.restype = ctypes.c_void_p
    x.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x.XDefaultRootWindow.restype = ctypes.c_ulong
    x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x.XDefaultVisual.restype = ctypes.c_void_p
    x.XDefaultVisual.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XDefaultDepth.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XGetImage.restype = ctypes.POINTER(XImage)
    x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                            ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x.XDisplayWidth.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XDisplayHeight.argtypes = [ctypes.c_void_p, ctypes.c_int]
    x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    self.display = x.XOpenDisplay(None)
    if not self.display:
      raise SystemExit("cannot open the X display " + os.environ.get("DISPLAY", "(unset)"))
    self.root = x.XDefaultRootWindow(self.display)
    self.width = x.XDisplayWidth(self.display, 0)
    self.height = x.XDisplayHeight(self.display, 0)
    self.xext = None
    self.segments = []  # kept alive as long as their images
    try:
      self.shm_image = self.ShmImage(self.width, self.height)
    except OSError:
      self.shm_image = None

  def ShmImage(self, width, height):
    """An image of width x height in a shared memory segment the server writes grabs into, or
    None when the server has no MIT-SHM."""
    xext = ctypes.CDLL(ctypes.util.find_library("Xext") or "libXext.so.6")
    libc = ctypes.CDLL(None, use_errno=True)
    xext.XShmQueryExtension.argtypes = [ctypes.c_void_p]
    if not xext.XShmQueryExtension(self.display):
      return None
    xext.XShmCreateImage.restype = ctypes.POINTER(XImage)
    xext.XShmCreateImage.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                     ctypes.c_char_p, ctypes.POINTER(ShmSegment), ctypes.c_uint,
                                     ctypes.c_uint]
    xext.XShmAttach.argtypes = [ctypes.c_void_p, ctypes.POINTER(ShmSegment)]
    xext.XShmDetach.argtypes = [ctypes.c_void_p, ctypes.POINTER(ShmSegment)]
    xext.XShmGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.POINTER(XImage),
                                  ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
    libc.shmat.restype = ctypes.c_void_p
    libc.shmat.argtypes = [ctypes.c_int, ctypes.c_void_p, ctypes.c_int]
    libc.shmdt.argtypes = [ctypes.c_void_p]
    libc.shmctl.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_void_p]
    seg = ShmSegment()
    image = xext.XShmCreateImage(self.display, self.x11.XDefaultVisual(self.display, 0),
                                 self.x11.XDefaultDepth(self.display, 0), kZPixmap, None,
                                 ctypes.byref(seg), width, height)
    if not image:
      return None
    size = image.contents.bytes_per_line * image.contents.height
    seg.shmid = libc.shmget(kIpcPrivate, size, kIpcCreate | 0o600)
    if seg.shmid < 0:
      raise OSError(ctypes.get_errno(), "shmget")
    addr = libc.shmat(seg.shmid, None, 0)
    # Marked for removal at once: the kernel frees it when the server and we have detached,
    # even if this script is killed.
    libc.shmctl(seg.shmid, kIpcRmid, None)
    if addr in (None, ctypes.c_void_p(-1).value):
      raise OSError(ctypes.get_errno(), "shmat")
    seg.shmaddr = addr
    seg.readOnly = 0
    image.contents.data = addr
    if not xext.XShmAttach(self.display, ctypes.byref(seg)):
      return None
    self.x11.XSync(self.display, 0)
    self.xext = xext
    self.segments.append(seg)
    return image

  def GrabInto(self, image, x, y):
    """Fills a ShmImage with the screen from (x, y); returns its BGRX bytes, rows packed."""
    if not self.xext.XShmGetImage(self.display, self.root, image, x, y, kAllPlanes):
      raise SystemExit("XShmGetImage failed")
    im = image.contents
    if im.bits_per_pixel != 32 or im.byte_order != 0:
      raise SystemExit("need a 24/32-bit little-endian screen (Xvfb -screen 0 WxHx24)")
    return b"".join(ctypes.string_at(im.data + row * im.bytes_per_line, im.width * 4)
                    for row in range(im.height))

  def Rows(self, image):
    """Every kRowStep-th row of an image, as one byte string."""
    im = image.contents
    if im.bits_per_pixel != 32 or im.byte_order != 0:
      raise SystemExit("need a 24/32-bit little-endian screen (Xvfb -screen 0 WxHx24)")
    return b"".join(ctypes.string_at(im.data + y * im.bytes_per_line, im.width * 4)
                    for y in range(0, im.height, kRowStep))

  def grab(self):
    """Returns (blue, green, red) byte strings of the sampled pixels."""
    if self.shm_image:
      if not self.xext.XShmGetImage(self.display, self.root, self.shm_image, 0, 0, kAllPlanes):
        raise SystemExit("XShmGetImage failed")
      raw = self.Rows(self.shm_image)
    else:
      image = self.x11.XGetImage(self.display, self.root, 0, 0, self.width, self.height,
                                 kAllPlanes, kZPixmap)
      if not image:
        raise SystemExit("XGetImage failed")
      try:
        raw = self.Rows(image)
      finally:
        DestroyImage(image.contents.f.destroy_image)(image)
    step = 4 * kSampleStep
    return raw[0::step], raw[1::step], raw[2::step]


def Count(*masks):
  """Number of samples where every mask is 1 (masks are 0/1 byte strings of one length)."""
  bits = int.from_bytes(masks[0], "little")
  for m in masks[1:]:
    bits &= int.from_bytes(m, "little")
  return bits.bit_count()


def Classify(blue, green, red):
  """(window visible, picture visible) for one grab."""
  bright = Count(blue.translate(kBright)) + Count(green.translate(kBright)) \
      + Count(red.translate(kBright))
  bar = Count(green.translate(kStrong), red.translate(kWeak), blue.translate(kWeak))
  return bright >= kWindowPixels, bar >= kPicturePixels


def WatchStderr(stream, markers, start, found):
  for line in iter(stream.readline, b""):
    now = time.monotonic()
    text = line.decode(errors="replace")
    for i, m in enumerate(markers):
      if i not in found and text.startswith(m):
        found[i] = (now - start) * 1000.0


def Stop(proc):
  if proc.poll() is not None:
    return
  try:
    os.killpg(proc.pid, signal.SIGTERM)
    proc.wait(timeout=kGraceSeconds)
  except subprocess.TimeoutExpired:
    os.killpg(proc.pid, signal.SIGKILL)
    proc.wait()
  except ProcessLookupError:
    pass


def ParseArgs(argv):
  timeout, markers = 20.0, []
  while argv and argv[0] != "--":
    opt = argv.pop(0)
    if opt == "--timeout" and argv:
      timeout = float(argv.pop(0))
    elif opt == "--marker" and argv:
      markers.append(argv.pop(0))
    else:
      raise SystemExit(__doc__)
  if len(argv) < 2:
    raise SystemExit(__doc__)
  return timeout, markers, argv[1:]


def main():
  timeout, markers, command = ParseArgs(sys.argv[1:])
  screen = Screen()
  if any(Classify(*screen.grab())):
    raise SystemExit("the screen is not black before the start: is another player running?")
  signal.signal(signal.SIGTERM, lambda *_: sys.exit(2))
  found = {}
  start = time.monotonic()
  proc = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE, start_new_session=True)
  watcher = threading.Thread(target=WatchStderr, args=(proc.stderr, markers, start, found),
                             daemon=True)
  watcher.start()
  window_ms = picture_ms = -1.0
  polls = 0
  try:
    while time.monotonic() - start < timeout and proc.poll() is None:
      window, picture = Classify(*screen.grab())
      now = (time.monotonic() - start) * 1000.0
      polls += 1
      if window and window_ms < 0:
        window_ms = now
      if picture:
        picture_ms = now
        break
      time.sleep(kPollPause)
    elapsed = (time.monotonic() - start) * 1000.0
  finally:
    Stop(proc)
  watcher.join(timeout=1.0)
  fields = [f"window_ms={window_ms:.1f}", f"picture_ms={picture_ms:.1f}"]
  fields += [f"marker_{i}_ms={found.get(i, -1.0):.1f}" for i in range(len(markers))]
  fields += [f"polls={polls}", f"poll_ms={elapsed / max(polls, 1):.1f}"]
  print(" ".join(fields), flush=True)
  return 0 if picture_ms >= 0 else 1


if __name__ == "__main__":
  sys.exit(main())
