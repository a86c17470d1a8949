#include "audio/direct_sound.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <vector>

namespace {

using namespace trevolo::platform;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A recording sound device over a real SoundRing whose cursor the test moves.
struct FakeWorld {
  std::deque<SoundResult> deviceResults;  // next device creations; kOk once empty
  int deviceAttempts = 0;
  bool failBuffers = false;
  std::vector<SoundBufferDesc> buffers;  // every buffer created
  int lostLocks = 0;                     // this many next locks report a lost buffer
  int restores = 0;
  int plays = 0;
} g;

class FakeBuffer final : public SoundBuffer {
 public:
  explicit FakeBuffer(const SoundBufferDesc& d)
      : ring(d.bytes, d.format.blockAlign, d.silenceAfterPlay) {}
  SoundResult setNotificationPositions(std::span<const SoundNotification> table,
                                       EventSet* events) override {
    ring.setNotifications(table, events);
    return SoundResult::kOk;
  }
  SoundResult lock(uint32_t offset, uint32_t bytes, uint32_t flags, SoundRegion* region) override {
    return g.lostLocks-- > 0 ? SoundResult::kBufferLost : ring.lock(offset, bytes, flags, region);
  }
  SoundResult unlock(const SoundRegion& region) override { return ring.unlock(region); }
  SoundResult play() override { return ++g.plays, SoundResult::kOk; }
  SoundResult stop() override { return SoundResult::kOk; }
  SoundResult getCurrentPosition(uint32_t* play, uint32_t*) override {
    return *play = ring.position(), SoundResult::kOk;
  }
  SoundResult setCurrentPosition(uint32_t at) override { return ring.setPosition(at), SoundResult::kOk; }
  SoundResult restore() override { return ++g.restores, SoundResult::kOk; }
  SoundResult setVolume(long) override { return SoundResult::kOk; }
  bool isLost() override { return false; }

  void playChunk() {
    uint8_t out[320];
    ring.render(out, sizeof out);
    heard.insert(heard.end(), std::begin(out), std::end(out));
  }
  std::vector<uint8_t> contents(uint8_t* fillWith = nullptr) {
    SoundRegion r;
    ring.lock(0, 0, kLockEntireBuffer, &r);
    if (fillWith != nullptr) {
      std::memset(r.first, *fillWith, r.firstBytes);
    }
    std::vector<uint8_t> bytes(r.first, r.first + r.firstBytes);
    ring.unlock(r);
    return bytes;
  }
  SoundRing ring;
  std::vector<uint8_t> heard;  // everything played, in order
};
FakeBuffer* live = nullptr;  // the buffer made last

class FakeDevice final : public SoundDevice {
 public:
  SoundResult createBuffer(const SoundBufferDesc& desc, std::unique_ptr<SoundBuffer>* out) override {
    if (g.failBuffers) {
      return SoundResult::kFailed;
    }
    g.buffers.push_back(desc);
    auto made = std::make_unique<FakeBuffer>(desc);
    live = made.get();
    *out = std::move(made);
    return SoundResult::kOk;
  }
};

SoundResult createFakeDevice(std::unique_ptr<SoundDevice>* device) {
  ++g.deviceAttempts;
  SoundResult result = SoundResult::kOk;
  if (!g.deviceResults.empty()) {
    result = g.deviceResults.front();
    g.deviceResults.pop_front();
  }
  if (result == SoundResult::kOk) {
    *device = std::make_unique<FakeDevice>();
  }
  return result;
}

// Opens the protected members to the tests.
class TestSound : public CDirectSound {
 public:
  using CDirectSound::GetWaveData;
  using CDirectSound::IsValid;
  static void useDevices(DeviceFactory factory) { m_createDevice = std::move(factory); }
};

_AUDIO_CONFIG kPcm8k = {1, 1, 8000, 16000, 2, 16, 0};

std::vector<uint8_t> block(uint8_t value, size_t bytes = 320) { return std::vector<uint8_t>(bytes, value); }

bool holds(const std::vector<uint8_t>& bytes, size_t from, size_t count, uint8_t value) {
  return std::all_of(bytes.begin() + from, bytes.begin() + from + count,
                     [&](uint8_t b) { return b == value; });
}

int write(TestSound& sound, std::vector<uint8_t> data) {
  return sound.WriteDataToBuf(data.data(), data.size());
}

// What was heard, as (value, length) runs of equal non-zero bytes; silence
// is left out. Blocks filled with distinct values come out as one run each,
// so a lost, torn, repeated or misplaced block shows up in this list.
std::vector<std::pair<int, size_t>> runsHeard(const std::vector<uint8_t>& pcm) {
  std::vector<std::pair<int, size_t>> runs;
  for (size_t i = 0; i < pcm.size();) {
    size_t end = i + 1;
    while (end < pcm.size() && pcm[end] == pcm[i]) ++end;
    if (pcm[i] != 0) runs.emplace_back(pcm[i], end - i);
    i = end;
  }
  return runs;
}

// The runs that blocks filled with `first` to `last`, 320 bytes each, make.
std::vector<std::pair<int, size_t>> blocksInOrder(int first, int last) {
  std::vector<std::pair<int, size_t>> runs;
  for (int v = first; v <= last; ++v) runs.emplace_back(v, 320);
  return runs;
}

class FakeSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g = {};
    TestSound::useDevices(createFakeDevice);
  }
  void TearDown() override { TestSound::useDevices(createSoundDevice); }
  static void startPrimed(TestSound& sound) {
    ASSERT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
    sound.Play(0, 1);
    ASSERT_EQ(write(sound, block(9)), 1);
  }
};

TEST_F(FakeSoundTest, FirstWritePrimesSilenceThenEachBlockFillsTheChunkJustPlayed) {
  TestSound sound;
  ASSERT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
  ASSERT_EQ(g.buffers.size(), 1u);
  EXPECT_EQ(g.buffers[0].bytes, 1280u);
  sound.Play(0, 1);
  uint8_t marker = 0x55;
  live->contents(&marker);
  EXPECT_EQ(write(sound, block(7)), 1);
  std::vector<uint8_t> bytes = live->contents();
  EXPECT_TRUE(holds(bytes, 0, 960, 0));     // three chunks of silence
  EXPECT_TRUE(holds(bytes, 960, 320, 7));  // then the block given

  // The cursor reaches 320, 640, 960 and 0 in turn: notifications 1, 2, 3, 0.
  const size_t expectedOffset[] = {0, 320, 640, 960};
  for (uint8_t i = 0; i < 4; ++i) {
    live->playChunk();
    ASSERT_EQ(write(sound, block(i + 1)), 1);
    EXPECT_TRUE(holds(live->contents(), expectedOffset[i], 320, i + 1)) << int{i};
  }
  // A block longer than a chunk continues at the start of the buffer.
  live->playChunk();
  ASSERT_EQ(write(sound, block(6, 640)), 1);
  bytes = live->contents();
  EXPECT_TRUE(holds(bytes, 0, 640, 6));
  live->playChunk();
  EXPECT_EQ(write(sound, block(1, 1281)), 0);  // longer than the buffer
}

TEST_F(FakeSoundTest, TheFirstBlockIsHeardRightAfterThePrimingSilence) {
  TestSound sound;
  startPrimed(sound);  // block 9
  for (uint8_t v = 1; v <= 5; ++v) {
    live->playChunk();
    ASSERT_EQ(write(sound, block(v)), 1);
  }
  for (int i = 0; i < 8; ++i) live->playChunk();
  auto expected = blocksInOrder(1, 5);
  expected.insert(expected.begin(), {9, 320});
  EXPECT_EQ(runsHeard(live->heard), expected);
  EXPECT_TRUE(holds(live->heard, 0, 960, 0));  // after 60 ms of silence
}

// After a pause in writing the ring has looped on and every notification is
// stale; writing must go on right after the play cursor, in order, with the
// usual three chunks of lead and no more.
TEST_F(FakeSoundTest, WritingAfterAnIdleGapResumesInOrderAfterThePlayCursor) {
  TestSound sound;
  startPrimed(sound);  // block 9
  uint8_t next = 1;
  for (int gapChunks : {6, 5, 11, 4}) {  // leaves the cursor in each chunk in turn
    for (int i = 0; i < gapChunks; ++i) live->playChunk();
    const uint8_t first = next;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(write(sound, block(next++)), 1);  // free chunks: no waiting
    }
    auto fourth = std::async(std::launch::async, [&] { return write(sound, block(next)); });
    EXPECT_EQ(fourth.wait_for(50ms), std::future_status::timeout) << "gap " << gapChunks;
    live->playChunk();
    ASSERT_EQ(fourth.get(), 1);
    ++next;
    for (int i = 0; i < 5; ++i) live->playChunk();
    auto expected = blocksInOrder(first, next - 1);
    const auto runs = runsHeard(live->heard);
    ASSERT_GE(runs.size(), expected.size());
    EXPECT_EQ(std::vector(runs.end() - static_cast<long>(expected.size()), runs.end()), expected)
        << "gap " << gapChunks;
  }
  auto all = blocksInOrder(1, next - 1);
  all.insert(all.begin(), {9, 320});
  EXPECT_EQ(runsHeard(live->heard), all);
}

// A writer up to three chunks late still finds its data unplayed and keeps
// the order; one a whole ring late starts again after the cursor.
TEST_F(FakeSoundTest, ALateWriterKeepsTheOrder) {
  TestSound sound;
  startPrimed(sound);  // block 9
  uint8_t next = 1;
  for (int late : {2, 3, 1, 4, 2}) {
    for (int i = 0; i < late; ++i) live->playChunk();
    for (int i = 0; i < 4; ++i) {
      auto writer = std::async(std::launch::async, [&] { return write(sound, block(next)); });
      if (writer.wait_for(20ms) == std::future_status::timeout) live->playChunk();
      ASSERT_EQ(writer.get(), 1);
      ++next;
    }
  }
  for (int i = 0; i < 8; ++i) live->playChunk();
  auto expected = blocksInOrder(1, next - 1);
  expected.insert(expected.begin(), {9, 320});
  EXPECT_EQ(runsHeard(live->heard), expected);
}

TEST_F(FakeSoundTest, AWriterSleepsUntilAChunkIsPlayedAndStopWakesIt) {
  TestSound sound;
  startPrimed(sound);
  auto writer = std::async(std::launch::async, [&] { return write(sound, block(5)); });
  EXPECT_EQ(writer.wait_for(100ms), std::future_status::timeout);
  live->playChunk();
  EXPECT_EQ(writer.get(), 1);
  EXPECT_TRUE(holds(live->contents(), 0, 320, 5));

  auto stranded = std::async(std::launch::async, [&] { return write(sound, block(5)); });
  EXPECT_EQ(stranded.wait_for(50ms), std::future_status::timeout);
  sound.Stop();
  EXPECT_EQ(stranded.get(), 0);
}

// A playing device that stops calling back without reporting a loss must not
// hold the writer (and whoever closes the player after it) for ever; a paused
// one holds it until playing resumes.
TEST_F(FakeSoundTest, AWriterGivesUpOnAStalledDeviceButWaitsOutAPause) {
  TestSound sound;
  startPrimed(sound);
  const auto start = Clock::now();
  EXPECT_EQ(write(sound, block(5)), 0);  // nothing ever plays
  const double waited = std::chrono::duration<double>(Clock::now() - start).count();
  EXPECT_GT(waited, 0.7);
  EXPECT_LT(waited, 3.0);

  sound.Pause();
  auto held = std::async(std::launch::async, [&] { return write(sound, block(6)); });
  EXPECT_EQ(held.wait_for(1500ms), std::future_status::timeout);
  sound.Continue();
  live->playChunk();
  EXPECT_EQ(held.get(), 1);
  EXPECT_TRUE(holds(live->contents(), 0, 320, 6));  // the refused block left no trace
}

TEST_F(FakeSoundTest, StopReleasesTheStreamAndTheNextOnePrimesAgain) {
  TestSound sound;
  EXPECT_EQ(sound.IsValid(), 0);
  startPrimed(sound);
  EXPECT_EQ(sound.IsValid(), 1);
  _AUDIO_CONFIG other = {1, 2, 44100, 176400, 4, 16, 0};
  EXPECT_EQ(sound.CreateDSound(&other, 160), 1);  // only the chunk size changes
  EXPECT_EQ(g.deviceAttempts, 1);
  EXPECT_EQ(g.buffers.size(), 1u);

  sound.Stop();
  EXPECT_EQ(sound.IsValid(), 0);
  EXPECT_EQ(write(sound, block(6)), 0);
  EXPECT_EQ(sound.CreateDSound(&other, 160), 1);
  ASSERT_EQ(g.buffers.size(), 2u);
  EXPECT_EQ(g.buffers[1].bytes, 640u);                     // the new chunk size
  EXPECT_EQ(g.buffers[1].format.samplesPerSec, 8000u);     // the first format
  uint8_t marker = 0x55;
  live->contents(&marker);
  EXPECT_EQ(write(sound, block(6, 160)), 1);
  EXPECT_TRUE(holds(live->contents(), 0, 480, 0));
}

TEST_F(FakeSoundTest, DeviceCreationRetriesBusyOrMissingDevicesTwice) {
  struct Case {
    std::deque<SoundResult> results;
    int created;
    int attempts;
  };
  const Case cases[] = {{{SoundResult::kAllocated, SoundResult::kNoDriver}, 1, 3},
                        {{SoundResult::kNoDriver, SoundResult::kAllocated, SoundResult::kNoDriver}, 0, 3},
                        {{SoundResult::kFailed}, 0, 1}};
  for (const Case& c : cases) {
    TestSound sound;
    g.deviceAttempts = 0;
    g.deviceResults = c.results;
    const auto start = Clock::now();
    EXPECT_EQ(sound.CreateDSound(&kPcm8k, 320), c.created);
    EXPECT_EQ(g.deviceAttempts, c.attempts);
    EXPECT_GE(Clock::now() - start, (c.attempts - 1) * 195ms);
  }
  // A device without a buffer is no stream: the next call makes the buffer.
  TestSound sound;
  g.failBuffers = true;
  EXPECT_EQ(sound.CreateDSound(&kPcm8k, 320), 0);
  EXPECT_EQ(sound.CreateDSound(&kPcm8k, 320), 0);
  g.failBuffers = false;
  EXPECT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
  EXPECT_EQ(sound.CreateDSound(&kPcm8k, 427), 0);  // three chunks must fit the staging buffer
  EXPECT_EQ(sound.CreateDSound(nullptr, 320), 0);
}

TEST_F(FakeSoundTest, ALostBufferIsRestoredOnceBeforeAWriteGivesUp) {
  TestSound sound;
  startPrimed(sound);
  g.lostLocks = 1;
  live->playChunk();
  EXPECT_EQ(write(sound, block(8)), 1);
  g.lostLocks = 2;
  live->playChunk();
  EXPECT_EQ(write(sound, block(8)), 0);
  EXPECT_EQ(g.restores, 2);
}

TEST_F(FakeSoundTest, SetPlaySpeedReopensTheStreamAtTheScaledRate) {
  TestSound sound;
  startPrimed(sound);
  EXPECT_EQ(sound.SetPlaySpeed(2.0f), 1);
  ASSERT_EQ(g.buffers.size(), 2u);
  EXPECT_EQ(g.buffers[1].format.samplesPerSec, 16000u);
  EXPECT_EQ(g.buffers[1].format.avgBytesPerSec, 32000u);
  EXPECT_EQ(g.plays, 2);
  EXPECT_EQ(sound.SetPlaySpeed(1.0f), 1);
  EXPECT_EQ(g.buffers[2].format.samplesPerSec, 8000u);
  for (float bad : {0.0f, -1.0f, std::nanf(""), INFINITY}) {
    EXPECT_EQ(sound.SetPlaySpeed(bad), 0) << bad;
  }
  EXPECT_EQ(g.buffers.size(), 3u);  // refused factors leave the stream alone
  EXPECT_EQ(sound.IsValid(), 1);
}

TEST_F(FakeSoundTest, ThePumpPrimesFromTheStagingBufferThenFillsPlayedChunks) {
  TestSound sound;
  ASSERT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
  std::vector<uint8_t> staged(1280);
  for (size_t i = 0; i < staged.size(); ++i) {
    staged[i] = static_cast<uint8_t>(1 + i / 320);  // chunks of 1, 2, 3, 4
  }
  ASSERT_EQ(sound.AppendToStaging(staged.data(), 1280), 1);
  EXPECT_EQ(sound.AppendToStaging(staged.data(), 1), 0);  // full
  // Started only now: a running pump may already have drained the staging.
  sound.SetPumpThread(std::thread([&] { sound.WriteToBuf(); }));
  const auto deadline = Clock::now() + 2s;
  while (!holds(live->contents(), 640, 320, 3) && Clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  live->playChunk();  // notification 1: the fourth chunk goes to offset 0
  while (!holds(live->contents(), 0, 320, 4) && Clock::now() < deadline) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_TRUE(holds(live->contents(), 0, 320, 4));
  EXPECT_TRUE(holds(live->contents(), 320, 320, 2));
  sound.Stop();  // ends and joins the pump
}

// RIFF/WAVE images built chunk by chunk.
struct WaveImage {
  std::vector<uint8_t> bytes;
  WaveImage() { append("RIFF\0\0\0\0WAVE", 12); }
  void append(const char* text, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      bytes.push_back(static_cast<uint8_t>(text[i]));
    }
  }
  size_t chunk(const char* id, uint8_t size) {
    append(id, 4);
    const char sizeField[4] = {static_cast<char>(size), 0, 0, 0};
    append(sizeField, 4);
    bytes.resize(bytes.size() + size + (size & 1), 0xAB);
    return bytes.size() - size - (size & 1);
  }
  uint8_t* padded() {  // the scan may look up to 1016 bytes in
    bytes.resize(1100);
    return bytes.data();
  }
};

TEST(WaveDataTest, FindsFormatAndSamplesInEitherOrder) {
  tWAVEFORMATEX* format = nullptr;
  void* samples = nullptr;
  unsigned long size = 0;
  WaveImage w;
  w.chunk("LIST", 3);  // odd size: padded to even
  const size_t data = w.chunk("data", 100);
  const size_t fmt = w.chunk("fmt ", 16);
  ASSERT_EQ(TestSound::GetWaveData(w.padded(), format, samples, size), 1);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(format), w.bytes.data() + fmt);
  EXPECT_EQ(samples, w.bytes.data() + data);
  EXPECT_EQ(size, 100u);
  EXPECT_EQ(TestSound::GetWaveData(w.bytes.data(), format, size), 0);  // format not first

  WaveImage shortFormat;
  shortFormat.chunk("fmt ", 12);
  shortFormat.chunk("data", 8);
  EXPECT_EQ(TestSound::GetWaveData(shortFormat.padded(), format, samples, size), 0);
  EXPECT_EQ(TestSound::GetWaveData(shortFormat.bytes.data(), format, size), 0);

  WaveImage formatFirst;
  formatFirst.chunk("fmt ", 16);
  ASSERT_EQ(TestSound::GetWaveData(formatFirst.bytes.data(), format, size), 1);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(format), formatFirst.bytes.data() + 20);
  EXPECT_EQ(size, 20u);
}

// SDL's real drivers. The disk driver runs in real time and writes what
// would be heard to a file.
class SdlSoundTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TestSound::useDevices(createSoundDevice);
    setenv("SDL_DISKAUDIOFILE", m_output.c_str(), 1);
    unsetenv("SDL_DISKAUDIODELAY");
  }
  void TearDown() override { std::filesystem::remove(m_output); }

  // Primes, then writes `count` blocks that are never zero; returns seconds taken.
  static double stream(TestSound& sound, int count, std::vector<uint8_t>* written) {
    EXPECT_EQ(write(sound, block(1)), 1);  // primes, and is heard first
    written->insert(written->end(), 320, 1);
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      std::vector<uint8_t> data(320);
      for (size_t j = 0; j < data.size(); ++j) {
        data[j] = static_cast<uint8_t>((i * 7 + j) % 251 + 1);
      }
      EXPECT_EQ(sound.WriteDataToBuf(data.data(), 320), 1);
      written->insert(written->end(), data.begin(), data.end());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    RecordProperty("seconds_for_blocks", std::to_string(seconds));
    return seconds;
  }

  // Streams 50 blocks on the disk driver at `speed`; returns seconds taken.
  // At normal speed also checks that the output, from its first sound on, is
  // exactly those blocks. (At double speed a writer has only 30 ms of slack,
  // which a heavily loaded test machine cannot promise.)
  double streamToDisk(float speed) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    std::vector<uint8_t> written;
    double seconds = 0;
    {
      TestSound sound;
      EXPECT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
      sound.Play(0, 1);
      if (speed != 1.0f) {
        EXPECT_EQ(sound.SetPlaySpeed(speed), 1);
      }
      seconds = stream(sound, 50, &written);
      std::this_thread::sleep_for(200ms);  // let the last blocks play
      sound.Stop();
    }
    if (speed != 1.0f) {
      return seconds;
    }
    std::ifstream in(m_output, std::ios::binary);
    std::vector<uint8_t> heard{std::istreambuf_iterator<char>(in), {}};
    const auto first = std::find_if(heard.begin(), heard.end(), [](uint8_t b) { return b != 0; });
    const auto heardBytes = static_cast<size_t>(heard.end() - first);
    EXPECT_TRUE(heardBytes >= written.size() && std::equal(written.begin(), written.end(), first));
    return seconds;
  }

  std::filesystem::path m_output = std::filesystem::temp_directory_path() /
                                   ("trevolo_sound_" + std::to_string(getpid()) + ".raw");
};

TEST_F(SdlSoundTest, TheDiskDriverHearsEveryBlockInOrderAtTheDevicePace) {
  const double seconds = streamToDisk(1.0f);  // 50 x 20 ms
  EXPECT_GT(seconds, 0.8);
  EXPECT_LT(seconds, 1.6);
}

// Distinct blocks written around idle gaps of about two and one and a half
// rings are all heard, whole and in order.
TEST_F(SdlSoundTest, TheDiskDriverHearsEveryBlockInOrderAcrossIdleGaps) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  int next = 1;
  {
    TestSound sound;
    ASSERT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
    sound.Play(0, 1);
    for (auto gap : {0ms, 170ms, 130ms, 210ms}) {
      std::this_thread::sleep_for(gap);
      for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(write(sound, block(static_cast<uint8_t>(next++))), 1);
      }
    }
    std::this_thread::sleep_for(200ms);  // let the last blocks play
    sound.Stop();
  }
  std::ifstream in(m_output, std::ios::binary);
  const std::vector<uint8_t> heard{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(runsHeard(heard), blocksInOrder(1, next - 1));
}

TEST_F(SdlSoundTest, DoubleSpeedDoublesTheRateAndThePace) {
  const double seconds = streamToDisk(2.0f);  // 50 x 10 ms
  EXPECT_GT(seconds, 0.35);
  EXPECT_LT(seconds, 0.8);
}

TEST_F(SdlSoundTest, TheDummyDriverStreamsAndAPauseHoldsTheWriter) {
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  TestSound sound;
  ASSERT_EQ(sound.CreateDSound(&kPcm8k, 320), 1);
  sound.Play(0, 1);
  std::vector<uint8_t> written;
  stream(sound, 8, &written);
  sound.Pause();
  auto writer = std::async(std::launch::async, [&] { return write(sound, block(3)); });
  if (writer.wait_for(150ms) == std::future_status::ready) {  // one notification may be pending
    writer = std::async(std::launch::async, [&] { return write(sound, block(3)); });
  }
  EXPECT_EQ(writer.wait_for(300ms), std::future_status::timeout);
  sound.Continue();
  EXPECT_EQ(writer.get(), 1);
  sound.Stop();
}

}  // namespace
