// The real main window, hidden, under SDL's dummy video driver and the
// dummy (or disk) sound driver, with its message boxes and status lines
// recorded instead of shown.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/trevolo_dlg.h"
#include "platform/ttf_font.h"
#include "platform/window.h"

namespace trevolo::app::testing {

class MainWindowTest : public ::testing::Test {
 protected:
  // Options a test may change before calling open().
  PlayerOptions options() {
    PlayerOptions o;
    o.hidden = true;
    o.executablePath = ::testing::TempDir() + "trevolo-test-bin/trevolo";
    o.messageBox = [this](const std::string& caption, const std::string& text) {
      boxes.push_back(caption + ": " + text);
    };
    o.status = [this](const std::string& line) { status.push_back(line); };
    return o;
  }
  void open(const PlayerOptions& o) {
    std::string error;
    m_dlg = CTrevoloDlg::create(o, &error);
    ASSERT_TRUE(m_dlg) << error;
  }
  void SetUp() override { open(options()); }
  void TearDown() override {
    m_dlg.reset();
    platform::TtfFont::shutdown();
    platform::Window::shutdown();
  }
  DialogWindow& window() { return m_dlg->window(); }
  // Sends a notification as the media callbacks post it.
  void notify(uintptr_t wParam, intptr_t lParam) { window().send(WM_PLAYER_NOTIFY, wParam, lParam); }
  void command(int id) { window().send(WM_COMMAND, static_cast<uintptr_t>(id), 0); }
  // A key as the platform window reports it.
  void key(Key k, bool shift = false, bool up = false) {
    InputEvent e;
    e.kind = up ? InputEvent::Kind::KeyUp : InputEvent::Kind::KeyDown;
    e.key = k;
    e.shift = shift;
    window().handleInput(e);
  }
  // Pumps the window until `done` or the time limit; true when done.
  bool pumpUntil(const std::function<bool()>& done, int limitMs = 8000) {
    const uint64_t end = platform::Window::ticksMs() + uint64_t(limitMs);
    while (!done()) {
      if (platform::Window::ticksMs() > end) return false;
      window().pumpOnce(5);
    }
    return true;
  }
  // Pumps for at least `ms` milliseconds and at least `rounds` pumps.
  void pumpFor(int ms, int rounds = 3) {
    const uint64_t end = platform::Window::ticksMs() + uint64_t(ms);
    for (int i = 0; i < rounds || platform::Window::ticksMs() < end; ++i) window().pumpOnce(2);
  }

  std::unique_ptr<CTrevoloDlg> m_dlg;
  std::vector<std::string> boxes;
  std::vector<std::string> status;
};

}  // namespace trevolo::app::testing
