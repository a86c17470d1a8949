// DialogWindow: the borderless, fixed-size main window's framework, drawn
// entirely in software. It owns its child controls (kept in template order,
// which is both the Z order and the Tab order), composes them into one
// Canvas over a background image, hands that frame to the platform window,
// and routes input to them: hover and leave, mouse capture, keyboard focus
// with Tab / Shift+Tab, Space on buttons, the dialog-code rule, Enter
// swallowed and Escape closing; keys nobody took go to the owner as
// WM_KEYDOWN. In full screen the controls are out of sight and take no
// mouse input. One control may be the video area: the platform window
// scales the picture into its rectangle, and the controls after it in Z
// order that overlap it are drawn above the picture. Messages
// are (message, wParam, lParam) triples, posted from any thread or sent at
// once; timers are delivered as WM_TIMER messages.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/control.h"
#include "base/messages.h"
#include "controls/canvas.h"
#include "controls/glyphs.h"
#include "platform/window.h"

namespace trevolo::app {

using platform::InputEvent;
using platform::Key;

// The right mouse button went down: wParam 0, lParam = (y << 16) | x.
inline constexpr uint32_t WM_RBUTTONDOWN = 0x0204;
// A key no control took and the window keeps no meaning for: wParam = the
// Key, lParam = 1 with Shift held, else 0.
inline constexpr uint32_t WM_KEYDOWN = 0x0100;
// A left double click no control took (anywhere, in full screen): wParam 0,
// lParam = (y << 16) | x.
inline constexpr uint32_t WM_LBUTTONDBLCLK = 0x0203;
// The top strip of the window drags it.
inline constexpr int kDragStripHeight = 30;

struct DialogOptions {
  std::string title;
  int width = 0;
  int height = 0;
  std::vector<controls::Image> icons;  // every size the desktop may pick from
  bool hidden = false;                 // tests run without showing the window
};

class DialogWindow : public MessageTarget {
 public:
  // True when the handler took the message.
  using MessageHandler = std::function<bool(uint32_t, uintptr_t, intptr_t)>;

  static std::unique_ptr<DialogWindow> create(const DialogOptions& options, std::string* error);
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
  // Called with the files of each drop on the window, in order.
  void setDropHandler(std::function<void(const std::vector<std::string>&)> handler) {
    m_dropHandler = std::move(handler);
  }
  // Sees every key press before the controls and the window do; true keeps
  // the key from them.
  void setKeyPreview(std::function<bool(Key key, bool shift)> preview) {
    m_keyPreview = std::move(preview);
  }
  // The control whose rectangle shows the video picture; 0 for none.
  void setVideoControl(int id);
  // Moves a control; the video area follows the video control.
  void moveControl(int id, const Rect& rect);
  // Shows or hides a control.
  void showControl(int id, bool visible);

  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  // Handles the message now, on the calling (UI) thread. The window is
  // repainted only if the handler calls invalidate().
  bool send(uint32_t message, uintptr_t wParam, intptr_t lParam);

  // A timer sends WM_TIMER with its id every period; setting an existing
  // id restarts it with the new period.
  void setTimer(int id, uint32_t periodMs);
  void killTimer(int id);
  bool timerSet(int id) const { return m_timers.count(id) != 0; }
  // Delivers every timer due at `nowMs` (the platform window's ticks).
  void fireDueTimers(uint64_t nowMs);

  // One input event through the framework.
  void handleInput(const InputEvent& event);
  // Waits up to timeoutMs (less when a timer is due sooner) for an event,
  // handles what is queued, fires timers, delivers posted messages and
  // repaints. False once closed.
  bool pumpOnce(int timeoutMs);
  // Something else the loop must serve while it waits (an open file
  // chooser); called on every pump.
  void setPumpHook(std::function<void()> hook) { m_pumpHook = std::move(hook); }
  // Runs at the start of every paint, before the controls are drawn.
  void setPaintHook(std::function<void()> hook) { m_paintHook = std::move(hook); }
  // Repaints on the next pump even if no event, message or timer arrives.
  void invalidate() { m_dirty = true; }
  void run();

  void close() { m_closed = true; }
  bool closed() const { return m_closed; }
  void minimise() { m_window->minimise(); }
  void restoreAndRaise() { m_window->restoreAndRaise(); }

  // Composes the background and every visible control into canvas(), and
  // hands it to the platform window.
  void paint();
  const controls::Canvas& canvas() const { return m_canvas; }
  controls::Size clientSize() const { return m_canvas.image().size(); }
  platform::Window& platformWindow() { return *m_window; }

  int focusedId() const;
  void setFocus(int id);
  // Moves the focus to the next (previous) tab stop, wrapping around.
  void tabFocus(bool backwards);
  int hoverId() const;
  int captureId() const;
  // Whether a point of the client area drags the window.
  bool isDragPoint(int x, int y) const;

 private:
  DialogWindow() = default;
  void onMouseMotion(int x, int y);
  // Tells the control the pointer left, if it did; answers the one under it.
  Control* updateHover(int x, int y);
  void onMouseButton(const InputEvent& event);
  void onKey(const InputEvent& event);
  void dispatchMessages();
  Control* controlAt(int x, int y) const;
  Control* captureHolder() const;
  void updateVideoArea();
  int msUntilNextTimer(uint64_t nowMs, int limitMs) const;

  struct Timer {
    uint32_t period = 0;
    uint64_t due = 0;
  };

  std::unique_ptr<platform::Window> m_window;
  controls::Canvas m_canvas;
  controls::Image m_background;
  std::vector<controls::Image> m_icons;  // the platform window reads them once
  const controls::GlyphSource* m_font = nullptr;
  std::vector<std::unique_ptr<Control>> m_controls;
  Control* m_focus = nullptr;
  Control* m_hover = nullptr;
  int m_videoId = 0;
  std::map<int, Timer> m_timers;
  MessageHandler m_handler;
  std::function<void(const std::vector<std::string>&)> m_dropHandler;
  std::function<bool(Key, bool)> m_keyPreview;
  std::function<void()> m_pumpHook;
  std::function<void()> m_paintHook;
  bool m_closed = false;
  // Something may have changed how the window looks: repaint on the next
  // pump. Nothing happening means no repaint, so an idle window costs nothing.
  bool m_dirty = true;
};

}  // namespace trevolo::app
