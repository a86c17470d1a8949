#include "app/player_state.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace trevolo::app {
namespace {

constexpr int64_t kLongDurationMs = 3'600'000;

// ---- time texts -------------------------------------------------------------

TEST(TimeTexts, PositionLayout) {
  EXPECT_EQ(PositionText(0), "00:00:00");
  EXPECT_EQ(PositionText(3'723'000), "01:02:03");
  EXPECT_EQ(PositionText(90'061'000), "1 01:01:01");
  EXPECT_EQ(PositionText(59'999), "00:00:59");          // whole seconds only, never rounded up
  EXPECT_EQ(PositionText(864'000'000), "10 00:00:00");  // days without leading zeros
}

TEST(TimeTexts, HugePositionUsesAllSixtyFourBits) {
  EXPECT_EQ(PositionText(std::numeric_limits<uint64_t>::max()), "213503982334 14:25:51");
}

TEST(TimeTexts, DurationMatchesPositionForEveryNonNegativeValue) {
  for (int64_t ms = 0; ms <= std::numeric_limits<int32_t>::max(); ms = ms * 3 + 7'919) {
    EXPECT_EQ(DurationText(static_cast<int32_t>(ms)), PositionText(static_cast<uint64_t>(ms)))
        << ms;
  }
  EXPECT_EQ(DurationText(std::numeric_limits<int32_t>::max()), "24 20:31:23");
}

TEST(TimeTexts, NegativeDurationGivesThirtyTwoBitPartsReadUnsigned) {
  EXPECT_EQ(DurationText(-1), "00:00:00");  // every part truncates to 0
  EXPECT_EQ(DurationText(-1000), "00:00:4294967295");
  EXPECT_EQ(DurationText(-86'400'000), "4294967295 00:00:00");
  EXPECT_EQ(DurationText(std::numeric_limits<int32_t>::min()),
            "4294967272 4294967276:4294967265:4294967273");
}

// ---- notification codes and position reports --------------------------------

TEST(PositionReports, ValueEqualToAStateCodeIsAPosition) {
  EXPECT_EQ(NotificationCode(uintptr_t(PN_POSITION), PN_PLAYING),
            static_cast<intptr_t>(uintptr_t(PN_POSITION)));
  EXPECT_EQ(NotificationCode(uintptr_t(PN_DURATION), PN_STOPPED),
            static_cast<intptr_t>(uintptr_t(PN_DURATION)));
  EXPECT_EQ(NotificationCode(0, PN_PLAYING), PN_PLAYING);
  // And as a position it is judged like any other.
  EXPECT_TRUE(AcceptPosition(500'000, 499'000, kLongDurationMs));
  EXPECT_FALSE(AcceptPosition(500'000, 499'500, kLongDurationMs));
}

TEST(PositionReports, WholeSecondStepsAndBackwardSeeks) {
  int64_t shown = 1000;
  struct Report {
    int32_t ms;
    bool accepted;
  };
  const Report reports[] = {{1000, false}, {1500, false}, {1999, false}, {2000, true}, {900, true}};
  for (const Report& r : reports) {
    const bool accepted = AcceptPosition(r.ms, shown, kLongDurationMs);
    EXPECT_EQ(accepted, r.accepted) << r.ms << " with " << shown << " shown";
    if (accepted) shown = r.ms;
  }
  EXPECT_EQ(shown, 900);
}

TEST(PositionReports, ExactEndIsShown) {
  EXPECT_TRUE(AcceptPosition(59'995, 59'500, 60'000));
  EXPECT_FALSE(AcceptPosition(59'990, 59'500, 60'000));  // 10 ms before: not "less than 10"
  EXPECT_TRUE(AcceptPosition(60'000, 59'995, 60'000));
  EXPECT_FALSE(AcceptPosition(60'001, 59'000, 60'000));  // beyond the end
}

TEST(PositionReports, NothingWithoutDurationAndNothingNonPositive) {
  for (int32_t ms : {1, 10, 999, 1000, 500'000, std::numeric_limits<int32_t>::max()}) {
    EXPECT_FALSE(AcceptPosition(ms, 0, 0)) << ms;
  }
  for (int32_t ms : {0, -1, -1000, std::numeric_limits<int32_t>::min()}) {
    EXPECT_FALSE(AcceptPosition(ms, 5000, kLongDurationMs)) << ms;
  }
}

TEST(PositionReports, ExtremeShownOrDurationValuesAreSafe) {
  const int64_t lo = std::numeric_limits<int64_t>::min();
  const int64_t hi = std::numeric_limits<int64_t>::max();
  EXPECT_TRUE(AcceptPosition(std::numeric_limits<int32_t>::max(), lo, hi));
  EXPECT_TRUE(AcceptPosition(1, hi, hi));
  EXPECT_FALSE(AcceptPosition(1, 0, lo));
}

TEST(PositionReports, MillisecondReportsShowWholeSecondsThenTheEnd) {
  const int64_t duration = 60'013;
  int64_t shown = 0;
  std::vector<int64_t> shownSteps;
  for (int32_t ms = 1; ms <= duration; ++ms) {
    if (AcceptPosition(ms, shown, duration)) {
      EXPECT_TRUE(ms >= shown + 1000 || duration - ms < 10) << ms;
      shown = ms;
      shownSteps.push_back(ms);
    }
  }
  EXPECT_EQ(shownSteps.front(), 1000);
  EXPECT_EQ(shown, duration);
  // Sixty whole seconds, then every millisecond of the last ten.
  EXPECT_EQ(shownSteps.size(), 60u + 10u);
}

// ---- picture size --------------------------------------------------------------

uint32_t SizeWord(uint32_t width, uint32_t height) { return (width << 16) + height; }

TEST(PictureSize, RatioDecidesTheLayout) {
  struct Case {
    uint32_t width, height;
    bool wideBefore, wideAfter;
  };
  const Case cases[] = {
      {640, 480, true, false},  {640, 480, false, false},   // 0.75: narrow
      {1280, 720, false, true}, {1280, 720, true, true},    // 0.5625: wide
      {720, 576, true, true},   {720, 576, false, false},   // 0.8: unchanged
      {1000, 700, true, true},  {1000, 660, false, false},  // between the two ranges
      {640, 0, true, true},     {0, 480, true, true},      {0, 480, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WideAfterPictureSize(c.wideBefore, SizeWord(c.width, c.height)), c.wideAfter)
        << c.width << "x" << c.height << (c.wideBefore ? " wide" : " narrow");
  }
}

// ---- position slider -------------------------------------------------------------

TEST(PositionSlider, LowThirtyTwoBitsOfTenMillisecondUnitsClampedToTheRange) {
  EXPECT_EQ(SliderPosition(12'345, 0, 6000), 1234);
  EXPECT_EQ(SliderPosition(60'001, 0, 6000), 6000);
  EXPECT_EQ(SliderPosition(5000, 0, 0), 0);        // a file of 0 ms
  EXPECT_EQ(SliderPosition(5000, 900, 700), 900);  // max first, then min
  // 2^32 * 10 + 70 ms: the quotient's low word is 7.
  EXPECT_EQ(SliderPosition((int64_t{1} << 32) * 10 + 70, 0, 100), 7);
  // A low word above INT32_MAX reads negative and clamps to the minimum.
  EXPECT_EQ(SliderPosition((int64_t{1} << 31) * 10 + 50, 0, 100), 0);
  EXPECT_EQ(SliderPosition(-10, -2'000'000'000, 0), -1'717'986'920);
}

// ---- state notifications -------------------------------------------------------

constexpr Look N = Look::Normal;
constexpr Look D = Look::Disabled;

PlayerFlags Flags(bool idle, bool canPlay, bool canStop, bool canPause, bool active,
                  bool pictureShown, bool paused) {
  PlayerFlags f;
  f.idle = idle;
  f.canPlay = canPlay;
  f.canStop = canStop;
  f.canPause = canPause;
  f.active = active;
  f.pictureShown = pictureShown;
  f.paused = paused;
  return f;
}

struct StateRow {
  const char* name;
  PlayerFlags before;
  intptr_t code;
  StateChange expected;
};

// The window's states, each with a picture on screen where one can be, so the
// clearing of pictureShown is seen.
const PlayerFlags kNew = Flags(0, 0, 0, 0, 0, 0, 0);
const PlayerFlags kPlaying = Flags(0, 0, 1, 1, 1, 1, 0);
const PlayerFlags kPaused = Flags(0, 1, 1, 0, 1, 1, 1);
const PlayerFlags kStopped = Flags(1, 1, 0, 0, 0, 1, 0);

const StateChange kToPlaying{Flags(0, 0, 1, 1, 1, 0, 0), {D, N, N, N}, SliderChange::Enable};
const StateChange kToStopped{Flags(1, 1, 0, 0, 0, 0, 0), {N, D, D, D}, SliderChange::Disable};
constexpr ButtonLooks kPausedLooks{N, D, N, N};

const StateRow kStateTable[] = {
    {"new+playing", kNew, PN_PLAYING, kToPlaying},
    {"new+paused",
     kNew,
     PN_PAUSED,
     {Flags(0, 1, 1, 0, 0, 0, 1), kPausedLooks, SliderChange::Unchanged}},
    {"new+stopped", kNew, PN_STOPPED, kToStopped},
    {"playing+playing", kPlaying, PN_PLAYING, kToPlaying},
    {"playing+paused",
     kPlaying,
     PN_PAUSED,
     {Flags(0, 1, 1, 0, 1, 0, 1), kPausedLooks, SliderChange::Unchanged}},
    {"playing+stopped", kPlaying, PN_STOPPED, kToStopped},
    {"paused+playing", kPaused, PN_PLAYING, kToPlaying},
    {"paused+paused",
     kPaused,
     PN_PAUSED,
     {Flags(0, 1, 1, 0, 1, 0, 1), kPausedLooks, SliderChange::Unchanged}},
    {"paused+stopped", kPaused, PN_STOPPED, kToStopped},
    {"stopped+playing", kStopped, PN_PLAYING, kToPlaying},
    {"stopped+paused",
     kStopped,
     PN_PAUSED,
     {Flags(1, 1, 1, 0, 0, 0, 1), kPausedLooks, SliderChange::Unchanged}},
    {"stopped+stopped", kStopped, PN_STOPPED, kToStopped},
};

TEST(StateNotifications, EveryNotificationFromEveryState) {
  for (const StateRow& row : kStateTable) {
    const std::optional<StateChange> change = ApplyState(row.before, row.code);
    ASSERT_TRUE(change.has_value()) << row.name;
    EXPECT_EQ(change->flags, row.expected.flags) << row.name;
    EXPECT_EQ(change->looks, row.expected.looks) << row.name;
    EXPECT_EQ(change->slider, row.expected.slider) << row.name;
  }
}

TEST(StateNotifications, OtherCodesChangeNothing) {
  const intptr_t others[] = {0, -1, 499'999, 500'003, 500'004, 500'005, 500'006, 500'007, 500'008};
  for (intptr_t code : others) {
    EXPECT_FALSE(ApplyState(kPlaying, code).has_value()) << code;
  }
}

TEST(StateNotifications, OpenButtonHiddenByTheFirstPictureOfAnActiveFile) {
  EXPECT_FALSE(OpenButtonVisibleAfterFirstPicture(kPlaying));
  EXPECT_FALSE(OpenButtonVisibleAfterFirstPicture(kPaused));
  EXPECT_FALSE(OpenButtonVisibleAfterFirstPicture(Flags(0, 1, 1, 0, 0, 0, 1)));  // paused only
  EXPECT_TRUE(OpenButtonVisibleAfterFirstPicture(kStopped));
  EXPECT_TRUE(OpenButtonVisibleAfterFirstPicture(kNew));
}

}  // namespace
}  // namespace trevolo::app
