// CTrevoloDlg's own keys: the keys that neither the design's dialog keys
// (Tab, Space on a button, Enter, Escape) nor a focused slider take, and the
// double click that toggles full screen. Every key goes the way its button
// or slider goes, so the rules of the button or slider hold for it too.
#include <string>
#include <vector>

#include "app/layout.h"
#include "app/player_keys.h"
#include "app/trevolo_dlg.h"
#include "video/media_callbacks.h"

namespace trevolo::app {

bool CTrevoloDlg::PreviewKey(Key key) {
  // The key list stays until the next key, which also acts; Escape and the
  // keys that show the list only take it away. A key known only as "other"
  // is passed over: the punctuation keys come as one of those first, then
  // as the character they typed, and `?` must not close the list and open
  // it again in one press.
  if (!m_bKeyListShown || key == Key::Modifier || key == Key::Other) return false;
  ShowKeyList(false);
  return key == Key::Escape || key == Key::F1 || key == Key::Question;
}

void CTrevoloDlg::OnKeyDown(Key key, bool shift) {
  const int64_t seekStep = shift ? kKeyLongSeekMs : kKeySeekMs;
  const int volume = m_volume->slider().GetPos();
  switch (key) {
    case Key::Left: SeekByKey(-seekStep); break;
    case Key::Right: SeekByKey(seekStep); break;
    case Key::Up: SetVolumeByKey(KeyVolume(volume, kKeyVolumeStep)); break;
    case Key::Down: SetVolumeByKey(KeyVolume(volume, -kKeyVolumeStep)); break;
    case Key::M: ToggleMute(); break;
    case Key::P: PlayOrPause(); break;
    case Key::S: OnCommand(IDC_CAPTURE); break;
    case Key::O:
      // The file dialog would open behind a window that covers the screen.
      SetFullScreen(false);
      OnCommand(IDC_OPENFILE);
      break;
    case Key::F: SetFullScreen(!m_window->platformWindow().fullScreen()); break;
    case Key::BracketRight: SetSpeed(SteppedSpeed(PlaybackSpeed(), 1)); break;
    case Key::BracketLeft: SetSpeed(SteppedSpeed(PlaybackSpeed(), -1)); break;
    case Key::Backspace: SetSpeed(kNormalSpeed); break;
    case Key::Period: StepPictureByKey(1); break;
    case Key::Comma: StepPictureByKey(-1); break;
    case Key::F1:
    case Key::Question: ShowKeyList(true); break;
    default: break;
  }
}

void CTrevoloDlg::OnDoubleClick(int x, int y) {
  if (m_window->platformWindow().fullScreen()) {
    SetFullScreen(false);
  } else if (m_window->control(IDC_VIDEO)->rect().contains(x, y)) {
    SetFullScreen(true);
  }
}

// P is the play button while something can be played or resumed, and the
// pause button while playing.
void CTrevoloDlg::PlayOrPause() { OnCommand(m_flags.canPause ? IDC_PAUSE : IDC_PLAY); }

// A seek by key is a move of the position slider that drops at once: it acts
// only while the slider does (a file is open and seeking is not locked), and
// the slider shows the target until the next position report.
void CTrevoloDlg::SeekByKey(int64_t stepMs) {
  if (!m_progress->enabled()) return;
  auto& progress = m_progress->slider();
  const int64_t from = int64_t(progress.GetPos()) * 10;
  const int64_t target = KeySeekTarget(from, stepMs, m_llDurationMs);
  progress.SetPos(static_cast<int>(target / 10));
  OnSliderMoved(IDC_PROGRESS, progress.GetPos());
}

// The volume slider moves to `volume` and reports it as a user's move does.
void CTrevoloDlg::SetVolumeByKey(int volume) {
  auto& slider = m_volume->slider();
  slider.SetPos(volume);
  OnSliderMoved(IDC_VOLUME, slider.GetPos());
}

void CTrevoloDlg::ToggleMute() {
  if (m_bMuted) {
    SetVolumeByKey(m_iVolumeBeforeMute);
    report("sound: on");
    return;
  }
  m_iVolumeBeforeMute = m_volume->slider().GetPos();
  SetVolumeByKey(0);
  m_bMuted = true;
  report("sound: muted");
}

// The file name label names the new speed for a moment, in the place and
// the way the snapshot notice shows.
void CTrevoloDlg::SetSpeed(int permille) {
  SetPlaybackSpeed(permille);
  const std::string notice = SpeedNotice(permille);
  m_fileName->setText(notice);
  m_window->showControl(IDC_FILENAME, true);
  m_window->showControl(IDC_CAPTURE_TIP, false);
  m_window->setTimer(TIMER_SPEED_NOTICE, kSpeedNoticeMs);
  report("notice: " + notice);
}

void CTrevoloDlg::StepPictureByKey(int direction) {
  if (!m_flags.paused) return;
  const int result = StepPicture(direction);
  if (result == 1) m_bStepPending = true;
  report(std::string(direction > 0 ? "step: next" : "step: previous") +
         (result == 1 ? "" : " (none)"));
}

// Full screen shows a picture: a window with no file open stays as it is.
void CTrevoloDlg::SetFullScreen(bool on) {
  platform::Window& window = m_window->platformWindow();
  if (window.fullScreen() == on) return;
  if (on && !m_flags.active && !m_flags.paused) return;
  if (!window.setFullScreen(on)) return;
  m_window->invalidate();
  report(on ? "full screen: on" : "full screen: off");
}

void CTrevoloDlg::ShowKeyList(bool shown) {
  if (shown == m_bKeyListShown) return;
  m_bKeyListShown = shown;
  m_window->platformWindow().setVideoText(shown ? KeyListLines(/*padded=*/false)
                                                : std::vector<std::string>{});
  report(shown ? "keys: shown" : "keys: hidden");
}

}  // namespace trevolo::app
