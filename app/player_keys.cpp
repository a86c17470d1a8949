#include "app/player_keys.h"

#include <algorithm>

namespace trevolo::app {

int SteppedSpeed(int currentPermille, int direction) {
  if (direction > 0) {
    for (int step : kSpeedSteps) {
      if (step > currentPermille) return step;
    }
    return kSpeedSteps.back();
  }
  if (direction < 0) {
    for (auto it = kSpeedSteps.rbegin(); it != kSpeedSteps.rend(); ++it) {
      if (*it < currentPermille) return *it;
    }
    return kSpeedSteps.front();
  }
  return currentPermille;
}

std::string SpeedNotice(int permille) {
  std::string text = "Speed " + std::to_string(permille / 1000);
  int fraction = permille % 1000;
  if (fraction != 0) {
    // Thousandths without trailing zeros: 500 -> ".5", 250 -> ".25".
    std::string digits = std::to_string(1000 + fraction).substr(1);
    digits.erase(digits.find_last_not_of('0') + 1);
    text += "." + digits;
  }
  return text + "x";
}

int64_t KeySeekTarget(int64_t fromMs, int64_t stepMs, int64_t durationMs) {
  return std::clamp<int64_t>(fromMs + stepMs, 0, std::max<int64_t>(durationMs, 0));
}

int KeyVolume(int volume, int step) { return std::clamp(volume + step, 0, kMaxVolume); }

std::vector<std::string> KeyListLines(bool padded) {
  struct KeyHelp {
    const char* keys;
    const char* action;
  };
  static constexpr KeyHelp kKeys[] = {
      {"Left / Right", "seek 5 s back / forward (Shift: 60 s)"},
      {"Up / Down", "volume up / down by 5"},
      {"M", "mute / unmute"},
      {"P", "play / pause"},
      {"S", "save a snapshot"},
      {"O", "open a file"},
      {"F, double click", "full screen on / off"},
      {"[ / ]", "slower / faster (0.5x to 8x)"},
      {"Backspace", "normal speed"},
      {". / ,", "next / previous picture while paused"},
      {"F1, ?", "this list (until the next key)"},
      {"Tab", "move the focus; Space presses the focused button"},
      {"Escape", "leave full screen, or quit"},
  };
  constexpr size_t kKeyColumn = 17;
  std::vector<std::string> lines;
  for (const KeyHelp& k : kKeys) {
    std::string keys = k.keys;
    if (padded) {
      keys.resize(std::max(kKeyColumn, keys.size() + 1), ' ');
    } else {
      keys += ": ";
    }
    lines.push_back(keys + k.action);
  }
  return lines;
}

}  // namespace trevolo::app
