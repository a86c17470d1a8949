// Window messages and the one way to deliver them. Worker threads, controls
// and the window framework all speak (message, wParam, lParam) triples: a
// sender posts to a MessageTarget, and the window handles the message later
// on its UI thread. Every message id the player uses is defined here, so
// widgets and the window framework can share them without knowing each other.
#pragma once

#include <cstdint>

namespace trevolo {

class MessageTarget {
 public:
  virtual ~MessageTarget() = default;
  // Queues the message for the UI thread; safe from any thread. False when
  // the target can take no more (the message is lost).
  virtual bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
};

// The window is asked to close (close box, Escape through IDCANCEL, quit).
inline constexpr uint32_t WM_CLOSE = 0x0010;
// A button was clicked: wParam = (notification << 16) | control id.
inline constexpr uint32_t WM_COMMAND = 0x0111;
inline constexpr uint32_t BN_CLICKED = 0;
inline constexpr uintptr_t IDOK = 1;
inline constexpr uintptr_t IDCANCEL = 2;
// A timer fired: wParam = timer id.
inline constexpr uint32_t WM_TIMER = 0x0113;

// Slider notifications: wParam = control id, lParam = position.
inline constexpr uint32_t WM_SLIDER_MOVING = 10449;  // while dragging
inline constexpr uint32_t WM_SLIDER_MOVED = 10450;   // drag ended or key moved it

// Playback notifications from the media callbacks. PN_DURATION and
// PN_POSITION travel with the code in wParam and the value (ms) in lParam;
// every other code travels in lParam.
inline constexpr uint32_t WM_PLAYER_NOTIFY = 1124;
inline constexpr uint32_t WM_PLAYER_RESERVED = 1125;  // accepted and ignored
inline constexpr intptr_t PN_PLAYING = 500000;
inline constexpr intptr_t PN_PAUSED = 500001;
inline constexpr intptr_t PN_STOPPED = 500002;
inline constexpr intptr_t PN_DURATION = 500004;
inline constexpr intptr_t PN_POSITION = 500005;
inline constexpr intptr_t PN_FIRST_PICTURE = 500006;
inline constexpr intptr_t PN_SNAPSHOT_SAVED = 500007;
inline constexpr intptr_t PN_PICTURE_SIZE = 500008;  // wParam = (width << 16) + height

}  // namespace trevolo
