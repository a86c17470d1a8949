// How the engine's threads wait: a thread with nothing to do blocks until a
// command, its input or its due time wakes it. Commands reach blocked threads
// at once, and the threads wake rarely, counted with the kernel's figures.
#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <map>
#include <string>

#include "engine_harness.h"
#include "test_files.h"

namespace trevolo {
namespace {

using namespace std::chrono_literals;
using test::AudioMode;
using test::g_harness;
using test::kBase;
using test::SteadyClock;
using test::WaitFor;

const std::string kEngineThreads[] = {"av-reader", "av-vdecode", "av-adecode", "av-aout",
                                      "av-vout"};

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

// Voluntary context switches of this process's engine threads, by name;
// their CPU time in nanoseconds under "cpu-ns".
std::map<std::string, long> EngineSwitches() {
  std::map<std::string, long> out;
  DIR* dir = opendir("/proc/self/task");
  if (!dir) return out;
  while (dirent* d = readdir(dir)) {
    if (d->d_name[0] == '.') continue;
    const std::string task = std::string("/proc/self/task/") + d->d_name;
    const std::string name = FirstLine(task + "/comm");
    bool engine = false;
    for (const auto& n : kEngineThreads) engine = engine || n == name;
    if (!engine) continue;
    out["cpu-ns"] += std::stol(FirstLine(task + "/schedstat"));
    std::ifstream status(task + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) out[name] += std::stol(line.substr(24));
    }
  }
  closedir(dir);
  return out;
}

long Total(const std::map<std::string, long>& m) {
  long sum = 0;
  for (const auto& [name, n] : m) sum += name == "cpu-ns" ? 0 : n;
  return sum;
}

// CPU time between two readings one second apart, in thousandths of a core.
std::string PerMille(std::map<std::string, long>& before, std::map<std::string, long>& after) {
  return std::to_string(static_cast<double>(after["cpu-ns"] - before["cpu-ns"]) / 1e6);
}

class WakeupTest : public test::EngineFixture {
 protected:
  std::string write(const test::RecordingPlan& plan) {
    const std::string path = m_dir.file("w.av");
    test::WriteBytes(path, test::MakeRecording(plan));
    return path;
  }
  // Time from now until the picture count passes `count`.
  SteadyClock::duration untilPicture(size_t count) {
    const auto t0 = SteadyClock::now();
    EXPECT_TRUE(WaitFor([count] { return g_harness.pictureCount() > count; }, 3000ms));
    return SteadyClock::now() - t0;
  }
  void destroyWithin(std::chrono::milliseconds limit) {
    const auto t0 = SteadyClock::now();
    AVDestroy(m_engine);
    m_engine = nullptr;
    EXPECT_LT(SteadyClock::now() - t0, limit);
  }
};

TEST_F(WakeupTest, CommandsReachBlockedThreadsPromptly) {
  g_harness.audioMode = AudioMode::RealTime;
  ASSERT_NE(open(write({.pictures = 250})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 5; }));
  // Paused long enough for every thread to block; play resumes within about
  // a picture's time, not after some long wait.
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(300ms);
  const size_t paused = g_harness.pictureCount();
  AVControl(m_engine, AV_CTRL_PLAY);
  EXPECT_LT(untilPicture(paused), 300ms);

  // A stop while paused takes its settling time and no more.
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(300ms);
  auto t0 = SteadyClock::now();
  AVControl(m_engine, AV_CTRL_STOP);
  EXPECT_LT(SteadyClock::now() - t0, 500ms);
  EXPECT_EQ(g_harness.lastState(), AV_STATE_STOPPED);
  // Stopped, every thread blocks; play starts again from the first picture.
  std::this_thread::sleep_for(300ms);
  const size_t stopped = g_harness.pictureCount();
  AVControl(m_engine, AV_CTRL_PLAY);
  EXPECT_LT(untilPicture(stopped), 300ms);
  EXPECT_EQ(g_harness.pictureLog()[stopped].timeStamp, kBase);

  // Destroyed while paused, with every thread blocked.
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(300ms);
  destroyWithin(300ms);
}

TEST_F(WakeupTest, SeekAndDestroyWhileAPictureWaitsForItsTime) {
  // One picture a second and no sound: the video output waits about a second
  // for each picture on the wall clock.
  ASSERT_NE(open(write({.pictures = 10, .fps = 1, .audioPerPicture = 0})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 1; }));
  std::this_thread::sleep_for(300ms);
  const auto t0 = SteadyClock::now();
  ASSERT_EQ(AVSeek(m_engine, 5000000), 1);
  ASSERT_LT(untilPicture(1), 300ms) << "the seek's picture does not wait for the old one's time";
  EXPECT_LT(SteadyClock::now() - t0, 500ms);
  auto pics = g_harness.pictureLog();
  ASSERT_EQ(pics.size(), 2u);
  EXPECT_EQ(pics[1].timeStamp, kBase + 5000000);
  // The next picture comes at its own time, a second later: not early, not
  // much late, and the threads sleep until then instead of polling.
  std::this_thread::sleep_for(100ms);
  const auto before = EngineSwitches();
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() == 3; }, 3000ms));
  auto after = EngineSwitches();
  EXPECT_LE(Total(after) - Total(before), 10);
  pics = g_harness.pictureLog();
  EXPECT_EQ(pics[2].timeStamp, kBase + 6000000);
  EXPECT_GT(pics[2].at - pics[1].at, 900ms);
  EXPECT_LT(pics[2].at - pics[1].at, 1300ms);
  // Destroyed while the video output waits for the next picture's time.
  std::this_thread::sleep_for(300ms);
  destroyWithin(300ms);
}

TEST_F(WakeupTest, PausedAndPlayingEnginesWakeRarely) {
  g_harness.audioMode = AudioMode::RealTime;  // a device taking a 20 ms frame every 20 ms
  ASSERT_NE(open(write({.pictures = 250})), nullptr);
  ASSERT_TRUE(WaitFor([] { return g_harness.pictureCount() >= 25; }));
  ASSERT_EQ(EngineSwitches().size(), 6u) << "every engine thread carries its name";

  // Playing: at most 3 wake-ups per picture and 2 per sound frame presented.
  auto before = EngineSwitches();
  const size_t pics0 = g_harness.pictureCount();
  const size_t audio0 = g_harness.audioCount();
  std::this_thread::sleep_for(1s);
  auto after = EngineSwitches();
  const long pictures = static_cast<long>(g_harness.pictureCount() - pics0);
  const long frames = static_cast<long>(g_harness.audioCount() - audio0);
  const long playing = Total(after) - Total(before);
  std::string perThread;
  for (const auto& [name, n] : after) {
    perThread += name + "=" + std::to_string(n - before[name]) + " ";
  }
  RecordProperty("playing_wakeups_per_second", std::to_string(playing));
  RecordProperty("playing_per_thread", perThread);
  RecordProperty("playing_cpu_permille", PerMille(before, after));
  EXPECT_GE(pictures, 20);
  EXPECT_GE(frames, 40);
  // A loaded machine adds a few switches of its own (lock hand-overs).
  EXPECT_LE(playing, (3 * pictures + 2 * frames) * 6 / 5) << perThread;

  // Paused: nothing is due, so the threads wait for a command.
  AVControl(m_engine, AV_CTRL_PAUSE);
  std::this_thread::sleep_for(300ms);
  before = EngineSwitches();
  std::this_thread::sleep_for(1s);
  after = EngineSwitches();
  const long paused = Total(after) - Total(before);
  RecordProperty("paused_wakeups_per_second", std::to_string(paused));
  RecordProperty("paused_cpu_permille", PerMille(before, after));
  EXPECT_LE(paused, 10);
}

}  // namespace
}  // namespace trevolo
