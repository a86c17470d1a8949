// Shared pieces of the media callback tests: a window that records what is
// posted to it, a renderer that records what it is asked to show, and a
// fixture that puts the process-wide media context into a known state.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "base/messages.h"
#include "video/ddraw_renderer.h"
#include "video/media_callbacks.h"

namespace trevolo::test {

struct Post {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
  bool operator==(const Post&) const = default;
};

class RecordingWindow final : public MessageTarget {
 public:
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::lock_guard<std::mutex> guard(m_lock);
    m_posts.push_back({message, wParam, lParam});
    return true;
  }
  std::vector<Post> posts() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_posts;
  }
  void clear() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_posts.clear();
  }
  // Waits until a notification with this code arrived; false on timeout.
  bool waitFor(intptr_t code, std::chrono::milliseconds limit) const;

 private:
  mutable std::mutex m_lock;
  std::vector<Post> m_posts;
};

// What the renderer was asked to show: the source's description and the
// frame number drawn into its luma plane (-1 when unreadable).
struct Shown {
  int format = -1;
  uint32_t width = 0;
  uint32_t height = 0;
  int frameNumber = -1;
  uint8_t firstLuma = 0;
  uint8_t firstU = 0;
  uint8_t firstV = 0;
};

class RecordingRenderer final : public DDrawRenderer {
 public:
  RecordingRenderer();
  int Render(const RenderSource& source, WindowHandle window) override;
  std::vector<Shown> shown() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_shown;
  }

 private:
  mutable std::mutex m_lock;
  std::vector<Shown> m_shown;
};

// A window handle the recording renderer never dereferences.
platform::Window* FakeVideoWindow();

// The media context with the recording window and renderer published, no
// sound device, full volume and a clock the test moves by hand.
class MediaFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  static uint64_t FakeClock() { return s_nowMs.load(); }
  static void Advance(uint64_t ms) { s_nowMs.fetch_add(ms); }

  // Gives the context a work picture of width x height, as DecoderInit and
  // the first decoded picture would.
  void PrepareSize(int width, int height);

  MediaContext& m_media = GetMediaContext();
  RecordingWindow m_window;
  RecordingRenderer m_renderer;
  static std::atomic<uint64_t> s_nowMs;
};

// The engine run in real time, with a scratch directory for recordings made
// by the test (named after `dirStem` and the process).
class RealTimeMediaFixture : public MediaFixture {
 protected:
  explicit RealTimeMediaFixture(const std::string& dirStem)
      : m_dir(std::filesystem::temp_directory_path() /
              (dirStem + "_" + std::to_string(getpid()))) {}
  void SetUp() override;
  void TearDown() override;

  std::filesystem::path m_dir;
};

// The notification code of each post, read the way the main window reads it
// (a duration or position report carries its code in wParam); 0 for posts
// that are not WM_PLAYER_NOTIFY.
std::vector<intptr_t> Codes(const std::vector<Post>& posts);
// Counts the notifications whose code is `code`.
int CountCode(const std::vector<Post>& posts, intptr_t code);

// Runs a shell command and answers its standard output; its exit status goes
// to *status when given (-1 when it could not be run).
std::string RunOutput(const std::string& command, int* status = nullptr);
// Runs a shell command with its output thrown away; its exit status.
int Shell(const std::string& command);
std::vector<uint8_t> ReadAll(const std::filesystem::path& path);
// The frame number of the test picture in an image file, read after scaling
// the image to width x height grey (ImageMagick); `scratch` is a file the
// grey samples may be written to. -1 when unreadable.
int FrameInImage(const std::string& image, int width, int height, const std::string& scratch);
// The value of the "name: value" line of a summary; empty when absent.
std::string SummaryValue(const std::string& summary, const std::string& name);

}  // namespace trevolo::test
