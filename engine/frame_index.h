// Key-frame index: built once when an engine is created, used by the reader
// to place the file at a key frame at or before a seek target.
//
// Files up to 16 MiB are walked whole and every key frame is indexed. Larger
// files get one key frame per 4 MiB step, their last time stamp from the
// file's tail, and a forward scan from the nearest entry at seek time.
// Offsets are 64-bit, so recordings of several GiB index like small ones.
#pragma once

#include <algorithm>
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

  // Calls onBlock(const ScannedBlock&) for every media block to the end of
  // the scan, or until it returns false. Blocks whose head is already
  // buffered are decoded in a tight loop over the buffer.
  template <typename OnBlock>
  void forEach(OnBlock&& onBlock);

 private:
  bool nextInBuffer(ScannedBlock& block);
  // Decodes the record at p from the `avail` bytes buffered there. Bare: a
  // type 1 or 2 header, `advance` = 28. Block: `block` (all but its offset)
  // and `advance` = the distance to the next record. NotBuffered: no marker
  // at p, or the block's head is not all in the buffer.
  enum class Head { NotBuffered, Bare, Block };
  static Head decodeHead(const uint8_t* p, size_t avail, ScannedBlock& block, size_t& advance) {
    if (avail < kHeaderBytes || Le32(p) != 0x88FFFFFFu) return Head::NotBuffered;
    const uint8_t type = p[5];
    if (type == AV_REC_AUDIO_FORMAT || type == AV_REC_SKIPPED) {
      advance = kHeaderBytes;
      return Head::Bare;
    }
    const uint32_t n = std::min<uint32_t>(Le16(p + 6), MAX_AUDIO_FRAMES_PER_BLOCK);
    const uint32_t videoLength = Le32(p + 8);
    size_t videoAt = kHeaderBytes + 2 * static_cast<size_t>(n);
    if (videoAt > avail) return Head::NotBuffered;
    for (uint32_t k = 0; k < n; ++k) videoAt += Le16(p + kHeaderBytes + 2 * k);
    const bool needHead = videoLength >= 8;
    if (needHead && videoAt + 8 > avail) return Head::NotBuffered;
    block.videoLength = videoLength;
    block.videoTs = Le64(p + 12);
    block.keyFrame = needHead && IsKeyFrame(p + videoAt, 8, videoLength);
    advance = videoAt + videoLength;
    return Head::Block;
  }
  bool nextSlow(ScannedBlock& block);

  FileReader& m_file;
  MarkerReader m_marker;
  bool m_ended = false;
};

template <typename OnBlock>
void RecordWalker::forEach(OnBlock&& onBlock) {
  ScannedBlock block;
  while (!m_ended) {
    if (m_marker.counter() == 0) {
      size_t avail = 0;
      const uint8_t* const base = m_file.buffered(avail);
      const int64_t basePos = m_file.tell();
      size_t p = 0;  // offset of the record being decoded, from base
      for (;;) {
        size_t advance = 0;
        const Head head = decodeHead(base + p, avail - p, block, advance);
        if (head == Head::NotBuffered) break;
        if (head == Head::Bare) {
          p += advance;
          continue;
        }
        block.headerOffset = basePos + static_cast<int64_t>(p);
        const bool more = onBlock(static_cast<const ScannedBlock&>(block));
        if (!more || advance > avail - p) {
          // Done, or the payload runs past the buffer: continue from the file.
          if (!m_file.seek(block.headerOffset + static_cast<int64_t>(advance))) m_ended = true;
          if (!more) return;
          p = avail + 1;  // marks the position as already set
          break;
        }
        p += advance;
      }
      if (p <= avail) m_file.seek(basePos + static_cast<int64_t>(p));
      if (p > avail) continue;
    }
    if (!nextSlow(block)) return;
    if (!onBlock(static_cast<const ScannedBlock&>(block))) return;
  }
}

// Builds the index and the first and last time stamps; leaves the file at 0.
void BuildIndex(FileReader& file, FrameIndex& index);

// Positions the file for seek target `target`. Returns false (file not moved)
// when the target lies outside [first, last].
bool PositionForSeek(FileReader& file, const FrameIndex& index, uint64_t target);

// The pure part of positioning with a full index: the header offset to read
// from for `target`.
uint64_t FullIndexSeekOffset(const FrameIndex& index, uint64_t target);

}  // namespace trevolo
