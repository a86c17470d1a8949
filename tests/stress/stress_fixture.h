// The main window under stress: the real window, engine, decoders and a
// sound output paced in real time (SDL's disk driver), driven through the
// window's own commands. Every call into the window is timed, so a test can
// assert that none of them blocked, and every wait is bounded, so a hang
// fails the test instead of stalling the suite.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "app/layout.h"
#include "tests/app/main_window_fixture.h"
#include "tests/media/media_test_util.h"
#include "video/media_context.h"

namespace trevolo::app::testing {

// Longest a single call into the window (a command, a slider drop, one pump
// of its loop) may take: the player must stay responsive throughout.
// AddressSanitizer makes every allocation and copy several times slower.
#if defined(__SANITIZE_ADDRESS__)
#define TREVOLO_STRESS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TREVOLO_STRESS_ASAN 1
#endif
#endif
#ifdef TREVOLO_STRESS_ASAN
inline constexpr int64_t kMaxCallMs = 2000;
#else
inline constexpr int64_t kMaxCallMs = 1000;
#endif
// How long a state the window must reach may take to arrive. Generous: the
// machine may be busy, and sanitizers slow everything down.
inline constexpr int kSettleLimitMs = 8000;

// What /proc says about this process.
struct ProcessUsage {
  int threads = 0;
  int descriptors = 0;
  int64_t residentKiB = 0;
};

inline int CountEntries(const char* folder) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
  return n;
}

inline ProcessUsage ReadProcessUsage() {
  ProcessUsage u;
  u.threads = CountEntries("/proc/self/task");
  // The directory iterator's own descriptor is counted too, the same each time.
  u.descriptors = CountEntries("/proc/self/fd");
  std::ifstream statm("/proc/self/statm");
  int64_t sizePages = 0, residentPages = 0;
  statm >> sizePages >> residentPages;
  u.residentKiB = residentPages * (::sysconf(_SC_PAGESIZE) / 1024);
  return u;
}

inline std::string Describe(const PlayerFlags& f) {
  std::string s;
  auto add = [&](bool on, const char* name) {
    if (on) s += std::string(s.empty() ? "" : ",") + name;
  };
  add(f.idle, "idle");
  add(f.canPlay, "canPlay");
  add(f.canStop, "canStop");
  add(f.canPause, "canPause");
  add(f.active, "active");
  add(f.pictureShown, "pictureShown");
  add(f.paused, "paused");
  return "{" + s + "}";
}

class StressTest : public MainWindowTest {
 protected:
  void SetUp() override {
    // Sound paced like a real device, heard by nobody.
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    ASSERT_EQ(std::system(("mkdir -p " + m_dir.path("bin")).c_str()), 0);
    PlayerOptions o = options();
    o.executablePath = m_dir.path("bin/trevolo");  // snapshots land in the scratch folder
    open(o);
  }
  void TearDown() override {
    MainWindowTest::TearDown();
    std::printf("slowest call into the window: %lld ms (%s)\n",
                static_cast<long long>(m_slowestMs), m_slowestWhat.c_str());
  }

  // Runs `call` and keeps the longest duration seen.
  void timed(const std::string& what, const std::function<void()>& call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    if (ms > m_slowestMs) {
      m_slowestMs = ms;
      m_slowestWhat = what;
    }
  }
  void pump(int timeoutMs = 5) {
    timed("pump after " + m_lastOp, [&] { window().pumpOnce(timeoutMs); });
  }
  void timedCommand(int id) {
    m_lastOp = "command " + std::to_string(id);
    timed(m_lastOp, [&] { command(id); });
  }
  // Pumps for `ms` milliseconds.
  void pumpFor(int ms) {
    const uint64_t end = platform::Window::ticksMs() + uint64_t(ms);
    do {
      pump(2);
    } while (platform::Window::ticksMs() < end);
  }
  // Pumps until `done`; false when the limit passed first.
  bool settle(const std::function<bool()>& done, int limitMs = kSettleLimitMs) {
    const uint64_t end = platform::Window::ticksMs() + uint64_t(limitMs);
    while (!done()) {
      if (platform::Window::ticksMs() > end) return false;
      pump(5);
    }
    return true;
  }
  // Drops a file on the window, as a user would while anything plays.
  void drop(const std::string& path) {
    m_lastOp = "drop";
    timed(m_lastOp, [&] { m_dlg->OnDropFiles({path}); });
  }
  // The position slider let go at `position` (units of 10 ms).
  void seekSlider(int position) {
    m_lastOp = "seek";
    timed(m_lastOp, [&] { window().send(WM_SLIDER_MOVED, IDC_PROGRESS, position); });
  }

  // The same as input events: handled by the next pump, in order behind
  // whatever the engine posted before (the pump is what gets timed).
  void postCommand(int id) {
    m_lastOp = "command " + std::to_string(id);
    window().post(WM_COMMAND, static_cast<uintptr_t>(id), 0);
  }
  void postSeek(int position) {
    m_lastOp = "seek";
    window().post(WM_SLIDER_MOVED, IDC_PROGRESS, position);
  }

  // State and open reports since the test began, in order.
  size_t stateLines() const {
    const auto isState = [](const std::string& s) {
      return s.rfind("state: ", 0) == 0 || s.rfind("open: ", 0) == 0;
    };
    return static_cast<size_t>(std::count_if(status.begin(), status.end(), isState));
  }
  bool saidSince(size_t from, const std::string& line) const {
    return from <= status.size() && std::find(status.begin() + static_cast<long>(from),
                                              status.end(), line) != status.end();
  }

  // Whatever the window shows must hang together: an idle window has no
  // engine, no sound device and zero times; an active one has an engine.
  void expectConsistent(const std::string& where) {
    const PlayerFlags& f = m_dlg->flags();
    const MediaContext& media = GetMediaContext();
    if (f.idle) {
      EXPECT_EQ(media.engine, nullptr) << where;
      EXPECT_FALSE(m_dlg->soundReady()) << where;
      EXPECT_EQ(m_dlg->label(IDC_TIME).text(), "00:00:00/00:00:00") << where;
      EXPECT_FALSE(f.active || f.paused) << where << " " << Describe(f);
    }
    if (f.active) {
      EXPECT_NE(media.engine, nullptr) << where;
    }
    EXPECT_TRUE(boxes.empty()) << where << ": " << (boxes.empty() ? "" : boxes.back());
  }

  // A recording from `avtool gen`: picture n shows its number, with a tone.
  std::string recording(const std::string& name, const std::string& args) {
    const std::string path = m_dir.path(name);
    const auto result = test::RunAvtool("gen -o " + path + " " + args);
    EXPECT_EQ(result.status, 0) << result.err;
    return path;
  }

  test::TempDir m_dir;
  std::string m_lastOp = "none";  // the last operation asked for, for the timing report
  int64_t m_slowestMs = 0;
  std::string m_slowestWhat = "none";
};

}  // namespace trevolo::app::testing
