// What the main window's own keys decide, as pure functions: the speed steps
// and the notice naming a speed, where a seek by key lands, the volume a key
// gives, and the list of keys shown over the picture and by `trevolo --help`.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace trevolo::app {

// Seek steps of Left / Right, and with Shift held.
inline constexpr int64_t kKeySeekMs = 5'000;
inline constexpr int64_t kKeyLongSeekMs = 60'000;
// Volume step of Up / Down, on the volume slider's 0..100 scale.
inline constexpr int kKeyVolumeStep = 5;
inline constexpr int kMaxVolume = 100;

// The speeds `[` and `]` step through, in thousandths of normal speed.
inline constexpr int kNormalSpeed = 1000;
inline constexpr std::array<int, 6> kSpeedSteps = {500, 1000, 1500, 2000, 4000, 8000};

// The next speed step above (direction > 0) or below (direction < 0) the
// current speed; the slowest and the fastest step hold. A speed between two
// steps moves to the nearer step in the direction asked.
int SteppedSpeed(int currentPermille, int direction);

// "Speed 2x", "Speed 0.5x", "Speed 1.5x": what the file name label shows for
// a moment after the speed changed.
std::string SpeedNotice(int permille);

// Where a seek by key lands, in ms: `fromMs` moved by `stepMs`, kept within
// the recording [0, durationMs].
int64_t KeySeekTarget(int64_t fromMs, int64_t stepMs, int64_t durationMs);

// The volume after a volume key: `volume` moved by `step`, kept within 0..100.
int KeyVolume(int volume, int step);

// The keys, one per line: "Left / Right: seek ..." over the picture (its
// font is proportional), or with the keys padded into a column for a
// terminal (the help text).
std::vector<std::string> KeyListLines(bool padded);

}  // namespace trevolo::app
