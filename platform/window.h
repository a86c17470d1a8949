// The player's one top-level window over SDL2. The thread that creates it is
// its UI thread; only that thread pumps it or draws. It shows, from back to
// front: a frame of RGBA pixels that the caller composes (the skinned
// controls), the current video picture scaled into the video rectangle, and
// overlay rectangles of the frame drawn again above the picture (controls
// that lie over the video area). Input arrives as InputEvents, posted
// messages as (message, wParam, lParam) triples; any thread may post. SDL
// stays out of this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/geometry.h"
#include "base/messages.h"

namespace trevolo::platform {

class VideoPresenter;

struct WindowOptions {
  std::string title = "Trevolo";
  int width = 640;   // client area, pixels
  int height = 480;
  bool visible = true;      // a hidden window still draws and reads back
  bool borderless = false;  // no frame or caption: the caller draws everything
  bool resizable = true;
  int pointerHideMs = 2000;  // in full screen, the pointer hides after this long still
};

enum class RendererPath {
  HardwareOpenGl,  // a real GPU: SDL scales and converts on it
  Software,        // SDL's software renderer, no framebuffer acceleration
  Other,           // chosen by the user through SDL_RENDER_DRIVER
};

// Keys the window reports; everything else is Other. Letters and F1 come from
// the key pressed (as the keyboard layout names it, whatever Shift or Caps
// Lock say); the punctuation keys come from the character typed, so `?`,
// `[` or `.` are found wherever the layout puts them (Shift+/ on a US
// keyboard, Shift+ß on a German one, AltGr+8 for `[`): they arrive as a
// KeyDown of their own, without a KeyUp, after the KeyDown of the key that
// typed them (reported as Other). Shift, Ctrl, Alt and the like alone are
// Modifier.
enum class Key {
  Other,
  Tab,
  Escape,
  Return,
  Space,
  PageUp,
  PageDown,
  End,
  Home,
  Left,
  Up,
  Right,
  Down,
  Modifier,
  Backspace,
  F1,
  M,
  P,
  S,
  O,
  F,
  BracketLeft,   // [
  BracketRight,  // ]
  Period,        // .
  Comma,         // ,
  Question,      // ?
};

struct InputEvent {
  enum class Kind {
    MouseMove,
    MouseDown,   // button, clicks
    MouseUp,     // button
    MouseLeave,  // the pointer left the window
    KeyDown,     // key, shift
    KeyUp,       // key
    Drop,        // paths: every file of one drop, in order
    Close,       // the user or the desktop asks the window to close
  };
  static constexpr int kLeftButton = 1;
  static constexpr int kRightButton = 3;

  Kind kind = Kind::MouseMove;
  int x = 0;  // client coordinates (mouse events)
  int y = 0;
  int button = kLeftButton;
  int clicks = 1;
  Key key = Key::Other;
  bool shift = false;
  std::vector<std::string> paths;
};

// One size of the window icon: RGBA bytes, rows `stride` bytes apart.
struct IconImage {
  int width = 0;
  int height = 0;
  const uint8_t* rgba = nullptr;
  size_t stride = 0;
};

class Window : public MessageTarget {
 public:
  // (message, wParam, lParam) of a posted message, on the UI thread.
  using MessageHandler = std::function<void(uint32_t, uintptr_t, intptr_t)>;
  using InputHandler = std::function<void(const InputEvent&)>;

  // Null, with a one-line reason in *error, when SDL or the window fails.
  static std::unique_ptr<Window> create(const WindowOptions& options, std::string* error);
  // Releases SDL at program exit, after every window is gone.
  static void shutdown();
  // Milliseconds of a monotonic clock shared with the window's timers.
  static uint64_t ticksMs();
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Any thread. False when the queue is full (the message is lost).
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // UI thread. Without an input handler, a close request only sets
  // closeRequested() (or calls the close handler).
  void setMessageHandler(MessageHandler handler);
  void setInputHandler(InputHandler handler);
  void setCloseHandler(std::function<void()> handler);
  void requestClose();
  bool closeRequested() const;
  // Points for which `drag` answers true move the window when pressed.
  void setDragTest(std::function<bool(int x, int y)> drag);

  // UI thread: waits up to `timeoutMs` for an event and handles every
  // queued one (handlers run inside). True when at least one was handled.
  bool waitAndHandle(int timeoutMs);
  // UI thread: draws and shows the window when something changed.
  void renderIfNeeded();
  // waitAndHandle, then renderIfNeeded.
  bool pumpOnce(int timeoutMs);
  // UI thread: pumps until `done` returns true or a close was requested.
  void runUntil(const std::function<bool()>& done);

  // UI thread: the frame behind everything, width x height RGBA bytes.
  // Uploaded at once; shown at the next render.
  void setFrame(const uint8_t* rgba, int width, int height, size_t stride);
  // UI thread: parts of the frame drawn again above the video picture.
  void setOverlays(std::vector<Rect> overlays);
  // UI thread: whether the video picture is drawn at all (a stopped player
  // shows its idle frame instead of the last picture).
  void setVideoVisible(bool visible);
  bool videoVisible() const;

  // Client-area rectangle the video picture is scaled into; parts outside
  // the client area are clipped. Until set, the whole client area. Any thread.
  // Full screen draws the picture in a rectangle of its own, but videoRect()
  // stays what was set here, and applies again on leaving.
  void setVideoRect(const Rect& rect);
  Rect videoRect() const;
  Rect clientRect() const;

  // UI thread: in full screen the window covers the whole screen and shows
  // the video picture alone, aspect kept, black around it (no frame, no
  // overlays, no drag strip); the pointer hides after pointerHideMs without
  // moving or clicking. Leaving restores the window's place, size and video
  // rectangle. clientRect() is the screen meanwhile; the frame keeps the
  // size the caller gives it. False when the window cannot go full screen.
  bool setFullScreen(bool on);
  bool fullScreen() const;
  // UI thread: lines of UTF-8 text drawn at the top left of the picture on a
  // translucent dark box (full screen or not) until replaced; an empty list
  // removes them. Shown only while a picture is.
  void setVideoText(std::vector<std::string> lines);

  // UI thread: the window icon in several sizes (the desktop picks one).
  void setIcons(const std::vector<IconImage>& icons);
  // While captured, the pointer is reported even outside the window.
  void captureMouse(bool capture);
  void minimise();
  // Restores a minimised window and brings it to the front.
  void restoreAndRaise();
  bool minimised() const;

  // UI thread: draws the window now and reads back `rect` of the client
  // area as 0xAARRGGBB pixels, row by row. False when reading fails.
  bool readPixels(const Rect& rect, std::vector<uint32_t>* pixels);

  RendererPath rendererPath() const;
  std::string rendererName() const;

  // The link picture surfaces use to reach this window; it outlives the
  // window, so a surface released late finds the window gone, not freed.
  std::shared_ptr<VideoPresenter> presenter() const;

 private:
  struct Impl;
  explicit Window(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> m_impl;
};

// A message box with one OK button, owned by no window; blocks until the
// user dismisses it. Without a screen it writes nothing and returns.
void ShowMessageBox(const std::string& caption, const std::string& text);

}  // namespace trevolo::platform
