#include "app/trevolo_dlg.h"

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <thread>
#include <vector>

#include "app/layout.h"
#include "app/open_rules.h"
#include "audio/direct_sound.h"
#include "controls/bitmap_resource.h"
#include "platform/file_chooser.h"
#include "platform/single_instance.h"
#include "video/ddraw_renderer.h"
#include "video/jpeg_writer.h"
#include "video/media_callbacks.h"
#include "video/media_snapshot.h"

namespace trevolo::app {

using controls::Image;

namespace {

constexpr const char* kTitle = "Trevolo";
constexpr const char* kVersionText = "V1.0.0.3";
constexpr const char* kZeroTime = "00:00:00";
constexpr const char* kSnapshotNotice = "截图成功：";
// The dialog font, 9 points at 96 dots per inch.
constexpr int kFontPixels = 12;
// The 16 x 16 image of the icon group, registered by name.
constexpr const char* kSmallIconName = "icon_16";
// The sound stream: 8000 Hz mono 16-bit PCM in 320-byte (20 ms) chunks.
constexpr unsigned long kSoundChunkBytes = 320;
constexpr int kSilenceChunks = 4;
// A hand-over waits this long for the window to take it (the window may be
// blocked in a stop or a seek); then the second launch is released anyway.
constexpr auto kHandOverWait = std::chrono::seconds(5);
constexpr auto kHandOverPoll = std::chrono::milliseconds(20);
constexpr const char* kMarkerFailure = " ::SetProp(GetSafeHwnd(),Trevolo_Semaphore,(HANDLE)1) .";
constexpr const char* kDisplayFailure = "100106:Init video device failed.";
constexpr const char* kCreateFailure = "AVCreate fail";

bool loadImage(uint32_t id, Image* image, std::string* error) {
  controls::CGdiPlusBitmapResource resource;
  if (!resource.Load(id) || !resource.bitmap()) {
    if (error) *error = "skin image " + std::to_string(id) + " is missing or unreadable";
    return false;
  }
  *image = *resource.bitmap();
  return true;
}

// The icon group: 16 x 16 and 32 x 32; the desktop picks what it needs.
std::vector<Image> windowIcons() {
  std::vector<Image> icons;
  controls::CGdiPlusBitmapResource small;
  if (small.Load(kSmallIconName) && small.bitmap()) icons.push_back(*small.bitmap());
  Image big;
  if (loadImage(IDI_MAIN, &big, nullptr)) icons.push_back(big);
  return icons;
}

template <typename Label>
std::unique_ptr<controls::CLabel> AlignedLabel(controls::TextAlign align) {
  auto label = std::make_unique<Label>();
  label->setAlignment(align, true);
  return label;
}

}  // namespace

CTrevoloDlg::CTrevoloDlg(const PlayerOptions& options) : m_options(options) {}

std::unique_ptr<CTrevoloDlg> CTrevoloDlg::create(const PlayerOptions& options,
                                                 std::string* error) {
  std::unique_ptr<CTrevoloDlg> dlg(new CTrevoloDlg(options));
  DialogOptions dialog;
  dialog.title = kTitle;
  dialog.width = kWindowWidth;
  dialog.height = kWindowHeight;
  dialog.hidden = options.hidden;
  dialog.icons = windowIcons();
  dlg->m_window = DialogWindow::create(dialog, error);
  if (!dlg->m_window) return nullptr;
  dlg->m_font = FontGlyphs::openDefault(kFontPixels, error);
  if (!dlg->m_font) return nullptr;
  dlg->m_window->setFont(dlg->m_font.get());
  if (!dlg->createControls(error)) return nullptr;
  CTrevoloDlg* self = dlg.get();
  dlg->m_window->setMessageHandler(
      [self](uint32_t m, uintptr_t w, intptr_t l) { return self->onMessage(m, w, l); });
  dlg->m_window->setDropHandler(
      [self](const std::vector<std::string>& paths) { self->OnDropFiles(paths); });
  dlg->m_window->setPaintHook([self] { self->OnPaint(); });
  dlg->m_window->setKeyPreview([self](Key key, bool) { return self->PreviewKey(key); });
  if (!dlg->OnInitDialog(error)) return nullptr;
  return dlg;
}

CTrevoloDlg::~CTrevoloDlg() { Destroy(); }

bool CTrevoloDlg::createControls(std::string* error) {
  Image idle;
  Image logo;
  Image volumeIcon;
  Image background;
  if (!loadImage(IDB_IDLE, &idle, error) || !loadImage(IDB_LOGO, &logo, error) ||
      !loadImage(IDB_VOLUME_ICON, &volumeIcon, error) ||
      !loadImage(IDB_BACKGROUND, &background, error)) {
    return false;
  }
  m_window->setBackground(std::move(background));
  DialogWindow* owner = m_window.get();
  for (int id : kTemplateOrder) {
    std::unique_ptr<Control> control;
    switch (id) {
      case IDC_VIDEO: control = std::make_unique<PictureControl>(id, idle); break;
      case IDC_LOGO: control = std::make_unique<PictureControl>(id, logo); break;
      case IDC_VOLUME_ICON: control = std::make_unique<PictureControl>(id, volumeIcon); break;
      case IDC_VOLUME:
      case IDC_PROGRESS: control = std::make_unique<SliderControl>(id, owner); break;
      case IDC_TIME:
      case IDC_VERSION:
        // Right-aligned and centred vertically, as the template's statics.
        control = std::make_unique<LabelControl>(
            id, AlignedLabel<controls::CShowTimes>(controls::TextAlign::Right));
        control->setText(id == IDC_TIME ? std::string(kZeroTime) + "/" + kZeroTime
                                        : kVersionText);
        break;
      case IDC_FILENAME:
        control = std::make_unique<LabelControl>(
            id, AlignedLabel<controls::CCurrFileName>(controls::TextAlign::Left));
        break;
      case IDC_CAPTURE_TIP:
        control = std::make_unique<LabelControl>(
            id, AlignedLabel<controls::CCaptureTip>(controls::TextAlign::Left));
        break;
      default: control = std::make_unique<ButtonControl>(id, owner); break;
    }
    m_window->addControl(std::move(control));
  }
  m_progress = &slider(IDC_PROGRESS);
  m_volume = &slider(IDC_VOLUME);
  m_play = &button(IDC_PLAY);
  m_stop = &button(IDC_STOP);
  m_pause = &button(IDC_PAUSE);
  m_capture = &button(IDC_CAPTURE);
  m_openFile = &button(IDC_OPENFILE);
  m_captureTip = &label(IDC_CAPTURE_TIP);
  m_fileName = &label(IDC_FILENAME);
  m_time = &label(IDC_TIME);
  m_window->setVideoControl(IDC_VIDEO);
  return true;
}

ButtonControl& CTrevoloDlg::button(int id) const {
  return static_cast<ButtonControl&>(*m_window->control(id));
}
SliderControl& CTrevoloDlg::slider(int id) const {
  return static_cast<SliderControl&>(*m_window->control(id));
}
LabelControl& CTrevoloDlg::label(int id) const {
  return static_cast<LabelControl&>(*m_window->control(id));
}

bool CTrevoloDlg::OnInitDialog(std::string* error) {
  // The marker a second launch finds this window by: the hand-over socket.
  if (!m_options.instanceFolder.empty()) {
    std::string why;
    std::shared_ptr<std::atomic<bool>> closing = m_closing;
    MessageTarget* target = m_window.get();
    m_handOver = platform::HandOverServer::start(
        m_options.instanceFolder,
        [target, closing](const std::string& path) {
          // Runs on the server's thread: hand the path to the UI thread and
          // answer the second launch only once the window has taken it.
          auto taken = std::make_shared<std::promise<void>>();
          std::future<void> done = taken->get_future();
          auto* message = new HandOver{path, [taken] { taken->set_value(); }};
          if (!target->post(WM_COPYDATA, 0, reinterpret_cast<intptr_t>(message))) {
            delete message;
            return;
          }
          const auto deadline = std::chrono::steady_clock::now() + kHandOverWait;
          while (done.wait_for(kHandOverPoll) != std::future_status::ready &&
                 !closing->load() && std::chrono::steady_clock::now() < deadline) {
          }
        },
        &why);
    if (!m_handOver) messageBox(kMarkerFailure);
  }
  m_strSnapshotNotice = kSnapshotNotice;
  bool prepared = false;
  const std::string exe =
      m_options.executablePath.empty() ? ExecutablePath() : m_options.executablePath;
  m_captureFolder = PrepareCaptureFolder(exe, &prepared);
  if (!layOut(error)) return false;

  m_display.reset(new (std::nothrow) DDrawRenderer());
  if (!m_display) {
    messageBox(kDisplayFailure);
    return true;  // the window stays open without display, sound or published handles
  }
  // The sound device opens with the first file: an idle window keeps no
  // device busy playing silence.
  MediaContext& media = GetMediaContext();
  media.renderer.store(m_display.get());
  media.mainWindow.store(m_window.get());
  media.videoWindow.store(&m_window->platformWindow());
  media.engine = nullptr;
  media.duration = 0;
  media.volume.store(m_volume->slider().GetPos());
  media.pacingStarted.store(0);
  m_window->setTimer(TIMER_SOUND_RETRY, kSoundRetryMs);

  // The command-line file.
  m_strFilePath = m_options.initialFile;
  if (!m_strFilePath.empty()) {
    const OpenDecision open = DecideCommandLineOpen(m_strFilePath);
    if (open.action == OpenAction::Queue) QueueOpen(open.path, kOpenSoonMs);
    if (open.action == OpenAction::NotifyMissing) ShowMissingFile(open.path);
  }
  return true;
}

bool CTrevoloDlg::layOut(std::string* error) {
  const controls::Size client = m_window->clientSize();
  auto place = [&](int id) { m_window->moveControl(id, controlRect(id, client.width, client.height)); };
  m_window->moveControl(IDC_VIDEO, videoRect(m_bWide));
  place(IDC_LOGO);
  place(IDC_VOLUME_ICON);
  place(IDC_VOLUME);
  place(IDC_PROGRESS);
  if (!setUpSliders(error)) return false;
  place(IDC_CAPTURE_TIP);
  m_window->showControl(IDC_CAPTURE_TIP, false);
  place(IDC_FILENAME);
  m_window->showControl(IDC_FILENAME, true);
  for (int id : {IDC_TIME, IDC_VERSION, IDC_MINI, IDC_CLOSE, IDC_CAPTURE, IDC_PAUSE, IDC_PLAY,
                 IDC_STOP, IDC_OPENFILE}) {
    place(id);
  }
  return loadButtonImages(error);
}

bool CTrevoloDlg::setUpSliders(std::string* error) {
  Image channel;
  Image filled;
  Image thumb;
  auto& volume = m_volume->slider();
  if (!loadImage(IDB_VOLUME_CHANNEL, &channel, error) ||
      !loadImage(IDB_VOLUME_FILLED, &filled, error) ||
      !loadImage(IDB_VOLUME_THUMB, &thumb, error)) {
    return false;
  }
  volume.SetChannelBitmaps(channel, filled);
  volume.SetThumbBitmap(thumb);
  volume.ShowFocusRect(false);
  volume.SetRange(0, 100);
  volume.SetPos(100);

  auto& progress = m_progress->slider();
  if (!loadImage(IDB_PROGRESS_CHANNEL, &channel, error) ||
      !loadImage(IDB_PROGRESS_FILLED, &filled, error) ||
      !loadImage(IDB_PROGRESS_THUMB, &thumb, error)) {
    return false;
  }
  progress.SetChannelBitmaps(channel, filled);
  progress.SetThumbBitmap(thumb);
  progress.ShowFocusRect(false);
  // The position slider waits for playback before it takes the mouse.
  m_progress->enable(false);
  progress.SetPos(0);
  return true;
}

bool CTrevoloDlg::loadButtonImages(std::string* error) {
  for (const ButtonImages& images : kButtonImages) {
    auto& b = button(images.id).button();
    if (!b.LoadStdImage(images.standard) || !b.LoadAltImage(images.alternate)) {
      if (error) *error = "button " + std::to_string(images.id) + ": skin image missing";
      return false;
    }
    b.EnableToggle();
    if (images.disabledLook) b.SetDisabledLook(true);
  }
  return true;
}

void CTrevoloDlg::ApplyVideoLayout(bool wide) {
  const Rect target = videoRect(wide);
  const bool moved = m_window->control(IDC_VIDEO)->rect() != target;
  m_bWide = wide;
  m_window->moveControl(IDC_VIDEO, target);
  if (moved) report(wide ? "layout: wide" : "layout: narrow");
}

bool CTrevoloDlg::onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  // Everything but a timer tick or a position report that is not shown may
  // change how the window looks.
  if (message != WM_TIMER && message != WM_PLAYER_RESERVED &&
      !(message == WM_PLAYER_NOTIFY && NotificationCode(wParam, lParam) == PN_POSITION)) {
    m_window->invalidate();
  }
  switch (message) {
    case WM_COMMAND:
      if (wParam == IDCANCEL) {
        // Escape: in full screen it only brings the window back; otherwise
        // the framework closes the window.
        if (!m_window->platformWindow().fullScreen()) return false;
        SetFullScreen(false);
        return true;
      }
      OnCommand(static_cast<int>(wParam & 0xFFFF));
      return true;
    case WM_KEYDOWN:
      OnKeyDown(static_cast<Key>(wParam), lParam != 0);
      return true;
    case WM_LBUTTONDBLCLK:
      OnDoubleClick(static_cast<int>(lParam & 0xFFFF), static_cast<int>((lParam >> 16) & 0xFFFF));
      return true;
    case WM_TIMER:
      OnTimer(static_cast<int>(wParam));
      return true;
    case WM_PLAYER_NOTIFY:
      OnPlayerNotify(wParam, lParam);
      return true;
    case WM_PLAYER_RESERVED:
      return true;
    case WM_SLIDER_MOVING:
      OnSliderMoving(static_cast<int>(wParam), static_cast<int>(lParam));
      return true;
    case WM_SLIDER_MOVED:
      OnSliderMoved(static_cast<int>(wParam), static_cast<int>(lParam));
      return true;
    case WM_RBUTTONDOWN:
      OnRightButtonDown();
      return true;
    case WM_COPYDATA: {
      std::unique_ptr<HandOver> handOver(reinterpret_cast<HandOver*>(lParam));
      if (handOver) {
        m_window->restoreAndRaise();
        OnHandOver(handOver->path);
        if (handOver->handled) handOver->handled();
      }
      return true;
    }
    default:
      return false;  // WM_CLOSE and the rest: the framework's handling
  }
}

void CTrevoloDlg::OnCommand(int id) {
  MediaContext& media = GetMediaContext();
  switch (id) {
    case IDC_PLAY:
      if (!m_flags.canPlay) return;
      if (m_flags.paused) media.pacingStarted.store(0);
      StartPlayback();
      break;
    case IDC_STOP:
      if (m_flags.canStop && media.engine != nullptr) AVControl(media.engine, AV_CTRL_STOP);
      break;
    case IDC_PAUSE:
      if (m_flags.canPause && media.engine != nullptr) AVControl(media.engine, AV_CTRL_PAUSE);
      break;
    case IDC_MINI: m_window->minimise(); break;
    case IDC_CLOSE: m_window->close(); break;
    case IDC_OPENFILE: OnOpenFile(); break;
    case IDC_CAPTURE: OnCapture(); break;
    default: break;
  }
}

void CTrevoloDlg::StartPlayback() {
  MediaContext& media = GetMediaContext();
  if (!m_flags.active) {
    if (!m_bSoundReady) {
      m_bSoundWanted = true;
      CreateSoundOutput();
    }
    media.duration = 0;
    if (media.engine != nullptr) {
      AVDestroy(media.engine);
      media.engine = nullptr;
    }
    if (StartEngine() == 0) {
      // Nothing plays: the device opened for it is not left running.
      CloseSoundOutput();
      messageBox(kCreateFailure);
      return;
    }
    m_bEngineRetired = false;
    report("open: " + media.filePath);
  }
  if (media.engine != nullptr) AVControl(media.engine, AV_CTRL_PLAY);
}

void CTrevoloDlg::OnTimer(int id) {
  switch (id) {
    case TIMER_PAUSED_REPAINT: {
      // The picture is drawn from the display's own copy; presenting the
      // saved picture again restores it after anything drew over it.
      const MediaContext& media = GetMediaContext();
      if (media.lastPicture) {
        PresentPicture(media.lastPicture.get(), media.lastWidth, media.lastHeight);
      }
      m_window->killTimer(TIMER_PAUSED_REPAINT);
      break;
    }
    case TIMER_SOUND_RETRY:
      if (!m_bSoundReady && m_bSoundWanted) CreateSoundOutput();
      break;
    case TIMER_TIP_HIDE:
      m_window->showControl(IDC_FILENAME, true);
      m_window->showControl(IDC_CAPTURE_TIP, false);
      m_window->invalidate();
      break;
    case TIMER_VIDEO_LAYOUT:
      if (m_flags.pictureShown) {
        ApplyVideoLayout(m_bWide);
        m_window->killTimer(TIMER_VIDEO_LAYOUT);
        m_window->invalidate();
      }
      break;
    case TIMER_OPEN_PENDING:
      OnOpenPendingTick();
      m_window->invalidate();
      break;
    case TIMER_SPEED_NOTICE:
      m_fileName->setText(m_strShownFileName);
      m_window->killTimer(TIMER_SPEED_NOTICE);
      m_window->invalidate();
      break;
    default:
      break;
  }
}

void CTrevoloDlg::OnPlayerNotify(uintptr_t wParam, intptr_t lParam) {
  const intptr_t code = NotificationCode(wParam, lParam);
  switch (code) {
    case PN_POSITION: {
      const int32_t position = static_cast<int32_t>(lParam);
      if (!AcceptPosition(position, m_llShownPositionMs, m_llDurationMs)) return;
      m_llShownPositionMs = position;
      UpdateTimeDisplay();
      m_window->invalidate();
      return;
    }
    case PN_DURATION: {
      const int32_t duration = static_cast<int32_t>(lParam);
      m_strTotalTime = DurationText(duration);
      m_llDurationMs = duration;
      auto& progress = m_progress->slider();
      progress.SetRange(0, duration / 10);
      progress.SetPos(0);
      report("duration: " + m_strTotalTime);
      return;
    }
    case PN_PLAYING:
    case PN_PAUSED:
    case PN_STOPPED:
      OnStateChange(code);
      return;
    case PN_FIRST_PICTURE:
      m_window->showControl(IDC_OPENFILE, OpenButtonVisibleAfterFirstPicture(m_flags));
      m_flags.pictureShown = true;
      m_window->platformWindow().setVideoVisible(true);
      return;
    case PN_SNAPSHOT_SAVED:
      if (!m_flags.paused && !m_flags.active) return;
      m_captureTip->setText(m_strSnapshotNotice + lastSnapshotPath);
      m_window->showControl(IDC_CAPTURE_TIP, true);
      m_window->showControl(IDC_FILENAME, false);
      m_window->setTimer(TIMER_TIP_HIDE, kTipHideMs);
      report("snapshot: " + lastSnapshotPath);
      report("notice: " + m_captureTip->text());
      return;
    case PN_PICTURE_SIZE: {
      const uint32_t size = static_cast<uint32_t>(wParam);
      m_bWide = WideAfterPictureSize(m_bWide, size);
      m_window->setTimer(TIMER_VIDEO_LAYOUT, kVideoLayoutMs);
      report("picture: " + std::to_string(size >> 16) + "x" + std::to_string(size & 0xFFFF));
      return;
    }
    default:
      return;
  }
}

void CTrevoloDlg::OnStateChange(intptr_t code) {
  // The engine is destroyed when its stop arrives. A report it posted after
  // that (a seek that reached it between the stop and its report plays it
  // again) belongs to no engine: taking it would show playing with nothing
  // to play, and a stop would then never come to let the next file open.
  if (code != PN_STOPPED && m_bEngineRetired) return;
  const std::optional<StateChange> change = ApplyState(m_flags, code);
  if (!change) return;
  if (code == PN_PAUSED) {
    WriteSilence();
    SaveLastPicture();
    if (m_bStepPending) {
      const int64_t shown = ShownPictureMs();
      if (shown >= 0 && shown <= m_llDurationMs) {
        m_llShownPositionMs = shown;
        UpdateTimeDisplay();
      }
    }
  }
  if (code != PN_PLAYING) m_bStepPending = false;
  if (code == PN_STOPPED) {
    ApplyVideoLayout(false);
    WriteSilence();
    m_strTotalTime = kZeroTime;
    m_llDurationMs = 0;
    m_llShownPositionMs = 0;
    UpdateTimeDisplay();
    m_window->showControl(IDC_OPENFILE, true);
  }
  m_flags = change->flags;
  SetLooks(change->looks);
  if (change->slider != SliderChange::Unchanged) {
    m_progress->enable(change->slider == SliderChange::Enable);
    // Disabling ends a drag without a drop; the time display must not stay
    // waiting for one.
    if (change->slider == SliderChange::Disable) m_bDragging = false;
  }
  if (code == PN_STOPPED) {
    // Nothing is left to show on the whole screen: the window comes back.
    SetFullScreen(false);
    m_window->platformWindow().setVideoVisible(false);
    // A stopped engine is never played again (play starts a new one), and
    // its five threads would go on polling: let it go now.
    MediaContext& media = GetMediaContext();
    if (media.engine != nullptr) {
      AVDestroy(media.engine);
      media.engine = nullptr;
      m_bEngineRetired = true;
    }
    // Nothing writes to the sound device until the next start, which opens
    // it again: closed, it costs nothing meanwhile.
    CloseSoundOutput();
  }
  report(code == PN_PLAYING  ? "state: playing"
         : code == PN_PAUSED ? "state: paused"
                             : "state: stopped");
}

void CTrevoloDlg::SetLooks(const ButtonLooks& looks) {
  m_play->button().SetDisabledLook(looks.play == Look::Disabled);
  m_pause->button().SetDisabledLook(looks.pause == Look::Disabled);
  m_stop->button().SetDisabledLook(looks.stop == Look::Disabled);
  m_capture->button().SetDisabledLook(looks.snapshot == Look::Disabled);
}

void CTrevoloDlg::UpdateTimeDisplay() {
  const std::string text = PositionText(static_cast<uint64_t>(m_llShownPositionMs)) + "/" +
                           m_strTotalTime;
  if (text != m_time->text()) {
    m_time->setText(text);
    report("position: " + text);
  }
  if (!m_bDragging) {
    auto& progress = m_progress->slider();
    progress.SetPos(SliderPosition(m_llShownPositionMs, progress.range().minimum(),
                                   progress.range().maximum()));
  }
}

void CTrevoloDlg::OnSliderMoving(int id, int position) {
  if (id == IDC_VOLUME) {
    GetMediaContext().volume.store(position);
    m_bMuted = false;  // a volume the user set ends the mute
  }
  if (id == IDC_PROGRESS) m_bDragging = true;
}

void CTrevoloDlg::OnSliderMoved(int id, int position) {
  MediaContext& media = GetMediaContext();
  if (id == IDC_VOLUME) {
    media.volume.store(position);
    m_bMuted = false;
  }
  if (id != IDC_PROGRESS) return;
  m_bDragging = false;
  if (m_flags.active && media.engine != nullptr) {
    AVSeek(media.engine, static_cast<uint64_t>(static_cast<uint32_t>(position)) * 10 * 1000);
  }
}

void CTrevoloDlg::OnRightButtonDown() {
  m_bSeekUnlocked = !m_bSeekUnlocked;
  // Disabling ends a drag in progress and releases the mouse.
  m_progress->enable(m_bSeekUnlocked != 0);
  if (!m_bSeekUnlocked) m_bDragging = false;
}

void CTrevoloDlg::OnPaint() {
  if (m_flags.paused) {
    m_window->setTimer(TIMER_PAUSED_REPAINT, kPausedRepaintMs);
  } else if (m_flags.idle) {
    m_window->platformWindow().setVideoVisible(false);
    m_window->setFocus(IDC_OPENFILE);
  }
}

void CTrevoloDlg::WriteSilence() {
  if (!m_sound) return;
  std::vector<unsigned char> silence(kSoundChunkBytes, 0);
  // A write the device refused (it stopped calling back) would only be
  // refused again, each after its wait: the window does not wait four times.
  for (int i = 0; i < kSilenceChunks; ++i) {
    if (!m_sound->WriteDataToBuf(silence.data(), kSoundChunkBytes)) break;
  }
}

void CTrevoloDlg::CreateSoundOutput() {
  _AUDIO_CONFIG format = {1, 1, 8000, 16000, 2, 16, 0};
  auto sound = std::make_unique<CDirectSound>();
  if (sound->CreateDSound(&format, kSoundChunkBytes) != 1) {
    m_bSoundReady = false;
    return;
  }
  m_sound = std::move(sound);
  MediaContext& media = GetMediaContext();
  media.soundOutput.store(m_sound.get());
  m_sound->Play(0, 1);
  m_bSoundStarted = true;
  m_bSoundReady = true;
  // A device that opens late still delays the pictures to its sound.
  ApplySoundLatency();
}

void CTrevoloDlg::CloseSoundOutput() {
  GetMediaContext().soundOutput.store(nullptr);
  ApplySoundLatency();  // pictures no longer wait for a device
  if (m_sound) {
    if (m_bSoundStarted) m_sound->Stop();
    m_sound.reset();
  }
  m_bSoundStarted = false;
  m_bSoundReady = false;
  m_bSoundWanted = false;
}

void CTrevoloDlg::QueueOpen(const std::string& path, uint32_t delayMs) {
  m_strFilePath = path;
  GetMediaContext().filePath = path;
  m_window->setTimer(TIMER_OPEN_PENDING, delayMs);
}

void CTrevoloDlg::OnOpenPendingTick() {
  m_window->killTimer(TIMER_OPEN_PENDING);
  if (m_flags.active) {
    // Blocks until the engine stopped; its stop report is handled before
    // the next tick, which then finds nothing active.
    ControlEngine(AV_CTRL_STOP);
    m_window->setTimer(TIMER_OPEN_PENDING, kOpenAfterStopMs);
    return;
  }
  ShowFileName(m_strFilePath);
  StartPlayback();
}

void CTrevoloDlg::ShowFileName(const std::string& text) {
  m_fileName->setText(BlankFileNameText());
  m_fileName->setText(text);
  m_strShownFileName = text;
}

void CTrevoloDlg::ShowMissingFile(const std::string& path) {
  ShowFileName(MissingFileNotice(path));
  report("notice: " + m_fileName->text());
}

void CTrevoloDlg::OnHandOver(const std::string& path) {
  const OpenDecision open = DecideHandOverOpen(path);
  m_strFilePath = open.action == OpenAction::Ignore ? path : open.path;
  if (open.action == OpenAction::Queue) QueueOpen(open.path, kOpenHandOverMs);
  if (open.action == OpenAction::NotifyMissing) ShowMissingFile(open.path);
}

void CTrevoloDlg::OnDropFiles(const std::vector<std::string>& paths) {
  const std::string first = paths.empty() ? std::string() : paths.front();
  const OpenDecision open = DecideDroppedOpen(first);
  m_strFilePath = first;
  if (open.action == OpenAction::Queue) QueueOpen(open.path, kOpenSoonMs);
}

void CTrevoloDlg::OnOpenFile() {
  if (!m_chooser) m_chooser = std::make_unique<platform::FileChooser>();
  if (m_chooser->isOpen()) return;
  std::string why;
  const bool shown = m_chooser->open(
      [this](bool accepted, const std::string& path) {
        if (accepted) OnFileChosen(path);
      },
      &why);
  if (!shown) return;
  // Keep the dialog served while the window goes on painting and playing.
  platform::FileChooser* chooser = m_chooser.get();
  m_window->setPumpHook([this, chooser] {
    chooser->pump();
    if (!chooser->isOpen()) m_window->setPumpHook(nullptr);
  });
}

void CTrevoloDlg::OnFileChosen(const std::string& path) {
  GetMediaContext().filePath = path;
  m_strFilePath = path;
  ShowFileName(path);
  m_window->invalidate();
  StartPlayback();
}

void CTrevoloDlg::OnCapture() {
  if (!m_flags.active && !m_flags.paused) return;
  MediaContext& media = GetMediaContext();
  const std::string path = m_captureFolder.dir + snapshotFileName(localSnapshotTime());
  lastSnapshotPath = path;
  // A path that does not fit the writer's buffer is not cut: the old path
  // stays and nothing is written to a place the user did not ask for.
  const bool pathSet = SetSnapshotPath(path);
  EnsureCaptureFolder(m_captureFolder);
  media.jpegQuality.store(kDefaultJpegQuality);
  if (m_flags.paused) {
    if (pathSet && media.lastPicture &&
        WriteJpegSnapshot(media.lastPicture.get(), media.lastWidth, media.lastHeight,
                          kDefaultJpegQuality) == 1) {
      m_window->post(WM_PLAYER_NOTIFY, 0, PN_SNAPSHOT_SAVED);
    }
    return;
  }
  if (pathSet) media.snapshotPending.store(1);
}

void CTrevoloDlg::messageBox(const std::string& text, const std::string& caption) {
  report("error: " + text);
  if (m_options.messageBox) {
    m_options.messageBox(caption, text);
  } else {
    platform::ShowMessageBox(caption, text);
  }
}

void CTrevoloDlg::report(const std::string& line) {
  if (m_options.status) m_options.status(line);
}

void CTrevoloDlg::Destroy() {
  if (m_destroyed) return;
  m_destroyed = true;
  MediaContext& media = GetMediaContext();
  media.duration = 0;
  if (media.engine != nullptr) {
    AVDestroy(media.engine);
    media.engine = nullptr;
  }
  media.renderer.store(nullptr);
  media.videoWindow.store(nullptr);
  media.mainWindow.store(nullptr);
  m_display.reset();
  FreeLastPicture();
  CloseSoundOutput();
  m_closing->store(true);
  m_handOver.reset();
  m_chooser.reset();
}

}  // namespace trevolo::app
