#include "app/open_rules.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace trevolo::app {
namespace {

constexpr std::string_view kAvExtension = ".av";
// Paths this short are never a file to play or to hand over.
constexpr size_t kMinPathCharacters = 5;
// The command-line path is cut only when it is longer than this.
constexpr size_t kMinCutCharacters = 3;
constexpr size_t kBlankTabCount = 23;

// UTF-8 continuation bytes are 10xxxxxx; every other byte starts a character.
bool IsContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

OpenDecision QueueOrNotify(std::string path, FileExistsTest exists) {
  const OpenAction action = exists(path) ? OpenAction::Queue : OpenAction::NotifyMissing;
  return {action, std::move(path)};
}

}  // namespace

size_t CharacterCount(std::string_view text) {
  size_t count = 0;
  for (char byte : text) {
    count += IsContinuationByte(byte) ? 0 : 1;
  }
  return count;
}

size_t FindAvExtension(std::string_view path) {
  // ".av" is ASCII, so its bytes never occur inside a multi-byte character:
  // the first byte match is the first character match.
  const size_t byteAt = path.find(kAvExtension);
  if (byteAt == std::string_view::npos) {
    return kNoAvExtension;
  }
  return CharacterCount(path.substr(0, byteAt));
}

bool PassesExtensionTest(std::string_view path, size_t minPosition) {
  const size_t at = FindAvExtension(path);
  return at != kNoAvExtension && at >= minPosition;
}

std::string CutAfterAv(std::string_view path) {
  const size_t byteAt = path.find(kAvExtension);
  if (byteAt == std::string_view::npos) {
    return std::string(path);
  }
  return std::string(path.substr(0, byteAt + kAvExtension.size()));
}

bool IsStartupFile(std::string_view path) {
  return CharacterCount(path) > kMinPathCharacters && PassesExtensionTest(path, kMinAvPosition);
}

bool IsHandOverPath(std::string_view path) { return CharacterCount(path) > kMinPathCharacters; }

std::string CommandLinePath(int argc, const char* const* argv) {
  if (argv == nullptr || argc < 2 || argv[argc - 1] == nullptr) {
    return {};
  }
  return argv[argc - 1];
}

bool IsPlayableFile(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  std::error_code error;
  // status() follows links and never interprets wildcards.
  if (!std::filesystem::is_regular_file(std::filesystem::status(path, error)) || error) {
    return false;
  }
  // Opening a regular file does not block, unlike a fifo, which was refused above.
  std::ifstream file(path, std::ios::binary);
  return file.is_open();
}

std::string BlankFileNameText() { return std::string(kBlankTabCount, '\t'); }

std::string MissingFileNotice(std::string_view path) {
  std::string notice = kFileNotExistPrefix;
  notice += path;
  return notice;
}

OpenDecision DecideCommandLineOpen(std::string_view path, FileExistsTest exists) {
  if (path.empty()) {
    return {};
  }
  std::string candidate(path);
  if (CharacterCount(path) > kMinCutCharacters && PassesExtensionTest(path, kMinAvPosition)) {
    candidate = CutAfterAv(path);
  }
  return QueueOrNotify(std::move(candidate), exists);
}

OpenDecision DecideHandOverOpen(std::string_view path, FileExistsTest exists) {
  if (!PassesExtensionTest(path, kMinAvPosition)) {
    return {};
  }
  return QueueOrNotify(CutAfterAv(path), exists);
}

OpenDecision DecideDroppedOpen(std::string_view path) {
  if (!PassesExtensionTest(path, kMinAvPositionDropped)) {
    return {};
  }
  return {OpenAction::Queue, std::string(path)};
}

}  // namespace trevolo::app
