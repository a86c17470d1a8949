// Whatever a file holds, the engine indexes it, seeks in it and plays it to
// an end without crashing (run under the sanitizers in CI).
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/frame_index.h"
#include "engine_harness.h"
#include "test_files.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;
using test::g_harness;

// Damages a copy of `bytes`: overwritten runs, flipped bits, cut-outs,
// inserted garbage and a cut-off end, chosen by `seed`.
std::vector<uint8_t> Damage(std::vector<uint8_t> bytes, uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  const int edits = 1 + static_cast<int>(pick(8));
  for (int e = 0; e < edits && bytes.size() > 64; ++e) {
    const size_t at = pick(bytes.size());
    switch (pick(5)) {
      case 0:  // a run of bytes that look like header fields
        for (size_t i = at; i < std::min(bytes.size(), at + 1 + pick(40)); ++i) {
          bytes[i] = static_cast<uint8_t>(pick(2) ? 0xFF : pick(256));
        }
        break;
      case 1:
        bytes[at] ^= static_cast<uint8_t>(1u << pick(8));
        break;
      case 2:
        bytes.erase(bytes.begin() + static_cast<long>(at),
                    bytes.begin() + static_cast<long>(std::min(bytes.size(), at + pick(300))));
        break;
      case 3: {
        std::vector<uint8_t> junk(pick(100));
        for (auto& b : junk) b = static_cast<uint8_t>(pick(4) ? 0xFF : pick(256));
        bytes.insert(bytes.begin() + static_cast<long>(at), junk.begin(), junk.end());
        break;
      }
      default:
        bytes.resize(at);
        break;
    }
  }
  return bytes;
}

// Markers FF FF FF 88 followed by the rest of a header, searched from the
// start and from the end of each header found.
int WholeHeaders(const std::vector<uint8_t>& bytes) {
  int found = 0;
  size_t at = 0;
  while (at + kHeaderBytes <= bytes.size()) {
    if (std::equal(kMarker, kMarker + 4, bytes.begin() + static_cast<long>(at))) {
      ++found;
      at += kHeaderBytes;
    } else {
      ++at;
    }
  }
  return found;
}

TEST(Robustness, DamagedFilesIndexAndSeekSafely) {
  const auto clean = test::MakeRecording({.pictures = 40, .gop = 8, .videoBytes = 120});
  test::TempDir dir;
  const std::string path = dir.file("d.av");
  FrameIndex index;
  ASSERT_TRUE(index.allocate());
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    test::WriteBytes(path, Damage(clean, seed));
    FileReader file;
    ASSERT_TRUE(file.open(path));
    BuildIndex(file, index);
    ASSERT_LE(index.first, index.last) << "seed " << seed;
    ASSERT_LE(index.count, MAX_INDEX_ENTRIES);
    for (uint32_t i = 0; i < index.count; ++i) {
      ASSERT_LT(static_cast<int64_t>(index.offsets[i]), index.fileSize) << "seed " << seed;
    }
    // Damaged time stamps can make the range huge: 20 targets across it.
    const uint64_t span = index.last - index.first;
    for (uint64_t k = 0; k <= 20; ++k) {
      const uint64_t t = index.first + span / 20 * k;
      ASSERT_TRUE(PositionForSeek(file, index, t));
      ASSERT_LE(file.tell(), index.fileSize);
    }
    // The playback reading of every header (payloads are searched through
    // like damage): each header moves the file on by at least a header, the
    // pass reaches the end of the file, and it finds every marker that starts
    // a whole header, counted the plain way.
    file.seek(0);
    MarkerReader reader(MarkerReader::Mode::Playback);
    AvRecordHeader h;
    const int cap = 100000;
    int records = 0;
    int64_t before = file.tell();
    while (records < cap && reader.next(file, h)) {
      ++records;
      ASSERT_GE(file.tell() - before, static_cast<int64_t>(kHeaderBytes))
          << "seed " << seed << ", record " << records;
      before = file.tell();
    }
    ASSERT_LT(records, cap) << "seed " << seed;
    EXPECT_EQ(file.tell(), index.fileSize) << "seed " << seed;
    EXPECT_EQ(records, WholeHeaders(Damage(clean, seed))) << "seed " << seed;
  }
}

TEST(Robustness, DamagedFilesPlayToAnEnd) {
  const auto clean = test::MakeRecording({.pictures = 30, .gop = 10, .videoBytes = 120});
  test::TempDir dir;
  const std::string path = dir.file("d.av");
  // A file that exists and can be read always opens, whatever it holds (an
  // empty one included): the loop must not pass by skipping them.
  const uint32_t seeds = 25;
  uint32_t opened = 0;
  for (uint32_t seed = 1; seed <= seeds; ++seed) {
    g_harness.reset();
    test::WriteBytes(path, Damage(clean, seed * 7919));
    uint64_t duration = 0;
    AvCallbacks cb = test::HarnessCallbacks(path.c_str(), &duration);
    AvEngine* e = AVCreate(&cb);
    EXPECT_NE(e, nullptr) << "seed " << seed;
    if (!e) continue;
    ++opened;
    AVSeek(e, duration / 2);
    test::WaitFor([] { return g_harness.lastState() == AV_STATE_STOPPED; }, 3000ms);
    EXPECT_EQ(g_harness.lastState(), AV_STATE_STOPPED) << "seed " << seed;
    EXPECT_EQ(AVDestroy(e), 1);
  }
  EXPECT_EQ(opened, seeds);
}

}  // namespace
}  // namespace trevolo
