#include <vector>

#include "controls/gdip_button.h"
#include "framework_test_util.h"

namespace trevolo::app::testing {
namespace {

using controls::rectAt;
using Events = std::vector<std::string>;

TEST_F(FrameworkTest, TabAndShiftTabFollowTemplateOrderSkippingWhatCannotTakeFocus) {
  addProbe(1, rectAt(0, 0, 10, 10));
  addProbe(2, rectAt(10, 0, 10, 10), /*tabStop=*/false);
  addProbe(3, rectAt(20, 0, 10, 10)).show(false);
  addProbe(4, rectAt(30, 0, 10, 10)).enable(false);
  addProbe(5, rectAt(40, 0, 10, 10));
  addProbe(6, rectAt(50, 0, 10, 10));
  std::vector<int> order;
  for (int i = 0; i < 4; ++i) {
    key(Key::Tab);
    order.push_back(m_window->focusedId());
  }
  EXPECT_EQ(order, (std::vector<int>{1, 5, 6, 1}));
  order.clear();
  for (int i = 0; i < 3; ++i) {
    key(Key::Tab, /*shift=*/true);
    order.push_back(m_window->focusedId());
  }
  EXPECT_EQ(order, (std::vector<int>{6, 5, 1}));
}

TEST_F(FrameworkTest, FocusChangeTellsBothControls) {
  ProbeControl& a = addProbe(1, rectAt(0, 0, 10, 10));
  ProbeControl& b = addProbe(2, rectAt(10, 0, 10, 10));
  m_window->setFocus(1);
  m_window->setFocus(2);
  EXPECT_EQ(a.events, (Events{"focus", "blur"}));
  EXPECT_EQ(b.events, (Events{"focus"}));
}

TEST_F(FrameworkTest, EnterIsSwallowedAndEscapeCloses) {
  ProbeControl& a = addProbe(1, rectAt(0, 0, 10, 10));
  m_window->setFocus(1);
  a.events.clear();
  key(Key::Return);
  key(Key::Return);
  EXPECT_FALSE(m_window->closed());
  EXPECT_TRUE(a.events.empty());
  key(Key::Escape);
  EXPECT_TRUE(m_window->closed());
}

TEST_F(FrameworkTest, OwnerMayKeepTheWindowOpenOnEscape) {
  std::vector<uintptr_t> commands;
  m_window->setMessageHandler([&](uint32_t m, uintptr_t w, intptr_t) {
    if (m == WM_COMMAND) commands.push_back(w);
    return true;
  });
  key(Key::Escape);
  EXPECT_FALSE(m_window->closed());
  EXPECT_EQ(commands, (std::vector<uintptr_t>{IDCANCEL}));
}

TEST_F(FrameworkTest, ControlWantingAllKeysSeesArrowsButTabStillMoves) {
  ProbeControl& slider = addProbe(1, rectAt(0, 0, 10, 10), true, /*wantsAll=*/true);
  addProbe(2, rectAt(10, 0, 10, 10));
  m_window->setFocus(1);
  slider.events.clear();
  key(Key::Left);
  key(Key::Return);
  EXPECT_EQ(slider.events, (Events{"key " + std::to_string(static_cast<int>(Key::Left)),
                                   "key " + std::to_string(static_cast<int>(Key::Return))}));
  key(Key::Tab);
  EXPECT_EQ(m_window->focusedId(), 2);
}

TEST_F(FrameworkTest, SpaceOnAFocusedButtonClicksIt) {
  std::vector<uintptr_t> commands;
  m_window->setMessageHandler([&](uint32_t m, uintptr_t w, intptr_t) {
    if (m == WM_COMMAND) commands.push_back(w);
    return true;
  });
  auto button = std::make_unique<ButtonControl>(7, m_window.get());
  button->move(rectAt(0, 0, 20, 20));
  m_window->addControl(std::move(button));
  key(Key::Tab);
  ASSERT_EQ(m_window->focusedId(), 7);
  key(Key::Space);
  key(Key::Space, false, /*up=*/true);
  m_window->pumpOnce(0);
  EXPECT_EQ(commands, (std::vector<uintptr_t>{7}));
}

TEST_F(FrameworkTest, HoverMovesAndLeaves) {
  ProbeControl& a = addProbe(1, rectAt(10, 10, 20, 20));
  ProbeControl& b = addProbe(2, rectAt(40, 10, 20, 20));
  motion(15, 12);
  EXPECT_EQ(m_window->hoverId(), 1);
  motion(45, 12);
  EXPECT_EQ(m_window->hoverId(), 2);
  motion(150, 80);
  EXPECT_EQ(m_window->hoverId(), 0);
  EXPECT_EQ(a.events, (Events{"move 5,2", "leave"}));
  EXPECT_EQ(b.events, (Events{"move 5,2", "leave"}));
}

TEST_F(FrameworkTest, TopmostControlTakesTheMouse) {
  ProbeControl& below = addProbe(1, rectAt(0, 0, 50, 50));
  ProbeControl& above = addProbe(2, rectAt(20, 20, 10, 10));
  button(25, 25, true);
  EXPECT_TRUE(below.events.empty());
  EXPECT_EQ(above.events, (Events{"move 5,5", "down 5,5"}));
}

TEST_F(FrameworkTest, CaptureKeepsTheMouseUntilRelease) {
  ProbeControl& a = addProbe(1, rectAt(10, 10, 20, 20));
  ProbeControl& b = addProbe(2, rectAt(40, 10, 20, 20));
  button(15, 15, true);
  EXPECT_EQ(m_window->captureId(), 1);
  motion(45, 15);   // over b, but a holds the mouse
  motion(150, 90);  // outside every control
  button(150, 90, false);
  EXPECT_EQ(m_window->captureId(), 0);
  EXPECT_EQ(a.events, (Events{"move 5,5", "down 5,5", "move 35,5", "move 140,80", "up 140,80",
                              "leave"}));
  EXPECT_TRUE(b.events.empty());
}

TEST_F(FrameworkTest, LeavingTheWindowEndsHoverButNotADrag) {
  ProbeControl& a = addProbe(1, rectAt(10, 10, 20, 20));
  InputEvent leave;
  leave.kind = InputEvent::Kind::MouseLeave;
  motion(15, 15);
  m_window->handleInput(leave);
  EXPECT_EQ(m_window->hoverId(), 0);
  button(15, 15, true);
  m_window->handleInput(leave);
  EXPECT_EQ(m_window->captureId(), 1);
  EXPECT_EQ(a.events, (Events{"move 5,5", "leave", "move 5,5", "down 5,5"}));
}

TEST_F(FrameworkTest, DoubleClickArrivesAsASecondPress) {
  ProbeControl& a = addProbe(1, rectAt(0, 0, 20, 20));
  button(5, 5, true);
  button(5, 5, false);
  button(5, 5, true, 2);
  EXPECT_EQ(a.events, (Events{"move 5,5", "down 5,5", "up 5,5", "down 5,5"}));
}

TEST_F(FrameworkTest, DisabledAndHiddenControlsTakeNoMouse) {
  ProbeControl& a = addProbe(1, rectAt(0, 0, 20, 20));
  ProbeControl& b = addProbe(2, rectAt(30, 0, 20, 20));
  a.enable(false);
  b.show(false);
  button(5, 5, true);
  button(35, 5, true);
  EXPECT_TRUE(a.events.empty());
  EXPECT_TRUE(b.events.empty());
}

}  // namespace
}  // namespace trevolo::app::testing
