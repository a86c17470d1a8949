// Key-frame index: built once when an engine is created, used by the reader
// to place the file at a key frame at or before a seek target.
//
// Files up to 16 MiB are walked whole and every key frame is indexed. Larger
// files get one key frame per 4 MiB step, their last time stamp from the
// file's tail, and a forward scan from the nearest entry at seek time.
// Offsets are 64-bit, so recordings of several GiB index like small ones.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/av_format.h"
#include "engine/file_reader.h"

namespace trevolo {

inline constexpr int64_t FULL_INDEX_MAX_FILE = 16777216;
inline constexpr int64_t SPARSE_INDEX_STEP = 4194304;
inline constexpr uint32_t MAX_INDEX_ENTRIES = 32768;
inline constexpr int64_t kTailWindows[3] = {32768, 69632, 262144};

struct FrameIndex {
  bool full = false;
  uint32_t count = 0;
  std::unique_ptr<uint64_t[]> offsets;     // header offset of each key frame
  std::unique_ptr<uint64_t[]> timeStamps;  // its video time stamp
  uint64_t first = 0;
  uint64_t last = 0;
  int64_t fileSize = 0;

  bool allocate();  // both tables at full size
  void append(uint64_t offset, uint64_t timeStamp);
};

// One media block as the index scanners see it.
struct ScannedBlock {
  int64_t headerOffset = 0;
  uint32_t videoLength = 0;
  uint64_t videoTs = 0;
  bool keyFrame = false;
};

// Walks records from the file's current position the way every index scanner
// does: type 1 and 2 are bare headers, every other type is a media block whose
// audio and video are skipped by their full lengths.
class RecordWalker {
 public:
  explicit RecordWalker(FileReader& file) : m_file(file), m_marker(MarkerReader::Mode::Scanner) {}
  // The next media block; false when the scan has ended.
  bool next(ScannedBlock& block);

 private:
  FileReader& m_file;
  MarkerReader m_marker;
  bool m_ended = false;
};

// Builds the index and the first and last time stamps; leaves the file at 0.
void BuildIndex(FileReader& file, FrameIndex& index);

// Positions the file for seek target `target`. Returns false (file not moved)
// when the target lies outside [first, last].
bool PositionForSeek(FileReader& file, const FrameIndex& index, uint64_t target);

// The pure part of positioning with a full index: the header offset to read
// from for `target`.
uint64_t FullIndexSeekOffset(const FrameIndex& index, uint64_t target);

}  // namespace trevolo
