#include "platform/dialog_window.h"

#include <algorithm>

#include "platform/ttf_glyphs.h"

namespace trevolo::platform {

namespace {

// Stands in for the font while none is set: text draws as nothing.
class NoGlyphs : public controls::GlyphSource {
 public:
  controls::Size measure(std::string_view) const override { return {}; }
  controls::GlyphBitmap render(std::string_view) const override { return {}; }
};

const NoGlyphs kNoGlyphs;

SDL_HitTestResult hitTest(SDL_Window*, const SDL_Point* area, void* data) {
  const auto* window = static_cast<const DialogWindow*>(data);
  return window->isDragPoint(area->x, area->y) ? SDL_HITTEST_DRAGGABLE : SDL_HITTEST_NORMAL;
}

SDL_Surface* surfaceOf(controls::Image& image) {
  return SDL_CreateRGBSurfaceWithFormatFrom(image.data(), image.width(), image.height(), 32,
                                            static_cast<int>(image.stride()),
                                            SDL_PIXELFORMAT_RGBA32);
}

}  // namespace

std::unique_ptr<DialogWindow> DialogWindow::create(const DialogOptions& options,
                                                   std::string* error) {
  auto fail = [&](const char* what) {
    if (error) *error = std::string(what) + ": " + SDL_GetError();
    return std::unique_ptr<DialogWindow>();
  };
  if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
    return fail("SDL video");
  }
  std::unique_ptr<DialogWindow> window(new DialogWindow());
  const Uint32 flags = SDL_WINDOW_BORDERLESS | (options.hidden ? SDL_WINDOW_HIDDEN : SDL_WINDOW_SHOWN);
  window->m_window = SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_CENTERED,
                                      SDL_WINDOWPOS_CENTERED, options.width, options.height, flags);
  if (!window->m_window) return fail("window");
  window->m_renderer = SDL_CreateRenderer(window->m_window, -1, 0);
  if (!window->m_renderer) return fail("renderer");
  window->m_texture = SDL_CreateTexture(window->m_renderer, SDL_PIXELFORMAT_RGBA32,
                                        SDL_TEXTUREACCESS_STREAMING, options.width, options.height);
  if (!window->m_texture) return fail("texture");
  window->m_canvas = controls::Canvas(options.width, options.height);
  window->m_wakeEvent = SDL_RegisterEvents(1);
  controls::Image icon = options.icon;
  if (!icon.empty()) {
    if (SDL_Surface* surface = surfaceOf(icon)) {
      SDL_SetWindowIcon(window->m_window, surface);
      SDL_FreeSurface(surface);
    }
  }
  SDL_SetWindowHitTest(window->m_window, &hitTest, window.get());
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  return window;
}

void DialogWindow::shutdown() {
  TtfGlyphs::shutdown();
  SDL_Quit();
}

DialogWindow::~DialogWindow() {
  if (m_texture) SDL_DestroyTexture(m_texture);
  if (m_renderer) SDL_DestroyRenderer(m_renderer);
  if (m_window) SDL_DestroyWindow(m_window);
}

Control& DialogWindow::addControl(std::unique_ptr<Control> control) {
  m_controls.push_back(std::move(control));
  return *m_controls.back();
}

Control* DialogWindow::control(int id) const {
  for (const auto& c : m_controls) {
    if (c->id() == id) return c.get();
  }
  return nullptr;
}

bool DialogWindow::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  {
    std::lock_guard lock(m_queueMutex);
    m_queue.push_back(Message{message, wParam, lParam});
  }
  // Wake the UI thread if it is waiting for events.
  SDL_Event wake{};
  wake.type = m_wakeEvent;
  SDL_PushEvent(&wake);
  return true;
}

bool DialogWindow::send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  m_dirty = true;  // a handler may change any control
  if (message == WM_CLOSE) {
    if (!m_handler || !m_handler(message, wParam, lParam)) close();
    return true;
  }
  return m_handler && m_handler(message, wParam, lParam);
}

void DialogWindow::dispatchMessages() {
  std::deque<Message> pending;
  {
    std::lock_guard lock(m_queueMutex);
    pending.swap(m_queue);
  }
  for (const Message& m : pending) send(m.message, m.wParam, m.lParam);
}

void DialogWindow::setTimer(int id, uint32_t periodMs) {
  m_timers[id] = Timer{std::max<uint32_t>(periodMs, 1), SDL_GetTicks64() + std::max<uint32_t>(periodMs, 1)};
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

bool DialogWindow::pumpOnce(int timeoutMs) {
  SDL_Event event;
  if (SDL_WaitEventTimeout(&event, timeoutMs)) {
    m_dirty = true;
    handleEvent(event);
    while (SDL_PollEvent(&event)) handleEvent(event);
  }
  fireDueTimers(SDL_GetTicks64());
  dispatchMessages();
  if (!m_closed && m_dirty) {
    m_dirty = false;
    paint();
  }
  return !m_closed;
}

void DialogWindow::run() {
  while (pumpOnce(10)) {
  }
}

void DialogWindow::minimise() { SDL_MinimizeWindow(m_window); }
void DialogWindow::restore() { SDL_RestoreWindow(m_window); }

void DialogWindow::paint() {
  m_canvas.clearClipRect();
  m_canvas.setOrigin(Point{});
  if (!m_background.empty()) {
    m_canvas.copy(0, 0, m_background.width(), m_background.height(), m_background, 0, 0);
  }
  const controls::GlyphSource& font = m_font ? *m_font : kNoGlyphs;
  for (const auto& c : m_controls) {
    if (c->visible()) c->paint(m_canvas, font);
  }
  present();
}

void DialogWindow::present() {
  const controls::Image& image = m_canvas.image();
  SDL_UpdateTexture(m_texture, nullptr, image.data(), static_cast<int>(image.stride()));
  SDL_RenderClear(m_renderer);
  SDL_RenderCopy(m_renderer, m_texture, nullptr, nullptr);
  SDL_RenderPresent(m_renderer);
}

int DialogWindow::focusedId() const { return m_focus ? m_focus->id() : 0; }
int DialogWindow::hoverId() const { return m_hover ? m_hover->id() : 0; }

int DialogWindow::captureId() const {
  const Control* holder = captureHolder();
  return holder ? holder->id() : 0;
}

}  // namespace trevolo::platform
