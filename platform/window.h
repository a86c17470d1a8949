// A minimal top-level window: an SDL window driven by a UI loop, a message
// queue any thread may post to, and a video rectangle that picture surfaces
// are presented into. The thread that creates the window is its UI thread;
// only that thread may pump it or draw. SDL stays out of this header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_target.h"

namespace trevolo::platform {

class VideoPresenter;

struct Rect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

struct WindowOptions {
  std::string title = "Trevolo";
  int width = 640;   // client area, pixels
  int height = 480;
  bool visible = true;  // a hidden window still draws and reads back
};

enum class RendererPath {
  HardwareOpenGl,  // a real GPU: SDL scales and converts on it
  Software,        // SDL's software renderer, no framebuffer acceleration
  Other,           // chosen by the user through SDL_RENDER_DRIVER
};

class Window : public MessageTarget {
 public:
  // (message, wParam, lParam) of a posted message, on the UI thread.
  using MessageHandler = std::function<void(uint32_t, uintptr_t, intptr_t)>;

  // Null, with a one-line reason in *error, when SDL or the window fails.
  static std::unique_ptr<Window> create(const WindowOptions& options, std::string* error);
  ~Window() override;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Any thread. False when the queue is full (the message is lost).
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;

  // UI thread. The close handler runs when the user asks to close the
  // window; without one the window just records the request.
  void setMessageHandler(MessageHandler handler);
  void setCloseHandler(std::function<void()> handler);
  void requestClose();
  bool closeRequested() const;

  // UI thread: waits up to `timeoutMs` for an event, handles every queued
  // event and redraws when a picture arrived or the window was exposed.
  // True when at least one event was handled.
  bool pumpOnce(int timeoutMs);
  // UI thread: pumps until `done` returns true or a close was requested.
  void runUntil(const std::function<bool()>& done);

  // Client-area rectangle the video picture is scaled into; parts outside
  // the client area are clipped. Until set, the whole client area. Any thread.
  void setVideoRect(const Rect& rect);
  Rect videoRect() const;
  Rect clientRect() const;

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

}  // namespace trevolo::platform
