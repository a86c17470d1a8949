// The main window's own keys: each goes the way its button or slider goes
// (so their rules hold), the speed notice takes the file name label for a
// moment, full screen takes the mouse away from the controls, and the
// dialog's keys and a focused slider's keys keep their meaning. No engine
// runs here: state reports are sent as the media callbacks post them.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/layout.h"
#include "main_window_fixture.h"
#include "video/media_callbacks.h"
#include "video/media_context.h"

namespace trevolo::app::testing {
namespace {

class KeysTest : public MainWindowTest {
 protected:
  void press(int x, int y, int clicks) {
    InputEvent e;
    e.kind = InputEvent::Kind::MouseDown;
    e.x = x;
    e.y = y;
    e.clicks = clicks;
    window().handleInput(e);
    e.kind = InputEvent::Kind::MouseUp;
    window().handleInput(e);
  }
  bool said(const std::string& prefix) const {
    for (const std::string& line : status) {
      if (line.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }
  bool fullScreen() { return window().platformWindow().fullScreen(); }
  // Playing a file of 100 s, shown at 30 s.
  void playing() {
    notify(0, PN_PLAYING);
    notify(PN_DURATION, 100'000);
    notify(PN_POSITION, 30'000);
  }
};

TEST_F(KeysTest, ArrowsSeekAndSetTheVolumeThroughTheSlidersAndMuteRestores) {
  auto& progress = m_dlg->slider(IDC_PROGRESS).slider();
  auto& volume = m_dlg->slider(IDC_VOLUME).slider();
  MediaContext& media = GetMediaContext();
  key(Key::Right);
  EXPECT_EQ(progress.GetPos(), 0) << "nothing open: the position slider is off";
  playing();
  window().setFocus(IDC_PLAY);  // a focused button leaves the arrows to the window
  struct Seek {
    Key key;
    bool shift;
    int position;  // slider units of 10 ms
  };
  const std::vector<Seek> seeks = {{Key::Right, false, 3'500},  {Key::Right, true, 9'500},
                                   {Key::Right, false, 10'000}, {Key::Left, true, 4'000},
                                   {Key::Left, true, 0},        {Key::Right, false, 500}};
  for (const Seek& s : seeks) {
    key(s.key, s.shift);
    EXPECT_EQ(progress.GetPos(), s.position) << "clamped to the recording";
  }
  window().send(WM_RBUTTONDOWN, 0,
                0);  // seeking locked: keys seek nothing either
  key(Key::Right);
  EXPECT_EQ(progress.GetPos(), 500);
  window().send(WM_RBUTTONDOWN, 0, 0);

  key(Key::Up);
  EXPECT_EQ(volume.GetPos(), 100);
  key(Key::Down);
  EXPECT_EQ(volume.GetPos(), 95);
  EXPECT_EQ(media.volume.load(), 95);
  key(Key::M);
  EXPECT_TRUE(m_dlg->muted());
  EXPECT_EQ(volume.GetPos(), 0) << "the slider shows the mute";
  EXPECT_EQ(media.volume.load(), 0);
  key(Key::M);
  EXPECT_EQ(volume.GetPos(), 95);
  EXPECT_EQ(media.volume.load(), 95);
  // A volume set while muted ends the mute; M then mutes again.
  key(Key::M);
  key(Key::Up);
  EXPECT_FALSE(m_dlg->muted());
  EXPECT_EQ(media.volume.load(), 5);
  key(Key::M);
  EXPECT_EQ(media.volume.load(), 0);
  volume.SetPos(60);  // the mouse on the slider, too
  window().send(WM_SLIDER_MOVED, IDC_VOLUME, 60);
  EXPECT_FALSE(m_dlg->muted());
  key(Key::M);
  key(Key::M);
  EXPECT_EQ(media.volume.load(), 60);
}

TEST_F(KeysTest, DesignKeysKeepTheirMeaning) {
  auto& progress = m_dlg->slider(IDC_PROGRESS).slider();
  auto& volume = m_dlg->slider(IDC_VOLUME).slider();
  playing();
  // A focused slider takes the arrows as its own one-step moves.
  window().setFocus(IDC_PROGRESS);
  key(Key::Right, /*shift=*/true);
  EXPECT_EQ(progress.GetPos(), 3'001);
  window().setFocus(IDC_VOLUME);
  key(Key::Up);
  key(Key::Up);
  window().pumpOnce(0);
  EXPECT_EQ(volume.GetPos(), 98) << "Up is the slider's step towards its minimum";
  EXPECT_EQ(GetMediaContext().volume.load(), 98);
  // The window's letters still act with a slider focused; Tab moves on.
  key(Key::M);
  EXPECT_TRUE(m_dlg->muted());
  key(Key::Tab);
  EXPECT_NE(window().focusedId(), IDC_VOLUME);
  // Space presses the focused button (play, stopped: a new engine for the
  // empty path, which fails as the button's does); Enter does nothing.
  notify(0, PN_STOPPED);
  window().setFocus(IDC_PLAY);
  key(Key::Space);
  key(Key::Space, false, /*up=*/true);
  window().pumpOnce(0);
  EXPECT_EQ(boxes, (std::vector<std::string>{"Trevolo: AVCreate fail"}));
  key(Key::Return);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_FALSE(window().closed());
  key(Key::Escape);
  EXPECT_TRUE(window().closed()) << "Escape closes when not in full screen";
}

TEST_F(KeysTest, PlaySnapshotSpeedAndStepFollowTheirButtonsRules) {
  MediaContext& media = GetMediaContext();
  key(Key::P);
  key(Key::S);
  key(Key::Period);
  EXPECT_TRUE(boxes.empty()) << "New: play does nothing";
  EXPECT_TRUE(m_dlg->snapshotPath().empty());
  EXPECT_FALSE(said("step:"));
  notify(0, PN_STOPPED);
  key(Key::P);
  EXPECT_EQ(boxes, (std::vector<std::string>{"Trevolo: AVCreate fail"})) << "P is play";

  // Speed: the steps hold at both ends; the notice takes the file name
  // label (and the snapshot notice's place) and gives it back.
  m_dlg->OnHandOver("/nonexistent/clip.av");
  const std::string name = m_dlg->label(IDC_FILENAME).text();
  window().showControl(IDC_CAPTURE_TIP, true);
  window().showControl(IDC_FILENAME, false);
  const std::vector<std::pair<Key, std::string>> speeds = {
      {Key::Backspace, "Speed 1x"},     {Key::BracketRight, "Speed 1.5x"},
      {Key::BracketRight, "Speed 2x"},  {Key::BracketRight, "Speed 4x"},
      {Key::BracketRight, "Speed 8x"},  {Key::BracketRight, "Speed 8x"},
      {Key::BracketLeft, "Speed 4x"},   {Key::Backspace, "Speed 1x"},
      {Key::BracketLeft, "Speed 0.5x"}, {Key::BracketLeft, "Speed 0.5x"}};
  for (const auto& [k, text] : speeds) {
    key(k);
    EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), text);
  }
  EXPECT_EQ(PlaybackSpeed(), 500);
  EXPECT_TRUE(window().control(IDC_FILENAME)->visible());
  EXPECT_FALSE(window().control(IDC_CAPTURE_TIP)->visible());
  EXPECT_TRUE(window().timerSet(TIMER_SPEED_NOTICE));
  window().send(WM_TIMER, TIMER_SPEED_NOTICE, 0);
  EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), name);
  EXPECT_FALSE(window().timerSet(TIMER_SPEED_NOTICE));
  key(Key::Backspace);

  // Stepping only while paused; S while paused writes the paused picture.
  notify(0, PN_PLAYING);
  key(Key::Period);
  EXPECT_FALSE(said("step:"));
  notify(0, PN_PAUSED);
  key(Key::Period);
  EXPECT_TRUE(said("step: next"));
  key(Key::Comma);
  EXPECT_TRUE(said("step: previous"));
  constexpr int kWidth = 64;
  constexpr int kHeight = 48;
  media.lastPicture.reset(new uint8_t[kWidth * kHeight * 3 / 2]);
  std::memset(media.lastPicture.get(), 0x80, kWidth * kHeight * 3 / 2);
  media.lastWidth = kWidth;
  media.lastHeight = kHeight;
  key(Key::S);
  ASSERT_TRUE(pumpUntil([this] { return window().control(IDC_CAPTURE_TIP)->visible(); }, 2000));
  struct stat written {};
  ASSERT_EQ(stat(m_dlg->snapshotPath().c_str(), &written), 0) << m_dlg->snapshotPath();
  EXPECT_GT(written.st_size, 0);
  std::remove(m_dlg->snapshotPath().c_str());
}

TEST_F(KeysTest, FullScreenTakesTheMouseFromTheControlsAndEscapeOnlyLeavesIt) {
  key(Key::F);
  EXPECT_FALSE(fullScreen()) << "no picture to show";
  playing();
  key(Key::F);
  ASSERT_TRUE(fullScreen());
  const Rect pause = window().control(IDC_PAUSE)->rect();
  press(pause.left + 2, pause.top + 2, 1);
  EXPECT_EQ(window().hoverId(), 0) << "the controls are out of sight";
  EXPECT_EQ(window().captureId(), 0);
  press(5, 5, 2);  // a double click anywhere
  EXPECT_FALSE(fullScreen());
  const Rect video = window().control(IDC_VIDEO)->rect();
  press(video.left + 40, video.top + 40, 2);
  EXPECT_TRUE(fullScreen());
  key(Key::Escape);
  EXPECT_FALSE(fullScreen());
  EXPECT_FALSE(window().closed());
  key(Key::F);
  key(Key::F);
  EXPECT_FALSE(fullScreen()) << "F toggles";
  key(Key::F);
  notify(0, PN_STOPPED);
  EXPECT_FALSE(fullScreen()) << "the end of the file brings the window back";

  // The key list stays until the next key, which also acts; Escape only
  // takes it away.
  key(Key::F1);
  EXPECT_TRUE(m_dlg->keyListShown());
  key(Key::Down);
  EXPECT_FALSE(m_dlg->keyListShown());
  EXPECT_EQ(m_dlg->slider(IDC_VOLUME).slider().GetPos(), 95);
  key(Key::Question);
  EXPECT_TRUE(m_dlg->keyListShown());
  key(Key::Modifier);
  EXPECT_TRUE(m_dlg->keyListShown()) << "Shift alone is no key";
  key(Key::Escape);
  EXPECT_FALSE(m_dlg->keyListShown());
  EXPECT_FALSE(window().closed());
  // The keys that show the list also close it, `?` after the bare key
  // press that comes before its character.
  key(Key::F1);
  key(Key::F1);
  EXPECT_FALSE(m_dlg->keyListShown()) << "F1 closes what F1 opened";
  key(Key::Question);
  key(Key::Other);
  key(Key::Question);
  EXPECT_FALSE(m_dlg->keyListShown()) << "? closes what ? opened";
}

// The platform window names letters by their key and punctuation by the
// character typed, so one key press never acts twice and `?` or `]` are
// found on any layout.
TEST_F(KeysTest, PlatformReportsLettersByKeyAndPunctuationByCharacter) {
  const auto keyDown = [](SDL_Keycode sym, Uint16 mod) {
    SDL_Event e{};
    e.type = SDL_KEYDOWN;
    e.key.state = SDL_PRESSED;
    e.key.keysym.sym = sym;
    e.key.keysym.mod = mod;
    SDL_PushEvent(&e);
  };
  const auto text = [](const char* typed) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", typed);
    SDL_PushEvent(&e);
  };
  // Shift+/ as a US keyboard types `?`; Shift+ss as a German one does.
  keyDown(SDLK_SLASH, KMOD_LSHIFT);
  text("?");
  window().pumpOnce(0);
  EXPECT_TRUE(m_dlg->keyListShown());
  keyDown(SDLK_m, KMOD_NONE);
  text("m");
  window().pumpOnce(0);
  EXPECT_FALSE(m_dlg->keyListShown());
  EXPECT_TRUE(m_dlg->muted());
  keyDown(SDLK_m, KMOD_CAPS);
  text("M");
  window().pumpOnce(0);
  EXPECT_FALSE(m_dlg->muted()) << "M, once, whatever the case";
  key(Key::Backspace);
  keyDown(SDLK_RIGHTBRACKET, KMOD_NONE);
  text("]");
  keyDown(SDLK_8, KMOD_RALT);  // AltGr+8 types `[` on a German keyboard
  text("[");
  keyDown(SDLK_8, KMOD_RALT);
  text("[");
  window().pumpOnce(0);
  EXPECT_EQ(PlaybackSpeed(), 500);
  key(Key::Backspace);
}

}  // namespace
}  // namespace trevolo::app::testing
