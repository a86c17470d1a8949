#include "tools/media/play_window_report.h"

#include <cstdio>
#include <string_view>

namespace trevolo::avtool {
namespace {

constexpr std::string_view kStatePlaying = "state: playing";
constexpr std::string_view kStateStopped = "state: stopped";
constexpr std::string_view kDurationPrefix = "duration: ";
constexpr std::string_view kPicturePrefix = "picture: ";
constexpr std::string_view kSnapshotPrefix = "snapshot: ";
constexpr std::string_view kErrorPrefix = "error: ";

bool StartsWith(const std::string& line, std::string_view prefix) {
  return line.compare(0, prefix.size(), prefix) == 0;
}

// "WxH" with two positive decimal numbers and nothing after them.
bool ParseSize(const std::string& text, int* width, int* height) {
  int w = 0;
  int h = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%dx%d%c", &w, &h, &tail) != 2 || w <= 0 || h <= 0) return false;
  *width = w;
  *height = h;
  return true;
}

const char* EndReasonText(EndReason reason) {
  switch (reason) {
    case EndReason::EndOfFile: return "end of file";
    case EndReason::WindowClosed: return "window closed";
    case EndReason::TimeLimit: return "time limit";
  }
  return "time limit";
}

}  // namespace

void PlayWindowReport::onStatus(const std::string& line, int64_t windowDurationMs) {
  if (line == kStatePlaying) {
    m_played = true;
  } else if (line == kStateStopped) {
    // A stop before anything played (a window that never started) is not
    // the end of the file.
    if (m_played) m_ended = true;
  } else if (StartsWith(line, kDurationPrefix)) {
    m_durationMs = windowDurationMs;
  } else if (StartsWith(line, kPicturePrefix)) {
    ParseSize(line.substr(kPicturePrefix.size()), &m_width, &m_height);
  } else if (StartsWith(line, kSnapshotPrefix)) {
    m_snapshotPath = line.substr(kSnapshotPrefix.size());
  } else if (StartsWith(line, kErrorPrefix)) {
    m_errors.push_back(line.substr(kErrorPrefix.size()));
  }
}

std::string FormatSummary(const PlayWindowReport& report, const SummaryFacts& facts) {
  std::string out;
  auto line = [&out](const char* name, const std::string& value) {
    out += name;
    out += ": ";
    out += value;
    out += '\n';
  };
  line("duration_ms", std::to_string(report.durationMs()));
  line("picture_size",
       std::to_string(report.pictureWidth()) + "x" + std::to_string(report.pictureHeight()));
  line("pictures_shown", std::to_string(facts.picturesShown));
  line("last_position_ms", std::to_string(facts.lastPositionMs));
  line("sound_device", facts.soundDevice ? "yes" : "no");
  line("renderer", facts.renderer);
  line("ended_by", EndReasonText(facts.endedBy));
  if (facts.snapshotRequested) {
    line("snapshot", report.snapshotPath().empty() ? "not saved" : report.snapshotPath());
  }
  return out;
}

int64_t HeardAudioUs(int64_t positionUs, int64_t acceptedAtUs, int64_t nowUs, int64_t latencyUs) {
  if (positionUs < 0) return -1;
  return positionUs - latencyUs + (nowUs - acceptedAtUs);
}

}  // namespace trevolo::avtool
