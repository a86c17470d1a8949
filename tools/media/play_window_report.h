// What `avtool play-window` learns while the player's window plays a file:
// the window's status lines ("state: playing", "picture: 320x240",
// "snapshot: PATH", ...) read together with the duration the window held at
// that moment, the summary printed at the end, and the audio clock of the A/V sync
// log. Pure: no window, no engine, no clock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trevolo::avtool {

enum class EndReason { EndOfFile, WindowClosed, TimeLimit };

class PlayWindowReport {
 public:
  // One status line of the window, with the duration (ms) the window held
  // when it reported the line (the window forgets it when playback stops).
  void onStatus(const std::string& line, int64_t windowDurationMs);

  // True once the engine reported stopped after it had reported playing.
  bool ended() const { return m_ended; }
  bool played() const { return m_played; }
  int64_t durationMs() const { return m_durationMs; }
  int pictureWidth() const { return m_width; }
  int pictureHeight() const { return m_height; }
  // Where the window saved its snapshot; empty when none was saved.
  const std::string& snapshotPath() const { return m_snapshotPath; }
  // The texts of the window's error boxes, in order.
  const std::vector<std::string>& errors() const { return m_errors; }

 private:
  bool m_played = false;
  bool m_ended = false;
  int64_t m_durationMs = 0;
  int m_width = 0;
  int m_height = 0;
  std::string m_snapshotPath;
  std::vector<std::string> m_errors;
};

// What the summary needs besides the status lines.
struct SummaryFacts {
  uint64_t picturesShown = 0;
  int64_t lastPositionMs = 0;  // the last position the engine reported
  bool soundDevice = false;
  std::string renderer;
  EndReason endedBy = EndReason::TimeLimit;
  bool snapshotRequested = false;  // --snapshot-at was given
};

// The summary lines scripts read, one "name: value" per line, each ending in
// a newline; the snapshot line only when a snapshot was asked for.
std::string FormatSummary(const PlayWindowReport& report, const SummaryFacts& facts);

// The time (us) of the sound being heard at nowUs, when the last block
// accepted for output started at positionUs and was accepted at acceptedAtUs;
// latencyUs is how long a block takes from acceptance to the ear (0 without a
// sound device, where accepted frames are the clock). -1 before any block was
// accepted (positionUs < 0).
int64_t HeardAudioUs(int64_t positionUs, int64_t acceptedAtUs, int64_t nowUs, int64_t latencyUs);

}  // namespace trevolo::avtool
