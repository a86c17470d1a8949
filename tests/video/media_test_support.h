// Shared pieces of the media callback tests: a window that records what is
// posted to it, a renderer that records what it is asked to show, and a
// fixture that puts the process-wide media context into a known state.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
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
  // Waits until a notification with this lParam arrived; false on timeout.
  bool waitFor(intptr_t lParam, std::chrono::milliseconds limit) const;

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

// Counts the posts whose lParam is `code`.
int CountCode(const std::vector<Post>& posts, intptr_t code);

}  // namespace trevolo::test
