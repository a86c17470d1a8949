// DialogWindow's input routing: mouse to the control under the pointer (or
// the one holding the capture), keys to the focused control, the keys the
// window keeps for itself, and what nobody took to the owner.
#include "app/dialog_window.h"

namespace trevolo::app {

namespace {

bool takesInput(const Control& c) { return c.visible() && c.enabled() && c.interactive(); }

Point local(const Control& c, int x, int y) { return Point{x - c.rect().left, y - c.rect().top}; }

intptr_t pointParam(int x, int y) {
  return static_cast<intptr_t>((uint32_t(y) & 0xFFFF) << 16 | (uint32_t(x) & 0xFFFF));
}

// The second press of a double click (a fourth press is the second of the
// next one).
bool isDoubleClick(const InputEvent& event) { return event.clicks >= 2 && event.clicks % 2 == 0; }

}  // namespace

void DialogWindow::handleInput(const InputEvent& event) {
  m_dirty = true;
  switch (event.kind) {
    case InputEvent::Kind::MouseMove:
      onMouseMotion(event.x, event.y);
      break;
    case InputEvent::Kind::MouseDown:
    case InputEvent::Kind::MouseUp:
      onMouseButton(event);
      break;
    case InputEvent::Kind::MouseLeave:
      // Leaving the window ends the hover, unless a control holds the mouse.
      if (!captureHolder()) updateHover(-1, -1);
      break;
    case InputEvent::Kind::KeyDown:
    case InputEvent::Kind::KeyUp:
      onKey(event);
      break;
    case InputEvent::Kind::Drop:
      if (m_dropHandler && !event.paths.empty()) m_dropHandler(event.paths);
      break;
    case InputEvent::Kind::Close:
      send(WM_CLOSE, 0, 0);
      break;
  }
}

Control* DialogWindow::controlAt(int x, int y) const {
  // The topmost control is the last one added.
  for (auto it = m_controls.rbegin(); it != m_controls.rend(); ++it) {
    if (takesInput(**it) && (*it)->rect().contains(x, y)) return it->get();
  }
  return nullptr;
}

Control* DialogWindow::captureHolder() const {
  for (const auto& c : m_controls) {
    if (c->hasCapture()) return c.get();
  }
  return nullptr;
}

bool DialogWindow::isDragPoint(int x, int y) const {
  return !m_window->fullScreen() && y >= 0 && y < kDragStripHeight && controlAt(x, y) == nullptr;
}

void DialogWindow::onMouseMotion(int x, int y) {
  if (m_window->fullScreen()) return;  // the controls are out of sight
  // A control holding the capture gets every move and no leave until it
  // lets go; the others see nothing meanwhile.
  if (Control* holder = captureHolder()) {
    holder->onMouseMove(local(*holder, x, y));
    return;
  }
  Control* under = updateHover(x, y);
  if (under) under->onMouseMove(local(*under, x, y));
}

Control* DialogWindow::updateHover(int x, int y) {
  Control* under = controlAt(x, y);
  if (under != m_hover) {
    if (m_hover) m_hover->onMouseLeave();
    m_hover = under;
  }
  return under;
}

void DialogWindow::onMouseButton(const InputEvent& event) {
  const int x = event.x;
  const int y = event.y;
  const bool leftDown = event.button == InputEvent::kLeftButton &&
                        event.kind == InputEvent::Kind::MouseDown;
  if (m_window->fullScreen()) {
    // Nothing but the picture is on screen: a press reaches no control, and
    // a double click anywhere is the owner's.
    if (leftDown && isDoubleClick(event)) send(WM_LBUTTONDBLCLK, 0, pointParam(x, y));
    return;
  }
  if (event.button == InputEvent::kRightButton) {
    if (event.kind == InputEvent::Kind::MouseDown) send(WM_RBUTTONDOWN, 0, pointParam(x, y));
    return;
  }
  if (event.button != InputEvent::kLeftButton) return;
  if (event.kind == InputEvent::Kind::MouseUp) {
    Control* target = captureHolder();
    if (!target) target = controlAt(x, y);
    if (target) target->onLButtonUp(local(*target, x, y));
    if (!captureHolder()) {
      m_window->captureMouse(false);
      updateHover(x, y);  // the pointer may have left meanwhile
    }
    return;
  }
  Control* target = controlAt(x, y);
  if (!target) {
    if (isDoubleClick(event)) send(WM_LBUTTONDBLCLK, 0, pointParam(x, y));
    return;
  }
  if (target != m_hover) onMouseMotion(x, y);
  if (event.clicks >= 2) {
    target->onLButtonDblClk(local(*target, x, y));
  } else {
    target->onLButtonDown(local(*target, x, y));
  }
  // A drag keeps reporting the pointer even outside the window.
  if (captureHolder()) m_window->captureMouse(true);
}

void DialogWindow::onKey(const InputEvent& event) {
  const Key key = event.key;
  if (event.kind == InputEvent::Kind::KeyUp) {
    if (m_focus) m_focus->onKeyUp(key);
    return;
  }
  if (m_keyPreview && m_keyPreview(key, event.shift)) return;
  const bool tab = key == Key::Tab;
  if (m_focus && m_focus->wantsAllKeys(tab) && m_focus->onKeyDown(key)) return;
  if (tab) {
    tabFocus(event.shift);
  } else if (key == Key::Escape) {
    // Escape is the dialog's Cancel: the owner may keep the window open.
    if (!m_handler || !m_handler(WM_COMMAND, IDCANCEL, 0)) close();
  } else if (key == Key::Return) {
    // Enter would be the default button's OK; this window has none.
  } else if (!(m_focus && !m_focus->wantsAllKeys(tab) && m_focus->onKeyDown(key))) {
    send(WM_KEYDOWN, static_cast<uintptr_t>(key), event.shift ? 1 : 0);
  }
}

void DialogWindow::setFocus(int id) {
  Control* next = id ? control(id) : nullptr;
  if (next == m_focus) return;
  if (m_focus) m_focus->onKillFocus();
  m_focus = next;
  if (m_focus) m_focus->onSetFocus();
}

void DialogWindow::tabFocus(bool backwards) {
  const int count = static_cast<int>(m_controls.size());
  if (count == 0) return;
  int start = -1;
  for (int i = 0; i < count; ++i) {
    if (m_controls[static_cast<size_t>(i)].get() == m_focus) start = i;
  }
  const int step = backwards ? count - 1 : 1;
  int i = start < 0 ? (backwards ? 0 : count - 1) : start;
  for (int n = 0; n < count; ++n) {
    i = (i + step) % count;
    Control& c = *m_controls[static_cast<size_t>(i)];
    if (c.tabStop() && c.visible() && c.enabled()) {
      setFocus(c.id());
      return;
    }
  }
}

}  // namespace trevolo::app
