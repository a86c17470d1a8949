// The main window's control identifiers, template order and pixel layout.
// The layout is a pure function of the client size, so it can be checked
// without a window.
#pragma once

#include <array>
#include <cstdint>

#include "controls/image.h"

namespace trevolo::app {

using controls::Rect;

inline constexpr int IDD_PLAYER_DIALOG = 102;
inline constexpr int IDC_VIDEO = 1000;
inline constexpr int IDC_PLAY = 1001;
inline constexpr int IDC_STOP = 1002;
inline constexpr int IDC_PAUSE = 1003;
inline constexpr int IDC_MINI = 1004;
inline constexpr int IDC_CLOSE = 1005;
inline constexpr int IDC_OPENFILE = 1006;
inline constexpr int IDC_TIME = 1007;
inline constexpr int IDC_VERSION = 1008;
inline constexpr int IDC_CAPTURE = 1009;
inline constexpr int IDC_LOGO = 1010;
inline constexpr int IDC_VOLUME_ICON = 1011;
inline constexpr int IDC_VOLUME = 1012;
inline constexpr int IDC_FILENAME = 1013;
inline constexpr int IDC_PROGRESS = 1014;
inline constexpr int IDC_CAPTURE_TIP = 1015;

inline constexpr int kWindowWidth = 1080;
inline constexpr int kWindowHeight = 706;

// Template order: the Z order and the Tab order.
inline constexpr std::array<int, 16> kTemplateOrder = {
    IDC_VIDEO, IDC_PLAY,   IDC_STOP,        IDC_PAUSE,    IDC_MINI,    IDC_CLOSE,
    IDC_OPENFILE, IDC_TIME, IDC_LOGO,       IDC_VOLUME_ICON, IDC_VOLUME, IDC_CAPTURE,
    IDC_FILENAME, IDC_PROGRESS, IDC_CAPTURE_TIP, IDC_VERSION};

// Resource ids of the skin's images.
inline constexpr uint32_t IDB_IDLE = 130;
inline constexpr uint32_t IDB_BACKGROUND = 137;
inline constexpr uint32_t IDB_LOGO = 149;
inline constexpr uint32_t IDB_VOLUME_CHANNEL = 151;
inline constexpr uint32_t IDB_VOLUME_FILLED = 163;
inline constexpr uint32_t IDB_VOLUME_THUMB = 164;
inline constexpr uint32_t IDB_PROGRESS_CHANNEL = 160;
inline constexpr uint32_t IDB_PROGRESS_FILLED = 161;
inline constexpr uint32_t IDB_PROGRESS_THUMB = 162;
inline constexpr uint32_t IDB_VOLUME_ICON = 165;
inline constexpr uint32_t IDI_MAIN = 128;

// The video area: narrow (4:3, the idle picture's shape) or wide.
Rect videoRect(bool wide);

// Every control's rectangle for a client area of width x height, the video
// area narrow. Unknown ids answer an empty rectangle.
Rect controlRect(int id, int width, int height);

struct ButtonImages {
  int id;
  uint32_t standard;
  uint32_t alternate;
  bool disabledLook;  // greyed at start-up
};

// In the order the buttons receive their images.
inline constexpr std::array<ButtonImages, 7> kButtonImages = {{
    {IDC_MINI, 135, 141, false},
    {IDC_CLOSE, 134, 140, false},
    {IDC_CAPTURE, 156, 157, true},
    {IDC_PLAY, 133, 139, true},
    {IDC_PAUSE, 132, 142, true},
    {IDC_STOP, 131, 143, true},
    {IDC_OPENFILE, 144, 145, false},
}};

}  // namespace trevolo::app
