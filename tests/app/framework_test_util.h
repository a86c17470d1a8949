// A hidden dialog window with probe controls that record what reaches them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/dialog_window.h"

namespace trevolo::app::testing {

class ProbeControl : public Control {
 public:
  ProbeControl(int id, bool tabStop, bool wantsAll = false)
      : Control(id), m_tabStop(tabStop), m_wantsAll(wantsAll) {}
  bool tabStop() const override { return m_tabStop; }
  bool interactive() const override { return true; }
  void paint(Canvas&, const GlyphSource&) override { ++paints; }
  void onMouseMove(Point p) override { log("move " + at(p)); }
  void onMouseLeave() override { log("leave"); }
  void onLButtonDown(Point p) override {
    m_capture = true;  // like a slider, a press holds the mouse
    log("down " + at(p));
  }
  void onLButtonUp(Point p) override {
    m_capture = false;
    log("up " + at(p));
  }
  bool onKeyDown(Key key) override {
    log("key " + std::to_string(static_cast<int>(key)));
    return m_wantsAll;
  }
  void onSetFocus() override { log("focus"); }
  void onKillFocus() override { log("blur"); }
  bool wantsAllKeys(bool tabDown) const override { return m_wantsAll && !tabDown; }
  bool hasCapture() const override { return m_capture; }

  std::vector<std::string> events;
  int paints = 0;

 private:
  static std::string at(Point p) { return std::to_string(p.x) + "," + std::to_string(p.y); }
  void log(const std::string& e) { events.push_back(e); }
  bool m_tabStop;
  bool m_wantsAll;
  bool m_capture = false;
};

class FrameworkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DialogOptions options;
    options.title = "test";
    options.width = 200;
    options.height = 100;
    options.hidden = true;
    std::string error;
    m_window = DialogWindow::create(options, &error);
    ASSERT_TRUE(m_window) << error;
  }
  void TearDown() override {
    m_window.reset();
    platform::Window::shutdown();
  }

  ProbeControl& addProbe(int id, Rect rect, bool tabStop = true, bool wantsAll = false) {
    auto probe = std::make_unique<ProbeControl>(id, tabStop, wantsAll);
    probe->move(rect);
    return static_cast<ProbeControl&>(m_window->addControl(std::move(probe)));
  }
  void key(Key code, bool shift = false, bool up = false) {
    InputEvent e;
    e.kind = up ? InputEvent::Kind::KeyUp : InputEvent::Kind::KeyDown;
    e.key = code;
    e.shift = shift;
    m_window->handleInput(e);
  }
  void motion(int x, int y) {
    InputEvent e;
    e.kind = InputEvent::Kind::MouseMove;
    e.x = x;
    e.y = y;
    m_window->handleInput(e);
  }
  void button(int x, int y, bool down, int clicks = 1) {
    InputEvent e;
    e.kind = down ? InputEvent::Kind::MouseDown : InputEvent::Kind::MouseUp;
    e.clicks = clicks;
    e.x = x;
    e.y = y;
    m_window->handleInput(e);
  }

  std::unique_ptr<DialogWindow> m_window;
};

}  // namespace trevolo::app::testing
