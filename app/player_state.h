// The main window's decisions about what it shows, as pure functions of the
// window's state and the notification that arrived: the time texts, which
// position reports move the display, the video layout a picture size asks
// for, the position slider's value, and the flags and button looks the state
// notifications give. CTrevoloDlg applies the results to its controls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/messages.h"

namespace trevolo::app {

// The code of a WM_PLAYER_NOTIFY message: wParam when it names the duration
// or the position report, lParam otherwise. A position or duration whose value
// happens to equal a state code is therefore never mistaken for that state.
intptr_t NotificationCode(uintptr_t wParam, intptr_t lParam);

// "[D ]HH:MM:SS" for a play position in ms, in unsigned 64-bit arithmetic.
// The day count is left out when it is 0 and has no leading zeros.
std::string PositionText(uint64_t ms);

// The same layout for a reported duration in ms, computed in signed 32-bit
// arithmetic (division truncating towards zero). Each part is then printed as
// its 32-bit pattern read unsigned, so a negative duration (a file longer than
// about 24.8 days, whose ms count wrapped) shows e.g. -1000 ms as
// "00:00:4294967295". Nothing here overflows: the divisors are positive.
std::string DurationText(int32_t ms);

// Whether a position report (ms) moves the shown position. Ignored when it is
// 0 or negative or beyond the duration (so everything is ignored while the
// duration is 0); accepted when it goes backwards (a seek), advances by a
// whole second or more, or lies less than 10 ms before the end.
bool AcceptPosition(int32_t positionMs, int64_t shownMs, int64_t durationMs);

// The video layout after a picture-size report, sizeWord = (width << 16) +
// height. The height/width ratio, in single precision, switches a wide layout
// to narrow for 4:3-like pictures (0.72 < r < 0.77) and a narrow one to wide
// for 16:9-like pictures (0.54 < r < 0.65); anything else, including a width
// of 0, keeps the layout.
bool WideAfterPictureSize(bool wide, uint32_t sizeWord);

// The position slider's value (units of 10 ms) for a shown position: the
// quotient as unsigned 64-bit, its low 32 bits as a slider int, clamped first
// to max and then to min.
int SliderPosition(int64_t shownMs, int min, int max);

// The window's flags. A default-constructed value is the new window's state.
struct PlayerFlags {
  bool idle = false, canPlay = false, canStop = false, canPause = false;
  bool active = false, pictureShown = false, paused = false;
  bool operator==(const PlayerFlags&) const = default;
};

// A button's look; only a look: the commands test the flags.
enum class Look { Normal, Disabled };
struct ButtonLooks {
  Look play, pause, stop, snapshot;
  bool operator==(const ButtonLooks&) const = default;
};
// The new window shows every playback button disabled.
inline constexpr ButtonLooks kNewWindowLooks{Look::Disabled, Look::Disabled, Look::Disabled,
                                             Look::Disabled};

// What a state notification does to the position slider's enabled flag.
enum class SliderChange { Enable, Disable, Unchanged };

struct StateChange {
  PlayerFlags flags;
  ButtonLooks looks;
  SliderChange slider;
  bool operator==(const StateChange&) const = default;
};

// The playing, paused or stopped notification applied to `before`. Every
// other code leaves the flags alone and sets no looks: std::nullopt.
std::optional<StateChange> ApplyState(const PlayerFlags& before, intptr_t code);

// The open-file button after the first picture: hidden while a file is active
// or paused, shown otherwise.
bool OpenButtonVisibleAfterFirstPicture(const PlayerFlags& flags);

}  // namespace trevolo::app
