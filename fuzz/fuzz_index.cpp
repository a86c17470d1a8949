// The record reading the engine relies on, without its threads: the key-frame
// index, seek positioning, and both ways of walking records (the buffered fast
// path and the record-by-record one), over the input as a file image.
#include <algorithm>
#include <vector>

#include "engine/av_format.h"
#include "engine/file_reader.h"
#include "engine/frame_index.h"
#include "fuzz/fuzz_util.h"

using namespace trevolo;
using trevolo::fuzz::Touch;
using trevolo::fuzz::Use;

namespace {

struct Block {
  int64_t offset;
  uint32_t videoLength;
  uint64_t videoTs;
  bool key;
  bool operator==(const Block&) const = default;
};

std::vector<Block> WalkOneByOne(FileReader& file) {
  std::vector<Block> blocks;
  file.seek(0);
  RecordWalker walker(file);
  ScannedBlock b;
  while (walker.next(b)) blocks.push_back({b.headerOffset, b.videoLength, b.videoTs, b.keyFrame});
  return blocks;
}

std::vector<Block> WalkBuffered(FileReader& file) {
  std::vector<Block> blocks;
  file.seek(0);
  RecordWalker walker(file);
  walker.forEach([&](const ScannedBlock& b) {
    blocks.push_back({b.headerOffset, b.videoLength, b.videoTs, b.keyFrame});
    return true;
  });
  return blocks;
}

// A playback pass as the reader makes it: headers through the resynchronising
// search, then the audio length table, the audio frames and the video payload.
void PlaybackPass(FileReader& file, int64_t fileSize) {
  MarkerReader marker(MarkerReader::Mode::Playback);
  AvRecordHeader h;
  std::vector<uint8_t> payload;
  uint32_t sum = 0;
  while (marker.next(file, h)) {
    FUZZ_CHECK(file.tell() <= fileSize);
    if (h.type == AV_REC_AUDIO_FORMAT) {
      sum += AudioFrameDurationUs(Le16(h.format));
      continue;
    }
    if (h.type == AV_REC_SKIPPED) continue;
    const uint32_t n = std::min<uint32_t>(h.audioFrames, MAX_AUDIO_FRAMES_PER_BLOCK);
    uint8_t lengths[2 * MAX_AUDIO_FRAMES_PER_BLOCK];
    if (file.read(lengths, 2 * n) != 2 * n) break;
    for (uint32_t k = 0; k < n; ++k) {
      payload.resize(Le16(lengths + 2 * k));
      if (file.read(payload.data(), payload.size()) != payload.size()) return;
      sum += Touch(payload.data(), payload.size());
    }
    payload.resize(std::min(h.videoLength, MAX_VIDEO_PAYLOAD));
    const size_t got = file.read(payload.data(), payload.size());
    sum += Touch(payload.data(), got);
    if (got < payload.size()) break;
    if (h.videoLength > MAX_VIDEO_PAYLOAD &&
        !file.seek(file.tell() + (h.videoLength - MAX_VIDEO_PAYLOAD)))
      break;
  }
  Use(sum);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  trevolo::fuzz::MemoryFile image(data, size);
  FileReader file;
  FUZZ_CHECK(file.open(image.path()));
  const int64_t fileSize = file.size();
  FUZZ_CHECK(fileSize == static_cast<int64_t>(size));

  // The tables are allocated once (zeroing them would cost more than the
  // whole run); every other field starts afresh for each input.
  static FrameIndex index;
  if (!index.offsets) FUZZ_CHECK(index.allocate());
  index.full = false;
  index.count = 0;
  index.first = index.last = 0;
  index.fileSize = 0;
  BuildIndex(file, index);
  FUZZ_CHECK(file.tell() == 0);
  FUZZ_CHECK(index.fileSize == fileSize);
  FUZZ_CHECK(index.count <= MAX_INDEX_ENTRIES);
  for (uint32_t i = 0; i < index.count; ++i) {
    FUZZ_CHECK(index.offsets[i] + kHeaderBytes <= static_cast<uint64_t>(fileSize));
    if (i > 0) FUZZ_CHECK(index.offsets[i] > index.offsets[i - 1]);
  }

  // Both walks must see the same blocks, however the buffer happens to fall.
  const std::vector<Block> oneByOne = WalkOneByOne(file);
  const std::vector<Block> buffered = WalkBuffered(file);
  FUZZ_CHECK(oneByOne == buffered);

  // Seeks: the ends of the range, just outside it, and targets from the input.
  std::vector<uint64_t> targets = {index.first, index.last, index.first / 2 + index.last / 2,
                                   index.last + 1};
  if (index.first > 0) targets.push_back(index.first - 1);
  for (size_t i = 0; i + 8 <= std::min<size_t>(size, 64); i += 16)
    targets.push_back(Le64(data + i));
  for (const uint64_t target : targets) {
    file.seek(0);
    const bool inRange = target >= index.first && target <= index.last;
    const bool placed = PositionForSeek(file, index, target);
    FUZZ_CHECK(placed == inRange);
    if (!placed) {
      FUZZ_CHECK(file.tell() == 0);
      continue;
    }
    FUZZ_CHECK(file.tell() >= 0 && file.tell() <= fileSize);
    if (index.full) {
      const uint64_t offset = FullIndexSeekOffset(index, target);
      FUZZ_CHECK(offset == 0 || std::find(index.offsets.get(), index.offsets.get() + index.count,
                                          offset) != index.offsets.get() + index.count);
    }
    PlaybackPass(file, fileSize);
  }
  file.seek(0);
  PlaybackPass(file, fileSize);
  return 0;
}
