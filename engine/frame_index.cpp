#include "engine/frame_index.h"

#include <algorithm>
#include <new>

namespace trevolo {

bool FrameIndex::allocate() {
  offsets.reset(new (std::nothrow) uint64_t[MAX_INDEX_ENTRIES]());
  timeStamps.reset(new (std::nothrow) uint64_t[MAX_INDEX_ENTRIES]());
  count = 0;
  return offsets && timeStamps;
}

void FrameIndex::append(uint64_t offset, uint64_t timeStamp) {
  if (count >= MAX_INDEX_ENTRIES) return;
  offsets[count] = offset;
  timeStamps[count] = timeStamp;
  ++count;
}

bool RecordWalker::next(ScannedBlock& block) {
  while (!m_ended) {
    if (nextInBuffer(block) || nextSlow(block)) return true;
  }
  return false;
}

// The common case, decided on the buffered bytes alone: a marker right here
// and the whole head of the block already in memory. Bare headers are
// stepped over. False when the general path must take over.
bool RecordWalker::nextInBuffer(ScannedBlock& block) {
  if (m_marker.counter() != 0) return false;
  for (;;) {
    size_t avail = 0;
    const uint8_t* p = m_file.buffered(avail);
    size_t advance = 0;
    const Head head = decodeHead(p, avail, block, advance);
    if (head == Head::NotBuffered) return false;
    if (head == Head::Bare) {
      m_file.skip(advance);
      continue;
    }
    block.headerOffset = m_file.tell();
    if (!m_file.seek(block.headerOffset + static_cast<int64_t>(advance))) m_ended = true;
    return true;
  }
}

bool RecordWalker::nextSlow(ScannedBlock& block) {
  for (;;) {
    AvRecordHeader h;
    if (!m_marker.next(m_file, h)) {
      m_ended = true;
      return false;
    }
    if (h.type == AV_REC_AUDIO_FORMAT || h.type == AV_REC_SKIPPED) continue;

    block.headerOffset = m_file.tell() - kHeaderBytes;
    block.videoLength = h.videoLength;
    block.videoTs = h.videoTs;
    block.keyFrame = false;

    // The block counts from its header on; any failure below only ends the
    // scan after it (a recording cut inside its last block keeps that
    // block's time stamp).
    const uint32_t n = std::min<uint32_t>(h.audioFrames, MAX_AUDIO_FRAMES_PER_BLOCK);
    uint64_t audioBytes = 0;
    if (n > 0) {
      const uint8_t* table = m_file.peek(2 * n);
      uint8_t copy[2 * MAX_AUDIO_FRAMES_PER_BLOCK];
      size_t got = 2 * n;
      if (table) {
        m_file.skip(got);
      } else {
        got = m_file.read(copy, 2 * n);
        table = copy;
      }
      if (got == 0) {
        m_ended = true;
        return true;
      }
      for (uint32_t k = 0; 2 * k + 1 < got; ++k) audioBytes += Le16(table + 2 * k);
    }
    const int64_t videoStart = m_file.tell() + static_cast<int64_t>(audioBytes);
    if (!m_file.seek(videoStart)) {
      m_ended = true;
      return true;
    }
    if (h.videoLength >= 8) {
      uint8_t copy[8];
      const uint8_t* head = m_file.peek(sizeof copy);
      size_t got = sizeof copy;
      if (!head) {
        got = m_file.read(copy, sizeof copy);
        head = copy;
      }
      if (got == 0) {
        m_ended = true;
        return true;
      }
      block.keyFrame = IsKeyFrame(head, static_cast<uint32_t>(got), h.videoLength);
    }
    if (!m_file.seek(videoStart + static_cast<int64_t>(h.videoLength))) m_ended = true;
    return true;
  }
}

namespace {

void BuildFullIndex(FileReader& file, FrameIndex& index) {
  index.full = true;
  file.seek(0);
  RecordWalker walker(file);
  walker.forEach([&index](const ScannedBlock& b) {
    if (b.videoLength > 0) {
      index.last = b.videoTs;
      if (index.first == 0) index.first = b.videoTs;
    }
    if (b.keyFrame) index.append(static_cast<uint64_t>(b.headerOffset), b.videoTs);
    return true;
  });
}

// Walks from `start` to the end of the file; true with the time stamp of the
// last block that carries video, if any.
bool LastVideoFrom(FileReader& file, int64_t start, uint64_t& last) {
  file.seek(std::max<int64_t>(start, 0));
  RecordWalker walker(file);
  ScannedBlock b;
  bool found = false;
  while (walker.next(b)) {
    if (b.videoLength > 0) {
      last = b.videoTs;
      found = true;
    }
  }
  return found;
}

void BuildSparseIndex(FileReader& file, FrameIndex& index) {
  index.full = false;
  uint64_t firstVideo = 0;  // first video time stamp seen, for a file without key frames
  for (int64_t step = 0; step < index.fileSize && index.count < MAX_INDEX_ENTRIES;
       step += SPARSE_INDEX_STEP) {
    file.seek(step);
    RecordWalker walker(file);
    ScannedBlock b;
    bool found = false;
    while (walker.next(b)) {
      if (b.videoLength > 0 && firstVideo == 0) firstVideo = b.videoTs;
      if (b.keyFrame) {
        index.append(static_cast<uint64_t>(b.headerOffset), b.videoTs);
        found = true;
        break;
      }
    }
    if (!found) break;
  }
  // Without any key frame the file has no seekable point; its range comes
  // from the video the walk did see.
  index.first = index.count > 0 ? index.timeStamps[0] : firstVideo;

  for (int64_t window : kTailWindows) {
    if (LastVideoFrom(file, index.fileSize - window, index.last)) return;
  }
  // No video near the end: widen the window backwards, down to the last
  // indexed key frame, whose block is known to carry video.
  const int64_t floor = index.count > 0 ? static_cast<int64_t>(index.offsets[index.count - 1]) : 0;
  for (int64_t window = 2 * kTailWindows[2];; window *= 2) {
    const int64_t start = std::max(index.fileSize - window, floor);
    if (LastVideoFrom(file, start, index.last)) return;
    if (start == floor) break;
  }
  index.last = index.first;
}

}  // namespace

void BuildIndex(FileReader& file, FrameIndex& index) {
  index.count = 0;
  index.first = index.last = 0;
  index.fileSize = std::max<int64_t>(file.size(), 0);
  if (index.fileSize <= FULL_INDEX_MAX_FILE) {
    BuildFullIndex(file, index);
  } else {
    BuildSparseIndex(file, index);
  }
  if (index.last < index.first) index.last = index.first;
  file.seek(0);
}

uint64_t FullIndexSeekOffset(const FrameIndex& index, uint64_t target) {
  uint64_t noted = 0;  // the latest key frame before the target, or the file start
  for (uint32_t i = 0; i < index.count; ++i) {
    if (index.timeStamps[i] == target) return index.offsets[i];
    if (index.timeStamps[i] > target) return noted;
    noted = index.offsets[i];
  }
  // Every entry lies before the target: the last indexed key frame.
  return noted;
}

namespace {

void SparsePosition(FileReader& file, const FrameIndex& index, uint64_t target) {
  if (index.count == 0) {
    file.seek(0);
    return;
  }
  uint32_t i = 0;
  while (i < index.count && index.timeStamps[i] < target) ++i;
  if (i < index.count && index.timeStamps[i] == target) {
    file.seek(static_cast<int64_t>(index.offsets[i]));
    return;
  }
  const uint32_t base = i == index.count ? index.count - 1 : (i > 0 ? i - 1 : 0);
  const auto baseOffset = static_cast<int64_t>(index.offsets[base]);

  // Fine scan: the last key frame before the target, from the entry on.
  file.seek(baseOffset);
  RecordWalker walker(file);
  ScannedBlock b;
  int64_t remembered = -1;
  while (walker.next(b)) {
    if (!b.keyFrame) continue;
    if (b.videoTs == target) {
      file.seek(b.headerOffset);
      return;
    }
    if (b.videoTs > target) break;
    remembered = b.headerOffset;
  }
  file.seek(remembered >= 0 ? remembered : baseOffset);
}

}  // namespace

bool PositionForSeek(FileReader& file, const FrameIndex& index, uint64_t target) {
  if (target < index.first || target > index.last) return false;
  if (index.full) {
    file.seek(static_cast<int64_t>(FullIndexSeekOffset(index, target)));
  } else {
    SparsePosition(file, index, target);
  }
  return true;
}

}  // namespace trevolo
