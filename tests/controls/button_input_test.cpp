// CGdipButton's behaviour under input: which snapshot it paints, when it
// posts its click, toggling, hover, double clicks and the disabled look.
#include <gtest/gtest.h>

#include <vector>

#include "controls/canvas.h"
#include "controls/gdip_button.h"
#include "controls/resource_registry.h"

namespace trevolo::controls::testing {

std::vector<uint8_t> encodePng(const Image& image);

namespace {

constexpr int kControlId = 1003;
constexpr Point kInside{4, 4};
constexpr Point kOutside{40, 4};

struct Posted {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

class RecordingTarget : public MessageTarget {
 public:
  bool post(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    posted.push_back(Posted{message, wParam, lParam});
    return true;
  }
  std::vector<Posted> posted;
};

TEST(ChooseSnapshot, FollowsTheButtonsState) {
  ButtonLook look;
  look.hasAltImage = true;
  EXPECT_EQ(chooseSnapshot(look), Snapshot::StdNormal);
  look.hover = true;
  EXPECT_EQ(chooseSnapshot(look), Snapshot::AltHighlighted);
  look.selected = true;
  EXPECT_EQ(chooseSnapshot(look), Snapshot::StdPressed);
  look.toggled = true;
  EXPECT_EQ(chooseSnapshot(look), Snapshot::AltPressed);
  look.disabledLook = true;
  EXPECT_EQ(chooseSnapshot(look), Snapshot::StdGreyed);

  ButtonLook noAlt;
  noAlt.hover = true;  // no highlighted snapshot exists without an alternate image
  EXPECT_EQ(chooseSnapshot(noAlt), Snapshot::StdNormal);
}

class ButtonInput : public ::testing::Test {
 protected:
  void SetUp() override {
    m_stdPng = encodePng(Image(10, 8, rgb(200, 40, 40)));
    m_altPng = encodePng(Image(10, 8, rgb(40, 200, 40)));
    ASSERT_TRUE(m_registry.add("PNG", 1, "", m_stdPng));
    ASSERT_TRUE(m_registry.add("PNG", 2, "", m_altPng));
  }

  // A button placed, given its images as the main window does, and with
  // its snapshots made over a grey parent.
  void prepare(CGdipButton& button, bool withAlt = true) {
    button.setRect(rectAt(5, 5, 12, 10));
    ASSERT_TRUE(button.LoadStdImage(1));
    if (withAlt) {
      ASSERT_TRUE(button.LoadAltImage(2));
    }
    button.EnableToggle();
    button.onCtlColor(Canvas(Image(30, 30, rgb(90, 90, 90))));
  }

  // Paints the button and reports which snapshot it showed, checking that
  // the painted pixels are that snapshot's.
  Snapshot painted(CGdipButton& button) {
    Canvas window(30, 30);
    button.drawItem(window);
    const Snapshot shown = button.currentSnapshot();
    const Image& expected = button.snapshot(shown);
    EXPECT_EQ(window.pixel(6, 6), expected.pixel(1, 1));
    EXPECT_EQ(window.pixel(5, 5), expected.pixel(0, 0));
    return shown;
  }

  void click(CGdipButton& button) {
    button.onLButtonDown(kInside);
    button.onLButtonUp(kInside);
  }

  ResourceRegistry m_registry;
  std::vector<uint8_t> m_stdPng;
  std::vector<uint8_t> m_altPng;
  RecordingTarget m_owner;
};

TEST_F(ButtonInput, ClickPostsCommandOnReleaseOverTheButton) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button);
  button.onLButtonDown(kInside);
  EXPECT_TRUE(button.isSelected());
  EXPECT_TRUE(m_owner.posted.empty());
  button.onLButtonUp(kInside);
  ASSERT_EQ(m_owner.posted.size(), 1u);
  EXPECT_EQ(m_owner.posted[0].message, WM_COMMAND);
  EXPECT_EQ(m_owner.posted[0].wParam, static_cast<uintptr_t>(kControlId));

  // Dragged off before release: no click; back on again: a click.
  button.onLButtonDown(kInside);
  button.onMouseMove(kOutside);
  EXPECT_FALSE(button.isSelected());
  button.onLButtonUp(kOutside);
  EXPECT_EQ(m_owner.posted.size(), 1u);
  button.onLButtonDown(kInside);
  button.onMouseMove(kOutside);
  button.onMouseMove(kInside);
  button.onLButtonUp(kInside);
  EXPECT_EQ(m_owner.posted.size(), 2u);
}

TEST_F(ButtonInput, DoubleClickIsTwoPresses) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button);
  button.onLButtonDown(kInside);
  button.onLButtonUp(kInside);
  button.onLButtonDblClk(kInside);
  EXPECT_EQ(painted(button), Snapshot::StdPressed);  // second press toggled back
  button.onLButtonUp(kInside);
  EXPECT_EQ(m_owner.posted.size(), 2u);
  EXPECT_FALSE(button.isToggled());
}

TEST_F(ButtonInput, TogglePressesAlternateTheTwoPressedLooks) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button);
  ASSERT_TRUE(button.toggleMode());
  const Snapshot expected[] = {Snapshot::AltPressed, Snapshot::StdPressed, Snapshot::AltPressed,
                               Snapshot::StdPressed};
  for (Snapshot look : expected) {
    button.onLButtonDown(kInside);
    EXPECT_EQ(painted(button), look);
    EXPECT_EQ(painted(button), look);  // repainting a held press flips nothing
    button.onLButtonUp(kInside);
  }
  EXPECT_EQ(m_owner.posted.size(), 4u);
}

TEST_F(ButtonInput, WithoutAlternateImageThereIsNoToggle) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button, false);
  EXPECT_FALSE(button.toggleMode());
  EXPECT_EQ(button.currentSnapshot(), Snapshot::StdNormal);
  for (int i = 0; i < 2; ++i) {
    button.onLButtonDown(kInside);
    EXPECT_EQ(painted(button), Snapshot::StdPressed);
    button.onLButtonUp(kInside);
  }
  button.onMouseMove(kInside);
  EXPECT_TRUE(button.isHover());
  EXPECT_EQ(painted(button), Snapshot::StdNormal);
}

// An alternate image that cannot be loaded leaves the standard looks.
TEST_F(ButtonInput, MissingAlternateImageFallsBackToStandardLooks) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  button.setRect(rectAt(5, 5, 12, 10));
  ASSERT_TRUE(button.LoadStdImage(1));
  EXPECT_FALSE(button.LoadAltImage(99));
  button.EnableToggle();
  button.onCtlColor(Canvas(Image(30, 30, rgb(90, 90, 90))));
  button.onMouseMove(kInside);
  EXPECT_EQ(painted(button), Snapshot::StdNormal);
  for (int i = 0; i < 2; ++i) {
    button.onLButtonDown(kInside);
    EXPECT_EQ(painted(button), Snapshot::StdPressed);
    button.onLButtonUp(kInside);
  }
}

TEST_F(ButtonInput, HoverHighlightsUntilThePointerLeaves) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button);
  EXPECT_EQ(button.currentSnapshot(), Snapshot::AltNormal);  // chosen by EnableToggle
  EXPECT_EQ(painted(button), Snapshot::StdNormal);
  button.onMouseMove(kInside);
  EXPECT_TRUE(button.needsRepaint());
  EXPECT_EQ(painted(button), Snapshot::AltHighlighted);
  button.onMouseMove(Point{5, 5});
  EXPECT_FALSE(button.needsRepaint());  // still hovering: nothing to redraw
  button.onMouseLeave();
  EXPECT_FALSE(button.isHover());
  EXPECT_EQ(painted(button), Snapshot::StdNormal);
}

TEST_F(ButtonInput, DisabledLookIsGreyWhateverTheMouseDoesButStillClicks) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button);
  button.SetDisabledLook(true);
  EXPECT_EQ(painted(button), Snapshot::StdGreyed);
  button.onMouseMove(kInside);
  EXPECT_EQ(painted(button), Snapshot::StdGreyed);
  button.onLButtonDown(kInside);
  EXPECT_EQ(painted(button), Snapshot::StdGreyed);
  button.onLButtonUp(kInside);
  EXPECT_EQ(m_owner.posted.size(), 1u);
  EXPECT_FALSE(button.isToggled());  // a greyed press shows no toggle
  button.SetDisabledLook(false);
  EXPECT_EQ(painted(button), Snapshot::AltHighlighted);
}

TEST_F(ButtonInput, SpaceClicksOnlyAFocusedEnabledButton) {
  CGdipButton button(kControlId, &m_owner, m_registry);
  prepare(button);
  button.onKeyDown(kKeySpace);
  EXPECT_FALSE(button.isSelected());
  button.onSetFocus();
  button.onKeyDown(kKeySpace);
  EXPECT_TRUE(button.isSelected());
  button.onKeyUp(kKeySpace);
  EXPECT_EQ(m_owner.posted.size(), 1u);

  button.onKeyDown(kKeySpace);
  button.onKillFocus();  // losing the focus drops the press without a click
  button.onKeyUp(kKeySpace);
  EXPECT_EQ(m_owner.posted.size(), 1u);

  button.setEnabled(false);
  button.onSetFocus();
  button.onKeyDown(kKeySpace);
  click(button);
  EXPECT_EQ(m_owner.posted.size(), 1u);
  button.setEnabled(true);
  click(button);
  EXPECT_EQ(m_owner.posted.size(), 2u);
}

}  // namespace
}  // namespace trevolo::controls::testing
