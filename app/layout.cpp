#include "app/layout.h"

namespace trevolo::app {

using controls::rectAt;

Rect videoRect(bool wide) { return wide ? rectAt(1, 35, 1078, 604) : rectAt(137, 35, 806, 604); }

Rect controlRect(int id, int w, int h) {
  switch (id) {
    case IDC_VIDEO: return videoRect(false);
    case IDC_LOGO: return rectAt(3, 1, 150, 32);
    case IDC_VOLUME_ICON: return rectAt(640, h - 46, 19, 45);
    case IDC_VOLUME: return rectAt(666, h - 30, 87, 11);
    case IDC_PROGRESS: return rectAt(50, 640, 970, 20);
    case IDC_CAPTURE_TIP:
    case IDC_FILENAME: return rectAt(180, 5, w - 360, 18);
    case IDC_TIME: return rectAt(w - 190, h - 30, 130, 18);
    case IDC_VERSION: return rectAt(0, h - 30, 70, 18);
    case IDC_MINI: return rectAt(w - 62, 4, 25, 25);
    case IDC_CLOSE: return rectAt(w - 29, 4, 25, 25);
    // The four transport buttons stand 85 pixels apart.
    case IDC_CAPTURE: return rectAt(300, h - 46, 68, 46);
    case IDC_PAUSE: return rectAt(385, h - 46, 68, 46);
    case IDC_PLAY: return rectAt(470, h - 46, 68, 46);
    case IDC_STOP: return rectAt(555, h - 46, 68, 46);
    // Integer halves: the button's corner stays on a whole pixel.
    case IDC_OPENFILE: return rectAt((w - 115) / 2, (h - 48) / 2, 115, 48);
    default: return Rect{};
  }
}

}  // namespace trevolo::app
