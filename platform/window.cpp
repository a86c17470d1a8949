// The minimal window over SDL2. Posted messages and picture wake-ups travel
// as SDL user events, so the UI thread sleeps in SDL_WaitEventTimeout until
// something happens. Only this thread touches the SDL renderer.
#include "platform/window.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#undef None
#undef Status

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <mutex>

#include "platform/display_presenter.h"
#include "platform/picture_scaler.h"
#include "platform/ttf_font.h"

namespace trevolo::platform {

namespace {

// Matrix for YUV pictures: BT.601 below this many lines, BT.709 from it.
constexpr uint32_t kHdLines = 720;
// Cap on picture surfaces when the renderer reports no texture limit.
constexpr uint32_t kDefaultMaxTexture = 16384;

// SDL user event types: posted messages and picture wake-ups. Registered
// once per process, since SDL hands out event numbers for its lifetime.
struct EventTypes {
  uint32_t message = 0;
  uint32_t picture = 0;
};

const EventTypes& eventTypes() {
  static const EventTypes types = [] {
    const Uint32 first = SDL_RegisterEvents(2);
    return first == static_cast<Uint32>(-1) ? EventTypes{} : EventTypes{first, first + 1};
  }();
  return types;
}

bool isSoftwareRasteriser(const char* name) {
  std::string lower = name != nullptr ? name : "";
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* soft : {"llvmpipe", "softpipe", "software", "swrast"}) {
    if (lower.find(soft) != std::string::npos) return true;
  }
  return lower.empty();
}

// Whether the machine has a graphics device node at all (a kernel DRM
// driver, or NVIDIA's own). Without one, OpenGL can only be a software
// rasteriser, and asking it would load it: tens of megabytes and two
// threads that stay for the life of the process.
bool hasGraphicsDevice() {
  std::error_code error;
  for (const char* node : {"/dev/dri", "/dev/nvidiactl"}) {
    if (std::filesystem::exists(node, error)) return true;
  }
  return false;
}

// True only when OpenGL runs on real graphics hardware. Without a screen
// (dummy, offscreen) there is nothing to accelerate.
bool hasHardwareOpenGl() {
  const char* driver = SDL_GetCurrentVideoDriver();
  if (driver == nullptr || std::string(driver) == "dummy" || std::string(driver) == "offscreen") {
    return false;
  }
  if (!hasGraphicsDevice()) return false;
  SDL_Window* probe = SDL_CreateWindow("", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (probe == nullptr) return false;
  bool hardware = false;
  if (SDL_GLContext context = SDL_GL_CreateContext(probe)) {
    using GetString = const unsigned char* (*)(unsigned int);
    constexpr unsigned int kGlRenderer = 0x1F01;
    auto getString = reinterpret_cast<GetString>(SDL_GL_GetProcAddress("glGetString"));
    if (getString != nullptr) {
      hardware = !isSoftwareRasteriser(reinterpret_cast<const char*>(getString(kGlRenderer)));
    }
    SDL_GL_DeleteContext(context);
  }
  SDL_DestroyWindow(probe);
  return hardware;
}

int rendererIndex(const char* name) {
  for (int i = 0; i < SDL_GetNumRenderDrivers(); ++i) {
    SDL_RendererInfo info{};
    if (SDL_GetRenderDriverInfo(i, &info) == 0 && std::string(info.name) == name) return i;
  }
  return -1;
}

Uint32 textureFormat(SurfaceFormat format) {
  switch (format) {
    case SurfaceFormat::YV12: return SDL_PIXELFORMAT_YV12;
    case SurfaceFormat::I420: return SDL_PIXELFORMAT_IYUV;
    case SurfaceFormat::YUY2: return SDL_PIXELFORMAT_YUY2;
    case SurfaceFormat::YVYU: return SDL_PIXELFORMAT_YVYU;
    case SurfaceFormat::UYVY: return SDL_PIXELFORMAT_UYVY;
    case SurfaceFormat::NV12: return SDL_PIXELFORMAT_NV12;
    case SurfaceFormat::Palette8: return SDL_PIXELFORMAT_ARGB8888;  // expanded by SDL on upload
    case SurfaceFormat::Rgb555: return SDL_PIXELFORMAT_RGB555;
    case SurfaceFormat::Rgb565: return SDL_PIXELFORMAT_RGB565;
    case SurfaceFormat::Rgb32: return SDL_PIXELFORMAT_RGB888;
  }
  return SDL_PIXELFORMAT_UNKNOWN;
}

InputEvent inputOf(InputEvent::Kind kind) {
  InputEvent event;
  event.kind = kind;
  return event;
}

bool isYuv(SurfaceFormat format) {
  return format != SurfaceFormat::Palette8 && format != SurfaceFormat::Rgb555 &&
         format != SurfaceFormat::Rgb565 && format != SurfaceFormat::Rgb32;
}

void chooseColourMatrix(uint32_t height) {
  SDL_SetYUVConversionMode(height >= kHdLines ? SDL_YUV_CONVERSION_BT709
                                              : SDL_YUV_CONVERSION_BT601);
}

// The window surface as the scaler's target; false for pixel layouts it
// does not write (anything but 32-bit RGB).
bool surfaceTarget(SDL_Surface* surface, PixelTarget* target) {
  if (surface == nullptr || surface->pixels == nullptr) return false;
  switch (surface->format->format) {
    case SDL_PIXELFORMAT_RGB888:
    case SDL_PIXELFORMAT_ARGB8888: target->order = PixelTarget::Order::Bgra; break;
    case SDL_PIXELFORMAT_BGR888:
    case SDL_PIXELFORMAT_ABGR8888: target->order = PixelTarget::Order::Rgba; break;
    default: return false;
  }
  target->pixels = static_cast<uint8_t*>(surface->pixels);
  target->pitch = surface->pitch;
  target->width = surface->w;
  target->height = surface->h;
  return true;
}

SDL_Rect sdlRect(const Rect& r) { return SDL_Rect{r.left, r.top, r.width(), r.height()}; }

// The largest rectangle of the picture's shape that fits in `area`, centred.
Rect fitPicture(uint32_t width, uint32_t height, const Rect& area) {
  if (width == 0 || height == 0 || area.empty()) return area;
  const int64_t areaW = area.width();
  const int64_t areaH = area.height();
  int64_t w = areaW;
  int64_t h = (areaW * height + width / 2) / width;
  if (h > areaH) {
    h = areaH;
    w = (areaH * width + height / 2) / height;
  }
  const int left = area.left + int(areaW - w) / 2;
  const int top = area.top + int(areaH - h) / 2;
  return rectAt(left, top, int(w), int(h));
}

// Text over the picture: white glyphs on a dark box that lets the picture
// show through. Sizes follow the height of the picture's rectangle, so the
// text reads the same in the window and in full screen.
constexpr uint8_t kTextBoxAlpha = 160;  // of 255
constexpr int kTextLinesPerPicture = 24;  // font pixels = picture height / this
constexpr int kSmallestTextPixels = 14;
constexpr int kLargestTextPixels = 40;

int textPixelsFor(int pictureHeight) {
  return std::clamp(pictureHeight / kTextLinesPerPicture, kSmallestTextPixels,
                    kLargestTextPixels);
}

// The box as ARGB pixels (straight alpha, for SDL's blend mode): the lines
// one below the other, `padding` pixels inside the box's edges. Each pixel
// is what blending white at the glyph's coverage over the dark box gives.
std::vector<uint32_t> composeTextBox(const std::vector<TextCoverage>& lines, int padding,
                                     int* width, int* height) {
  int w = 0;
  int h = 0;
  for (const TextCoverage& line : lines) {
    w = std::max(w, line.width);
    h += line.height;
  }
  *width = w + 2 * padding;
  *height = h + 2 * padding;
  const uint32_t boxPixel = uint32_t(kTextBoxAlpha) << 24;
  std::vector<uint32_t> pixels(size_t(*width) * size_t(*height), boxPixel);
  int top = padding;
  for (const TextCoverage& line : lines) {
    for (int y = 0; y < line.height; ++y) {
      uint32_t* row = pixels.data() + size_t(top + y) * size_t(*width) + size_t(padding);
      const uint8_t* ink = line.coverage.data() + size_t(y) * size_t(line.width);
      for (int x = 0; x < line.width; ++x) {
        const uint32_t c = ink[x];
        if (c == 0) continue;
        // White at coverage c over the box: alpha a = 1 - (1 - c)(1 - box),
        // colour c / a (all in units of 255).
        const uint32_t alpha = 255 - (255 - c) * (255 - kTextBoxAlpha) / 255;
        const uint32_t grey = std::min<uint32_t>(255, (c * 255 + alpha / 2) / alpha);
        row[x] = alpha << 24 | grey << 16 | grey << 8 | grey;
      }
    }
    top += line.height;
  }
  return pixels;
}

}  // namespace

struct Window::Impl {
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  bool videoStarted = false;  // SDL's video subsystem is counted, so quit only what we started
  Uint32 windowId = 0;
  RendererPath path = RendererPath::Software;
  // SDL's software renderer draws into the window's own surface, which keeps
  // what was drawn, and YUV pictures are scaled straight into it.
  bool surfaceRenderer = false;
  std::shared_ptr<VideoPresenter> presenter = std::make_shared<VideoPresenter>();

  MessageHandler onMessage;          // UI thread
  InputHandler onInput;              // UI thread
  std::function<void()> onClose;     // UI thread
  std::function<bool(int, int)> dragTest;  // UI thread (SDL calls it there)
  std::atomic<bool> closeRequested{false};
  bool needsRedraw = true;           // UI thread
  // Something besides the picture changed: draw the frame again too. Any
  // thread (the video rectangle may move from any).
  std::atomic<bool> wholeRedraw{true};
  std::vector<std::string> dropping;  // UI thread: files of a drop in progress
  bool inDrop = false;

  // UI thread: the caller's frame and the parts of it above the picture.
  SDL_Texture* frame = nullptr;
  int frameWidth = 0;
  int frameHeight = 0;
  std::vector<Rect> overlays;
  bool videoVisible = true;

  mutable std::mutex rectMutex;
  Rect video;               // guarded by rectMutex
  bool videoRectSet = false;  // guarded by rectMutex

  // UI thread: YUV pictures into the window surface (software renderer).
  PictureScaler scaler;
  // UI thread: the parts of the window the last draw changed, when that was
  // only the picture and its overlays; empty means the whole window.
  std::vector<SDL_Rect> changed;

  // UI thread: the texture showing the attached surface's picture (other
  // renderers and formats).
  SDL_Texture* texture = nullptr;
  const SurfaceMemory* textureSource = nullptr;
  SurfaceFormat textureKind = SurfaceFormat::YV12;
  uint32_t textureWidth = 0;
  uint32_t textureHeight = 0;

  // UI thread: full screen, and the window's place and size (screen
  // coordinates) before it, put back on leaving.
  bool fullScreen = false;
  Rect windowedPlace;
  // UI thread: where the last full-screen draw put the picture, black
  // around it; empty when it drew no picture.
  Rect fullScreenPicture;

  // UI thread: in full screen the pointer hides once it has been still for
  // pointerHideMs.
  int pointerHideMs = 2000;
  uint64_t pointerActiveMs = 0;  // ticksMs of the last move or click
  bool pointerHidden = false;

  // UI thread: the text over the picture, drawn from one texture made again
  // when the lines or the font size change.
  std::vector<std::string> textLines;
  std::unique_ptr<TtfFont> textFont;
  int textFontPixels = 0;      // the size textFont was asked for (null: failed)
  SDL_Texture* textTexture = nullptr;
  bool textStale = false;      // textTexture does not show textLines
  int textWidth = 0;           // of textTexture, pixels
  int textHeight = 0;

  ~Impl();
  bool open(const WindowOptions& options, std::string* error);
  void handle(const SDL_Event& event);
  void input(const InputEvent& event);
  void handleInput(const SDL_Event& event);
  void dropTexture();
  bool ensureTexture(const SurfaceMemory& memory);
  bool upload(SurfaceMemory& memory);
  bool drawScaled(SurfaceMemory& memory, const Rect& rect);
  bool drawTexture(SurfaceMemory& memory, const Rect& rect);
  void draw();
  void show();
  bool enterFullScreen();
  void coverScreen();
  void leaveFullScreen();
  void installDragTest();
  int pointerWait(int timeoutMs) const;
  void pointerActive();
  void hidePointerWhenStill();
  void dropText();
  bool prepareText(int pixels);
  void drawText(const Rect& area);
  Rect clientRect() const;
  Rect currentVideoRect() const;
};

Rect Window::Impl::clientRect() const {
  int width = 0;
  int height = 0;
  SDL_GetRendererOutputSize(renderer, &width, &height);
  return rectAt(0, 0, width, height);
}

Rect Window::Impl::currentVideoRect() const {
  std::lock_guard<std::mutex> guard(rectMutex);
  return videoRectSet ? video : clientRect();
}

Window::Impl::~Impl() {
  presenter->close();
  if (pointerHidden) SDL_ShowCursor(SDL_ENABLE);
  dropText();
  dropTexture();
  if (frame != nullptr) SDL_DestroyTexture(frame);
  if (renderer != nullptr) SDL_DestroyRenderer(renderer);
  if (window != nullptr) SDL_DestroyWindow(window);
  if (videoStarted) SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

bool Window::Impl::open(const WindowOptions& options, std::string* error) {
  auto fail = [&](const char* what) {
    if (error != nullptr) *error = std::string(what) + ": " + SDL_GetError();
    return false;
  };
  if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return fail("cannot start SDL video");
  videoStarted = true;
  if (eventTypes().message == 0) return fail("cannot register window events");
  // A click on a window that is not active presses what it lands on, as it
  // does in other desktop programs; SDL would otherwise swallow it with the
  // focus change. The environment can still say otherwise.
  SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
  Uint32 rendererFlags = 0;
  int driverIndex = -1;
  if (SDL_GetHint(SDL_HINT_RENDER_DRIVER) != nullptr) {
    path = RendererPath::Other;
  } else if (hasHardwareOpenGl()) {
    path = RendererPath::HardwareOpenGl;
    driverIndex = rendererIndex("opengl");
    rendererFlags = SDL_RENDERER_ACCELERATED;
  } else {
    // Without a GPU the window surface itself must not go through a GL
    // emulation: it costs twice the CPU of plain X11 shared memory.
    path = RendererPath::Software;
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    rendererFlags = SDL_RENDERER_SOFTWARE;
  }
  const Uint32 windowFlags = (options.resizable ? SDL_WINDOW_RESIZABLE : 0) |
                            (options.borderless ? SDL_WINDOW_BORDERLESS : 0) |
                            (options.visible ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
  window = SDL_CreateWindow(options.title.c_str(), SDL_WINDOWPOS_CENTERED,
                            SDL_WINDOWPOS_CENTERED, options.width, options.height, windowFlags);
  if (window == nullptr) return fail("cannot create window");
  renderer = SDL_CreateRenderer(window, driverIndex, rendererFlags);
  if (renderer == nullptr) return fail("cannot create renderer");
  windowId = SDL_GetWindowID(window);
  pointerHideMs = options.pointerHideMs;
  SDL_RendererInfo info{};
  SDL_GetRendererInfo(renderer, &info);
  surfaceRenderer = info.name != nullptr && std::string(info.name) == "software";
  auto limit = [](int side) { return side > 0 ? uint32_t(side) : kDefaultMaxTexture; };
  presenter->maxTextureWidth = limit(info.max_texture_width);
  presenter->maxTextureHeight = limit(info.max_texture_height);
  const Uint32 id = windowId;
  presenter->wake = [id] {
    SDL_Event event{};
    event.type = eventTypes().picture;
    event.user.windowID = id;
    return SDL_PushEvent(&event) == 1;
  };
  SDL_EventState(SDL_DROPFILE, SDL_ENABLE);
  SDL_EventState(SDL_DROPBEGIN, SDL_ENABLE);
  SDL_EventState(SDL_DROPCOMPLETE, SDL_ENABLE);
  return true;
}

void Window::Impl::handle(const SDL_Event& event) {
  const EventTypes& types = eventTypes();
  if (event.type == types.message) {
    if (event.user.windowID == windowId && onMessage) {
      onMessage(static_cast<uint32_t>(event.user.code),
                reinterpret_cast<uintptr_t>(event.user.data1),
                static_cast<intptr_t>(reinterpret_cast<uintptr_t>(event.user.data2)));
    }
  } else if (event.type == types.picture) {
    presenter->pictureEventHandled();
    needsRedraw = true;  // the picture alone: the frame around it stands
  } else if (event.type == SDL_RENDER_TARGETS_RESET || event.type == SDL_RENDER_DEVICE_RESET) {
    // The texture may be gone: the surface reports itself lost to the next
    // present, which drops that picture and restores the surface.
    dropTexture();
    textStale = !textLines.empty();  // the text texture may be gone too
    presenter->markLost();
    needsRedraw = true;
    wholeRedraw.store(true);
  } else if (event.type == SDL_QUIT ||
             (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
    if (onInput) {
      input(inputOf(InputEvent::Kind::Close));
    } else if (onClose) {
      onClose();
    } else {
      closeRequested.store(true);
    }
  } else if (event.type == SDL_WINDOWEVENT) {
    if (event.window.event == SDL_WINDOWEVENT_LEAVE) input(inputOf(InputEvent::Kind::MouseLeave));
    needsRedraw = true;
    wholeRedraw.store(true);  // exposed, resized, restored: paint the last picture again
  } else {
    if (event.type == SDL_MOUSEMOTION || event.type == SDL_MOUSEBUTTONDOWN) pointerActive();
    handleInput(event);
  }
}

void Window::Impl::input(const InputEvent& event) {
  if (onInput) onInput(event);
}

namespace {

Key keyOf(SDL_Keycode code) {
  switch (code) {
    case SDLK_TAB: return Key::Tab;
    case SDLK_ESCAPE: return Key::Escape;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return Key::Return;
    case SDLK_SPACE: return Key::Space;
    case SDLK_PAGEUP: return Key::PageUp;
    case SDLK_PAGEDOWN: return Key::PageDown;
    case SDLK_END: return Key::End;
    case SDLK_HOME: return Key::Home;
    case SDLK_LEFT: return Key::Left;
    case SDLK_UP: return Key::Up;
    case SDLK_RIGHT: return Key::Right;
    case SDLK_DOWN: return Key::Down;
    case SDLK_BACKSPACE: return Key::Backspace;
    case SDLK_F1: return Key::F1;
    case SDLK_m: return Key::M;
    case SDLK_p: return Key::P;
    case SDLK_s: return Key::S;
    case SDLK_o: return Key::O;
    case SDLK_f: return Key::F;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
    case SDLK_LCTRL:
    case SDLK_RCTRL:
    case SDLK_LALT:
    case SDLK_RALT:
    case SDLK_LGUI:
    case SDLK_RGUI:
    case SDLK_MODE:
    case SDLK_CAPSLOCK:
    case SDLK_NUMLOCKCLEAR: return Key::Modifier;
    default: return Key::Other;
  }
}

// The punctuation keys by the character they typed: their place and shift
// level differ from one keyboard layout to the next, the character does not.
Key keyOfText(const char* text) {
  if (text[0] == '\0' || text[1] != '\0') return Key::Other;
  switch (text[0]) {
    case '[': return Key::BracketLeft;
    case ']': return Key::BracketRight;
    case '.': return Key::Period;
    case ',': return Key::Comma;
    case '?': return Key::Question;
    default: return Key::Other;
  }
}

}  // namespace

void Window::Impl::handleInput(const SDL_Event& event) {
  InputEvent in;
  switch (event.type) {
    case SDL_MOUSEMOTION:
      in.kind = InputEvent::Kind::MouseMove;
      in.x = event.motion.x;
      in.y = event.motion.y;
      break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
      in.kind = event.type == SDL_MOUSEBUTTONDOWN ? InputEvent::Kind::MouseDown
                                                  : InputEvent::Kind::MouseUp;
      in.x = event.button.x;
      in.y = event.button.y;
      in.button = event.button.button;
      in.clicks = event.button.clicks;
      break;
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      in.kind = event.type == SDL_KEYDOWN ? InputEvent::Kind::KeyDown : InputEvent::Kind::KeyUp;
      in.key = keyOf(event.key.keysym.sym);
      in.shift = (event.key.keysym.mod & KMOD_SHIFT) != 0;
      break;
    case SDL_TEXTINPUT:
      in.kind = InputEvent::Kind::KeyDown;
      in.key = keyOfText(event.text.text);
      if (in.key == Key::Other) return;  // other text: its key was reported already
      break;
    case SDL_DROPBEGIN:
      inDrop = true;
      dropping.clear();
      return;
    case SDL_DROPFILE: {
      std::string path = event.drop.file != nullptr ? event.drop.file : "";
      SDL_free(event.drop.file);
      if (inDrop) {
        dropping.push_back(std::move(path));
        return;
      }
      in.kind = InputEvent::Kind::Drop;  // a drop without begin and end: one file
      in.paths.push_back(std::move(path));
      break;
    }
    case SDL_DROPCOMPLETE:
      inDrop = false;
      if (dropping.empty()) return;
      in.kind = InputEvent::Kind::Drop;
      in.paths.swap(dropping);
      break;
    default:
      return;
  }
  needsRedraw = true;
  wholeRedraw.store(true);
  input(in);
}

void Window::Impl::dropTexture() {
  if (texture != nullptr) SDL_DestroyTexture(texture);
  texture = nullptr;
  textureSource = nullptr;
}

bool Window::Impl::ensureTexture(const SurfaceMemory& memory) {
  if (texture != nullptr && textureKind == memory.format && textureWidth == memory.width &&
      textureHeight == memory.height) {
    return true;
  }
  dropTexture();
  if (isYuv(memory.format)) chooseColourMatrix(memory.height);
  texture = SDL_CreateTexture(renderer, textureFormat(memory.format), SDL_TEXTUREACCESS_STREAMING,
                              static_cast<int>(memory.width), static_cast<int>(memory.height));
  if (texture == nullptr) return false;
  SDL_SetTextureScaleMode(texture, SDL_ScaleModeLinear);
  textureKind = memory.format;
  textureWidth = memory.width;
  textureHeight = memory.height;
  return true;
}

bool Window::Impl::upload(SurfaceMemory& memory) {
  if (!ensureTexture(memory)) return false;
  std::lock_guard<std::mutex> guard(memory.lock);
  memory.fresh.store(false);
  textureSource = &memory;
  uint8_t* pixels = memory.pixels.data();
  const int pitch = memory.pitch;
  const size_t lumaBytes = size_t(pitch) * memory.height;
  const size_t chromaPlane = size_t(pitch / 2) * (memory.height / 2);
  switch (memory.format) {
    case SurfaceFormat::YV12:
    case SurfaceFormat::I420: {
      // The planes lie one after the other; the second chroma plane starts
      // right after height / 2 rows of the first.
      uint8_t* first = pixels + lumaBytes;
      uint8_t* second = first + chromaPlane;
      uint8_t* u = memory.format == SurfaceFormat::I420 ? first : second;
      uint8_t* v = memory.format == SurfaceFormat::I420 ? second : first;
      return SDL_UpdateYUVTexture(texture, nullptr, pixels, pitch, u, pitch / 2, v, pitch / 2) == 0;
    }
    case SurfaceFormat::NV12:
      return SDL_UpdateNVTexture(texture, nullptr, pixels, pitch, pixels + lumaBytes, pitch) == 0;
    case SurfaceFormat::Palette8: {
      SDL_Surface* indexed = SDL_CreateRGBSurfaceWithFormatFrom(
          pixels, int(memory.width), int(memory.height), 8, pitch, SDL_PIXELFORMAT_INDEX8);
      if (indexed == nullptr) return false;
      SDL_Color colours[256];
      for (int i = 0; i < 256; ++i) {
        const uint32_t c = memory.palette[i];
        colours[i] = SDL_Color{Uint8(c >> 16), Uint8(c >> 8), Uint8(c), 255};
      }
      SDL_SetPaletteColors(indexed->format->palette, colours, 0, 256);
      SDL_Surface* expanded = SDL_ConvertSurfaceFormat(indexed, SDL_PIXELFORMAT_ARGB8888, 0);
      SDL_FreeSurface(indexed);
      if (expanded == nullptr) return false;
      const bool ok = SDL_UpdateTexture(texture, nullptr, expanded->pixels, expanded->pitch) == 0;
      SDL_FreeSurface(expanded);
      return ok;
    }
    default:
      return SDL_UpdateTexture(texture, nullptr, pixels, pitch) == 0;
  }
}

// Converts and scales the picture straight into the window surface. What
// the renderer has queued (the frame) must be in the surface first, since
// the picture goes over it.
bool Window::Impl::drawScaled(SurfaceMemory& memory, const Rect& rect) {
  SDL_RenderFlush(renderer);
  SDL_Surface* surface = SDL_GetWindowSurface(window);
  if (surface == nullptr || (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0)) {
    return false;
  }
  PixelTarget target;
  bool drawn = false;
  if (surfaceTarget(surface, &target)) {
    std::lock_guard<std::mutex> guard(memory.lock);
    drawn = scaler.draw(memory, rect, target);
    if (drawn) memory.fresh.store(false);
  }
  if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
  // A texture, if one is left, no longer holds the latest picture.
  if (drawn) textureSource = nullptr;
  return drawn;
}

bool Window::Impl::drawTexture(SurfaceMemory& memory, const Rect& rect) {
  if (memory.fresh.load() || textureSource != &memory) {
    if (!upload(memory)) dropTexture();
  }
  if (texture == nullptr || textureSource != &memory) return false;
  const SDL_Rect target = sdlRect(rect);
  if (isYuv(textureKind)) chooseColourMatrix(textureHeight);
  SDL_RenderSetClipRect(renderer, &target);
  SDL_RenderCopy(renderer, texture, nullptr, &target);
  SDL_RenderSetClipRect(renderer, nullptr);
  return true;
}

void Window::Impl::draw() {
  needsRedraw = false;
  changed.clear();
  const bool whole = wholeRedraw.exchange(false);
  std::shared_ptr<SurfaceMemory> memory = presenter->attached();
  if (memory && (memory->lost.load() || !memory->holdsPicture.load())) memory.reset();
  const bool scaled = memory && surfaceRenderer && PictureScaler::accepts(memory->format);
  if (memory && !scaled && (memory->fresh.load() || textureSource != memory.get())) {
    if (!upload(*memory)) dropTexture();
  }
  const bool picture = videoVisible && memory &&
                       (scaled || (texture != nullptr && textureSource == memory.get()));
  const Rect client = clientRect();
  const Rect rect = fullScreen && memory ? fitPicture(memory->width, memory->height, client)
                                         : currentVideoRect();
  // The software renderer draws into the window's own surface, which keeps
  // what was drawn: when only the picture changed, what lies around it (the
  // frame, or the black of full screen) is still there and need not be
  // drawn again.
  const bool surroundKept = fullScreen ? rect == fullScreenPicture : frame != nullptr;
  const bool pictureOnly = !whole && picture && surroundKept && surfaceRenderer;
  if (!pictureOnly) {
    SDL_RenderSetClipRect(renderer, nullptr);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    // The frame covers every pixel; full screen shows no frame.
    if (fullScreen || frame == nullptr) SDL_RenderClear(renderer);
    if (!fullScreen && frame != nullptr) SDL_RenderCopy(renderer, frame, nullptr, nullptr);
  }
  fullScreenPicture = fullScreen && picture ? rect : Rect{};
  if (!picture) {
    // Text asked for while no picture shows (the key list in an idle
    // window) lies over the video rectangle all the same.
    drawText(rect);
    return;
  }
  if (!(scaled && drawScaled(*memory, rect))) drawTexture(*memory, rect);
  const std::vector<Rect> noOverlays;
  const std::vector<Rect>& above = fullScreen ? noOverlays : overlays;
  if (frame != nullptr) {
    for (const Rect& r : above) {
      const SDL_Rect part = sdlRect(r);
      SDL_RenderCopy(renderer, frame, &part, &part);
    }
  }
  drawText(rect);
  if (!pictureOnly) return;
  for (const Rect& r : above) {
    if (!r.intersect(client).empty()) changed.push_back(sdlRect(r.intersect(client)));
  }
  if (!rect.intersect(client).empty()) changed.push_back(sdlRect(rect.intersect(client)));
}

// Puts what draw changed on the screen: the whole window, or on the software
// path after a picture-only draw, just the video rectangle and its overlays.
void Window::Impl::show() {
  if (changed.empty()) {
    SDL_RenderPresent(renderer);
    return;
  }
  SDL_RenderFlush(renderer);
  if ((SDL_GetWindowFlags(window) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) == 0) {
    SDL_UpdateWindowSurfaceRects(window, changed.data(), static_cast<int>(changed.size()));
  }
}

Window::Window(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

Window::~Window() = default;

std::unique_ptr<Window> Window::create(const WindowOptions& options, std::string* error) {
  auto impl = std::make_unique<Impl>();
  if (!impl->open(options, error)) return nullptr;
  return std::unique_ptr<Window>(new Window(std::move(impl)));
}

bool Window::post(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  SDL_Event event{};
  event.type = eventTypes().message;
  event.user.windowID = m_impl->windowId;
  event.user.code = static_cast<Sint32>(message);
  event.user.data1 = reinterpret_cast<void*>(wParam);
  event.user.data2 = reinterpret_cast<void*>(static_cast<uintptr_t>(lParam));
  return SDL_PushEvent(&event) == 1;
}

void Window::setMessageHandler(MessageHandler handler) { m_impl->onMessage = std::move(handler); }

void Window::setCloseHandler(std::function<void()> handler) {
  m_impl->onClose = std::move(handler);
}

void Window::requestClose() { m_impl->closeRequested.store(true); }

bool Window::closeRequested() const { return m_impl->closeRequested.load(); }

bool Window::waitAndHandle(int timeoutMs) {
  SDL_Event event;
  // In full screen the wait also ends when the pointer is due to hide.
  const int wait = m_impl->pointerWait(timeoutMs);
  const int got = wait > 0 ? SDL_WaitEventTimeout(&event, wait) : SDL_PollEvent(&event);
  if (got != 0) {
    m_impl->handle(event);
    while (SDL_PollEvent(&event) == 1) m_impl->handle(event);
  }
  m_impl->hidePointerWhenStill();
  return got != 0;
}

void Window::renderIfNeeded() {
  if (!m_impl->needsRedraw) return;
  m_impl->draw();
  m_impl->show();
}

bool Window::pumpOnce(int timeoutMs) {
  const bool handled = waitAndHandle(timeoutMs);
  renderIfNeeded();
  return handled;
}

void Window::runUntil(const std::function<bool()>& done) {
  constexpr int kWaitSliceMs = 10;  // how often `done` is asked while idle
  while (!closeRequested() && !(done && done())) pumpOnce(kWaitSliceMs);
}

void Window::setInputHandler(InputHandler handler) { m_impl->onInput = std::move(handler); }

namespace {

SDL_HitTestResult hitTest(SDL_Window*, const SDL_Point* area, void* data) {
  const auto* test = static_cast<const std::function<bool(int, int)>*>(data);
  return (*test)(area->x, area->y) ? SDL_HITTEST_DRAGGABLE : SDL_HITTEST_NORMAL;
}

}  // namespace

void Window::setDragTest(std::function<bool(int x, int y)> drag) {
  m_impl->dragTest = std::move(drag);
  m_impl->installDragTest();
}

void Window::setFrame(const uint8_t* rgba, int width, int height, size_t stride) {
  Impl& impl = *m_impl;
  if (rgba == nullptr || width <= 0 || height <= 0) return;
  if (impl.frame == nullptr || impl.frameWidth != width || impl.frameHeight != height) {
    if (impl.frame != nullptr) SDL_DestroyTexture(impl.frame);
    impl.frame = SDL_CreateTexture(impl.renderer, SDL_PIXELFORMAT_RGBA32,
                                   SDL_TEXTUREACCESS_STREAMING, width, height);
    if (impl.frame == nullptr) return;
    // The frame is opaque: it replaces what is under it.
    SDL_SetTextureBlendMode(impl.frame, SDL_BLENDMODE_NONE);
    impl.frameWidth = width;
    impl.frameHeight = height;
  }
  SDL_UpdateTexture(impl.frame, nullptr, rgba, static_cast<int>(stride));
  impl.needsRedraw = true;
  impl.wholeRedraw.store(true);
}

void Window::setOverlays(std::vector<Rect> overlays) {
  m_impl->overlays = std::move(overlays);
  m_impl->needsRedraw = true;
  m_impl->wholeRedraw.store(true);
}

void Window::setVideoVisible(bool visible) {
  if (m_impl->videoVisible == visible) return;
  m_impl->videoVisible = visible;
  m_impl->needsRedraw = true;
  m_impl->wholeRedraw.store(true);
}

bool Window::videoVisible() const { return m_impl->videoVisible; }

void Window::setIcons(const std::vector<IconImage>& icons) {
  const IconImage* largest = nullptr;
  for (const IconImage& icon : icons) {
    if (icon.rgba == nullptr || icon.width <= 0 || icon.height <= 0) continue;
    if (largest == nullptr || icon.width > largest->width) largest = &icon;
  }
  if (largest == nullptr) return;
  if (SDL_Surface* surface = SDL_CreateRGBSurfaceWithFormatFrom(
          const_cast<uint8_t*>(largest->rgba), largest->width, largest->height, 32,
          static_cast<int>(largest->stride), SDL_PIXELFORMAT_RGBA32)) {
    SDL_SetWindowIcon(m_impl->window, surface);
    SDL_FreeSurface(surface);
  }
  // SDL gives X11 one size; the desktop picks the best of all of them from
  // _NET_WM_ICON: width, height, then ARGB pixels as longs, per size.
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(m_impl->window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
    return;
  }
  std::vector<unsigned long> data;
  for (const IconImage& icon : icons) {
    if (icon.rgba == nullptr || icon.width <= 0 || icon.height <= 0) continue;
    data.push_back(static_cast<unsigned long>(icon.width));
    data.push_back(static_cast<unsigned long>(icon.height));
    for (int y = 0; y < icon.height; ++y) {
      const uint8_t* row = icon.rgba + static_cast<size_t>(y) * icon.stride;
      for (int x = 0; x < icon.width; ++x) {
        const uint8_t* p = row + static_cast<size_t>(x) * 4;
        data.push_back((unsigned long)p[3] << 24 | (unsigned long)p[0] << 16 |
                       (unsigned long)p[1] << 8 | p[2]);
      }
    }
  }
  Display* display = info.info.x11.display;
  const Atom netWmIcon = XInternAtom(display, "_NET_WM_ICON", False);
  XChangeProperty(display, info.info.x11.window, netWmIcon, XA_CARDINAL, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(data.data()),
                  static_cast<int>(data.size()));
  XFlush(display);
}

void Window::captureMouse(bool capture) { SDL_CaptureMouse(capture ? SDL_TRUE : SDL_FALSE); }

void Window::minimise() { SDL_MinimizeWindow(m_impl->window); }

void Window::restoreAndRaise() {
  if (minimised()) SDL_RestoreWindow(m_impl->window);
  SDL_ShowWindow(m_impl->window);
  SDL_RaiseWindow(m_impl->window);
}

bool Window::minimised() const {
  return (SDL_GetWindowFlags(m_impl->window) & SDL_WINDOW_MINIMIZED) != 0;
}

void Window::shutdown() { SDL_Quit(); }

void ShowMessageBox(const std::string& caption, const std::string& text) {
  SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, caption.c_str(), text.c_str(), nullptr);
}

uint64_t Window::ticksMs() { return SDL_GetTicks64(); }

void Window::setVideoRect(const Rect& rect) {
  std::lock_guard<std::mutex> guard(m_impl->rectMutex);
  m_impl->video = rect;
  m_impl->videoRectSet = true;
  m_impl->wholeRedraw.store(true);
}

Rect Window::videoRect() const { return m_impl->currentVideoRect(); }

Rect Window::clientRect() const { return m_impl->clientRect(); }

bool Window::readPixels(const Rect& rect, std::vector<uint32_t>* pixels) {
  if (pixels == nullptr || rect.empty()) return false;
  m_impl->draw();
  pixels->assign(size_t(rect.width()) * size_t(rect.height()), 0);
  const SDL_Rect area{rect.left, rect.top, rect.width(), rect.height()};
  const bool ok = SDL_RenderReadPixels(m_impl->renderer, &area, SDL_PIXELFORMAT_ARGB8888,
                                       pixels->data(), rect.width() * 4) == 0;
  m_impl->show();
  return ok;
}

RendererPath Window::rendererPath() const { return m_impl->path; }

std::string Window::rendererName() const {
  SDL_RendererInfo info{};
  SDL_GetRendererInfo(m_impl->renderer, &info);
  return info.name != nullptr ? info.name : "";
}

std::shared_ptr<VideoPresenter> Window::presenter() const { return m_impl->presenter; }

// SDL's desktop full screen covers the screen without changing its mode.
// Without a window manager SDL does not give the window its size back on
// leaving, so the place and size are put back here either way.
bool Window::Impl::enterFullScreen() {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
  SDL_GetWindowPosition(window, &x, &y);
  SDL_GetWindowSize(window, &w, &h);
  if (SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) return false;
  coverScreen();
  windowedPlace = rectAt(x, y, w, h);
  fullScreen = true;
  installDragTest();  // no drag strip: a press at the top is a click
  pointerActiveMs = ticksMs();
  return true;
}

void Window::Impl::leaveFullScreen() {
  SDL_SetWindowFullscreen(window, 0);
  fullScreen = false;
  SDL_SetWindowSize(window, windowedPlace.width(), windowedPlace.height());
  SDL_SetWindowPosition(window, windowedPlace.left, windowedPlace.top);
  installDragTest();
  if (pointerHidden) SDL_ShowCursor(SDL_ENABLE);
  pointerHidden = false;
}

// SDL asks the window manager for full screen and takes the window to be
// the screen's size from then on. Without a manager nobody acts on the
// request and the X window keeps its size, so X is asked directly as well:
// where a manager did it, the window already has that place and size.
void Window::Impl::coverScreen() {
  SDL_SysWMinfo info;
  SDL_VERSION(&info.version);
  if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) return;
  SDL_Rect bounds{};
  if (SDL_GetDisplayBounds(SDL_GetWindowDisplayIndex(window), &bounds) != 0) return;
  XMoveResizeWindow(info.info.x11.display, info.info.x11.window, bounds.x, bounds.y,
                    unsigned(bounds.w), unsigned(bounds.h));
  XFlush(info.info.x11.display);
}

// How long waitAndHandle may sleep: no longer than until the pointer is due
// to hide.
int Window::Impl::pointerWait(int timeoutMs) const {
  if (!fullScreen || pointerHidden || timeoutMs <= 0) return timeoutMs;
  const uint64_t due = pointerActiveMs + uint64_t(std::max(pointerHideMs, 0));
  const uint64_t now = ticksMs();
  return due <= now ? 0 : int(std::min<uint64_t>(due - now, uint64_t(timeoutMs)));
}

void Window::Impl::pointerActive() {
  pointerActiveMs = ticksMs();
  if (pointerHidden) SDL_ShowCursor(SDL_ENABLE);
  pointerHidden = false;
}

void Window::Impl::hidePointerWhenStill() {
  if (!fullScreen || pointerHidden || pointerWait(1) > 0) return;
  SDL_ShowCursor(SDL_DISABLE);
  pointerHidden = true;
}

void Window::Impl::dropText() {
  if (textTexture != nullptr) SDL_DestroyTexture(textTexture);
  textTexture = nullptr;
}

// Makes the text texture for a font of `pixels`; false when there is no
// text or no font to draw it with.
bool Window::Impl::prepareText(int pixels) {
  if (textLines.empty()) return false;
  if (pixels != textFontPixels) {
    // Asked once per size: a missing font leaves the text out, not retried
    // on every picture.
    textFontPixels = pixels;
    textFont.reset();
    textStale = true;
    textFont = TtfFont::openDefault(pixels, nullptr);
  }
  if (textFont == nullptr) return false;
  if (!textStale && textTexture != nullptr) return true;
  textStale = false;
  dropText();
  std::vector<TextCoverage> lines;
  for (const std::string& line : textLines) lines.push_back(textFont->render(line));
  const std::vector<uint32_t> box = composeTextBox(lines, pixels / 3, &textWidth, &textHeight);
  textTexture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STATIC,
                                  textWidth, textHeight);
  if (textTexture == nullptr) return false;
  SDL_SetTextureBlendMode(textTexture, SDL_BLENDMODE_BLEND);
  SDL_UpdateTexture(textTexture, nullptr, box.data(), textWidth * 4);
  return true;
}

// The text at the top left of `area` (the picture's rectangle), clipped to
// it and to the window.
void Window::Impl::drawText(const Rect& area) {
  const Rect visible = area.intersect(clientRect());
  if (visible.empty()) return;
  const int pixels = textPixelsFor(area.height());
  if (!prepareText(pixels)) return;
  const int margin = pixels / 2;
  const SDL_Rect target{area.left + margin, area.top + margin, textWidth, textHeight};
  const SDL_Rect clip = sdlRect(visible);
  SDL_RenderSetClipRect(renderer, &clip);
  SDL_RenderCopy(renderer, textTexture, nullptr, &target);
  SDL_RenderSetClipRect(renderer, nullptr);
}

void Window::Impl::installDragTest() {
  // Not every video driver can hit-test (dummy cannot); dragging is then
  // simply unavailable.
  const bool drag = dragTest && !fullScreen;
  SDL_SetWindowHitTest(window, drag ? &hitTest : nullptr, &dragTest);
}

bool Window::setFullScreen(bool on) {
  Impl& impl = *m_impl;
  if (on == impl.fullScreen) return true;
  if (on && !impl.enterFullScreen()) return false;
  if (!on) impl.leaveFullScreen();
  impl.needsRedraw = true;
  impl.wholeRedraw.store(true);
  return true;
}

bool Window::fullScreen() const { return m_impl->fullScreen; }

void Window::setVideoText(std::vector<std::string> lines) {
  Impl& impl = *m_impl;
  if (lines == impl.textLines) return;
  impl.textLines = std::move(lines);
  impl.textStale = true;
  if (impl.textLines.empty()) impl.dropText();
  impl.needsRedraw = true;
  impl.wholeRedraw.store(true);
}

}  // namespace trevolo::platform
