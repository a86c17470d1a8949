// The main window as the media callbacks drive it: notifications change its
// flags, button looks, slider, time display, layout and labels; files
// arriving by drop, hand-over and command line go through their rules.
// No engine runs here: the notifications are sent as the callbacks post them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/layout.h"
#include "app/open_rules.h"
#include "main_window_fixture.h"
#include "video/media_context.h"

namespace trevolo::app::testing {
namespace {

struct Expected {
  intptr_t code;
  bool idle, canPlay, canStop, canPause, active, paused;
  bool playDisabled, pauseDisabled, stopDisabled, snapshotDisabled;
  bool sliderEnabled;
};

TEST_F(MainWindowTest, StateNotificationsSetFlagsLooksAndSlider) {
  // New: every transport button greyed, the position slider off.
  EXPECT_TRUE(m_dlg->button(IDC_PLAY).button().disabledLook());
  EXPECT_FALSE(m_dlg->slider(IDC_PROGRESS).slider().isEnabled());
  // A run through every state, each from the one before: the looks and the
  // slider are what the window shows, not only its flags.
  const std::vector<Expected> run = {
      {PN_PLAYING, false, false, true, true, true, false, true, false, false, false, true},
      {PN_PAUSED, false, true, true, false, true, true, false, true, false, false, true},
      {PN_PLAYING, false, false, true, true, true, false, true, false, false, false, true},
      {PN_STOPPED, true, true, false, false, false, false, false, true, true, true, false},
      {PN_PAUSED, true, true, true, false, false, true, false, true, false, false, false},
      {PN_STOPPED, true, true, false, false, false, false, false, true, true, true, false},
  };
  for (const Expected& e : run) {
    notify(0, e.code);
    const PlayerFlags& f = m_dlg->flags();
    const std::string at = "after " + std::to_string(e.code);
    EXPECT_EQ(f.idle, e.idle) << at;
    EXPECT_EQ(f.canPlay, e.canPlay) << at;
    EXPECT_EQ(f.canStop, e.canStop) << at;
    EXPECT_EQ(f.canPause, e.canPause) << at;
    EXPECT_EQ(f.active, e.active) << at;
    EXPECT_EQ(f.paused, e.paused) << at;
    EXPECT_FALSE(f.pictureShown) << at;
    EXPECT_EQ(m_dlg->button(IDC_PLAY).button().disabledLook(), e.playDisabled) << at;
    EXPECT_EQ(m_dlg->button(IDC_PAUSE).button().disabledLook(), e.pauseDisabled) << at;
    EXPECT_EQ(m_dlg->button(IDC_STOP).button().disabledLook(), e.stopDisabled) << at;
    EXPECT_EQ(m_dlg->button(IDC_CAPTURE).button().disabledLook(), e.snapshotDisabled) << at;
    EXPECT_EQ(m_dlg->slider(IDC_PROGRESS).slider().isEnabled(), e.sliderEnabled) << at;
  }
  EXPECT_EQ(status, (std::vector<std::string>{"state: playing", "state: paused", "state: playing",
                                               "state: stopped", "state: paused",
                                               "state: stopped"}));
  EXPECT_TRUE(boxes.empty());
}

TEST_F(MainWindowTest, TimeDisplayFollowsTheAcceptanceRules) {
  const auto time = [this] { return m_dlg->label(IDC_TIME).text(); };
  notify(0, PN_PLAYING);
  notify(PN_POSITION, 5000);  // before the duration: ignored
  EXPECT_EQ(time(), "00:00:00/00:00:00");
  notify(PN_DURATION, 90'061'000);
  EXPECT_EQ(time(), "00:00:00/00:00:00") << "the duration alone does not rewrite the text";
  auto& progress = m_dlg->slider(IDC_PROGRESS).slider();
  EXPECT_EQ(progress.range().maximum(), 9'006'100);
  // A position equal to a state code is a position, never a state.
  notify(PN_POSITION, PN_PLAYING);
  EXPECT_EQ(time(), "00:08:20/1 01:01:01");
  EXPECT_EQ(progress.GetPos(), 50'000);
  EXPECT_TRUE(m_dlg->flags().active);
  notify(PN_POSITION, 500'999);  // under a second further: ignored
  EXPECT_EQ(m_dlg->shownPositionMs(), 500'000);
  notify(PN_POSITION, 501'000);
  EXPECT_EQ(m_dlg->shownPositionMs(), 501'000);
  notify(PN_POSITION, 59'999);  // backwards, after a seek
  EXPECT_EQ(time(), "00:00:59/1 01:01:01");
  // Dragging keeps the slider where the user holds it.
  window().send(WM_SLIDER_MOVING, IDC_PROGRESS, 1234);
  EXPECT_TRUE(m_dlg->dragging());
  progress.SetPos(1234);
  notify(PN_POSITION, 120'000);
  EXPECT_EQ(progress.GetPos(), 1234);
  EXPECT_EQ(time(), "00:02:00/1 01:01:01");
  // The stop report zeroes the texts and ends the drag with the slider; a
  // zero duration then takes no position.
  notify(0, PN_STOPPED);
  EXPECT_EQ(time(), "00:00:00/00:00:00");
  EXPECT_FALSE(m_dlg->dragging()) << "a drag cut short by the stop must not freeze the slider";
  notify(PN_DURATION, 0);
  EXPECT_EQ(progress.range().maximum(), 0);
  notify(PN_POSITION, 10);
  EXPECT_EQ(time(), "00:00:00/00:00:00");
}

TEST_F(MainWindowTest, VideoAreaTakesThePictureShapeOnlyAfterTheFirstPicture) {
  const auto videoRectNow = [this] { return window().control(IDC_VIDEO)->rect(); };
  notify(0, PN_PLAYING);
  notify(uintptr_t(1280) << 16 | 720, PN_PICTURE_SIZE);
  pumpFor(40);
  EXPECT_EQ(videoRectNow(), videoRect(false)) << "no picture on screen yet";
  EXPECT_EQ(window().platformWindow().videoRect(), videoRect(false));
  notify(0, PN_FIRST_PICTURE);
  EXPECT_FALSE(window().control(IDC_OPENFILE)->visible());
  EXPECT_TRUE(pumpUntil([&] { return videoRectNow() == videoRect(true); }, 2000));
  EXPECT_EQ(window().platformWindow().videoRect(), videoRect(true)) << "the picture follows";
  EXPECT_TRUE(window().platformWindow().videoVisible());
  // 720 x 576 is neither shape: nothing moves. 640 x 480 goes back to narrow.
  notify(uintptr_t(720) << 16 | 576, PN_PICTURE_SIZE);
  EXPECT_TRUE(pumpUntil([&] { return !window().timerSet(TIMER_VIDEO_LAYOUT); }, 2000));
  EXPECT_EQ(videoRectNow(), videoRect(true));
  notify(uintptr_t(640) << 16 | 480, PN_PICTURE_SIZE);
  EXPECT_TRUE(pumpUntil([&] { return videoRectNow() == videoRect(false); }, 2000));
  // The end of the file: narrow, the idle picture and the open button back.
  m_dlg->ApplyVideoLayout(true);
  notify(0, PN_STOPPED);
  EXPECT_EQ(videoRectNow(), videoRect(false));
  EXPECT_TRUE(window().control(IDC_OPENFILE)->visible());
  EXPECT_FALSE(window().platformWindow().videoVisible());
}

TEST_F(MainWindowTest, RightButtonLocksSeekingUntilTheNextStateReport) {
  window().send(WM_RBUTTONDOWN, 0, 0);
  EXPECT_FALSE(m_dlg->seekUnlocked());
  EXPECT_FALSE(m_dlg->slider(IDC_PROGRESS).slider().isEnabled());
  window().send(WM_RBUTTONDOWN, 0, 0);
  EXPECT_TRUE(m_dlg->seekUnlocked());
  EXPECT_TRUE(m_dlg->slider(IDC_PROGRESS).slider().isEnabled()) << "even while stopped";
  window().send(WM_RBUTTONDOWN, 0, 0);
  notify(0, PN_PLAYING);
  EXPECT_TRUE(m_dlg->slider(IDC_PROGRESS).slider().isEnabled());
  EXPECT_FALSE(m_dlg->seekUnlocked()) << "the report sets the slider, not the lock";
  // Locking in the middle of a drag ends the drag.
  window().send(WM_RBUTTONDOWN, 0, 0);
  window().send(WM_SLIDER_MOVING, IDC_PROGRESS, 10);
  EXPECT_TRUE(m_dlg->dragging());
  window().send(WM_RBUTTONDOWN, 0, 0);
  EXPECT_FALSE(m_dlg->dragging());
}

TEST_F(MainWindowTest, VolumeAndCommandsThatMustDoNothing) {
  MediaContext& media = GetMediaContext();
  window().send(WM_SLIDER_MOVING, IDC_VOLUME, 40);
  EXPECT_EQ(media.volume.load(), 40);
  window().send(WM_SLIDER_MOVED, IDC_VOLUME, 0);
  EXPECT_EQ(media.volume.load(), 0);
  // New state: play, stop, pause and snapshot do nothing; a dropped slider
  // seeks nothing; Enter is swallowed.
  for (int id : {IDC_PLAY, IDC_STOP, IDC_PAUSE, IDC_CAPTURE}) command(id);
  window().send(WM_SLIDER_MOVED, IDC_PROGRESS, 100);
  InputEvent enter;
  enter.kind = InputEvent::Kind::KeyDown;
  enter.key = Key::Return;
  window().handleInput(enter);
  EXPECT_EQ(media.engine, nullptr);
  EXPECT_FALSE(m_dlg->soundReady()) << "no file yet: no sound device kept busy";
  EXPECT_TRUE(m_dlg->snapshotPath().empty());
  EXPECT_TRUE(boxes.empty());
  EXPECT_FALSE(window().closed());
  InputEvent escape = enter;
  escape.key = Key::Escape;
  window().handleInput(escape);
  EXPECT_TRUE(window().closed());
}

TEST_F(MainWindowTest, SnapshotNoticeOnlyWhileAFileIsOpenAndHiddenAfterTwoSeconds) {
  notify(0, PN_SNAPSHOT_SAVED);
  EXPECT_FALSE(window().control(IDC_CAPTURE_TIP)->visible()) << "stopped: ignored";
  notify(0, PN_PLAYING);
  notify(0, PN_SNAPSHOT_SAVED);
  EXPECT_TRUE(window().control(IDC_CAPTURE_TIP)->visible());
  EXPECT_FALSE(window().control(IDC_FILENAME)->visible());
  EXPECT_EQ(m_dlg->label(IDC_CAPTURE_TIP).text().rfind("截图成功：", 0), 0u);
  EXPECT_TRUE(window().timerSet(TIMER_TIP_HIDE));
  window().send(WM_TIMER, TIMER_TIP_HIDE, 0);
  EXPECT_FALSE(window().control(IDC_CAPTURE_TIP)->visible());
  EXPECT_TRUE(window().control(IDC_FILENAME)->visible());
}

TEST_F(MainWindowTest, FilesArriveByTheirOwnRules) {
  ::testing::TempDir();
  const std::string dir = ::testing::TempDir() + "arrivals-" + std::to_string(getpid());
  ASSERT_EQ(system(("mkdir -p '" + dir + "' && : > '" + dir + "/x.av'").c_str()), 0);
  const std::string present = dir + "/x.av";
  const std::string missing = dir + "/gone.av";
  // Two dropped files: only the first is queued, unchanged, without any test.
  m_dlg->OnDropFiles({missing + ".bak", present});
  EXPECT_EQ(m_dlg->filePath(), missing + ".bak");
  EXPECT_EQ(GetMediaContext().filePath, missing + ".bak");
  EXPECT_TRUE(window().timerSet(TIMER_OPEN_PENDING));
  window().killTimer(TIMER_OPEN_PENDING);
  // An upper-case name is ignored when dropped.
  m_dlg->OnDropFiles({dir + "/X.AV"});
  EXPECT_FALSE(window().timerSet(TIMER_OPEN_PENDING));
  // A hand-over is cut after ".av" and opened when the cut file exists ...
  m_dlg->OnHandOver(present + ".bak");
  EXPECT_EQ(m_dlg->filePath(), present);
  EXPECT_TRUE(window().timerSet(TIMER_OPEN_PENDING));
  window().killTimer(TIMER_OPEN_PENDING);
  // ... and named in the file label when it does not, whole, never cut.
  const std::string longMissing = dir + "/" + std::string(300, 'n') + ".av";
  m_dlg->OnHandOver(longMissing);
  EXPECT_FALSE(window().timerSet(TIMER_OPEN_PENDING));
  EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), "[File not exist] " + longMissing);
  EXPECT_EQ(status.back(), "notice: [File not exist] " + longMissing);
  // A wildcard in a missing name never opens some other file.
  m_dlg->OnHandOver(dir + "/?.av");
  EXPECT_FALSE(window().timerSet(TIMER_OPEN_PENDING));
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

TEST_F(MainWindowTest, CommandLineFileIsQueuedOrReported) {
  const std::string dir = ::testing::TempDir() + "cmdline-" + std::to_string(getpid());
  ASSERT_EQ(system(("mkdir -p '" + dir + "' && : > '" + dir + "/clip.av'").c_str()), 0);
  m_dlg.reset();
  PlayerOptions o = options();
  o.initialFile = dir + "/clip.av.part";
  open(o);
  EXPECT_EQ(m_dlg->filePath(), dir + "/clip.av");
  EXPECT_TRUE(window().timerSet(TIMER_OPEN_PENDING));
  m_dlg.reset();
  o.initialFile = dir + "/none.av";
  open(o);
  EXPECT_FALSE(window().timerSet(TIMER_OPEN_PENDING));
  EXPECT_EQ(m_dlg->label(IDC_FILENAME).text(), "[File not exist] " + dir + "/none.av");
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
}  // namespace trevolo::app::testing
