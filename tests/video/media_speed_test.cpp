// Sound at other playback speeds: the stretcher on its own (joins, fades,
// nothing lost), and a real engine playing a tone through SDL's disk sound
// driver at twice the speed (pitch kept) and at four times (muted, still paced).
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <numbers>
#include <string>
#include <vector>

#include "audio/direct_sound.h"
#include "tests/video/media_test_support.h"
#include "video/sound_speed.h"

namespace trevolo::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr double kToneHz = 440.0;  // avtool gen's tone
constexpr int kRate = SoundSpeed::kSampleRate;
constexpr uint32_t kBlock = SoundSpeed::kBlockSamples;

std::vector<int16_t> Tone(size_t from, size_t count) {
  std::vector<int16_t> out(count);
  for (size_t i = 0; i < count; ++i) {
    out[i] = static_cast<int16_t>(
        8000.0 * std::sin(2.0 * std::numbers::pi * kToneHz * static_cast<double>(from + i) / kRate));
  }
  return out;
}

// The strongest frequency between 300 and 600 Hz, in 1 Hz steps (Goertzel).
double DominantHz(const int16_t* samples, size_t count) {
  double best = 0.0;
  double bestPower = -1.0;
  for (double hz = 300.0; hz <= 600.0; hz += 1.0) {
    const double coeff = 2.0 * std::cos(2.0 * std::numbers::pi * hz / kRate);
    double s1 = 0.0;
    double s2 = 0.0;
    for (size_t i = 0; i < count; ++i) {
      const double s0 = samples[i] + coeff * s1 - s2;
      s2 = s1;
      s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    if (power > bestPower) {
      bestPower = power;
      best = hz;
    }
  }
  return best;
}

// The largest step between neighbouring samples: a tone of amplitude 8000 at
// 440 Hz never moves more than about 2800 per sample; a cut or a bad join
// does.
int LargestStep(const std::vector<int16_t>& s) {
  int largest = 0;
  for (size_t i = 1; i < s.size(); ++i) largest = std::max(largest, std::abs(s[i] - s[i - 1]));
  return largest;
}

TEST(SoundSpeedTest, SpeedChangesJoinWithoutClicksOrLossAndMutingFadesOut) {
  SoundSpeed stretcher;
  std::vector<int16_t> out;
  size_t in = 0;
  double expectedOut = 0.0;  // samples the speeds call for
  auto play = [&](int permille, int frames) {
    stretcher.setSpeed(permille);
    for (int f = 0; f < frames; ++f, in += kBlock) {
      ASSERT_TRUE(stretcher.put(Tone(in, kBlock).data(), kBlock));
      expectedOut += kBlock * 1000.0 / permille;
      for (; stretcher.hasBlock(); stretcher.popBlock()) {
        out.insert(out.end(), stretcher.block(), stretcher.block() + kBlock);
      }
    }
  };
  play(1000, 25);
  play(2000, 50);
  play(500, 25);
  play(1500, 50);
  play(1000, 25);
  // The whole run came out, less at most what the stretcher holds at the end.
  EXPECT_NEAR(static_cast<double>(out.size()), expectedOut, 2.0 * kBlock);
  EXPECT_LT(LargestStep(out), 3200);
  EXPECT_NEAR(DominantHz(out.data() + 25 * kBlock, 25 * kBlock), kToneHz, 5.0);

  // Muting: what is held comes out in whole blocks that end in silence.
  play(2000, 10);
  const size_t before = out.size();
  stretcher.finish();
  for (; stretcher.hasBlock(); stretcher.popBlock()) {
    out.insert(out.end(), stretcher.block(), stretcher.block() + kBlock);
  }
  EXPECT_TRUE(stretcher.empty());
  EXPECT_GT(out.size(), before);
  EXPECT_EQ(out.back(), 0);
  EXPECT_LT(LargestStep(out), 3200);
  // The sound after muting fades in from silence.
  for (int f = 0; f < 6; ++f) ASSERT_TRUE(stretcher.put(Tone(in, kBlock).data(), kBlock));
  ASSERT_TRUE(stretcher.hasBlock());
  EXPECT_LT(std::abs(stretcher.block()[0]), 300);

  // Clearing forgets everything held: nothing of the old position follows.
  stretcher.setSpeed(2000);
  ASSERT_TRUE(stretcher.put(Tone(in, kBlock).data(), kBlock));
  stretcher.clear();
  EXPECT_TRUE(stretcher.empty());
  EXPECT_FALSE(stretcher.hasBlock());
}

class SpeedPlaybackTest : public RealTimeMediaFixture {
 protected:
  SpeedPlaybackTest() : RealTimeMediaFixture("trevolo_media_speed") {}
  void SetUp() override {
    RealTimeMediaFixture::SetUp();
    setenv("SDL_AUDIODRIVER", "disk", 1);
    unsetenv("SDL_DISKAUDIODELAY");
  }
  void TearDown() override {
    SetPlaybackSpeed(1000);
    RealTimeMediaFixture::TearDown();
  }

  struct Run {
    double seconds = 0.0;        // from the start to the stop report
    std::vector<int16_t> heard;  // what the sound device played
    intptr_t lastPositionMs = 0;
  };

  // Plays `file` at `permille` to its end through a sound device on the disk
  // driver.
  Run play(const std::string& file, int permille) {
    Run run;
    const std::filesystem::path heardFile = m_dir / ("heard" + std::to_string(permille));
    setenv("SDL_DISKAUDIOFILE", heardFile.c_str(), 1);
    m_window.clear();
    {
      _AUDIO_CONFIG format = {1, 1, 8000, 16000, 2, 16, 0};
      CDirectSound sound;
      EXPECT_EQ(sound.CreateDSound(&format, 320), 1);
      sound.Play(0, 1);
      m_media.soundOutput.store(&sound);
      SetPlaybackSpeed(permille);
      m_media.filePath = file;
      const Clock::time_point start = Clock::now();
      EXPECT_EQ(StartEngine(), 1);
      EXPECT_TRUE(m_window.waitFor(PN_STOPPED, 10s));
      run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      AVDestroy(m_media.engine);
      m_media.engine = nullptr;
      std::this_thread::sleep_for(100ms);  // the device plays out what it holds
      m_media.soundOutput.store(nullptr);
      sound.Stop();
    }
    const std::vector<uint8_t> bytes = ReadAll(heardFile);
    run.heard.resize(bytes.size() / 2);
    std::memcpy(run.heard.data(), bytes.data(), run.heard.size() * 2);
    for (const Post& p : m_window.posts()) {
      if (p.message == WM_PLAYER_NOTIFY && p.wParam == PN_POSITION) {
        run.lastPositionMs = std::max(run.lastPositionMs, p.lParam);
      }
    }
    return run;
  }
};

TEST_F(SpeedPlaybackTest, TwiceAsFastHalvesTheSoundAtItsPitchAndFourTimesIsMutedButPaced) {
  const std::string file = (m_dir / "tone.av").string();
  ASSERT_EQ(Shell(std::string(AVTOOL_PATH) + " gen -o " + file +
                  " --seconds 2 --size 96x64 --fps 25 --audio tone >/dev/null 2>&1"),
            0);

  const Run twice = play(file, 2000);
  EXPECT_EQ(PlaybackSpeed(), 2000);
  // Two seconds of recording, plus the start and the wait for the last sound.
  EXPECT_NEAR(twice.seconds, 1.2, 0.3);
  EXPECT_GT(twice.lastPositionMs, 1800);
  const auto loud = [](int16_t s) { return std::abs(s) > 200; };
  const auto first = std::find_if(twice.heard.begin(), twice.heard.end(), loud);
  const auto last = std::find_if(twice.heard.rbegin(), twice.heard.rend(), loud).base();
  ASSERT_LT(first, last);
  const double heardSeconds = static_cast<double>(last - first) / kRate;
  EXPECT_NEAR(heardSeconds, 1.0, 0.15);
  // Half a second from the middle of the sound: the tone's own pitch.
  const auto middle = first + (last - first) / 2 - kRate / 4;
  EXPECT_NEAR(DominantHz(&*middle, kRate / 2), kToneHz, kToneHz * 0.02);

  const Run fourTimes = play(file, 4000);
  EXPECT_NEAR(fourTimes.seconds, 0.6, 0.25);
  EXPECT_GT(fourTimes.lastPositionMs, 1800);
  EXPECT_EQ(std::count_if(fourTimes.heard.begin(), fourTimes.heard.end(), loud), 0);
}

}  // namespace
}  // namespace trevolo::test
