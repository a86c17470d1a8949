// CTrevoloDlg: the player's one window and its one playback controller. It
// owns the renderer and the sound output, publishes them in the media
// context, turns button presses, slider moves and its own keys (in
// trevolo_keys.cpp) into engine operations, and follows the engine only
// through the WM_PLAYER_NOTIFY messages the media callbacks post. Files
// arrive through the open dialog, drops, a hand-over from a second launch and
// the command line; a new file stops the current one before it starts.
// Everything here runs on the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/capture_folder.h"
#include "app/control.h"
#include "app/dialog_window.h"
#include "app/font_glyphs.h"
#include "app/player_state.h"

class CDirectSound;
class DDrawRenderer;

namespace trevolo::platform {
class FileChooser;
class HandOverServer;
}  // namespace trevolo::platform

namespace trevolo::app {

// Timers of the main window.
inline constexpr int TIMER_PAUSED_REPAINT = 1;
inline constexpr int TIMER_SOUND_RETRY = 2;
inline constexpr int TIMER_TIP_HIDE = 3;
inline constexpr int TIMER_VIDEO_LAYOUT = 5;
inline constexpr int TIMER_OPEN_PENDING = 6;
inline constexpr int TIMER_SPEED_NOTICE = 7;
inline constexpr uint32_t kPausedRepaintMs = 10;
inline constexpr uint32_t kSoundRetryMs = 500;
inline constexpr uint32_t kTipHideMs = 2000;
inline constexpr uint32_t kVideoLayoutMs = 5;
inline constexpr uint32_t kOpenSoonMs = 5;       // command line, drops
inline constexpr uint32_t kOpenHandOverMs = 20;  // a second launch's file
inline constexpr uint32_t kOpenAfterStopMs = 50;
inline constexpr uint32_t kSpeedNoticeMs = 2000;  // the file name comes back after it

// A path handed over by a second launch, posted to the UI thread; the
// sender waits until `handled` is called.
inline constexpr uint32_t WM_COPYDATA = 0x004A;
struct HandOver {
  std::string path;
  std::function<void()> handled;
};

struct PlayerOptions {
  bool hidden = false;       // tests: build and drive the window unseen
  std::string initialFile;   // from the command line; empty for none
  std::string executablePath;  // where snapshots go by default; empty: /proc/self/exe
  // Folder of the single-instance socket; empty: no hand-over server.
  std::string instanceFolder;
  // Message boxes (tests record them); null: the platform's message box.
  std::function<void(const std::string& caption, const std::string& text)> messageBox;
  // One line per visible change ("state: playing", ...); null: silent.
  std::function<void(const std::string& line)> status;
};

class CTrevoloDlg {
 public:
  // Builds the window and runs its initialisation. Null, with the reason in
  // `error`, when the window or a skin image cannot be made.
  static std::unique_ptr<CTrevoloDlg> create(const PlayerOptions& options, std::string* error);
  // Tears down in order: engine, renderer, saved picture, sound output,
  // hand-over server, window.
  ~CTrevoloDlg();
  CTrevoloDlg(const CTrevoloDlg&) = delete;
  CTrevoloDlg& operator=(const CTrevoloDlg&) = delete;

  DialogWindow& window() { return *m_window; }
  void run() { m_window->run(); }

  // What tests and tools read back.
  const PlayerFlags& flags() const { return m_flags; }
  bool wide() const { return m_bWide; }
  bool seekUnlocked() const { return m_bSeekUnlocked != 0; }
  bool dragging() const { return m_bDragging; }
  int64_t durationMs() const { return m_llDurationMs; }
  int64_t shownPositionMs() const { return m_llShownPositionMs; }
  const std::string& filePath() const { return m_strFilePath; }
  const std::string& snapshotPath() const { return lastSnapshotPath; }
  const CaptureFolder& captureFolder() const { return m_captureFolder; }
  bool soundReady() const { return m_bSoundReady; }
  bool muted() const { return m_bMuted; }
  bool keyListShown() const { return m_bKeyListShown; }
  ButtonControl& button(int id) const;
  SliderControl& slider(int id) const;
  LabelControl& label(int id) const;

  // Moves the video area between its narrow and wide rectangle.
  void ApplyVideoLayout(bool wide);
  // The file chooser's answer (also what tests call in its place).
  void OnFileChosen(const std::string& path);
  // The file path from a second launch.
  void OnHandOver(const std::string& path);
  // Dropped files; only the first counts.
  void OnDropFiles(const std::vector<std::string>& paths);

 private:
  explicit CTrevoloDlg(const PlayerOptions& options);
  bool createControls(std::string* error);
  bool OnInitDialog(std::string* error);
  bool layOut(std::string* error);
  bool setUpSliders(std::string* error);
  bool loadButtonImages(std::string* error);
  bool onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

  void OnCommand(int id);
  void OnTimer(int id);
  void OnPlayerNotify(uintptr_t wParam, intptr_t lParam);
  void OnStateChange(intptr_t code);
  void OnSliderMoving(int id, int position);
  void OnSliderMoved(int id, int position);
  void OnRightButtonDown();
  void OnPaint();
  void OnOpenFile();
  void OnCapture();
  void OnOpenPendingTick();

  // The window's own keys (trevolo_keys.cpp).
  bool PreviewKey(Key key);
  void OnKeyDown(Key key, bool shift);
  void OnDoubleClick(int x, int y);
  void PlayOrPause();
  void SeekByKey(int64_t stepMs);
  void SetVolumeByKey(int volume);
  void ToggleMute();
  void SetSpeed(int permille);
  void StepPictureByKey(int direction);
  void SetFullScreen(bool on);
  void ShowKeyList(bool shown);

  void StartPlayback();
  void UpdateTimeDisplay();
  void WriteSilence();
  void CreateSoundOutput();
  void CloseSoundOutput();
  void QueueOpen(const std::string& path, uint32_t delayMs);
  void ShowFileName(const std::string& text);
  void ShowMissingFile(const std::string& path);
  void SetLooks(const ButtonLooks& looks);
  void messageBox(const std::string& text, const std::string& caption = "Trevolo");
  void report(const std::string& line);
  void Destroy();

  PlayerOptions m_options;
  std::unique_ptr<FontGlyphs> m_font;
  std::unique_ptr<DialogWindow> m_window;
  std::unique_ptr<platform::FileChooser> m_chooser;
  std::unique_ptr<platform::HandOverServer> m_handOver;
  // Set when the window goes: a hand-over still waiting stops waiting.
  std::shared_ptr<std::atomic<bool>> m_closing = std::make_shared<std::atomic<bool>>(false);

  // Typed views of the controls the window drives (owned by the window).
  SliderControl* m_progress = nullptr;
  SliderControl* m_volume = nullptr;
  ButtonControl* m_play = nullptr;
  ButtonControl* m_stop = nullptr;
  ButtonControl* m_pause = nullptr;
  ButtonControl* m_capture = nullptr;
  ButtonControl* m_openFile = nullptr;
  LabelControl* m_captureTip = nullptr;
  LabelControl* m_fileName = nullptr;
  LabelControl* m_time = nullptr;

  int m_bSeekUnlocked = 1;
  std::string m_strFilePath;  // UTF-8, never cut
  bool m_bWide = false;
  bool m_bSoundStarted = false;
  // Set when the window destroyed the engine on its stop report, until the
  // next engine starts: late reports of the destroyed engine are ignored.
  bool m_bEngineRetired = false;
  std::unique_ptr<CDirectSound> m_sound;
  std::unique_ptr<DDrawRenderer> m_display;
  bool m_bSoundReady = false;
  bool m_bSoundWanted = false;  // a file was started: the device is needed from now on
  std::string lastSnapshotPath;
  std::string m_strSnapshotNotice;
  int64_t m_llDurationMs = 0;
  std::string m_strTotalTime = "00:00:00";
  int64_t m_llShownPositionMs = 0;
  PlayerFlags m_flags;  // idle, can play/stop/pause, active, picture shown, paused
  bool m_bDragging = false;
  // A picture step is under way: its pause report brings the time display
  // to the picture, which no sound reports.
  bool m_bStepPending = false;
  CaptureFolder m_captureFolder;
  bool m_destroyed = false;

  // What the window's own keys keep.
  std::string m_strShownFileName;   // the file name label's text, back after a speed notice
  bool m_bMuted = false;            // M took the volume to 0; the slider shows 0
  int m_iVolumeBeforeMute = 0;      // what M gives back, 0..100
  bool m_bKeyListShown = false;     // the key list lies over the picture
};

}  // namespace trevolo::app
