#include "app/player_state.h"

#include <cinttypes>
#include <cstdio>

namespace trevolo::app {
namespace {

constexpr uint64_t kMsPerSecond = 1000;
constexpr uint64_t kMsPerMinute = 60 * kMsPerSecond;
constexpr uint64_t kMsPerHour = 60 * kMsPerMinute;
constexpr uint64_t kMsPerDay = 24 * kMsPerHour;

constexpr int32_t kMsPerSecond32 = 1000;
constexpr int32_t kMsPerMinute32 = 60 * kMsPerSecond32;
constexpr int32_t kMsPerHour32 = 60 * kMsPerMinute32;
constexpr int32_t kMsPerDay32 = 24 * kMsPerHour32;

// The display moves forwards only in steps of a whole second...
constexpr int64_t kPositionStepMs = 1000;
// ...except for a report this close to the end, so the exact end is shown.
constexpr int64_t kEndWindowMs = 10;

// Height/width ranges of 4:3-like and 16:9-like pictures (exclusive bounds).
constexpr double kNarrowRatioLow = 0.72;
constexpr double kNarrowRatioHigh = 0.77;
constexpr double kWideRatioLow = 0.54;
constexpr double kWideRatioHigh = 0.65;
constexpr int kWidthShift = 16;
constexpr uint32_t kHeightMask = 0xFFFF;

constexpr int64_t kMsPerSliderUnit = 10;

// Appends a clock part: at least two digits, "0" in front of a single one.
void AppendPart(std::string& out, uint64_t value) {
  char buffer[24];
  std::snprintf(buffer, sizeof buffer, "%s%" PRIu64, value < 10 ? "0" : "", value);
  out += buffer;
}

std::string FormatTime(uint64_t days, uint64_t hours, uint64_t minutes, uint64_t seconds) {
  std::string text;
  if (days != 0) {
    text = std::to_string(days) + " ";
  }
  AppendPart(text, hours);
  text += ':';
  AppendPart(text, minutes);
  text += ':';
  AppendPart(text, seconds);
  return text;
}

// A signed 32-bit part printed unsigned: its bit pattern as uint32_t.
uint64_t AsUnsigned(int32_t part) { return static_cast<uint32_t>(part); }

}  // namespace

intptr_t NotificationCode(uintptr_t wParam, intptr_t lParam) {
  if (wParam == uintptr_t(PN_DURATION) || wParam == uintptr_t(PN_POSITION)) {
    return static_cast<intptr_t>(wParam);
  }
  return lParam;
}

std::string PositionText(uint64_t ms) {
  return FormatTime(ms / kMsPerDay, ms % kMsPerDay / kMsPerHour, ms % kMsPerHour / kMsPerMinute,
                    ms % kMsPerMinute / kMsPerSecond);
}

std::string DurationText(int32_t ms) {
  const int32_t days = ms / kMsPerDay32;
  const int32_t hours = ms % kMsPerDay32 / kMsPerHour32;
  const int32_t minutes = ms % kMsPerHour32 / kMsPerMinute32;
  const int32_t seconds = ms % kMsPerMinute32 / kMsPerSecond32;
  return FormatTime(AsUnsigned(days), AsUnsigned(hours), AsUnsigned(minutes), AsUnsigned(seconds));
}

bool AcceptPosition(int32_t positionMs, int64_t shownMs, int64_t durationMs) {
  const int64_t position = positionMs;
  if (position <= 0 || position > durationMs) {
    return false;
  }
  // position - kPositionStepMs and durationMs - position cannot overflow: the
  // position is a 32-bit value and durationMs >= position > 0 here.
  return position < shownMs || shownMs <= position - kPositionStepMs ||
         durationMs - position < kEndWindowMs;
}

bool WideAfterPictureSize(bool wide, uint32_t sizeWord) {
  const uint32_t width = sizeWord >> kWidthShift;
  const uint32_t height = sizeWord & kHeightMask;
  if (width == 0) {
    return wide;
  }
  const float ratio = static_cast<float>(height) / static_cast<float>(width);
  if (wide && ratio > kNarrowRatioLow && ratio < kNarrowRatioHigh) {
    return false;
  }
  if (!wide && ratio > kWideRatioLow && ratio < kWideRatioHigh) {
    return true;
  }
  return wide;
}

int SliderPosition(int64_t shownMs, int min, int max) {
  const uint64_t units = static_cast<uint64_t>(shownMs) / static_cast<uint64_t>(kMsPerSliderUnit);
  // The low 32 bits as a signed slider value (modular since C++20).
  int value = static_cast<int32_t>(static_cast<uint32_t>(units));
  if (value > max) {
    value = max;
  }
  if (value < min) {
    value = min;
  }
  return value;
}

std::optional<StateChange> ApplyState(const PlayerFlags& before, intptr_t code) {
  StateChange change{};
  PlayerFlags& f = change.flags;
  switch (code) {
    case PN_PLAYING:
      f = PlayerFlags{};
      f.canStop = f.canPause = f.active = true;
      change.looks = {Look::Disabled, Look::Normal, Look::Normal, Look::Normal};
      change.slider = SliderChange::Enable;
      return change;
    case PN_PAUSED:
      // Idle and active carry over: pausing neither ends nor starts a file.
      f = before;
      f.canPlay = f.canStop = f.paused = true;
      f.canPause = f.pictureShown = false;
      change.looks = {Look::Normal, Look::Disabled, Look::Normal, Look::Normal};
      change.slider = SliderChange::Unchanged;
      return change;
    case PN_STOPPED:
      f = PlayerFlags{};
      f.idle = f.canPlay = true;
      change.looks = {Look::Normal, Look::Disabled, Look::Disabled, Look::Disabled};
      change.slider = SliderChange::Disable;
      return change;
    default:
      return std::nullopt;
  }
}

bool OpenButtonVisibleAfterFirstPicture(const PlayerFlags& flags) {
  return !(flags.paused || flags.active);
}

}  // namespace trevolo::app
