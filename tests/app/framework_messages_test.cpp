#include <thread>
#include <vector>

#include "framework_test_util.h"

namespace trevolo::app::testing {
namespace {

struct Received {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
  friend bool operator==(const Received&, const Received&) = default;
};

class MessagesTest : public FrameworkTest {
 protected:
  void SetUp() override {
    FrameworkTest::SetUp();
    m_window->setMessageHandler([this](uint32_t m, uintptr_t w, intptr_t l) {
      received.push_back(Received{m, w, l});
      return true;
    });
  }
  std::vector<int> timerIds() const {
    std::vector<int> ids;
    for (const Received& r : received) {
      if (r.message == WM_TIMER) ids.push_back(static_cast<int>(r.wParam));
    }
    return ids;
  }
  std::vector<Received> received;
};

TEST_F(MessagesTest, TimersFireByIdAtTheirPeriods) {
  const uint64_t start = platform::Window::ticksMs();
  m_window->setTimer(1, 100);
  m_window->setTimer(2, 250);
  m_window->fireDueTimers(start + 99);
  EXPECT_TRUE(timerIds().empty());
  m_window->fireDueTimers(start + 150);
  EXPECT_EQ(timerIds(), (std::vector<int>{1}));
  m_window->fireDueTimers(start + 300);
  EXPECT_EQ(timerIds(), (std::vector<int>{1, 1, 2}));
  m_window->killTimer(1);
  m_window->fireDueTimers(start + 1000);
  EXPECT_EQ(timerIds(), (std::vector<int>{1, 1, 2, 2}));
}

TEST_F(MessagesTest, ResettingATimerRestartsItsPeriod) {
  const uint64_t start = platform::Window::ticksMs();
  m_window->setTimer(5, 100);
  m_window->setTimer(5, 1000);
  m_window->fireDueTimers(start + 500);
  EXPECT_TRUE(timerIds().empty());
}

TEST_F(MessagesTest, TimerFiresFromThePump) {
  m_window->setTimer(9, 1);
  for (int i = 0; i < 50 && timerIds().empty(); ++i) m_window->pumpOnce(5);
  ASSERT_FALSE(timerIds().empty());
  EXPECT_EQ(timerIds().front(), 9);
}

TEST_F(MessagesTest, PostedMessagesArriveInOrderOnThePump) {
  std::thread poster([this] {
    m_window->post(0x8001, 1, -1);
    m_window->post(0x8002, 2, -2);
  });
  poster.join();
  EXPECT_TRUE(received.empty());  // nothing before the UI thread pumps
  m_window->pumpOnce(0);
  EXPECT_EQ(received, (std::vector<Received>{{0x8001, 1, -1}, {0x8002, 2, -2}}));
}

TEST_F(MessagesTest, AnIdleWindowDoesNotRepaint) {
  ProbeControl& probe = addProbe(1, rectAt(0, 0, 10, 10));
  for (int i = 0; i < 10; ++i) m_window->pumpOnce(0);  // start-up events and the first paint
  ASSERT_GT(probe.paints, 0);
  const int settled = probe.paints;
  for (int i = 0; i < 5; ++i) m_window->pumpOnce(1);
  EXPECT_EQ(probe.paints, settled) << "nothing happened, nothing is painted";
  // A message repaints only when its handler says the looks changed: a
  // stream of position reports must not recompose the window each time.
  m_window->post(0x8004, 0, 0);
  m_window->pumpOnce(0);
  EXPECT_EQ(probe.paints, settled) << "the handler changed nothing";
  m_window->setMessageHandler([this](uint32_t, uintptr_t, intptr_t) {
    m_window->invalidate();
    return true;
  });
  m_window->post(0x8005, 0, 0);
  m_window->pumpOnce(0);
  EXPECT_EQ(probe.paints, settled + 1) << "the handler changed the looks";
}

TEST_F(MessagesTest, SendHandlesAtOnce) {
  EXPECT_TRUE(m_window->send(0x8003, 3, 4));
  EXPECT_EQ(received, (std::vector<Received>{{0x8003, 3, 4}}));
}

TEST_F(MessagesTest, CloseRequestGoesToTheOwnerFirst) {
  m_window->send(WM_CLOSE, 0, 0);
  EXPECT_FALSE(m_window->closed());  // the handler took it
  m_window->setMessageHandler(nullptr);
  m_window->send(WM_CLOSE, 0, 0);
  EXPECT_TRUE(m_window->closed());
  EXPECT_FALSE(m_window->pumpOnce(0));
}

TEST_F(MessagesTest, DroppedFilesReachTheDropHandler) {
  std::vector<std::string> dropped;
  m_window->setDropHandler([&](const std::vector<std::string>& paths) { dropped = paths; });
  InputEvent e;
  e.kind = InputEvent::Kind::Drop;
  e.paths = {"/tmp/clip.av", "/tmp/second.av"};
  m_window->handleInput(e);
  EXPECT_EQ(dropped, (std::vector<std::string>{"/tmp/clip.av", "/tmp/second.av"}));
}

}  // namespace
}  // namespace trevolo::app::testing
