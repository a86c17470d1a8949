// Key-frame index: the full and sparse builds, the tail windows, and where
// the reader is placed for a seek target.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/frame_index.h"
#include "test_files.h"

namespace trevolo {
namespace {

using test::kBase;
using test::MakeRecording;
using test::RecordingPlan;
using test::TempDir;
using test::WriteBytes;

struct Indexed {
  FileReader file;
  FrameIndex index;
};

std::unique_ptr<Indexed> Index(const std::string& path) {
  auto r = std::make_unique<Indexed>();
  EXPECT_TRUE(r->file.open(path));
  EXPECT_TRUE(r->index.allocate());
  BuildIndex(r->file, r->index);
  return r;
}

int64_t SeekPos(Indexed& r, uint64_t target) {
  if (!PositionForSeek(r.file, r.index, target)) return -1;
  return r.file.tell();
}

// Header offsets of every media block, in file order, from the writer's view.
struct Layout {
  std::vector<uint64_t> offsets;
  std::vector<uint64_t> stamps;
  std::vector<bool> keys;
};

// A recording of `pictures` blocks of `videoBytes` each, key frames every
// `gop`, optionally preceded by a non-key block; returns the layout.
Layout WriteBlocks(AvWriter& w, int pictures, int gop, size_t videoBytes, uint64_t start = kBase,
                   int firstKey = 0) {
  Layout l;
  for (int n = 0; n < pictures; ++n) {
    const bool key = n >= firstKey && (n - firstKey) % gop == 0;
    const uint64_t ts = start + static_cast<uint64_t>(n) * 40000;
    l.offsets.push_back(w.bytesWritten());
    l.stamps.push_back(ts);
    l.keys.push_back(key);
    w.mediaBlock(ts, SyntheticAccessUnit(videoBytes, key, static_cast<uint32_t>(n)), ts,
                 {std::vector<uint8_t>(32, 1), std::vector<uint8_t>(32, 2)});
  }
  return l;
}

TEST(FullIndex, EveryKeyFrameAndTheRange) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  w.audioFormat(kAmrFormatWord);
  w.raw(std::vector<uint8_t>{1, 2, 3, 0xFF, 0xFF});  // damage before the first record
  const Layout l = WriteBlocks(w, 30, 10, 300, kBase, 2);
  WriteBytes(dir.file("a.av"), bytes);
  auto r = Index(dir.file("a.av"));

  EXPECT_TRUE(r->index.full);
  EXPECT_EQ(r->index.first, l.stamps.front()) << "first counts any block with video";
  EXPECT_EQ(r->index.last, l.stamps.back());
  ASSERT_EQ(r->index.count, 3u);
  for (uint32_t i = 0; i < 3; ++i) {
    EXPECT_EQ(r->index.offsets[i], l.offsets[2 + 10 * i]);
    EXPECT_EQ(r->index.timeStamps[i], l.stamps[2 + 10 * i]);
  }
  EXPECT_EQ(r->file.tell(), 0);

  // Exactly at a key frame, between two, before the first, after the last.
  EXPECT_EQ(SeekPos(*r, l.stamps[12]), static_cast<int64_t>(l.offsets[12]));
  EXPECT_EQ(SeekPos(*r, l.stamps[17]), static_cast<int64_t>(l.offsets[12]));
  EXPECT_EQ(SeekPos(*r, l.stamps[22] - 1), static_cast<int64_t>(l.offsets[12]));
  EXPECT_EQ(SeekPos(*r, l.stamps[1]), 0) << "before the first key frame: the file start";
  EXPECT_EQ(SeekPos(*r, l.stamps[29]), static_cast<int64_t>(l.offsets[22]))
      << "after the last key frame: that key frame";
  EXPECT_EQ(SeekPos(*r, l.stamps[29] + 1), -1);
  EXPECT_EQ(SeekPos(*r, l.stamps[0] - 1), -1);
}

TEST(FullIndex, OnlyVideoBlockIsAKeyFrame) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  WriteBlocks(w, 1, 1, 100);
  w.mediaBlock(0, {}, kBase + 40000, {std::vector<uint8_t>(32, 1)});  // audio only
  WriteBytes(dir.file("a.av"), bytes);
  auto r = Index(dir.file("a.av"));
  EXPECT_EQ(r->index.first, kBase);
  EXPECT_EQ(r->index.last, kBase);
  EXPECT_EQ(r->index.count, 1u);
}

TEST(FullIndex, MoreKeyFramesThanTheTableHolds) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  const int blocks = static_cast<int>(MAX_INDEX_ENTRIES) + 500;
  for (int n = 0; n < blocks; ++n) {
    w.mediaBlock(kBase + static_cast<uint64_t>(n) * 1000, SyntheticAccessUnit(8, true, 0), 0, {});
  }
  WriteBytes(dir.file("a.av"), bytes);
  auto r = Index(dir.file("a.av"));
  EXPECT_TRUE(r->index.full);
  EXPECT_EQ(r->index.count, MAX_INDEX_ENTRIES);
  EXPECT_EQ(r->index.first, kBase);
  EXPECT_EQ(r->index.last, kBase + static_cast<uint64_t>(blocks - 1) * 1000);
  // Past the last indexed key frame: positioned at that key frame.
  const int64_t lastIndexed = static_cast<int64_t>(r->index.offsets[MAX_INDEX_ENTRIES - 1]);
  EXPECT_EQ(SeekPos(*r, r->index.last), lastIndexed);
}

TEST(FullIndex, ScannersSkipByTheFullLengths) {
  // Audio frames over 36 bytes and N over 64: the scanners use the whole
  // table lengths (but only 64 entries), so the next record is found in step.
  TempDir dir;
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  std::vector<std::vector<uint8_t>> big(3, std::vector<uint8_t>(50, 7));
  w.mediaBlock(kBase, SyntheticAccessUnit(100, true, 1), kBase, big);
  const uint64_t second = w.bytesWritten();
  w.mediaBlock(kBase + 40000, SyntheticAccessUnit(100, true, 2), kBase, {});
  WriteBytes(dir.file("a.av"), bytes);
  auto r = Index(dir.file("a.av"));
  ASSERT_EQ(r->index.count, 2u);
  EXPECT_EQ(r->index.offsets[1], second);
}

// Pads `bytes` with zeros to exactly `size` bytes.
void PadTo(std::vector<uint8_t>& bytes, size_t size) { bytes.resize(size, 0); }

TEST(IndexKind, SixteenMebibyteBoundary) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  WriteBlocks(w, 60, 10, 100000);  // about 6 MB of media, then zeros
  PadTo(bytes, static_cast<size_t>(FULL_INDEX_MAX_FILE));
  WriteBytes(dir.file("full.av"), bytes);
  bytes.push_back(0);
  WriteBytes(dir.file("sparse.av"), bytes);

  auto full = Index(dir.file("full.av"));
  EXPECT_TRUE(full->index.full);
  EXPECT_EQ(full->index.count, 6u);
  auto sparse = Index(dir.file("sparse.av"));
  EXPECT_FALSE(sparse->index.full);
  EXPECT_EQ(sparse->index.fileSize, FULL_INDEX_MAX_FILE + 1);
  EXPECT_EQ(sparse->index.first, kBase);
  EXPECT_EQ(sparse->index.last, kBase + 59 * 40000);
}

// A large recording: blocks of 100 kB, key frames every 25 pictures (2.5 MB).
struct LargeFile {
  TempDir dir;
  std::string path = dir.file("large.av");
  Layout layout;
  explicit LargeFile(int pictures = 200, size_t tailAudioOnly = 0) {
    std::vector<uint8_t> bytes;
    AvWriter w(&bytes);
    w.audioFormat(kAmrFormatWord);
    layout = WriteBlocks(w, pictures, 25, 100000);
    // An audio-only tail, as a recorder writes when the camera stops first.
    uint64_t ts = layout.stamps.back();
    while (bytes.size() < layout.offsets.back() + 100000 + tailAudioOnly) {
      ts += 20000;
      w.mediaBlock(0, {}, ts, std::vector<std::vector<uint8_t>>(32, std::vector<uint8_t>(32, 3)));
    }
    WriteBytes(path, bytes);
  }
};

TEST(SparseIndex, OneKeyFramePerStepAndTheFineScan) {
  LargeFile f;
  auto r = Index(f.path);
  ASSERT_FALSE(r->index.full);
  // Steps at 0, 4, 8, 12, 16 MiB; each finds the next key frame from there.
  ASSERT_EQ(r->index.count, 5u);
  for (uint32_t i = 0; i < r->index.count; ++i) {
    const auto step = static_cast<uint64_t>(i) * SPARSE_INDEX_STEP;
    size_t k = 0;
    while (f.layout.offsets[k] < step || !f.layout.keys[k]) ++k;
    EXPECT_EQ(r->index.offsets[i], f.layout.offsets[k]) << i;
    EXPECT_EQ(r->index.timeStamps[i], f.layout.stamps[k]) << i;
  }
  EXPECT_EQ(r->index.first, f.layout.stamps[0]);
  EXPECT_EQ(r->index.last, f.layout.stamps.back());

  // Every target lands on the last key frame at or before it, however far
  // from the index entries that key frame lies.
  for (size_t n = 0; n < f.layout.stamps.size(); n += 7) {
    size_t key = n;
    while (!f.layout.keys[key]) --key;
    EXPECT_EQ(SeekPos(*r, f.layout.stamps[n]), static_cast<int64_t>(f.layout.offsets[key]))
        << "picture " << n;
    EXPECT_EQ(SeekPos(*r, f.layout.stamps[n] + 1), static_cast<int64_t>(f.layout.offsets[key]))
        << "just after picture " << n;
  }
}

TEST(SparseIndex, TailWindows) {
  // The last video block lies 40 kB, 100 kB and 400 kB before the end: the
  // second window, the third, and beyond all three.
  for (size_t tail : {40000u, 100000u, 400000u}) {
    LargeFile f(180, tail);
    auto r = Index(f.path);
    ASSERT_FALSE(r->index.full);
    EXPECT_EQ(r->index.last, f.layout.stamps.back()) << "tail " << tail;
    EXPECT_GE(r->index.last, r->index.first);
  }
}

TEST(SparseIndex, NoKeyFrameAtAll) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  AvWriter w(&bytes);
  const Layout l = WriteBlocks(w, 180, 1000, 100000, kBase, 1000);  // no key frame
  WriteBytes(dir.file("a.av"), bytes);
  auto r = Index(dir.file("a.av"));
  ASSERT_FALSE(r->index.full);
  EXPECT_EQ(r->index.count, 0u);
  EXPECT_EQ(r->index.first, l.stamps.front());
  EXPECT_EQ(r->index.last, l.stamps.back());
  EXPECT_EQ(SeekPos(*r, l.stamps[100]), 0) << "no seekable point: the file start";
}

TEST(LargeFiles, BeyondTwoGibibytes) {
  // A sparse file of 2.5 GiB: a key frame record every MiB whose declared
  // video length spans the hole up to the next one.
  TempDir dir;
  const std::string path = dir.file("huge.av");
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  constexpr uint64_t kStep = 1 << 20;
  constexpr uint64_t kRecords = 2560;
  for (uint64_t i = 0; i < kRecords; ++i) {
    ASSERT_EQ(fseeko(f, static_cast<off_t>(i * kStep), SEEK_SET), 0);
    std::vector<uint8_t> rec;
    AvWriter w(&rec);
    w.header(0, 0, static_cast<uint32_t>(kStep - 28), kBase + i * 1000000, 0);
    const auto au = SyntheticAccessUnit(8, true, 0);
    rec.insert(rec.end(), au.begin(), au.end());
    ASSERT_EQ(std::fwrite(rec.data(), 1, rec.size(), f), rec.size());
  }
  ASSERT_EQ(fseeko(f, static_cast<off_t>(kRecords * kStep - 1), SEEK_SET), 0);
  std::fputc(0, f);
  std::fclose(f);

  auto r = Index(path);
  EXPECT_FALSE(r->index.full);
  EXPECT_EQ(r->index.fileSize, static_cast<int64_t>(kRecords * kStep));
  EXPECT_EQ(r->index.count, kRecords / 4);
  EXPECT_EQ(r->index.first, kBase);
  EXPECT_EQ(r->index.last, kBase + (kRecords - 1) * 1000000);
  // A target in the last gibibyte lands on its key frame, past 2^31.
  const uint64_t i = 2500;
  EXPECT_EQ(SeekPos(*r, kBase + i * 1000000 + 500000), static_cast<int64_t>(i * kStep));
}

}  // namespace
}  // namespace trevolo
