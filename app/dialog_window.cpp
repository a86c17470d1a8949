#include "app/dialog_window.h"

#include <algorithm>

namespace trevolo::app {

namespace {

// Stands in for the font while none is set: text draws as nothing.
class NoGlyphs : public controls::GlyphSource {
 public:
  controls::Size measure(std::string_view) const override { return {}; }
  controls::GlyphBitmap render(std::string_view) const override { return {}; }
};

const NoGlyphs kNoGlyphs;

}  // namespace

std::unique_ptr<DialogWindow> DialogWindow::create(const DialogOptions& options,
                                                   std::string* error) {
  platform::WindowOptions windowOptions;
  windowOptions.title = options.title;
  windowOptions.width = options.width;
  windowOptions.height = options.height;
  windowOptions.visible = !options.hidden;
  windowOptions.borderless = true;
  windowOptions.resizable = false;
  std::unique_ptr<DialogWindow> dialog(new DialogWindow());
  dialog->m_window = platform::Window::create(windowOptions, error);
  if (!dialog->m_window) return nullptr;
  dialog->m_canvas = controls::Canvas(options.width, options.height);
  dialog->m_icons = options.icons;
  std::vector<platform::IconImage> icons;
  for (const controls::Image& icon : dialog->m_icons) {
    if (!icon.empty()) icons.push_back({icon.width(), icon.height(), icon.data(), icon.stride()});
  }
  dialog->m_window->setIcons(icons);
  DialogWindow* self = dialog.get();
  dialog->m_window->setMessageHandler(
      [self](uint32_t message, uintptr_t wParam, intptr_t lParam) { self->send(message, wParam, lParam); });
  dialog->m_window->setInputHandler([self](const InputEvent& event) { self->handleInput(event); });
  dialog->m_window->setDragTest([self](int x, int y) { return self->isDragPoint(x, y); });
  dialog->m_window->setVideoVisible(false);
  return dialog;
}

DialogWindow::~DialogWindow() {
  // Controls may hold the window as their message target: they go first.
  m_focus = nullptr;
  m_hover = nullptr;
  m_controls.clear();
}

Control& DialogWindow::addControl(std::unique_ptr<Control> control) {
  m_controls.push_back(std::move(control));
  m_dirty = true;
  return *m_controls.back();
}

Control* DialogWindow::control(int id) const {
  for (const auto& c : m_controls) {
    if (c->id() == id) return c.get();
  }
  return nullptr;
}

void DialogWindow::setVideoControl(int id) {
  m_videoId = id;
  updateVideoArea();
}

void DialogWindow::moveControl(int id, const Rect& rect) {
  if (Control* c = control(id)) {
    c->move(rect);
    m_dirty = true;
    updateVideoArea();
  }
}

void DialogWindow::showControl(int id, bool visible) {
  if (Control* c = control(id)) {
    c->show(visible);
    m_dirty = true;
    updateVideoArea();
  }
}

// The picture goes into the video control's rectangle; every visible control
// above it in Z order that overlaps the picture is drawn again on top.
void DialogWindow::updateVideoArea() {
  const Control* video = m_videoId != 0 ? control(m_videoId) : nullptr;
  if (video == nullptr) return;
  m_window->setVideoRect(video->rect());
  std::vector<Rect> overlays;
  bool above = false;
  for (const auto& c : m_controls) {
    if (c.get() == video) {
      above = true;
      continue;
    }
    if (!above || !c->visible()) continue;
    const Rect common = c->rect().intersect(video->rect());
    if (!common.empty()) overlays.push_back(common);
  }
  m_window->setOverlays(std::move(overlays));
}

bool DialogWindow::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return m_window->post(message, wParam, lParam);
}

bool DialogWindow::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Handlers that change how the window looks say so (invalidate()): most
  // messages (position reports, a timer that only presents a picture)
  // change nothing, and recomposing the window for each would waste a core.
  if (message == WM_CLOSE) {
    if (!m_handler || !m_handler(message, wParam, lParam)) close();
    return true;
  }
  return m_handler && m_handler(message, wParam, lParam);
}

void DialogWindow::setTimer(int id, uint32_t periodMs) {
  const uint32_t period = std::max<uint32_t>(periodMs, 1);
  m_timers[id] = Timer{period, platform::Window::ticksMs() + period};
}

void DialogWindow::killTimer(int id) { m_timers.erase(id); }

void DialogWindow::fireDueTimers(uint64_t nowMs) {
  std::vector<int> due;
  for (auto& [id, timer] : m_timers) {
    if (timer.due > nowMs) continue;
    due.push_back(id);
    // A late timer fires once, not once per missed period.
    timer.due = nowMs + timer.period;
  }
  for (int id : due) {
    if (m_timers.count(id)) send(WM_TIMER, static_cast<uintptr_t>(id), 0);
  }
}

int DialogWindow::msUntilNextTimer(uint64_t nowMs, int limitMs) const {
  int wait = limitMs;
  for (const auto& [id, timer] : m_timers) {
    const uint64_t left = timer.due > nowMs ? timer.due - nowMs : 0;
    wait = std::min<int>(wait, static_cast<int>(std::min<uint64_t>(left, uint64_t(limitMs))));
  }
  return wait;
}

bool DialogWindow::pumpOnce(int timeoutMs) {
  if (m_pumpHook) m_pumpHook();
  const int wait = msUntilNextTimer(platform::Window::ticksMs(), timeoutMs);
  m_window->waitAndHandle(wait);
  fireDueTimers(platform::Window::ticksMs());
  if (!m_closed && m_dirty) paint();
  if (!m_closed) m_window->renderIfNeeded();
  return !m_closed;
}

void DialogWindow::run() {
  // With no timer due, the loop sleeps until an event arrives; the wait is
  // bounded so the pump hook keeps being served.
  constexpr int kIdleWaitMs = 500;
  constexpr int kHookWaitMs = 10;
  while (pumpOnce(m_pumpHook ? kHookWaitMs : kIdleWaitMs)) {
  }
}

void DialogWindow::paint() {
  m_dirty = false;
  if (m_paintHook) m_paintHook();
  m_canvas.clearClipRect();
  m_canvas.setOrigin(Point{});
  if (!m_background.empty()) {
    m_canvas.copy(0, 0, m_background.width(), m_background.height(), m_background, 0, 0);
  }
  const controls::GlyphSource& font = m_font ? *m_font : kNoGlyphs;
  for (const auto& c : m_controls) {
    if (c->visible()) c->paint(m_canvas, font);
  }
  const controls::Image& image = m_canvas.image();
  m_window->setFrame(image.data(), image.width(), image.height(), image.stride());
}

int DialogWindow::focusedId() const { return m_focus ? m_focus->id() : 0; }
int DialogWindow::hoverId() const { return m_hover ? m_hover->id() : 0; }

int DialogWindow::captureId() const {
  const Control* holder = captureHolder();
  return holder ? holder->id() : 0;
}

}  // namespace trevolo::app
