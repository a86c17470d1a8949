// The X server's own view of a window, apart from the display tests since
// Xlib's names collide with the player's.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <string>

#include "base/geometry.h"

namespace display_test {

trevolo::Rect placeOnX(const std::string& title) {
  for (Uint32 id = 1; id < 100; ++id) {
    SDL_Window* window = SDL_GetWindowFromID(id);
    if (window == nullptr || title != SDL_GetWindowTitle(window)) continue;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) break;
    Display* display = info.info.x11.display;
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, info.info.x11.window, &attributes);
    int x = 0;
    int y = 0;
    ::Window child = 0;
    XTranslateCoordinates(display, info.info.x11.window, DefaultRootWindow(display), 0, 0, &x, &y,
                          &child);
    return trevolo::rectAt(x, y, attributes.width, attributes.height);
  }
  return {};
}

}  // namespace display_test
