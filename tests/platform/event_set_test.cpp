#include "platform/event_set.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {

using trevolo::platform::EventSet;
using namespace std::chrono_literals;

TEST(EventSetTest, AWaitTakesTheLowestSetEventOfItsMaskAndClearsIt) {
  EventSet events;
  events.set(3);
  events.set(1);
  events.set(5);
  events.set(EventSet::kMaxEvents);  // out of range: ignored
  EXPECT_EQ(events.waitAny(0b101000), 3);  // 1 is outside the mask
  EXPECT_EQ(events.waitAny(0b111111), 1);
  EXPECT_EQ(events.waitAny(0b111111), 5);
  EXPECT_EQ(events.waitAny(0xFFFFFFFFu, 20ms), EventSet::kTimedOut);
}

TEST(EventSetTest, ClosingWakesWaitersUntilReopened) {
  EventSet events;
  auto waiter = std::async(std::launch::async, [&] { return events.waitAny(0b10); });
  std::this_thread::sleep_for(30ms);
  events.set(0);  // not in the waiter's mask
  EXPECT_EQ(waiter.wait_for(30ms), std::future_status::timeout);
  events.close();
  EXPECT_EQ(waiter.get(), EventSet::kClosed);
  events.set(1);  // ignored while closed
  EXPECT_EQ(events.waitAny(0b11), EventSet::kClosed);
  events.open();
  EXPECT_EQ(events.waitAny(0b11, 10ms), EventSet::kTimedOut);
  events.set(1);
  EXPECT_EQ(events.waitAny(0b11), 1);
}

}  // namespace
