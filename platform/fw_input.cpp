// DialogWindow's input routing: mouse to the control under the pointer (or
// the one holding the capture), keys to the focused control, and the keys
// the window keeps for itself.
#include "platform/dialog_window.h"

namespace trevolo::platform {

namespace {

bool takesInput(const Control& c) { return c.visible() && c.enabled() && c.interactive(); }

Point local(const Control& c, int x, int y) { return Point{x - c.rect().left, y - c.rect().top}; }

}  // namespace

void DialogWindow::handleEvent(const SDL_Event& event) {
  switch (event.type) {
    case SDL_MOUSEMOTION:
      onMouseMotion(event.motion.x, event.motion.y);
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      onMouseButton(event.button);
      break;
    case SDL_WINDOWEVENT:
      // Leaving the window ends the hover, unless a control holds the mouse.
      if (event.window.event == SDL_WINDOWEVENT_LEAVE && !captureHolder()) updateHover(-1, -1);
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) send(WM_CLOSE, 0, 0);
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      onKey(event.key);
      break;
    case SDL_DROPFILE:
      if (event.drop.file) {
        if (m_dropHandler) m_dropHandler(event.drop.file);
        SDL_free(event.drop.file);
      }
      break;
    case SDL_QUIT:
      send(WM_CLOSE, 0, 0);
      break;
    default:
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
  return y >= 0 && y < kDragStripHeight && controlAt(x, y) == nullptr;
}

void DialogWindow::onMouseMotion(int x, int y) {
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

void DialogWindow::onMouseButton(const SDL_MouseButtonEvent& button) {
  if (button.button != SDL_BUTTON_LEFT) return;
  const int x = button.x;
  const int y = button.y;
  if (button.type == SDL_MOUSEBUTTONUP) {
    Control* target = captureHolder();
    if (!target) target = controlAt(x, y);
    if (target) target->onLButtonUp(local(*target, x, y));
    if (!captureHolder()) {
      SDL_CaptureMouse(SDL_FALSE);
      updateHover(x, y);  // the pointer may have left meanwhile
    }
    return;
  }
  Control* target = controlAt(x, y);
  if (!target) return;
  if (target != m_hover) onMouseMotion(x, y);
  if (button.clicks >= 2) {
    target->onLButtonDblClk(local(*target, x, y));
  } else {
    target->onLButtonDown(local(*target, x, y));
  }
  // A drag keeps reporting the pointer even outside the window.
  if (captureHolder()) SDL_CaptureMouse(SDL_TRUE);
}

void DialogWindow::onKey(const SDL_KeyboardEvent& key) {
  const int code = key.keysym.sym;
  if (key.type == SDL_KEYUP) {
    if (m_focus) m_focus->onKeyUp(code);
    return;
  }
  const bool tab = code == SDLK_TAB;
  if (m_focus && m_focus->wantsAllKeys(tab) && m_focus->onKeyDown(code)) return;
  if (tab) {
    tabFocus((key.keysym.mod & KMOD_SHIFT) != 0);
  } else if (code == SDLK_ESCAPE) {
    // Escape is the dialog's Cancel: the owner may keep the window open.
    if (!m_handler || !m_handler(controls::WM_COMMAND, IDCANCEL, 0)) close();
  } else if (code == SDLK_RETURN || code == SDLK_KP_ENTER) {
    // Enter would be the default button's OK; this window has none.
  } else if (m_focus && !m_focus->wantsAllKeys(tab)) {
    m_focus->onKeyDown(code);
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

}  // namespace trevolo::platform
