// The rules that decide whether a path that reaches the player (command line,
// hand-over from a second launch, a dropped file) is opened, and in what form.
//
// Paths are UTF-8 bytes of any length; nothing here cuts them to a fixed
// buffer. Lengths and positions are counted in characters (code points), so a
// name that starts with a non-ASCII letter is judged like its ASCII twin.
// Invalid UTF-8 counts each byte that does not continue a sequence as one
// character.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace trevolo::app {

inline constexpr size_t kNoAvExtension = std::string_view::npos;
// Where a ".av" must start at the earliest: past the first character for the
// command line and a hand-over, past the second for a dropped file.
inline constexpr size_t kMinAvPosition = 1;
inline constexpr size_t kMinAvPositionDropped = 2;

inline constexpr const char* kFileNotExistPrefix = "[File not exist] ";

// The number of characters (code points) of UTF-8 text.
size_t CharacterCount(std::string_view text);

// Character position of the first ".av" (case-sensitive), or kNoAvExtension.
size_t FindAvExtension(std::string_view path);

// The first ".av" exists and starts at character minPosition or later. Only
// the first occurrence counts: ".avi_file.av" fails at position 1.
bool PassesExtensionTest(std::string_view path, size_t minPosition);

// Everything up to and including the first ".av"; the path itself without one.
std::string CutAfterAv(std::string_view path);

// The first launch keeps its command-line path only when it is longer than 5
// characters and has its ".av" at position 1 or later.
bool IsStartupFile(std::string_view path);

// A second launch hands its path over only when it is longer than 5
// characters; the running player makes the extension test.
bool IsHandOverPath(std::string_view path);

// The path from the command line: the last argument after the program name,
// never a join of several; empty when there is none.
std::string CommandLinePath(int argc, const char* const* argv);

// An existing, readable, regular file (symbolic links followed). The name is
// taken literally: "*" and "?" are ordinary characters, never a pattern.
bool IsPlayableFile(const std::string& path);

// The file name label's text before each new text: 23 tabs.
std::string BlankFileNameText();

// The file name label's text for a file that is missing.
std::string MissingFileNotice(std::string_view path);

// What the window does with an arriving path.
enum class OpenAction {
  Ignore,         // not a path to play: nothing happens, no notice
  Queue,          // stop what plays, then start `path`
  NotifyMissing,  // show MissingFileNotice(path) in the file name label
};
struct OpenDecision {
  OpenAction action = OpenAction::Ignore;
  std::string path;  // the path to queue or to name in the notice
  bool operator==(const OpenDecision&) const = default;
};

using FileExistsTest = bool (*)(const std::string& path);

// The command-line file at the window's start (the path already passed
// IsStartupFile, or is empty): cut after ".av", then queued when the file
// exists, the missing-file notice otherwise. An empty path is ignored.
OpenDecision DecideCommandLineOpen(std::string_view path, FileExistsTest exists = &IsPlayableFile);

// A path handed over by a second launch: without ".av" at position 1 or later
// it is ignored; otherwise cut after ".av" and queued or reported missing.
OpenDecision DecideHandOverOpen(std::string_view path, FileExistsTest exists = &IsPlayableFile);

// A dropped file: queued unchanged when ".av" starts at position 2 or later
// (no cut, no existence test: the engine reports a file it cannot open).
OpenDecision DecideDroppedOpen(std::string_view path);

}  // namespace trevolo::app
