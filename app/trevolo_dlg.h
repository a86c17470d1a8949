// CTrevoloDlg: the player's main window with its controls in template
// order, laid out and given their skin at initialisation. Until playback
// is wired in, the buttons and sliders act only on themselves; the
// minimise and close buttons act on the window.
#pragma once

#include <memory>
#include <string>

#include "app/dialog_window.h"
#include "app/font_glyphs.h"

namespace trevolo::app {

class CTrevoloDlg {
 public:
  // Builds the window (hidden for tests) and runs its initialisation.
  // Null, with the reason in `error`, when the window or a skin image
  // cannot be made.
  static std::unique_ptr<CTrevoloDlg> create(bool hidden, std::string* error);

  DialogWindow& window() { return *m_window; }
  void run() { m_window->run(); }
  bool wide() const { return m_bWide; }
  // Moves the video area between its narrow and wide rectangle.
  void ApplyVideoLayout(bool wide);

 private:
  CTrevoloDlg() = default;
  bool createControls(std::string* error);
  bool OnInitDialog(std::string* error);
  bool setUpSliders(std::string* error);
  bool loadButtonImages(std::string* error);
  bool onMessage(uint32_t message, uintptr_t wParam, intptr_t lParam);

  std::unique_ptr<FontGlyphs> m_font;
  std::unique_ptr<DialogWindow> m_window;
  bool m_bWide = false;
};

}  // namespace trevolo::app
