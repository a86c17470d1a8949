// DialogWindow: a borderless, fixed-size top-level window drawn entirely in
// software. It owns its child controls (kept in template order, which is
// both the Z order and the Tab order), composes them into one Canvas over a
// background image, and routes input to them: hover and leave, mouse
// capture, keyboard focus with Tab / Shift+Tab, Space on buttons, the
// dialog-code rule, Enter swallowed and Escape closing. Messages are
// (message, wParam, lParam) triples, posted from any thread or sent at
// once; timers are delivered as WM_TIMER messages.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "controls/canvas.h"
#include "controls/glyphs.h"
#include "platform/control.h"
#include "platform/message_target.h"

namespace trevolo::platform {

inline constexpr uint32_t WM_CLOSE = 0x0010;
inline constexpr uint32_t WM_TIMER = 0x0113;
inline constexpr uint32_t WM_DROPFILES = 0x0233;
inline constexpr uintptr_t IDCANCEL = 2;
// The top strip of the window drags it.
inline constexpr int kDragStripHeight = 30;

struct DialogOptions {
  std::string title;
  int width = 0;
  int height = 0;
  controls::Image icon;  // empty: no icon
  bool hidden = false;   // tests run without showing the window
};

class DialogWindow : public MessageTarget {
 public:
  // True when the handler took the message.
  using MessageHandler = std::function<bool(uint32_t, uintptr_t, intptr_t)>;

  static std::unique_ptr<DialogWindow> create(const DialogOptions& options, std::string* error);
  // Releases SDL and the fonts at program exit, after every window is gone.
  static void shutdown();
  ~DialogWindow() override;
  DialogWindow(const DialogWindow&) = delete;
  DialogWindow& operator=(const DialogWindow&) = delete;

  // Controls, appended in template order.
  Control& addControl(std::unique_ptr<Control> control);
  Control* control(int id) const;
  const std::vector<std::unique_ptr<Control>>& controls() const { return m_controls; }

  void setBackground(controls::Image background) { m_background = std::move(background); }
  // The font of every label; must outlive the window.
  void setFont(const controls::GlyphSource* font) { m_font = font; }
  void setMessageHandler(MessageHandler handler) { m_handler = std::move(handler); }
  // Called with each file dropped on the window.
  void setDropHandler(std::function<void(const std::string&)> handler) {
    m_dropHandler = std::move(handler);
  }

  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  // Handles the message now, on the calling (UI) thread.
  bool send(uint32_t message, uintptr_t wParam, intptr_t lParam);

  // A timer posts WM_TIMER with its id every period; setting an existing
  // id restarts it with the new period.
  void setTimer(int id, uint32_t periodMs);
  void killTimer(int id);
  // Delivers every timer due at `nowMs` (SDL ticks); pumpOnce calls it.
  void fireDueTimers(uint64_t nowMs);

  // One SDL event through the framework.
  void handleEvent(const SDL_Event& event);
  // Waits up to timeoutMs for an event, handles what is queued, fires
  // timers, delivers posted messages and repaints. False once closed.
  bool pumpOnce(int timeoutMs);
  // Repaints on the next pump even if no event, message or timer arrives.
  void invalidate() { m_dirty = true; }
  void run();

  void close() { m_closed = true; }
  bool closed() const { return m_closed; }
  void minimise();
  void restore();

  // Composes the background and every visible control into canvas(), and
  // shows it.
  void paint();
  const controls::Canvas& canvas() const { return m_canvas; }
  controls::Size clientSize() const { return m_canvas.image().size(); }

  int focusedId() const;
  void setFocus(int id);
  // Moves the focus to the next (previous) tab stop, wrapping around.
  void tabFocus(bool backwards);
  int hoverId() const;
  int captureId() const;
  SDL_Window* sdlWindow() const { return m_window; }
  // Whether a point of the client area drags the window.
  bool isDragPoint(int x, int y) const;

 private:
  DialogWindow() = default;
  void onMouseMotion(int x, int y);
  // Tells the control the pointer left, if it did; answers the one under it.
  Control* updateHover(int x, int y);
  void onMouseButton(const SDL_MouseButtonEvent& button);
  void onKey(const SDL_KeyboardEvent& key);
  void dispatchMessages();
  Control* controlAt(int x, int y) const;
  Control* captureHolder() const;
  void present();

  struct Timer {
    uint32_t period = 0;
    uint64_t due = 0;
  };
  struct Message {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };

  SDL_Window* m_window = nullptr;
  SDL_Renderer* m_renderer = nullptr;
  SDL_Texture* m_texture = nullptr;
  uint32_t m_wakeEvent = 0;
  controls::Canvas m_canvas;
  controls::Image m_background;
  const controls::GlyphSource* m_font = nullptr;
  std::vector<std::unique_ptr<Control>> m_controls;
  Control* m_focus = nullptr;
  Control* m_hover = nullptr;
  std::map<int, Timer> m_timers;
  std::mutex m_queueMutex;
  std::deque<Message> m_queue;
  MessageHandler m_handler;
  std::function<void(const std::string&)> m_dropHandler;
  bool m_closed = false;
  // Something may have changed how the window looks: repaint on the next
  // pump. Nothing happening means no repaint, so an idle window costs nothing.
  bool m_dirty = true;
};

}  // namespace trevolo::platform
