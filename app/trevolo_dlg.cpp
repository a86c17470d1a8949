#include "app/trevolo_dlg.h"

#include "app/layout.h"
#include "controls/bitmap_resource.h"

namespace trevolo::app {

using controls::Image;

namespace {

// A label centred vertically in its rectangle with the given alignment.
template <typename Label>
std::unique_ptr<controls::CLabel> AlignedLabel(controls::TextAlign align) {
  auto label = std::make_unique<Label>();
  label->setAlignment(align, true);
  return label;
}

}  // namespace

namespace {

constexpr const char* kTitle = "Trevolo";
constexpr const char* kVersionText = "V1.0.0.3";
constexpr const char* kTimeText = "00:00:00/00:00:00";
// The dialog font, 9 points at 96 dots per inch.
constexpr int kFontPixels = 12;

bool loadImage(uint32_t id, Image* image, std::string* error) {
  controls::CGdiPlusBitmapResource resource;
  if (!resource.Load(id) || !resource.bitmap()) {
    if (error) *error = "skin image " + std::to_string(id) + " is missing or unreadable";
    return false;
  }
  *image = *resource.bitmap();
  return true;
}

}  // namespace

std::unique_ptr<CTrevoloDlg> CTrevoloDlg::create(bool hidden, std::string* error) {
  std::unique_ptr<CTrevoloDlg> dlg(new CTrevoloDlg());
  DialogOptions options;
  options.title = kTitle;
  options.width = kWindowWidth;
  options.height = kWindowHeight;
  options.hidden = hidden;
  controls::Image icon;
  if (loadImage(IDI_MAIN, &icon, nullptr)) options.icons.push_back(icon);  // a missing icon is no reason to stop
  dlg->m_window = DialogWindow::create(options, error);
  if (!dlg->m_window) return nullptr;
  dlg->m_font = FontGlyphs::openDefault(kFontPixels, error);
  if (!dlg->m_font) return nullptr;
  dlg->m_window->setFont(dlg->m_font.get());
  if (!dlg->createControls(error) || !dlg->OnInitDialog(error)) return nullptr;
  CTrevoloDlg* self = dlg.get();
  dlg->m_window->setMessageHandler(
      [self](uint32_t m, uintptr_t w, intptr_t l) { return self->onMessage(m, w, l); });
  return dlg;
}

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
        control->setText(id == IDC_TIME ? kTimeText : kVersionText);
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
  m_window->setVideoControl(IDC_VIDEO);
  return true;
}

bool CTrevoloDlg::OnInitDialog(std::string* error) {
  const controls::Size client = m_window->clientSize();
  auto place = [&](int id) { m_window->control(id)->move(controlRect(id, client.width, client.height)); };
  ApplyVideoLayout(m_bWide);
  place(IDC_LOGO);
  place(IDC_VOLUME_ICON);
  place(IDC_VOLUME);
  place(IDC_PROGRESS);
  if (!setUpSliders(error)) return false;
  place(IDC_CAPTURE_TIP);
  m_window->control(IDC_CAPTURE_TIP)->show(false);
  place(IDC_FILENAME);
  m_window->control(IDC_FILENAME)->show(true);
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
  auto& volume = static_cast<SliderControl*>(m_window->control(IDC_VOLUME))->slider();
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

  auto* progressControl = m_window->control(IDC_PROGRESS);
  auto& progress = static_cast<SliderControl*>(progressControl)->slider();
  if (!loadImage(IDB_PROGRESS_CHANNEL, &channel, error) ||
      !loadImage(IDB_PROGRESS_FILLED, &filled, error) ||
      !loadImage(IDB_PROGRESS_THUMB, &thumb, error)) {
    return false;
  }
  progress.SetChannelBitmaps(channel, filled);
  progress.SetThumbBitmap(thumb);
  progress.ShowFocusRect(false);
  // The position slider waits for playback before it takes the mouse.
  progressControl->enable(false);
  progress.SetPos(0);
  return true;
}

bool CTrevoloDlg::loadButtonImages(std::string* error) {
  for (const ButtonImages& images : kButtonImages) {
    auto& button = static_cast<ButtonControl*>(m_window->control(images.id))->button();
    if (!button.LoadStdImage(images.standard) || !button.LoadAltImage(images.alternate)) {
      if (error) *error = "button " + std::to_string(images.id) + ": skin image missing";
      return false;
    }
    button.EnableToggle();
    if (images.disabledLook) button.SetDisabledLook(true);
  }
  return true;
}

void CTrevoloDlg::ApplyVideoLayout(bool wide) {
  m_bWide = wide;
  m_window->moveControl(IDC_VIDEO, videoRect(wide));
}

bool CTrevoloDlg::onMessage(uint32_t message, uintptr_t wParam, intptr_t) {
  if (message != WM_COMMAND) return false;
  const int id = static_cast<int>(wParam & 0xFFFF);
  if (id == IDC_MINI) {
    m_window->minimise();
    return true;
  }
  if (id == IDC_CLOSE) {
    m_window->close();
    return true;
  }
  return false;
}

}  // namespace trevolo::app
