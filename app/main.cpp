// trevolo: the player. Opens the main window and runs it until closed.
#include <cstdio>
#include <string>

#include "app/trevolo_dlg.h"
#include "platform/ttf_font.h"
#include "platform/window.h"

int main(int, char**) {
  int status = 0;
  {
    std::string error;
    auto dlg = trevolo::app::CTrevoloDlg::create(false, &error);
    if (!dlg) {
      std::fprintf(stderr, "trevolo: %s\n", error.c_str());
      status = 1;
    } else {
      dlg->run();
    }
  }
  trevolo::platform::TtfFont::shutdown();
  trevolo::platform::Window::shutdown();
  return status;
}
